#include "CKLF_ImageDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const f64 kMaxHQ = 1e15;            // larger values would overflow the squared length
const f64 kMaxPlain = 268435456.0;  // 2^28: Bresenham terms stay within 64 bits
const f64 kMaxDisc = 65536.0;
const f64 kRowMargin = 0.5;  // pixels
// Spans taken as fully covered keep this far (pixels) inside the full
// value's edge: far above the rounding of the coverage's terms while ends,
// widths and the pixels near them stay within kMaxFull and segments are at
// least a pixel long (other segments have their pixels tested one by one).
// Thinner lines have too few such pixels a row to be worth gathering.
const f64 kFullMargin = 0.05;
const f64 kMaxFull = 1048576.0;
const f64 kMinFullWidth = 8.0;
const u32 kRowSpans = 4;  // fully covered spans kept a row

// The geometry of one anti-aliased segment, shared by every pixel, and
// the bounds its rows are cut to.
struct HQSegment {
  f64 x1, y1, x2, y2, dx, dy, l2, L;
  f64 h, S, rin, rout, e, c;
  f64 reach, tLo, tHi;  // no covered sample lies further across or along
  f64 full;             // the radius inside which the full value is sure; 0: none sought
  bool caps;
  u32 value;
};

// false when the segment is too short to have a direction.
bool SetUpSegment(HQSegment& g, f64 x1, f64 y1, f64 x2, f64 y2, f64 width, u8 capEnds, u8 feather, u8 value) {
  g.x1 = x1;
  g.y1 = y1;
  g.x2 = x2;
  g.y2 = y2;
  g.dx = x2 - x1;
  g.dy = y2 - y1;
  g.l2 = g.dx * g.dx + g.dy * g.dy;
  if (g.l2 == 0.0) return false;
  g.L = std::sqrt(g.l2);
  g.caps = capEnds && width >= 2.1;
  g.h = width / 2.0;
  g.S = feather ? 1.414213 : g.L / std::max(std::fabs(g.dx), std::fabs(g.dy));
  g.rin = g.h - g.S / 2.0;
  g.rout = g.h + g.S / 2.0;
  g.e = (g.S / 2.0) / g.L;
  g.c = g.caps ? g.h / g.L : 0.0;
  g.value = value;
  // Every covered sample lies within rout of the line and within the
  // parameter range; a margin far above rounding error keeps the row
  // ranges conservative, and inside them each pixel is tested exactly.
  g.reach = (g.rout + kRowMargin) * g.L;
  g.tLo = -(g.c + g.e) * g.l2 - kRowMargin * g.L;
  g.tHi = (1.0 + g.c + g.e) * g.l2 + kRowMargin * g.L;
  const f64 far = std::max({std::fabs(x1), std::fabs(y1), std::fabs(x2), std::fabs(y2), std::fabs(width)});
  g.full = width >= kMinFullWidth && g.L >= 1.0 && far <= kMaxFull ? g.rin - kFullMargin : 0.0;
  return true;
}

// Coverage of the sample point (px, py): -1 outside, else 0 .. value.
inline int Coverage(const HQSegment& g, f64 px, f64 py) {
  const f64 t = ((px - g.x1) * g.dx + (py - g.y1) * g.dy) / g.l2;
  const f64 fx = g.x1 + t * g.dx - px, fy = g.y1 + t * g.dy - py;
  f64 dist = std::sqrt(fx * fx + fy * fy);
  if (t < -(g.c + g.e) || t > 1.0 + g.c + g.e || dist > g.rout) return -1;
  if (t < g.e || t > 1.0 - g.e) {
    if (g.caps) {
      const f64 ax = px - g.x1, ay = py - g.y1, bx = px - g.x2, by = py - g.y2;
      dist = std::min(std::sqrt(ax * ax + ay * ay), std::sqrt(bx * bx + by * by));
      if (dist > g.rout) return -1;
    } else {
      f64 a = t < g.e ? 0.5 + t / (2.0 * g.e) : 0.5 + (1.0 - t) / (2.0 * g.e);
      if (dist > g.rin) a = std::min(a, 0.5 - (dist - g.h) / g.S);
      return static_cast<int>(a * g.value);
    }
  }
  if (dist < g.rin) return static_cast<int>(g.value);
  return static_cast<int>(g.value) - static_cast<int>(g.value * ((dist - g.h) / g.S + 0.5));
}

// The span [lo, hi] of the ends lo and hi widened by h and a pixel, cut to
// [cLo, cHi]; false when nothing is left.
bool BoxSpan(f64 lo, f64 hi, f64 h, i32 cLo, i32 cHi, i32& a, i32& b) {
  const f64 l = std::max<f64>(std::trunc(lo - h - 1.0), cLo), r = std::min<f64>(std::trunc(hi + h + 1.0), cHi);
  if (l > r) return false;
  a = static_cast<i32>(l);
  b = static_cast<i32>(r);
  return true;
}

