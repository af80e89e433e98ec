#include "CKLF_ImageDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const f64 kMaxHQ = 1e15;            // larger values would overflow the squared length
const f64 kMaxPlain = 268435456.0;  // 2^28: Bresenham terms stay within 64 bits
const f64 kMaxDisc = 65536.0;
const f64 kRowMargin = 0.5;  // pixels

// The geometry of one anti-aliased segment, shared by every pixel.
struct HQSegment {
  f64 x1, y1, x2, y2, dx, dy, l2;
  f64 h, S, rin, rout, e, c;
  bool caps;
  u32 value;
};

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

// Whether the eight bytes at p are all 255.
inline bool AllFull(const u8* p) {
  u64 w;
  std::memcpy(&w, p, sizeof w);
  return w == ~u64{0};
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
  if (!i_CheckDestination(false)) return 0;

  HQSegment g;
  g.x1 = x1;
  g.y1 = y1;
  g.x2 = x2;
  g.y2 = y2;
  g.dx = x2 - x1;
  g.dy = y2 - y1;
  g.l2 = g.dx * g.dx + g.dy * g.dy;
  if (g.l2 == 0.0) return 1;  // too short to have a direction
  const f64 L = std::sqrt(g.l2);
  g.caps = capEnds && width >= 2.1;
  g.h = width / 2.0;
  g.S = feather ? 1.414213 : L / std::max(std::fabs(g.dx), std::fabs(g.dy));
  g.rin = g.h - g.S / 2.0;
  g.rout = g.h + g.S / 2.0;
  g.e = (g.S / 2.0) / L;
  g.c = g.caps ? g.h / L : 0.0;
  g.value = m_value;
  const f64 ox = feather ? 0.5 : 0.0;

  // Bounding box, both ends inclusive, cut to the clip rectangle.
  const kltRECT_s clip = i_Clip();
  if (clip.left >= clip.right || clip.top >= clip.bottom) return 1;
  const f64 bl = std::max<f64>(std::trunc(std::min(x1, x2) - g.h - 1.0), clip.left);
  const f64 br = std::min<f64>(std::trunc(std::max(x1, x2) + g.h + 1.0), clip.right - 1);
  const f64 bt = std::max<f64>(std::trunc(std::min(y1, y2) - g.h - 1.0), clip.top);
  const f64 bb = std::min<f64>(std::trunc(std::max(y1, y2) + g.h + 1.0), clip.bottom - 1);
  if (bl > br || bt > bb) return 1;
  const i32 left = static_cast<i32>(bl), right = static_cast<i32>(br);
  const i32 top = static_cast<i32>(bt), bottom = static_cast<i32>(bb);

  // Every covered sample lies within rout of the line and within the
  // parameter range; a margin far above rounding error keeps the row
  // ranges conservative, and inside them each pixel is tested exactly.
  const f64 reach = (g.rout + kRowMargin) * L;
  const f64 tLo = -(g.c + g.e) * g.l2 - kRowMargin * L, tHi = (1.0 + g.c + g.e) * g.l2 + kRowMargin * L;
  for (i32 y = top; y <= bottom; ++y) {
    u8* row = m_plane + static_cast<size_t>(y) * m_stride;
    const f64 py = y + 0.5;
    f64 lo = bl, hi = br;
    bool empty = reach < 0.0;
    if (!empty) {
      const f64 cy = (py - y1) * g.dx;
      if (g.dy != 0.0) {
        const f64 a = x1 + (cy - reach) / g.dy, b = x1 + (cy + reach) / g.dy;
        lo = std::max(lo, std::min(a, b) - ox);
        hi = std::min(hi, std::max(a, b) - ox);
      } else if (std::fabs(cy) > reach) {
        empty = true;
      }
      const f64 ty = (py - y1) * g.dy;
      if (g.dx != 0.0) {
        const f64 a = x1 + (tLo - ty) / g.dx, b = x1 + (tHi - ty) / g.dx;
        lo = std::max(lo, std::min(a, b) - ox);
        hi = std::min(hi, std::max(a, b) - ox);
      } else if (ty < tLo || ty > tHi) {
        empty = true;
      }
    }
    i32 xa = right + 1, xb = right;  // empty by default
    if (!empty) {
      lo = std::ceil(lo);
      hi = std::floor(hi);
      if (lo <= hi) {
        xa = static_cast<i32>(lo);
        xb = static_cast<i32>(hi);
      }
    }
    if (!maxBlend) {
      if (xa > left) std::memset(row + left, 0, static_cast<size_t>(std::min(xa, right + 1) - left));
      if (xb < right && xb >= xa) std::memset(row + xb + 1, 0, static_cast<size_t>(right - xb));
    }
    for (i32 x = xa; x <= xb; ++x) {
      // No coverage passes the drawing value: a pixel already there keeps
      // (the joints of a wide polyline overlap many times); full ones are
      // passed over eight at a time.
      if (maxBlend && g.value == 255)
        while (x + 8 <= xb + 1 && AllFull(row + x)) x += 8;
      if (x > xb) break;
      if (maxBlend && row[x] >= g.value) continue;
      const int cov = Coverage(g, x + ox, py);
      if (maxBlend) {
        if (cov > row[x]) row[x] = static_cast<u8>(cov);
      } else {
        row[x] = cov < 0 ? 0 : static_cast<u8>(cov);
      }
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
  u32 cur = 0;
  while (cur + 1 < n) {
    u32 next = cur + 1;
    while (next + 1 < n) {
      const f64 dx = pts[next].x - pts[cur].x, dy = pts[next].y - pts[cur].y;
      if (dx * dx + dy * dy > minDist2) break;
      ++next;
    }
    if (!DrawHQLine(pts[cur], pts[next], width, capEnds, maxBlend, feather)) return 0;
    cur = next;
  }
  return 1;
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
  const kltRECT_s c = i_Clip();
  if (c.left >= c.right || c.top >= c.bottom) return 1;
  const u8 v = m_value;
  Bresenham(e[0], e[1], e[2], e[3], c.left, c.right - 1, c.top, c.bottom - 1, [&](i64 x, i64 y) {
    if (x < c.left || x >= c.right || y < c.top || y >= c.bottom) return;
    u8& p = m_plane[static_cast<size_t>(y) * m_stride + static_cast<size_t>(x)];
    if (v > p) p = v;
  });
  return 1;
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
  const i64 n = width >= 1.0 ? static_cast<i64>(width) : 1;
  const kltRECT_s c = i_Clip();
  if (c.left >= c.right || c.top >= c.bottom) return 1;
  // The disc at (x, y) lies in the box x - n2 .. x + nr, y - n2 .. y + nr.
  // Only the segment's pixels that can be seen are worked on: the rows of
  // its box in the clip rectangle, and the steps whose disc reaches it.
  const i64 n2 = n / 2, nr = n - 1 - n2;
  const i64 top = std::max<i64>(c.top, std::min(e[1], e[3]) - n2);
  const i64 bottom = std::min<i64>(c.bottom - 1, std::max(e[1], e[3]) + nr);
  const i64 left = std::max<i64>(c.left, std::min(e[0], e[2]) - n2);
  const i64 right = std::min<i64>(c.right - 1, std::max(e[0], e[2]) + nr);
  if (top > bottom || left > right) return 1;
  // Every coordinate and reach below fits 32 bits (end points within
  // 2^28, widths below 2^16).
  const u64 rows = static_cast<u64>(bottom - top + 1), bytes = (2 * static_cast<u64>(n) + 2 * rows) * sizeof(i32);
  if (m_discSpans.GetSize() < bytes) {
    m_discWidth = 0;
    if (!klFits32(bytes) || !m_discSpans.alloc(static_cast<u32>(bytes))) return FailFrom(m_discSpans, klErrNoMemory);
  }
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
    const i64 from = whole ? left : std::max<i64>(lo[r], left), to = whole ? right : std::min<i64>(hi[r], right);
    u8* row = m_plane + static_cast<size_t>(top + static_cast<i64>(r)) * m_stride;
    if (from > to) continue;
    if (v == 255)
      std::memset(row + from, 255, static_cast<size_t>(to - from + 1));
    else
      for (i64 px = from; px <= to; ++px) row[px] = row[px] < v ? v : row[px];
  }
  return 1;
}