// The segment's box, both ends inclusive, cut to the clip.
bool SegmentBox(const HQSegment& g, kltRECT_s clip, kltRECT_s& box) {
  return BoxSpan(std::min(g.x1, g.x2), std::max(g.x1, g.x2), g.h, clip.left, clip.right - 1, box.left, box.right) &&
         BoxSpan(std::min(g.y1, g.y2), std::max(g.y1, g.y2), g.h, clip.top, clip.bottom - 1, box.top, box.bottom);
}

// Narrows the sample positions [lo, hi] to those px where a (px - x0) + b
// lies in [cLo, cHi]; false when none is left.
inline bool Narrow(f64 a, f64 b, f64 cLo, f64 cHi, f64 x0, f64& lo, f64& hi) {
  if (cLo > cHi) return false;
  if (a == 0.0) return b >= cLo && b <= cHi;
  const f64 u = x0 + (cLo - b) / a, v = x0 + (cHi - b) / a;
  lo = std::max(lo, std::min(u, v));
  hi = std::min(hi, std::max(u, v));
  return lo <= hi;
}

// The pixels [xa, xb] whose samples (x + ox) lie in [lo, hi], itself
// within a row's pixels; false when none.
inline bool Pixels(f64 lo, f64 hi, f64 ox, i32& xa, i32& xb) {
  lo = std::ceil(lo - ox);
  hi = std::floor(hi - ox);
  if (lo > hi) return false;
  xa = static_cast<i32>(lo);
  xb = static_cast<i32>(hi);
  return true;
}

// The pixels of [xa, xb] in row py that the segment can cover; false when none.
inline bool Candidates(const HQSegment& g, f64 py, f64 ox, i32& xa, i32& xb) {
  f64 lo = xa + ox, hi = xb + ox;
  return Narrow(g.dy, -(py - g.y1) * g.dx, -g.reach, g.reach, g.x1, lo, hi) &&
         Narrow(g.dx, (py - g.y1) * g.dy, g.tLo, g.tHi, g.x1, lo, hi) && Pixels(lo, hi, ox, xa, xb);
}

// The spans of [xa, xb] in row py the segment surely covers at its full
// value (the body between the end zones; with round caps, the discs at
// the ends), at most three, as pairs in spans; their count.
u32 FullSpans(const HQSegment& g, f64 py, f64 ox, i32 xa, i32 xb, i32 spans[6]) {
  if (g.full <= 0.0) return 0;
  u32 n = 0;
  const f64 across = g.full * g.L, margin = kFullMargin * g.L;
  f64 lo = xa + ox, hi = xb + ox;
  if (Narrow(g.dy, -(py - g.y1) * g.dx, -across, across, g.x1, lo, hi) &&
      Narrow(g.dx, (py - g.y1) * g.dy, g.e * g.l2 + margin, (1.0 - g.e) * g.l2 - margin, g.x1, lo, hi) &&
      Pixels(lo, hi, ox, spans[0], spans[1]))
    n = 1;
  if (!g.caps) return n;
  const f64 ends[2][2] = {{g.x1, g.y1}, {g.x2, g.y2}};
  for (const f64* end : ends) {
    const f64 ry = py - end[1];
    if (std::fabs(ry) >= g.full) continue;
    const f64 half = std::sqrt(g.full * g.full - ry * ry);
    if (Pixels(std::max(xa + ox, end[0] - half), std::min(xb + ox, end[0] + half), ox, spans[2 * n], spans[2 * n + 1]))
      ++n;
  }
  return n;
}

// Whether each of the eight bytes at p is v or more: no byte of p - v
// borrows (the bytes' differences taken side by side in one word).
inline bool AtLeast8(const u8* p, u8 v) {
  u64 x;
  std::memcpy(&x, p, sizeof x);
  if (v == 255) return x == ~u64{0};
  const u64 H = 0x8080808080808080ull, y = 0x0101010101010101ull * v;
  const u64 d = ((x | H) - (y & ~H)) ^ ((x ^ ~y) & H);
  return (((~x & y) | (~(x ^ y) & d)) & H) == 0;
}

// One row of a blend: its pixels [lo, hi] from the first to the last that
// was below the drawing value (lo > hi: none), and the spans the segments
// surely cover at it, sorted and apart.
struct RowSpans {
  i32 lo, hi;
  u32 n;
  i32 s[2 * kRowSpans];
};

// Adds [a, b] to the row's spans, joined with those it meets or touches; a
// row out of room lets its narrowest span go (its pixels are then tested
// one by one).
void AddSpan(RowSpans& r, i32 a, i32 b) {
  i32 out[2 * (kRowSpans + 1)];
  u32 m = 0, i = 0;
  for (; i < r.n && r.s[2 * i + 1] < a - 1; ++i, ++m) out[2 * m] = r.s[2 * i], out[2 * m + 1] = r.s[2 * i + 1];
  for (; i < r.n && r.s[2 * i] <= b + 1; ++i) a = std::min(a, r.s[2 * i]), b = std::max(b, r.s[2 * i + 1]);
  out[2 * m] = a, out[2 * m + 1] = b, ++m;
  for (; i < r.n; ++i, ++m) out[2 * m] = r.s[2 * i], out[2 * m + 1] = r.s[2 * i + 1];
  if (m > kRowSpans) {
    u32 k = 0;
    for (u32 j = 1; j < m; ++j)
      if (out[2 * j + 1] - out[2 * j] < out[2 * k + 1] - out[2 * k]) k = j;
    for (u32 j = k; j + 1 < m; ++j) out[2 * j] = out[2 * j + 2], out[2 * j + 1] = out[2 * j + 3];
    --m;
  }
  std::memcpy(r.s, out, 2 * m * sizeof(i32));
  r.n = m;
}

// The first pixel of [a, b] below v, else b + 1.
i32 FirstBelow(const u8* row, i32 a, i32 b, u8 v) {
  while (static_cast<i64>(a) + 8 <= static_cast<i64>(b) + 1 && AtLeast8(row + a, v)) a += 8;
  while (a <= b && row[a] >= v) ++a;
  return a;
}

// The last pixel of [a, b] below v, else a - 1.
i32 LastBelow(const u8* row, i32 a, i32 b, u8 v) {
  while (static_cast<i64>(b) - 8 >= static_cast<i64>(a) - 1 && AtLeast8(row + b - 7, v)) b -= 8;
  while (b >= a && row[b] >= v) --b;
  return b;
}

// The larger of each pixel of [a, b] and v.
void FillSpan(u8* row, i32 a, i32 b, u8 v) {
  if (v == 255) return (void)std::memset(row + a, 255, static_cast<size_t>(b - a + 1));
  for (u8 *p = row + a, *end = row + b + 1; p < end; ++p) *p = *p < v ? v : *p;
}

// Pixels [xa, xb] of row py tested one by one, the larger value kept. No
// coverage passes the drawing value: a pixel already there keeps, and
// such pixels are passed over eight at a time.
void BlendPixels(const HQSegment& g, u8* row, i64 xa, i64 xb, f64 ox, f64 py) {
  const u8 v = static_cast<u8>(g.value);
  for (i64 x = xa; x <= xb; ++x) {
    while (x + 8 <= xb + 1 && AtLeast8(row + x, v)) x += 8;
    if (x > xb) break;
    if (row[x] >= g.value) continue;
    const int cov = Coverage(g, static_cast<f64>(x) + ox, py);
    if (cov > row[x]) row[x] = static_cast<u8>(cov);
  }
}

// A polyline's next point: the first after cur whose squared distance from
// it exceeds minDist2, else the last.
u32 NextPoint(const kltFPOS* pts, u32 n, u32 cur, f64 minDist2) {
  u32 next = cur + 1;
  while (next + 1 < n) {
    const f64 dx = pts[next].x - pts[cur].x, dy = pts[next].y - pts[cur].y;
    if (dx * dx + dy * dy > minDist2) break;
    ++next;
  }
  return next;
}

inline i64 ISqrt(i64 v) {
  if (v <= 0) return 0;
  i64 r = static_cast<i64>(std::sqrt(static_cast<f64>(v)));
  while (r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return r;
}

inline i64 FloorDiv(i64 a, i64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }  // b > 0

// Bresenham over integer end points, end point included. Only the steps
// whose point lies in [xLo, xHi] x [yLo, yHi] are visited (the major
// coordinate bounds them; the minor one, which only grows or only shrinks,
// cuts the rest off), with the same pixels the full walk gives there.
template <class Plot>
void Bresenham(i32 x0, i32 y0, i32 x1, i32 y1, i64 xLo, i64 xHi, i64 yLo, i64 yHi, Plot plot) {
  const i64 dx = static_cast<i64>(x1) - x0, dy = static_cast<i64>(y1) - y0;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const i64 dU = xMajor ? std::llabs(dx) : std::llabs(dy);
  const i64 du = xMajor ? std::llabs(dy) : std::llabs(dx);
  const i64 sMaj = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const i64 sMin = (xMajor ? dy : dx) < 0 ? -1 : 1;
  const i64 maj0 = xMajor ? x0 : y0, min0 = xMajor ? y0 : x0;
  const i64 majLo = xMajor ? xLo : yLo, majHi = xMajor ? xHi : yHi;
  const i64 minLo = xMajor ? yLo : xLo, minHi = xMajor ? yHi : xHi;
  i64 k0 = 0, k1 = dU;
  if (sMaj > 0) {
    k0 = std::max<i64>(k0, majLo - maj0);
    k1 = std::min<i64>(k1, majHi - maj0);
  } else {
    k0 = std::max<i64>(k0, maj0 - majHi);
    k1 = std::min<i64>(k1, maj0 - majLo);
  }
  // Minor steps taken before step k: m(k) = floor((2 du k + dU) / (2 dU)),
  // which must lie in [mLo, mHi].
  const i64 mLo = sMin > 0 ? minLo - min0 : min0 - minHi, mHi = sMin > 0 ? minHi - min0 : min0 - minLo;
  if (du == 0) {
    if (mLo > 0 || mHi < 0) return;
  } else {
    k0 = std::max<i64>(k0, -FloorDiv(dU - 2 * dU * mLo, 2 * du));
    k1 = std::min<i64>(k1, FloorDiv(2 * dU * (mHi + 1) - dU - 1, 2 * du));
  }
  if (k0 > k1) return;
  i64 m = dU == 0 ? 0 : (2 * du * k0 + dU) / (2 * dU);
  i64 D = 2 * du - dU + 2 * du * k0 - 2 * dU * m;
  for (i64 k = k0; k <= k1; ++k) {
    const i64 ma = maj0 + sMaj * k, mi = min0 + sMin * m;
    if (xMajor)
      plot(ma, mi);
    else
      plot(mi, ma);
    if (D >= 0) {
      ++m;
      D -= 2 * dU;
    }
    D += 2 * du;
  }
}

}  // namespace

CKLF_ImageDrawing::CKLF_ImageDrawing()
    : m_antiAlias(1),
      m_value(255),
      m_oneBit(0),
      m_plane(nullptr),
      m_width(0),
      m_stride(0),
      m_height(0),
      m_clip(klNullRect) {}

CKLF_ImageDrawing::~CKLF_ImageDrawing() {}

u8 CKLF_ImageDrawing::SetDestination(u8* plane, u32 width, u32 stride, u32 height) {
  if (!plane) return Fail(klErrBadArg);
  m_plane = plane;
  m_width = width;
  m_stride = stride;
  m_height = height;
  return 1;
}

u8 CKLF_ImageDrawing::SetDestination(CKLF_Image* img) {
  if (!img || (img->GetImageMode() != 2 && img->GetImageMode() != 4)) return Fail(klErrBadArg);
  u8* planes[5];
  u32 stride = 0;
  const u8 n = img->GetImageChannels(planes, stride);
  if (n == 0) return FailFrom(*img, klErrEmpty);
  return SetDestination(planes[n - 1], img->GetImageWidth(), stride, img->GetImageHeight());
}

u8 CKLF_ImageDrawing::i_CheckDestination(bool oneBit) {
  if (!m_plane) return Fail(klErrEmpty);
  if (oneBit ? static_cast<u64>(m_stride) * 8u < m_width : m_stride < m_width) return Fail(klErrBadArg);
  return 1;
}

kltRECT_s CKLF_ImageDrawing::i_Clip() const {
  kltRECT_s r = {0, 0, static_cast<i32>(std::min<u32>(m_width, INT32_MAX)),
                 static_cast<i32>(std::min<u32>(m_height, INT32_MAX))};
  if (!klIsNullRect(m_clip)) {
    r.left = std::max(r.left, m_clip.left);
    r.top = std::max(r.top, m_clip.top);
    r.right = std::min(r.right, m_clip.right);
    r.bottom = std::min(r.bottom, m_clip.bottom);
  }
  return r;
}

// ---- anti-aliased lines ----

u8 CKLF_ImageDrawing::DrawHQLine(f64 x1, f64 y1, f64 x2, f64 y2, f64 width, u8 capEnds, u8 maxBlend, u8 feather) {
  for (f64 v : {x1, y1, x2, y2, width})
    if (!(std::fabs(v) <= kMaxHQ)) return Fail(klErrBadArg);
  if (x1 == x2 && y1 == y2) return 1;
  if (!m_antiAlias || m_oneBit) return DrawHQLineNAA(x1, y1, x2, y2, width, capEnds, maxBlend);
  if (maxBlend) {
    const kltFPOS ends[2] = {{x1, y1}, {x2, y2}};
    const HQPOLYLINE line = {ends, 2, width, 0.0};
    return i_Blend(&line, 1, capEnds, feather);
  }
  if (!i_CheckDestination(false)) return 0;
  HQSegment g;
  kltRECT_s box;
  if (!SetUpSegment(g, x1, y1, x2, y2, width, capEnds, feather, m_value) || !SegmentBox(g, i_Clip(), box)) return 1;
  const f64 ox = feather ? 0.5 : 0.0;
  for (i32 y = box.top; y <= box.bottom; ++y) {
    u8* row = m_plane + static_cast<size_t>(y) * m_stride;
    const f64 py = y + 0.5;
    i32 xa = box.left, xb = box.right;
    if (!Candidates(g, py, ox, xa, xb)) xa = box.right + 1, xb = box.right;
    std::memset(row + box.left, 0, static_cast<size_t>(xa - box.left));
    std::memset(row + xb + 1, 0, static_cast<size_t>(box.right - xb));
    for (i32 x = xa; x <= xb; ++x) {
      const int cov = Coverage(g, x + ox, py);
      row[x] = cov < 0 ? 0 : static_cast<u8>(cov);
    }
  }
  return 1;
}

u8 CKLF_ImageDrawing::DrawHQLine(kltFPOS a, kltFPOS b, f64 width, u8 capEnds, u8 maxBlend, u8 feather) {
  return DrawHQLine(a.x, a.y, b.x, b.y, width, capEnds, maxBlend, feather);
}

u8 CKLF_ImageDrawing::DrawHQPolyLine(const kltFPOS* pts, u32 n, f64 width, u8 capEnds, u8 maxBlend, u8 feather,
                                     f64 minDist2) {
  if (!pts || n < 2) return Fail(klErrBadArg);
  const HQPOLYLINE line = {pts, n, width, minDist2};
  if (!m_oneBit && (maxBlend || !m_antiAlias)) return i_Blend(&line, 1, capEnds, feather);
  for (u32 cur = 0, next; cur + 1 < n; cur = next) {
    next = NextPoint(pts, n, cur, minDist2);
    if (!DrawHQLine(pts[cur], pts[next], width, capEnds, maxBlend, feather)) return 0;
  }
  return 1;
}

u8 CKLF_ImageDrawing::DrawHQPolyLines(const HQPOLYLINE* lines, u32 count, u8 capEnds, u8 maxBlend, u8 feather) {
  if (!lines && count) return Fail(klErrBadArg);
  if (!m_oneBit && (maxBlend || !m_antiAlias)) return i_Blend(lines, count, capEnds, feather);
  u8 ok = 1;
  for (u32 i = 0; i < count; ++i) {
    const HQPOLYLINE& l = lines[i];
    if (!DrawHQPolyLine(l.points, l.count, l.width, capEnds, maxBlend, feather, l.minDist2)) {
      if (GetError() != klErrBadArg) return 0;
      ok = 0;
    }
  }
  return ok;
}

namespace {

// Whether every segment of the polyline can be drawn (plain: as a plain
// line), and the box of the end points of those that have a length.
bool CheckLine(const CKLF_ImageDrawing::HQPOLYLINE& l, bool plain, kltFPOS& lo, kltFPOS& hi) {
  if (!l.points || l.count < 2 || !(std::fabs(l.width) <= kMaxHQ)) return false;
  lo = {INFINITY, INFINITY}, hi = {-INFINITY, -INFINITY};
  for (u32 cur = 0, next; cur + 1 < l.count; cur = next) {
    next = NextPoint(l.points, l.count, cur, l.minDist2);
    const kltFPOS a = l.points[cur], b = l.points[next];
    for (f64 v : {a.x, a.y, b.x, b.y})
      if (!(std::fabs(v) <= kMaxHQ)) return false;
    if (a.x == b.x && a.y == b.y) continue;
    if (plain) {
      for (f64 v : {a.x, a.y, b.x, b.y})
        if (!(std::fabs(v) < kMaxPlain)) return false;
      if (l.width >= 2.0 && !(l.width < kMaxDisc)) return false;
    }
    lo = {std::min({lo.x, a.x, b.x}), std::min({lo.y, a.y, b.y})};
    hi = {std::max({hi.x, a.x, b.x}), std::max({hi.y, a.y, b.y})};
  }
  return true;
}

// Every segment with a length of the polylines that can be drawn (all
// when allGood), in order, while more() holds.
template <class More, class Visit>
void EachSegment(const CKLF_ImageDrawing::HQPOLYLINE* lines, u32 count, bool plain, bool allGood, More more,
                 Visit visit) {
  for (u32 i = 0; i < count && more(); ++i) {
    const CKLF_ImageDrawing::HQPOLYLINE& l = lines[i];
    kltFPOS lo, hi;
    if (!allGood && !CheckLine(l, plain, lo, hi)) continue;
    for (u32 cur = 0, next; cur + 1 < l.count && more(); cur = next) {
      next = NextPoint(l.points, l.count, cur, l.minDist2);
      const kltFPOS a = l.points[cur], b = l.points[next];
      if (a.x != b.x || a.y != b.y) visit(l, a, b);
    }
  }
}

// A row whose open pixels all lie in one full span needs nothing more.
inline bool RowDone(const RowSpans& r) { return r.lo > r.hi || (r.n == 1 && r.s[0] <= r.lo && r.s[1] >= r.hi); }

}  // namespace

// The rows of a blend's box: in each, the pixels from the first to the
// last below the drawing value (the others are at it or above, and stay
// so), and the first and last rows not done.
struct CKLF_ImageDrawing::OpenRows {
  RowSpans* rows;
  i32 top, first, last;
  RowSpans& operator[](i32 y) { return rows[y - top]; }
  // The done rows at either end leave.
  void Shrink() {
    while (first <= last && RowDone((*this)[first])) ++first;
    while (first <= last && RowDone((*this)[last])) --last;
  }
};

u8 CKLF_ImageDrawing::i_OpenRows(kltRECT_s box, OpenRows& open) {
  const u64 bytes = (static_cast<u64>(box.bottom - box.top) + 1) * sizeof(RowSpans);
  if (m_rowSpans.GetSize() < bytes && (!klFits32(bytes) || !m_rowSpans.alloc(static_cast<u32>(bytes))))
    return FailFrom(m_rowSpans, klErrNoMemory);
  open = {reinterpret_cast<RowSpans*>(m_rowSpans.GetPtr()), box.top, box.bottom + 1, box.top - 1};
  for (i32 y = box.top; y <= box.bottom; ++y) {
    const u8* row = m_plane + static_cast<size_t>(y) * m_stride;
    RowSpans& r = open[y];
    r.lo = FirstBelow(row, box.left, box.right, m_value);
    r.hi = LastBelow(row, r.lo, box.right, m_value);
    r.n = 0;
    if (r.lo <= r.hi) open.first = std::min(open.first, y), open.last = y;
  }
  return 1;
}

u8 CKLF_ImageDrawing::i_DiscSpans(u64 bytes) {
  if (m_discSpans.GetSize() >= bytes) return 1;
  m_discWidth = 0;
  if (!klFits32(bytes) || !m_discSpans.alloc(static_cast<u32>(bytes))) return FailFrom(m_discSpans, klErrNoMemory);
  return 1;
}

// Every polyline is checked, and the memory a blend needs taken, before
// anything is drawn; the rows are read once, and each segment works only
// on the rows still open.
u8 CKLF_ImageDrawing::i_Blend(const HQPOLYLINE* lines, u32 count, u8 capEnds, u8 feather) {
  const bool plain = !m_antiAlias;
  const kltRECT_s clip = i_Clip();
  kltRECT_s box = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  u8 ok = 1, any = 0;
  f64 widest = 0.0;
  for (u32 i = 0; i < count; ++i) {
    kltFPOS lo, hi;
    if (!CheckLine(lines[i], plain, lo, hi)) {
      ok = 0;
      continue;
    }
    if (lo.x > hi.x) continue;  // no segment has a length
    any = 1;
    // Plain lines of any width below 2 are a pixel wide.
    kltRECT_s b;
    const f64 h = std::max(lines[i].width, 0.0) / 2.0;
    if (!BoxSpan(lo.x, hi.x, h, clip.left, clip.right - 1, b.left, b.right) ||
        !BoxSpan(lo.y, hi.y, h, clip.top, clip.bottom - 1, b.top, b.bottom))
      continue;
    box = {std::min(box.left, b.left), std::min(box.top, b.top), std::max(box.right, b.right),
           std::max(box.bottom, b.bottom)};
    widest = std::max(widest, lines[i].width);
  }
  if (any && !i_CheckDestination(false)) return 0;
  if (box.left > box.right || m_value == 0) return ok ? 1 : Fail(klErrBadArg);
  const u64 rows = static_cast<u64>(box.bottom - box.top) + 1;
  if (plain && widest >= 2.0 && !i_DiscSpans((2 * static_cast<u64>(widest) + 2 * rows) * sizeof(i32))) return 0;
  // Lines wide enough to cover much of a row work on the rows left open;
  // thin ones touch a few pixels a row and go straight.
  OpenRows open;
  OpenRows* rowsLeft = nullptr;
  if (widest >= kMinFullWidth) {
    if (!i_OpenRows(box, open)) return 0;
    rowsLeft = &open;
  }
  if (plain) {
    if (!i_BlendPlain(lines, count, ok, rowsLeft)) return 0;
  } else {
    i_BlendHQ(lines, count, capEnds, feather, ok, rowsLeft);
  }
  return ok ? 1 : Fail(klErrBadArg);
}

u8 CKLF_ImageDrawing::i_BlendPlain(const HQPOLYLINE* lines, u32 count, u8 allGood, OpenRows* open) {
  u8 drawn = 1;
  auto more = [&] { return drawn && (!open || open->first <= open->last); };
  EachSegment(lines, count, true, allGood, more, [&](const HQPOLYLINE& l, kltFPOS a, kltFPOS b) {
    // Toward zero, within +-2^28 (checked).
    const i32 e[4] = {static_cast<i32>(a.x), static_cast<i32>(a.y), static_cast<i32>(b.x), static_cast<i32>(b.y)};
    if (l.width >= 2.0) drawn = i_DiscLine(e, l.width, open);
    else i_PixelLine(e);
  });
  return drawn;
}

// Wide segments are blended in three passes over the open rows they
// reach: the spans they surely cover fully are gathered a row, each filled
// once, then what is left of the segments' row ranges is tested pixel by
// pixel.
void CKLF_ImageDrawing::i_BlendHQ(const HQPOLYLINE* lines, u32 count, u8 capEnds, u8 feather, u8 allGood,
                                  OpenRows* open) {
  const kltRECT_s clip = i_Clip();
  const f64 ox = feather ? 0.5 : 0.0;
  const u8 v = m_value;
  // Every segment with its box in the clip, while rows are open.
  auto more = [&] { return !open || open->first <= open->last; };
  auto eachSegment = [&](auto visit) {
    EachSegment(lines, count, false, allGood, more, [&](const HQPOLYLINE& l, kltFPOS a, kltFPOS b) {
      HQSegment g;
      kltRECT_s sb;
      if (SetUpSegment(g, a.x, a.y, b.x, b.y, l.width, capEnds, feather, v) && SegmentBox(g, clip, sb)) visit(g, sb);
    });
  };
  if (!open) {
    eachSegment([&](const HQSegment& g, const kltRECT_s& sb) {
      for (i32 y = sb.top; y <= sb.bottom; ++y) {
        i32 xa = sb.left, xb = sb.right;
        if (Candidates(g, y + 0.5, ox, xa, xb))
          BlendPixels(g, m_plane + static_cast<size_t>(y) * m_stride, xa, xb, ox, y + 0.5);
      }
    });
    return;
  }
  // Each segment's rows not done, with the part of its box in them; the
  // done rows at either end leave after each segment.
  OpenRows& rows = *open;
  auto eachRow = [&](auto visit) {
    eachSegment([&](const HQSegment& g, const kltRECT_s& sb) {
      for (i32 y = std::max(sb.top, rows.first), end = std::min(sb.bottom, rows.last); y <= end; ++y) {
        RowSpans& r = rows[y];
        const i32 xa = std::max(sb.left, r.lo), xb = std::min(sb.right, r.hi);
        if (xa <= xb && !RowDone(r)) visit(g, y, r, xa, xb);
      }
      rows.Shrink();
    });
  };
  // The spans covered fully: the joints of a wide polyline, and wide
  // knives side by side, overlap many times.
  const i32 first = rows.first, last = rows.last;
  eachRow([&](const HQSegment& g, i32 y, RowSpans& r, i32 xa, i32 xb) {
    i32 s[6];
    const u32 k = FullSpans(g, y + 0.5, ox, xa, xb, s);
    for (u32 j = 0; j < k; ++j) AddSpan(r, s[2 * j], s[2 * j + 1]);
  });
  rows.first = last + 1, rows.last = first - 1;
  for (i32 y = first; y <= last; ++y) {
    RowSpans& r = rows[y];
    for (u32 j = 0; j < r.n; ++j) FillSpan(m_plane + static_cast<size_t>(y) * m_stride, r.s[2 * j], r.s[2 * j + 1], v);
    if (!RowDone(r)) rows.first = std::min(rows.first, y), rows.last = y;
  }
  // The rest of each segment's row ranges, outside those spans.
  eachRow([&](const HQSegment& g, i32 y, RowSpans& r, i32 xa, i32 xb) {
    const f64 py = y + 0.5;
    if (!Candidates(g, py, ox, xa, xb)) return;
    u8* row = m_plane + static_cast<size_t>(y) * m_stride;
    i64 x = xa;
    for (u32 j = 0; j < r.n && r.s[2 * j] <= xb; ++j) {
      if (r.s[2 * j + 1] < x) continue;
      BlendPixels(g, row, x, r.s[2 * j] - 1, ox, py);
      x = static_cast<i64>(r.s[2 * j + 1]) + 1;
    }
    BlendPixels(g, row, x, xb, ox, py);
  });
}

// ---- plain lines ----

u8 CKLF_ImageDrawing::i_PlainEnds(f64 x1, f64 y1, f64 x2, f64 y2, i32 e[4]) {
  const f64 v[4] = {x1, y1, x2, y2};
  for (int i = 0; i < 4; ++i) {
    if (!(std::fabs(v[i]) < kMaxPlain)) return Fail(klErrBadArg);
    e[i] = static_cast<i32>(v[i]);  // toward zero
  }
  return 1;
}

u8 CKLF_ImageDrawing::DrawHQLineNAA(f64 x1, f64 y1, f64 x2, f64 y2, f64 width, u8 capEnds, u8 maxBlend) {
  (void)capEnds;
  (void)maxBlend;
  if (m_oneBit) return DrawHQLineNAA1PixBit(x1, y1, x2, y2);
  if (width >= 2.0) return DrawHQLineNAAnPix(x1, y1, x2, y2, width);
  return DrawHQLineNAA1Pix(x1, y1, x2, y2);
}

u8 CKLF_ImageDrawing::DrawHQLineNAA1Pix(f64 x1, f64 y1, f64 x2, f64 y2) {
  i32 e[4];
  if (!i_PlainEnds(x1, y1, x2, y2, e) || !i_CheckDestination(false)) return 0;
  i_PixelLine(e);
  return 1;
}

void CKLF_ImageDrawing::i_PixelLine(const i32 e[4]) {
  const kltRECT_s c = i_Clip();
  if (c.left >= c.right || c.top >= c.bottom) return;
  const u8 v = m_value;
  Bresenham(e[0], e[1], e[2], e[3], c.left, c.right - 1, c.top, c.bottom - 1, [&](i64 x, i64 y) {
    if (x < c.left || x >= c.right || y < c.top || y >= c.bottom) return;
    u8& p = m_plane[static_cast<size_t>(y) * m_stride + static_cast<size_t>(x)];
    if (v > p) p = v;
  });
}

u8 CKLF_ImageDrawing::DrawHQLineNAA1PixBit(f64 x1, f64 y1, f64 x2, f64 y2) {
  i32 e[4];
  if (!i_PlainEnds(x1, y1, x2, y2, e) || !i_CheckDestination(true)) return 0;
  const kltRECT_s c = i_Clip();
  if (c.left >= c.right || c.top >= c.bottom) return 1;
  Bresenham(e[0], e[1], e[2], e[3], c.left, c.right - 1, c.top, c.bottom - 1, [&](i64 x, i64 y) {
    if (x < c.left || x >= c.right || y < c.top || y >= c.bottom) return;
    m_plane[static_cast<size_t>(y) * m_stride + static_cast<size_t>(x >> 3)] |= static_cast<u8>(0x80u >> (x & 7));
  });
  return 1;
}

u8 CKLF_ImageDrawing::DrawHQLineNAAnPix(f64 x1, f64 y1, f64 x2, f64 y2, f64 width) {
  i32 e[4];
  if (!i_PlainEnds(x1, y1, x2, y2, e) || !i_CheckDestination(false)) return 0;
  if (!(width < kMaxDisc)) return Fail(klErrBadArg);
  return i_DiscLine(e, width, nullptr);
}

u8 CKLF_ImageDrawing::i_DiscLine(const i32 e[4], f64 width, OpenRows* open) {
  const i64 n = width >= 1.0 ? static_cast<i64>(width) : 1;
  const kltRECT_s c = i_Clip();
  if (c.left >= c.right || c.top >= c.bottom) return 1;
  // The disc at (x, y) lies in the box x - n2 .. x + nr, y - n2 .. y + nr.
  // Only the segment's pixels that can be seen are worked on: the rows of
  // its box in the clip rectangle (in a blend, those still open), and the
  // steps whose disc reaches them.
  const i64 n2 = n / 2, nr = n - 1 - n2;
  i64 top = std::max<i64>(c.top, std::min(e[1], e[3]) - n2);
  i64 bottom = std::min<i64>(c.bottom - 1, std::max(e[1], e[3]) + nr);
  if (open) top = std::max<i64>(top, open->first), bottom = std::min<i64>(bottom, open->last);
  const i64 left = std::max<i64>(c.left, std::min(e[0], e[2]) - n2);
  const i64 right = std::min<i64>(c.right - 1, std::max(e[0], e[2]) + nr);
  if (top > bottom || left > right) return 1;
  // Every coordinate and reach below fits 32 bits (end points within
  // 2^28, widths below 2^16).
  const u64 rows = static_cast<u64>(bottom - top + 1);
  if (!i_DiscSpans((2 * static_cast<u64>(n) + 2 * rows) * sizeof(i32))) return 0;
  // Row j of the brush box holds the pixels px with (2 (x - px))^2 +
  // (2 (y - py))^2 <= n^2 within the box: x - reachL[j] .. x + reachR[j].
  // Kept while the width stays (a polyline's segments share it).
  i32* reachL = reinterpret_cast<i32*>(m_discSpans.GetPtr());
  i32* reachR = reachL + n;
  i32* lo = reachR + n;
  i32* hi = lo + rows;
  if (m_discWidth != n) {
    for (i64 j = 0; j < n; ++j) {
      const i64 ddy = 2 * (n2 - j);
      const i64 half = ISqrt((n * n - ddy * ddy) / 4);
      reachL[j] = static_cast<i32>(std::min(half, n2));
      reachR[j] = static_cast<i32>(std::min(half, nr));
    }
    m_discWidth = static_cast<u32>(n);
  }
  for (u64 r = 0; r < rows; ++r) lo[r] = INT32_MAX, hi[r] = INT32_MIN;
  // A disc over all of the box that can be seen leaves the other steps
  // nothing to add there. The rows' reach grows to the disc's middle row
  // and shrinks after it: the box's top and bottom rows are its narrowest.
  bool whole = false;
  auto coversBox = [&](i64 x, i64 y) {
    const i64 jt = top - (y - n2), jb = bottom - (y - n2);
    return jt >= 0 && jb < n && x - reachL[jt] <= left && x + reachR[jt] >= right && x - reachL[jb] <= left &&
           x + reachR[jb] >= right;
  };
  // internal_BlendPixelN, the disc brush at every step: the discs of
  // neighbouring steps overlap, so in each row they make one span, filled
  // once when all are known.
  Bresenham(e[0], e[1], e[2], e[3], left - nr, right + n2, top - nr, bottom + n2, [&](i64 x, i64 y) {
    if (whole || (whole = coversBox(x, y))) return;
    const i64 base = y - n2 - top;
    const i64 j0 = std::max<i64>(0, -base), j1 = std::min<i64>(n - 1, bottom - top - base);
    const i32 xi = static_cast<i32>(x);
    for (i64 j = j0; j <= j1; ++j) {
      lo[base + j] = std::min(lo[base + j], xi - reachL[j]);
      hi[base + j] = std::max(hi[base + j], xi + reachR[j]);
    }
  });
  const u8 v = m_value;
  for (u64 r = 0; r < rows; ++r) {
    const i32 y = static_cast<i32>(top + static_cast<i64>(r));
    i32 from = static_cast<i32>(whole ? left : std::max<i64>(lo[r], left));
    i32 to = static_cast<i32>(whole ? right : std::min<i64>(hi[r], right));
    u8* row = m_plane + static_cast<size_t>(y) * m_stride;
    if (!open) {
      if (from <= to) FillSpan(row, from, to, v);
      continue;
    }
    // In a blend, only the open pixels; the open ones at either end of the
    // fill shrink.
    RowSpans& o = (*open)[y];
    from = std::max(from, o.lo), to = std::min(to, o.hi);
    if (from > to) continue;
    FillSpan(row, from, to, v);
    if (from == o.lo) o.lo = FirstBelow(row, to + 1, o.hi, v);
    if (to == o.hi) o.hi = LastBelow(row, o.lo, from - 1, v);
  }
  if (open) open->Shrink();
  return 1;
}
