#include "CTessarette.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

namespace {

const char kMsgMemory[] = "Memory allocation problem...";
const char kMsgTooMany[] = "Too many (>100'000!) pieces...";
const char kMsgTitle[] = "Error!";

const u32 kPieceGrowth = 1000;
// Rows of one task when pinholes are closed side by side.
const u32 kPinholeRows = 64;

void CopyText(char* dst, const char* src) {
  size_t n = 0;
  if (src) {
    while (n < 250 && src[n]) {
      dst[n] = src[n];
      n++;
    }
  }
  dst[n] = 0;
}

u8 RectEmpty(const kltRECT_s& r) { return r.left >= r.right || r.top >= r.bottom; }


}  // namespace

// ---------------------------------------------------------------------------
// Construction, layout

void CTessarette::DefaultLight(f32 light[3]) {
  const f64 n = std::sqrt(1.14);
  light[0] = static_cast<f32>(-0.5 / n);
  light[1] = static_cast<f32>(0.8 / n);
  light[2] = static_cast<f32>(0.5 / n);
}

CTessarette::CTessarette() {
  // Reserved bytes zero: records are copied and compared as bytes.
  m_defColorOverlay = {};
  m_defStroke = {};
  m_defImageOverlay = {};
  m_defHsl = {};
  m_defOpacity = {};
  m_defBlur = {};
  m_defBc = {};
  m_defMblur = {};
  m_defBevel = {};
  static const u8 red[8] = {85, 255, 0, 0, 255, 0, 0, 255};
  m_defColorOverlay.enabled = 0;
  m_defColorOverlay.opacity = 255;
  std::memcpy(m_defColorOverlay.color, red, 8);
  m_defStroke.enabled = 0;
  m_defStroke.opacity = 255;
  m_defStroke.size = 3;
  std::memcpy(m_defStroke.color, red, 8);
  m_defImageOverlay.enabled = 0;
  m_defImageOverlay.opacity = 255;
  m_defImageOverlay.sourceMode = 0;
  m_defImageOverlay.layerId = -1;
  m_defHsl.enabled = 0;
  m_defHsl.hue = 0;
  m_defHsl.saturation = 0;
  m_defHsl.lightness = 0;
  m_defOpacity.enabled = 0;
  m_defOpacity.opacity = 255;
  m_defInvert = 0;
  m_defBlur.enabled = 0;
  m_defBlur.radius = 0;
  m_defBc.enabled = 0;
  m_defBc.brightness = 0;
  m_defBc.contrast = 0;
  m_defMblur.enabled = 0;
  m_defMblur.angle = 45;
  m_defMblur.radius = 0;
  m_defBevel.enabled = 1;
  DefaultLight(m_defBevel.light);
  m_defBevel.highlightOpacity = 191;
  std::memset(m_defBevel.highlightColor, 255, 8);
  m_defBevel.shadowOpacity = 191;
  std::memset(m_defBevel.shadowColor, 0, 8);
  m_defBevel.shadowColor[7] = 255;
  m_defBevel.size = 2;
  m_defBevel.depth = 3;
  m_defBevel.soften = 0;
}

CTessarette::~CTessarette() { FreeSpliting(); }

u8 CTessarette::i_GrowBlock(CKLF_Mem& block, u64 bytes) {
  if (!klFits32(bytes)) return 0;
  if (block.GetSize() >= bytes) return 1;
  return block.Grow(static_cast<u32>(bytes)) != nullptr || bytes == 0;
}

u8 CTessarette::Init(u32 columns, u32 rows, u32 extraKnives) {
  ResetError();
  m_vCount = static_cast<u16>(columns == 0 ? 0 : (columns - 1 < kMaxSplitters ? columns - 1 : kMaxSplitters));
  m_hCount = static_cast<u16>(rows == 0 ? 0 : (rows - 1 < kMaxSplitters ? rows - 1 : kMaxSplitters));
  if (extraKnives > kMaxExtraKnives) return Fail(klErrBadArg);
  std::memset(m_vPos, 0, sizeof(f32) * m_vCount);
  std::memset(m_hPos, 0, sizeof(f32) * m_hCount);

  const u32 kc = m_vCount + 2u, kr = m_hCount + 2u;
  const u32 vc = m_vCount, vr = m_hCount + 1u;
  const u32 hc = m_vCount + 1u, hr = m_hCount;
  if (!i_GrowBlock(m_knotBlock, 8ull * kc * kr) ||
      !i_GrowBlock(m_vKnifeBlock, sizeof(KNIFESTRUCT_RENDERER) * static_cast<u64>(vc) * vr) ||
      !i_GrowBlock(m_hKnifeBlock, sizeof(KNIFESTRUCT_RENDERER) * static_cast<u64>(hc) * hr) ||
      !i_GrowBlock(m_xKnifeBlock, sizeof(EXTRAKNIFE) * static_cast<u64>(extraKnives))) {
    m_knots = nullptr;
    m_vKnives = m_hKnives = nullptr;
    m_xKnives = nullptr;
    m_knotCount = m_vKnifeCount = m_hKnifeCount = m_xKnifeCount = 0;
    m_knotColumns = m_knotRows = m_vKnifeColumns = m_vKnifeRows = m_hKnifeColumns = m_hKnifeRows = 0;
    return Fail(klErrNoMemory);
  }
  m_knots = reinterpret_cast<KNOT*>(m_knotBlock.GetPtr());
  m_knotCount = kc * kr;
  m_knotColumns = static_cast<u16>(kc);
  m_knotRows = static_cast<u16>(kr);
  std::memset(m_knots, 0, sizeof(KNOT) * m_knotCount);

  m_vKnives = reinterpret_cast<KNIFESTRUCT_RENDERER*>(m_vKnifeBlock.GetPtr());
  m_vKnifeCount = vc * vr;
  m_vKnifeColumns = static_cast<u16>(vc);
  m_vKnifeRows = static_cast<u16>(vr);
  if (m_vKnives) std::memset(m_vKnives, 0, sizeof(KNIFESTRUCT_RENDERER) * m_vKnifeCount);

  m_hKnives = reinterpret_cast<KNIFESTRUCT_RENDERER*>(m_hKnifeBlock.GetPtr());
  m_hKnifeCount = hc * hr;
  m_hKnifeColumns = static_cast<u16>(hc);
  m_hKnifeRows = static_cast<u16>(hr);
  if (m_hKnives) std::memset(m_hKnives, 0, sizeof(KNIFESTRUCT_RENDERER) * m_hKnifeCount);

  m_xKnives = reinterpret_cast<EXTRAKNIFE*>(m_xKnifeBlock.GetPtr());
  m_xKnifeCount = extraKnives;
  if (m_xKnives) std::memset(m_xKnives, 0, sizeof(EXTRAKNIFE) * m_xKnifeCount);
  return 1;
}

CTessarette::KNOT* CTessarette::GetKnot(u32 column, u32 row) {
  if (column >= m_knotColumns || row >= m_knotRows) return nullptr;
  return m_knots + row * m_knotColumns + column;
}

CTessarette::KNIFESTRUCT_RENDERER* CTessarette::GetVerticalKnife(u32 column, u32 row) {
  if (column >= m_vKnifeColumns || row >= m_vKnifeRows) return nullptr;
  return m_vKnives + row * m_vKnifeColumns + column;
}

CTessarette::KNIFESTRUCT_RENDERER* CTessarette::GetHorizontalKnife(u32 column, u32 row) {
  if (column >= m_hKnifeColumns || row >= m_hKnifeRows) return nullptr;
  return m_hKnives + row * m_hKnifeColumns + column;
}

CTessarette::EXTRAKNIFE* CTessarette::GetExtraKnife(u32 index) {
  return index < m_xKnifeCount ? m_xKnives + index : nullptr;
}

void CTessarette::SetDocument(const DOCUMENT& doc) {
  m_doc = doc;
  m_colorKind = doc.colorKind;
}

void CTessarette::SetAlertProc(AlertProc proc, void* user) {
  m_alertProc = proc;
  m_alertUser = user;
}

void CTessarette::PlatformMessageBox(const char* text, const char* title) {
  CopyText(m_alertText, text);
  CopyText(m_alertTitle, title);
  if (m_alertProc) m_alertProc(m_alertText, m_alertTitle, m_alertUser);
}

void CTessarette::SetLocalProgress(f64 percent, u8 low, u8 high) {
  i32 v = static_cast<i32>(low + (static_cast<f64>(high) - low) * percent / 100.0);
  if (v == m_lastProgress) return;
  m_lastProgress = v;
  if (m_progress) m_progress->Progress(static_cast<u8>(v < 0 ? 0 : (v > 255 ? 255 : v)), nullptr);
}

u8 CTessarette::i_Cancelled() { return m_progress && m_progress->IsCanceled() ? 1 : 0; }

// ---------------------------------------------------------------------------
// Knives

kltFPOS CTessarette::i_ConvertKnot(u32 column, u32 row, i32 width, i32 height) const {
  kltFPOS p = {0.0, 0.0};
  const KNOT* k = (column < m_knotColumns && row < m_knotRows && m_knots)
                      ? m_knots + row * m_knotColumns + column
                      : nullptr;
  const f64 kx = k ? k->dx : 0.0, ky = k ? k->dy : 0.0;

  // One axis: c the knot's index, n the inner splitter count, pos the
  // splitter positions, size the image extent.
  auto axis = [](u32 c, u32 n, const f32* pos, f64 d, i32 size) -> f64 {
    if (c == 0) return 0.0;
    if (c >= n + 1) return static_cast<f64>(size);
    const f64 pc = pos[c - 1];
    if (d < 0) {
      const f64 before = c == 1 ? 0.0 : static_cast<f64>(pos[c - 2]);
      return (pc + d * (pc - before)) * size;
    }
    const f64 after = c == n ? 1.0 : static_cast<f64>(pos[c]);
    return (pc + d * (after - pc)) * size;
  };
  p.x = axis(column, m_vCount, m_vPos, kx, width);
  p.y = axis(row, m_hCount, m_hPos, ky, height);
  return p;
}

kltFPOS CTessarette::i_ConvertKnot(u32 index, i32 width, i32 height) const {
  if (m_knotColumns == 0) return i_ConvertKnot(0u, 0u, width, height);
  return i_ConvertKnot(index % m_knotColumns, index / m_knotColumns, width, height);
}

// The y range of a line's points; every row when the line would not be
// drawn as it is (fewer than two points, far off or not finite values), so
// that each band meets its failure.
namespace {
f32 ClampTo(f32 v, f32 lo, f32 hi) { return v < lo ? lo : (v > hi ? hi : v); }
}  // namespace

f32 CTessarette::KnobPivot(const f32* positions, u32 count) {
  if (count > 64) count = 64;
  if (!count) return 0;
  f64 sum = 0;
  for (u32 j = 0; j < count; ++j) sum += ClampTo(positions[j], 0.0f, 1.0f);
  return static_cast<f32>(sum / count);
}

u32 CTessarette::EffectiveKnifePoints(const f32* U, const f32* H, const f32* S, u32 count, u8 flipH, u8 flipU,
                                      u32 knobSize, f64* u, f64* h, f64* s) {
  const u32 n = count > 64 ? 64 : count;
  const f64 q = static_cast<f64>(knobSize) / 100.0;
  const f64 pivot = KnobPivot(U, n);
  const f64 c = flipU ? 1.0 - pivot : pivot;
  for (u32 j = 0; j < n; ++j) {
    const u32 src = flipU ? n - 1 - j : j;
    const f64 stored = ClampTo(U[src], 0.0f, 1.0f);
    f64 uu = flipU ? 1.0 - stored : stored;
    f64 hh = ClampTo(H[src], -3.0f, 3.0f);
    if (flipH) hh = -hh;
    if (knobSize != 100) {
      hh = hh * q;
      uu = c + q * (uu - c);
    }
    u[j] = uu;
    h[j] = hh;
    s[j] = ClampTo(S[src], -2.0f, 2.0f);
  }
  return n;
}

void CTessarette::i_LineExtent(const kltFPOS* p, u32 count, f64* extent) {
  const f64 kFar = 16777216.0;
  extent[0] = -HUGE_VAL;
  extent[1] = HUGE_VAL;
  if (count < 2) return;
  f64 lo = p[0].y, hi = p[0].y;
  for (u32 i = 0; i < count; i++) {
    if (!(std::fabs(p[i].x) < kFar && std::fabs(p[i].y) < kFar)) return;
    if (p[i].y < lo) lo = p[i].y;
    if (p[i].y > hi) hi = p[i].y;
  }
  extent[0] = lo;
  extent[1] = hi;
}

u8 CTessarette::i_DrawKnifeWith(KnifePen& pen, const KNIFESTRUCT_RENDERER* knife, kltFPOS a, kltFPOS b,
                                 f64* extent) const {
  if (extent) extent[0] = 1.0, extent[1] = 0.0;
  if (!knife || knife->count < 0) return 1;
  const f64 dx = b.x - a.x, dy = b.y - a.y;
  if (dx * dx + dy * dy < 1e-7) return 1;
  f64 width = knife->thickness < 1 ? 1.0 : static_cast<f64>(knife->thickness);
  if (m_thinKnife) width = 1.0;

  CKLF_ImageDrawing& d = *pen.drawing;
  d.SetValue(255);
  d.SetAntiAlias(m_antiAlias);
  // Knives keep the larger value, so a knife never erases one drawn before.
  // A knife left out would merge the pieces on both sides: every failure
  // goes up.
  if (knife->count == 0) {
    if (extent) {
      const kltFPOS ends[2] = {a, b};
      i_LineExtent(ends, 2, extent);
      return 1;
    }
    if (d.DrawHQLine(a, b, width, 1, 1, 0)) return 1;
    pen.error = d.GetError();
    return 0;
  }
  const u32 n = knife->count > 64 ? 64u : static_cast<u32>(knife->count);
  CKLF_2DMath::KLSPLINEPOINT* k = pen.knots;
  k[0].x = a.x;
  k[0].y = a.y;
  k[0].smoothness = 0.0f;
  for (u32 i = 0; i < n; i++) {
    // A knife of no length has its knots at its end.
    kltFPOS p;
    if (!pen.math->HU2Coors(a, b, knife->offset[i], knife->position[i], p)) p = a;
    k[i + 1].x = p.x;
    k[i + 1].y = p.y;
    k[i + 1].smoothness = knife->smoothness[i];
  }
  k[n + 1].x = b.x;
  k[n + 1].y = b.y;
  k[n + 1].smoothness = 0.0f;
  u32 count = 0;
  if (!pen.math->CalcPointSpline(k, n + 2, 2.0, pen.points, count, nullptr)) {
    pen.error = pen.math->GetError();
    return 0;
  }
  pen.pointCount = count;
  if (extent) {
    i_LineExtent(reinterpret_cast<const kltFPOS*>(pen.points->GetPtr()), count, extent);
    return 1;
  }
  const f64 minDist2 = width * 0.25 > 1.0 ? width * 0.25 : 1.0;
  if (d.DrawHQPolyLine(reinterpret_cast<const kltFPOS*>(pen.points->GetPtr()), count, width, 1, 1, 0, minDist2))
    return 1;
  pen.error = d.GetError();
  return 0;
}

u8 CTessarette::i_DrawKnife(const KNIFESTRUCT_RENDERER* knife, kltFPOS a, kltFPOS b) {
  KnifePen pen = {&m_drawing, &m_math, m_splineKnots, &m_splinePoints, m_splinePointCount, 0};
  const u8 ok = i_DrawKnifeWith(pen, knife, a, b);
  m_splinePointCount = pen.pointCount;
  return ok ? 1 : Fail(pen.error);
}

void CTessarette::i_KnifeAt(u32 index, i32 width, i32 height, const KNIFESTRUCT_RENDERER*& knife, kltFPOS& a,
                            kltFPOS& b) const {
  if (index < m_vKnifeCount) {
    const u32 r = index / m_vKnifeColumns, c = index % m_vKnifeColumns;
    knife = m_vKnives + index;
    a = i_ConvertKnot(c + 1, r, width, height);
    b = i_ConvertKnot(c + 1, r + 1, width, height);
    return;
  }
  index -= m_vKnifeCount;
  if (index < m_hKnifeCount) {
    const u32 r = index / m_hKnifeColumns, c = index % m_hKnifeColumns;
    knife = m_hKnives + index;
    a = i_ConvertKnot(c, r + 1, width, height);
    b = i_ConvertKnot(c + 1, r + 1, width, height);
    return;
  }
  const EXTRAKNIFE& x = m_xKnives[index - m_hKnifeCount];
  // A knife between knots the grid does not have is not drawn.
  const u8 known = x.firstKnot < m_knotCount && x.secondKnot < m_knotCount;
  knife = known ? &x.knife : nullptr;
  a = known ? i_ConvertKnot(x.firstKnot, width, height) : kltFPOS{0.0, 0.0};
  b = known ? i_ConvertKnot(x.secondKnot, width, height) : kltFPOS{0.0, 0.0};
}

u8 CTessarette::DrawSplitting(i32 width, i32 height, u8* plane, u32 stride, u8 low, u8 high) {
  if (!m_nested) {
    m_lastProgress = -1;
    ResetError();
  }
  if (!plane || width <= 0 || height <= 0) return Fail(klErrBadArg);
  const u64 rowBytes = m_drawing.GetOneBit() ? (static_cast<u64>(width) + 7) / 8 : static_cast<u64>(width);
  if (stride < rowBytes) return Fail(klErrBadArg);

  SetLocalProgress(0, low, high);
  if (i_Cancelled()) return 0;
  const u32 threads = KLF_Parallel::Resolve(m_threads);
  if (threads > 1 && height > 1) return i_DrawSplittingBands(width, height, plane, stride, low, high, threads);
  std::memset(plane, 0, static_cast<size_t>(stride) * static_cast<size_t>(height));
  if (i_Cancelled()) return 0;
  SetLocalProgress(5, low, high);

  if (!m_drawing.SetDestination(plane, static_cast<u32>(width), stride, static_cast<u32>(height)))
    return FailFrom(m_drawing, klErrBadArg);
  m_drawing.SetClipRect(klNullRect);
  const u64 total = static_cast<u64>(m_vKnifeCount) + m_hKnifeCount + m_xKnifeCount;
  const f64 step = total ? 95.0 / static_cast<f64>(total) : 0.0;
  f64 running = 5.0;
  auto advance = [&]() -> u8 {
    i32 before = static_cast<i32>(running);
    running += step;
    if (static_cast<i32>(running) != before) {
      SetLocalProgress(static_cast<i32>(running), low, high);
      if (i_Cancelled()) return 0;
    }
    return 1;
  };
  for (u32 i = 0; i < i_KnifeCount(); i++) {
    const KNIFESTRUCT_RENDERER* k;
    kltFPOS a, b;
    i_KnifeAt(i, width, height, k, a, b);
    if (!i_DrawKnife(k, a, b) || !advance()) return 0;
  }
  SetLocalProgress(100, low, high);
  return 1;
}

struct CTessarette::KnifeTools {
  CKLF_ImageDrawing drawing;
  CKLF_2DMath math;
  CKLF_2DMath::KLSPLINEPOINT knots[66];
  CKLF_Mem points;
  u8 failed = 0;
  u16 error = 0;
};

void CTessarette::i_KnifeExtents(i32 width, i32 height, KnifeTools* tools, u32 threads, f64* extent) const {
  const u32 knives = i_KnifeCount();
  const u32 chunks = knives < 8 * threads ? knives : 8 * threads;
  const u32 perChunk = chunks ? (knives + chunks - 1) / chunks : 0;
  KLF_Parallel::ForEach(threads, chunks, [&](u32 t, u32 worker) noexcept {
    KnifeTools& b = tools[worker];
    KnifePen pen = {&b.drawing, &b.math, b.knots, &b.points, 0, 0};
    for (u32 i = t * perChunk; i < knives && i < (t + 1) * perChunk; i++) {
      const KNIFESTRUCT_RENDERER* k;
      kltFPOS a, c;
      i_KnifeAt(i, width, height, k, a, c);
      f64* e = extent + 2 * static_cast<size_t>(i);
      if (!i_DrawKnifeWith(pen, k, a, c, e)) e[0] = -HUGE_VAL, e[1] = HUGE_VAL;
    }
  });
}

// Each band clears its rows and draws every knife clipped to them: the
// drawing gives a clipped knife the pixels the whole one has there, and
// knives keep the larger value, so the bands give the bytes of one drawing.
// Progress 5 to 100 and the cancel checks come with the calling thread's
// bands.
u8 CTessarette::i_DrawSplittingBands(i32 width, i32 height, u8* plane, u32 stride, u8 low, u8 high,
                                     u32 threads) {
  const u32 bands = threads < static_cast<u32>(height) ? threads : static_cast<u32>(height);
  const i32 rows = static_cast<i32>((static_cast<u32>(height) + bands - 1) / bands);
  const u32 knives = i_KnifeCount();
  KnifeTools* band = new (std::nothrow) KnifeTools[threads];
  f64* extent = new (std::nothrow) f64[2 * static_cast<size_t>(knives) + 2];
  if (!band || !extent) {
    delete[] band;
    delete[] extent;
    return Fail(klErrNoMemory);
  }
  // First the rows each knife's line covers, so that a band draws only the
  // knives that can reach it.
  i_KnifeExtents(width, height, band, threads, extent);
  struct Job : KLF_ParallelJob {
    CTessarette* e;
    KnifeTools* band;
    const f64* extent;
    u32 bands, knives;
    i32 width, height, rows;
    u8* plane;
    u32 stride;
    u8 oneBit, low, high;
    std::atomic<u8> failed{0};
    u8 cancelled = 0;  // a cancel seen, also after the last band
    void RunTask(u32 i, u32) override {
      const i32 y0 = static_cast<i32>(i) * rows, y1 = y0 + rows < height ? y0 + rows : height;
      if (y0 >= y1) return;
      std::memset(plane + static_cast<size_t>(y0) * stride, 0, static_cast<size_t>(y1 - y0) * stride);
      KnifeTools& b = band[i];
      b.drawing.SetOneBit(oneBit);
      if (!b.drawing.SetDestination(plane, static_cast<u32>(width), stride, static_cast<u32>(height))) {
        b.failed = 1;
        b.error = b.drawing.GetError();
        failed.store(1);
        return;
      }
      b.drawing.SetClipRect({0, y0, width, y1});
      KnifePen pen = {&b.drawing, &b.math, b.knots, &b.points, 0, 0};
      for (u32 n = 0; n < knives; n++) {
        const KNIFESTRUCT_RENDERER* k;
        kltFPOS a, c;
        e->i_KnifeAt(n, width, height, k, a, c);
        // A line reaches at most its width and a pixel beyond its points.
        const f64 lo = extent[2 * n], hi = extent[2 * n + 1];
        const f64 margin = 2.0 * (k && k->thickness > 1 ? k->thickness : 1) + 4.0;
        if (lo > hi || hi + margin < y0 || lo - margin >= y1) continue;
        if (!e->i_DrawKnifeWith(pen, k, a, c)) {
          b.failed = 1;
          b.error = pen.error;
          failed.store(1);
          return;
        }
      }
    }
    u8 Poll(u32 done) override {
      e->SetLocalProgress(5.0 + 95.0 * done / bands, low, high);
      if (!failed.load() && e->i_Cancelled()) cancelled = 1;
      return failed.load() || cancelled ? 0 : 1;
    }
  } job;
  job.e = this;
  job.band = band;
  job.extent = extent;
  job.bands = bands;
  job.knives = knives;
  job.width = width;
  job.height = height;
  job.rows = rows;
  job.plane = plane;
  job.stride = stride;
  job.oneBit = m_drawing.GetOneBit();
  job.low = low;
  job.high = high;
  const u8 ran = KLF_Parallel::Run(threads, bands, job);
  // A knife that fails fails in every band that reaches it: the first
  // band's code is kept.
  u32 first = 0;
  while (first < bands && !band[first].failed) first++;
  const u16 error = first < bands ? band[first].error : 0;
  delete[] band;
  delete[] extent;
  if (first < bands) return Fail(error);
  if (job.GetError()) return Fail(job.GetError());
  if (!ran || job.cancelled) return 0;
  SetLocalProgress(100, low, high);
  return 1;
}

// ---------------------------------------------------------------------------
// Pieces

void CTessarette::FreeSpliting() {
  for (u32 i = 0; i < m_cellCount; i++) {
    delete m_cells[i].maskBlock;
    delete m_cells[i].imageBlock;
  }
  m_cellBlock.free();
  m_cells = nullptr;
  m_cellCount = 0;
  m_splitterPiece = 0;
  m_largestWidth = 0;
  m_largestHeight = 0;
  // The other renderers' work images are as large as the pieces were.
  for (RenderContext*& rc : m_extraRender) {
    delete rc;
    rc = nullptr;
  }
}

void CTessarette::i_CopyDefaults(SPLITEDCELL& c, u32 copy) {
  c.colorOverlay[copy] = m_defColorOverlay;
  c.imageOverlay[copy] = m_defImageOverlay;
  c.stroke[copy] = m_defStroke;
  c.hsl[copy] = m_defHsl;
  c.opacity[copy] = m_defOpacity;
  c.blur[copy] = m_defBlur;
  c.mblur[copy] = m_defMblur;
  c.bc[copy] = m_defBc;
  c.bevel[copy] = m_defBevel;
  c.invert[copy] = m_defInvert;
}

void CTessarette::GetDefaultRecord(SFX_ONEPIECE& r) const {
  r = SFX_ONEPIECE{};
  r.bc = m_defBc;
  r.bevel = m_defBevel;
  r.blur = m_defBlur;
  r.colorOverlay = m_defColorOverlay;
  r.imageOverlay = m_defImageOverlay;
  r.stroke = m_defStroke;
  r.hsl = m_defHsl;
  r.mblur = m_defMblur;
  r.opacity = m_defOpacity;
  r.invert = m_defInvert;
  r.visible = 1;
}

u8 CTessarette::PieceToRecord(u32 index, SFX_ONEPIECE& r) const {
  if (index >= m_cellCount) return 0;
  const SPLITEDCELL& c = m_cells[index];
  r = SFX_ONEPIECE{};
  r.bc = c.bc[FX_RENDERED];
  r.bevel = c.bevel[FX_RENDERED];
  r.blur = c.blur[FX_RENDERED];
  r.colorOverlay = c.colorOverlay[FX_RENDERED];
  r.imageOverlay = c.imageOverlay[FX_RENDERED];
  r.stroke = c.stroke[FX_RENDERED];
  r.hsl = c.hsl[FX_RENDERED];
  r.mblur = c.mblur[FX_RENDERED];
  r.opacity = c.opacity[FX_RENDERED];
  r.invert = c.invert[FX_RENDERED];
  r.selected = c.selected;
  r.visible = c.visible;
  r.row = static_cast<u8>(c.row);
  r.column = static_cast<u8>(c.column);
  return 1;
}

u8 CTessarette::RecordToPiece(const SFX_ONEPIECE& r, u32 index, u8 setVisible, u8 setSelected) {
  if (index >= m_cellCount) return 0;
  SPLITEDCELL& c = m_cells[index];
  c.bc[FX_WORKING] = r.bc;
  c.bevel[FX_WORKING] = r.bevel;
  c.blur[FX_WORKING] = r.blur;
  c.colorOverlay[FX_WORKING] = r.colorOverlay;
  c.imageOverlay[FX_WORKING] = r.imageOverlay;
  c.stroke[FX_WORKING] = r.stroke;
  c.hsl[FX_WORKING] = r.hsl;
  c.mblur[FX_WORKING] = r.mblur;
  c.opacity[FX_WORKING] = r.opacity;
  c.invert[FX_WORKING] = r.invert;
  if (setVisible) c.visible = r.visible;
  if (setSelected) c.selected = r.selected;
  return 1;
}

u8 CTessarette::i_AddRectToSplitedCellsStorage(const u8* mask, i32 width, i32 height, kltRECT_s rect,
                                               u8 clear, u8** planes, u32 planeStride, u8 planeCount,
                                               u8* outerMask, u32 outerStride, const kltFPOS* centres,
                                               const u32* pairs, u32 centreCount) {
  if (rect.left < 0) rect.left = 0;
  if (rect.top < 0) rect.top = 0;
  if (rect.right > width) rect.right = width;
  if (rect.bottom > height) rect.bottom = height;
  if (RectEmpty(rect)) return 1;
  PieceBlocks b;
  if (!b.Make(rect, m_imagesOnRender ? 0 : planeCount + 1)) {
    b.Free();
    return i_MemoryFailure();
  }
  const u32 rw = static_cast<u32>(rect.right - rect.left), rh = static_cast<u32>(rect.bottom - rect.top);
  u8* m = b.mask->GetPtr();
  for (u32 y = 0; y < rh; y++) {
    const u8* src = mask + static_cast<size_t>(rect.top + y) * static_cast<u32>(width) + rect.left;
    u8* dst = m + static_cast<size_t>(y) * rw;
    std::memcpy(dst, src, rw);
    for (u32 x = 0; x < rw; x++) b.pixels += dst[x] != 0;
    if (clear) std::memset(const_cast<u8*>(src), 0, rw);
  }
  return i_AppendPiece(b, planes, planeStride, planeCount, outerMask, outerStride, centres, pairs, centreCount);
}

u8 CTessarette::PieceBlocks::Make(const kltRECT_s& r, u32 imagePlanes) {
  rect = r;
  const u64 area = static_cast<u64>(r.right - r.left) * static_cast<u64>(r.bottom - r.top);
  mask = new (std::nothrow) CKLF_Mem();
  if (!mask || !klFits32(area * 5) || !mask->alloc(static_cast<u32>(area))) return 0;
  if (imagePlanes == 0) return 1;
  image = new (std::nothrow) CKLF_Mem();
  return image && image->Zalloc(static_cast<u32>(area * imagePlanes));
}

void CTessarette::PieceBlocks::Free() {
  delete mask;
  delete image;
  mask = image = nullptr;
}

// Stores one piece whose mask block holds its mask (the blocks become the
// piece's): grid cell by the nearest centre, record, defaults.
u8 CTessarette::i_AppendPiece(PieceBlocks& b, u8** planes, u32 planeStride, u8 planeCount, u8* outerMask,
                              u32 outerStride, const kltFPOS* centres, const u32* pairs, u32 centreCount) {
  const kltRECT_s rect = b.rect;
  u32 column = 1, row = 1;
  if (centreCount > 0) {
    const f64 cx = (rect.left + rect.right) / 2, cy = (rect.top + rect.bottom) / 2;
    i64 nearest = 0;
    if (centres == m_indexedCentres && centreCount == m_indexedCount) {
      nearest = m_centreIndex.Nearest(cx, cy);
    } else {
      f64 best = 0.0;
      for (u32 i = 0; i < centreCount; i++) {
        const f64 dx = centres[i].x - cx, dy = centres[i].y - cy;
        const f64 d = dx * dx + dy * dy;
        if (i == 0 || d < best) best = d, nearest = i;
      }
    }
    column = pairs[2 * nearest];
    row = pairs[2 * nearest + 1];
  }
  const u64 capacity = m_cellBlock.GetSize() / sizeof(SPLITEDCELL);
  if (m_cellCount >= capacity) {
    const u64 bytes = (capacity + kPieceGrowth) * sizeof(SPLITEDCELL);
    if (!klFits32(bytes) || !m_cellBlock.Resize(static_cast<u32>(bytes))) {
      b.Free();
      return i_MemoryFailure();
    }
    m_cells = reinterpret_cast<SPLITEDCELL*>(m_cellBlock.GetPtr());
  }
  const u32 rw = static_cast<u32>(rect.right - rect.left), rh = static_cast<u32>(rect.bottom - rect.top);
  const u64 area = static_cast<u64>(rw) * rh;
  SPLITEDCELL& c = m_cells[m_cellCount];
  std::memset(&c, 0, sizeof(c));
  c.maskBlock = b.mask;
  c.imageBlock = b.image;
  c.rect = rect;
  for (u32 p = 0; p < planeCount; p++) {
    c.srcPlanes[p] = planes[p] + static_cast<size_t>(rect.top) * planeStride + rect.left;
    c.srcStrides[p] = planeStride;
  }
  c.srcPlanes[planeCount] = b.mask->GetPtr();
  c.srcStrides[planeCount] = rw;
  if (outerMask) {
    c.outerMask = outerMask + static_cast<size_t>(rect.top) * outerStride + rect.left;
    c.outerStride = outerStride;
  }
  for (u32 p = 0; b.image && p <= planeCount; p++) {
    c.imgPlanes[p] = b.image->GetPtr() + static_cast<size_t>(p) * area;
    c.imgStrides[p] = rw;
  }
  c.pixelCount = b.pixels;
  c.column = column;
  c.row = row;
  c.selected = 0;
  c.visible = 1;
  i_CopyDefaults(c, FX_RENDERED);
  i_CopyDefaults(c, FX_WORKING);
  if (static_cast<i32>(rw) > m_largestWidth) m_largestWidth = static_cast<i32>(rw);
  if (static_cast<i32>(rh) > m_largestHeight) m_largestHeight = static_cast<i32>(rh);
  m_cellCount++;
  b.mask = b.image = nullptr;
  return 1;
}

// ---------------------------------------------------------------------------
// Cutting

u32 CTessarette::fTestBounds(i32 x, i32 y, void* context) {
  return static_cast<CTessaretteFill*>(context)->Test(x, y);
}

u32 CTessarette::fTestBoundsBit(i32 x, i32 y, void* context) {
  return static_cast<CTessaretteFill*>(context)->Test(x, y);
}

void CTessarette::fFillLine(i32 x, i32 y, i32 count, void* context) {
  static_cast<CTessaretteFill*>(context)->FillLineReference(x, y, count);
}

u8 CTessarette::i_CheckImageSize(i32 width, i32 height) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return Fail(klErrBadArg);
  return 1;
}

u8 CTessarette::i_ComputeCellCentres(i32 width, i32 height, u32& count) {
  count = 0;
  if (m_knotColumns < 2 || m_knotRows < 2) return 1;
  const u32 cells = (m_knotColumns - 1u) * (m_knotRows - 1u);
  if (!i_GrowBlock(m_centreBlock, 16ull * cells) || !i_GrowBlock(m_pairBlock, 8ull * cells)) return i_MemoryFailure();
  kltFPOS* centres = reinterpret_cast<kltFPOS*>(m_centreBlock.GetPtr());
  u32* pairs = reinterpret_cast<u32*>(m_pairBlock.GetPtr());
  for (u32 r = 0; r + 1 < m_knotRows; r++) {
    for (u32 c = 0; c + 1 < m_knotColumns; c++) {
      const kltFPOS a = i_ConvertKnot(c, r, width, height);
      const kltFPOS b = i_ConvertKnot(c + 1, r + 1, width, height);
      const kltFPOS d = i_ConvertKnot(c + 1, r, width, height);
      const kltFPOS e = i_ConvertKnot(c, r + 1, width, height);
      CKLF_2DMath::KLLINESEGMENT s1 = {a.x, a.y, b.x, b.y};
      CKLF_2DMath::KLLINESEGMENT s2 = {d.x, d.y, e.x, e.y};
      u8 collinear = 0;
      kltFPOS p = {0.0, 0.0};
      if (!m_math.IntersectLineSegments_RetPoint(s1, s2, &collinear, &p) || collinear) continue;
      centres[count] = p;
      pairs[2 * count] = c + 1;
      pairs[2 * count + 1] = r + 1;
      count++;
    }
  }
  m_indexedCentres = nullptr;
  if (!m_centreIndex.Build(centres, count)) return i_MemoryFailure();
  m_indexedCentres = centres;
  m_indexedCount = count;
  return 1;
}

void CTessarette::i_ReleaseCutBuffers() {
  m_knifeBlock.free();
  m_workMaskBlock.free();
  m_regionBlock.free();
  m_regionCount = 0;
  m_fill.ReleaseRuns();
  m_runs.Release();
}

u8 CTessarette::i_RegionsSideBySide() const { return m_runFill && KLF_Parallel::Resolve(m_threads) > 1; }

u8 CTessarette::i_ClosePinholesSideBySide(u8 low, u8 high) {
  const u32 rows = static_cast<u32>(m_fill.GetScanHeight()), bands = (rows + kPinholeRows - 1) / kPinholeRows;
  for (u32 parity = 0; parity < 2; parity++) {
    SetLocalProgress(25.0 + 12.5 * parity, low, high);
    if (i_Cancelled()) return 0;
    KLF_Parallel::ForEach(m_threads, bands, [&](u32 band, u32) noexcept {
      const u32 end = (band + 1) * kPinholeRows < rows ? (band + 1) * kPinholeRows : rows;
      for (u32 y = band * kPinholeRows + parity; y < end; y += 2) m_fill.ClosePinholes(static_cast<i32>(y));
    });
  }
  return 1;
}

u8 CTessarette::SplitCells(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes,
                           u32 planeStride, u8 planeCount, u8 low, u8 high, u8 render) {
  ResetError();
  m_lastProgress = -1;
  // Old pieces point into the previous document and blocks: drop them first.
  FreeSpliting();
  m_nested = 1;
  u8 ok = i_SplitCells(width, height, outerMask, outerStride, planes, planeStride, planeCount, low, high,
                       render);
  m_nested = 0;
  i_ReleaseCutBuffers();
  return ok;
}

kltRECT_s CTessarette::i_MultiplyByOuter(const u8* src, u8* dst, u32 stride, kltPOS origin, const u8* outer,
                                         u32 outerStride, kltRECT_s r) {
  kltRECT_s b = {r.right, r.bottom, r.left - 1, r.top - 1};
  for (i32 y = r.top; y < r.bottom; y++) {
    const size_t row = static_cast<size_t>(y - origin.y) * stride;
    const u8* s = src + row - origin.x;
    u8* d = dst + row - origin.x;
    const u8* o = outer + static_cast<size_t>(y) * outerStride;
    for (i32 x = r.left; x < r.right; x++) {
      if (!s[x]) continue;
      const u8 v = static_cast<u8>(s[x] * o[x] / 255);
      d[x] = v;
      if (v) {
        if (x < b.left) b.left = x;
        if (x > b.right) b.right = x;
        if (y < b.top) b.top = y;
        b.bottom = y;
      }
    }
  }
  if (b.right < b.left) return {0, 0, 0, 0};
  return {b.left, b.top, b.right + 1, b.bottom + 1};
}

u8 CTessarette::i_MemoryFailure() {
  PlatformMessageBox(kMsgMemory, kMsgTitle);
  return Fail(klErrNoMemory);
}

u8 CTessarette::i_SplitCells(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes,
                             u32 planeStride, u8 planeCount, u8 low, u8 high, u8 render) {
  if (!i_CheckImageSize(width, height)) return 0;
  if (!planes || planeCount == 0 || planeCount > 4 || planeStride < static_cast<u32>(width) ||
      (outerMask && outerStride < static_cast<u32>(width)))
    return Fail(klErrBadArg);
  for (u32 p = 0; p < planeCount; p++)
    if (!planes[p]) return Fail(klErrBadArg);
  const u64 area = static_cast<u64>(width) * static_cast<u64>(height);
  // Every block of the cut, a piece of the whole image included, must fit
  // the 32-bit sizes.
  if (!klFits32(area * (planeCount + 1u)) ||
      (m_thinKnife && m_antiAlias && !klFits32(4ull * CTessaretteFill::BitRowBytes(width) * height)))
    return Fail(klErrNoMemory);

  u32 centreCount = 0;
  if (!i_ComputeCellCentres(width, height, centreCount)) return 0;
  m_planeCount = static_cast<u8>(planeCount + 1);
  m_largestWidth = 0;
  m_largestHeight = 0;
  m_cutArea = area;
  SetLocalProgress(0, low, high);
  if (i_Cancelled()) return 0;
  CTessaretteFill::Mode mode;
  u32 knifeStride;
  if (!i_DrawKnifeMask(width, height, low, high, mode, knifeStride)) return 0;
  SetLocalProgress(20, low, high);
  if (i_Cancelled()) return 0;
  // The run fill of the four-times mask, and regions found side by side,
  // paint each region into its own block: the shared work mask then only
  // serves the thick knife's piece limited by an outer mask.
  const u8 bit4 = mode == CTessaretteFill::MODE_BIT4;
  const u8 workMask = !(m_runFill && bit4) && (!i_RegionsSideBySide() || (!m_thinKnife && outerMask));
  if (workMask && !i_GrowBlock(m_workMaskBlock, area)) return i_MemoryFailure();
  if (workMask) std::memset(m_workMaskBlock.GetPtr(), 0, static_cast<size_t>(area));
  SetLocalProgress(25, low, high);
  if (i_Cancelled()) return 0;

  m_fill.Setup(mode, m_knifeBlock.GetPtr(), knifeStride, workMask ? m_workMaskBlock.GetPtr() : nullptr, width,
               height);
  m_fill.SealPadding();
  const i32 scanH = m_fill.GetScanHeight();
  // Found side by side, the four-times mask's runs close the pinholes as
  // they are read; the 8-bit mask's are closed side by side.
  if (i_RegionsSideBySide() && !bit4 && !i_ClosePinholesSideBySide(low, high)) return 0;
  for (i32 y = 0; y < scanH && !i_RegionsSideBySide(); y++) {
    SetLocalProgress(25.0 + 25.0 * y / scanH, low, high);
    if (i_Cancelled()) return 0;
    m_fill.ClosePinholes(y);
  }
  SetLocalProgress(50, low, high);
  if (i_Cancelled()) return 0;

  m_splitterPiece = m_thinKnife ? 0 : 1;
  if (!m_thinKnife &&
      !i_StoreSplitterPiece(width, height, outerMask, outerStride, planes, planeStride, planeCount, centreCount))
    return 0;
  SetLocalProgress(55, low, high);
  if (i_Cancelled()) return 0;
  if (!i_FillRegions(width, height, outerMask, outerStride, planes, planeStride, planeCount, centreCount, low, high))
    return 0;

  SetLocalProgress(95, low, high);
  i_Cancelled();  // asked, and from here on the answer is ignored
  if (!i_GrowWorkImage(m_render)) return i_MemoryFailure();
  SetLocalProgress(100, low, high);
  // A piece that cannot be rendered fails the cut: it would show without
  // its effects.
  if (render && !i_RenderParallel(100, 100, 0)) return 0;
  return 1;
}

// The knife mask (progress 3 or 5 to 20): one bit a sub-pixel at four
// times the size for the thin anti-aliased knife, else one byte a pixel.
u8 CTessarette::i_DrawKnifeMask(i32 width, i32 height, u8 low, u8 high, CTessaretteFill::Mode& mode,
                                u32& knifeStride) {
  auto range = [&](f64 percent) -> u8 {
    return static_cast<u8>(low + (static_cast<f64>(high) - low) * percent / 100.0);
  };
  // A cancel leaves no error; a knife that could not be drawn keeps its own.
  auto drawingFailure = [&]() -> u8 { return GetError() == klErrNoMemory ? i_MemoryFailure() : 0; };
  if (m_thinKnife && m_antiAlias) {
    mode = CTessaretteFill::MODE_BIT4;
    knifeStride = CTessaretteFill::BitRowBytes(width);
    if (!i_GrowBlock(m_knifeBlock, 4ull * knifeStride * height)) return i_MemoryFailure();
    SetLocalProgress(5, low, high);
    if (i_Cancelled()) return 0;
    m_drawing.SetOneBit(1);
    m_antiAlias = 0;
    const u8 drawn = DrawSplitting(4 * width, 4 * height, m_knifeBlock.GetPtr(), knifeStride, range(5), range(20));
    m_antiAlias = 1;
    m_drawing.SetOneBit(0);
    return drawn ? 1 : drawingFailure();
  }
  mode = m_thinKnife ? CTessaretteFill::MODE_8BIT_THIN
                     : (m_antiAlias ? CTessaretteFill::MODE_8BIT_AA : CTessaretteFill::MODE_8BIT_THICK);
  knifeStride = static_cast<u32>(width);
  if (!i_GrowBlock(m_knifeBlock, static_cast<u64>(width) * static_cast<u64>(height))) return i_MemoryFailure();
  SetLocalProgress(3, low, high);
  if (i_Cancelled()) return 0;
  if (!DrawSplitting(width, height, m_knifeBlock.GetPtr(), knifeStride, range(3), range(20)))
    return drawingFailure();
  return 1;
}

// Every free point of the scan area seeds a region fill; each filled
// region becomes a piece (progress 55 to 95, a cancel check per scan row
// and per region).
u8 CTessarette::i_FillRegions(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes,
                              u32 planeStride, u8 planeCount, u32 centreCount, u8 low, u8 high) {
  const i32 scanW = m_fill.GetScanWidth(), scanH = m_fill.GetScanHeight();
  if (!m_runFill)
    m_math.SetFillCallbacks(m_fill.GetMode() == CTessaretteFill::MODE_BIT4 ? fTestBoundsBit : fTestBounds,
                            fFillLine);
  // The four-times mask's regions are found here and painted side by side
  // afterwards (i_PaintRegions).
  const u8 bit4 = m_fill.GetMode() == CTessaretteFill::MODE_BIT4;
  const u8 recording = m_runFill && bit4;
  if (i_RegionsSideBySide()) {
    if (!i_FindRegions(low, high)) return 0;
    if (!bit4 && !m_runs.Label()) return i_MemoryFailure();
    return i_PaintRegions(width, height, outerMask, outerStride, planes, planeStride, planeCount, centreCount,
                          bit4 ? kTracedRegions : kByteRegions);
  }
  m_fill.SetRecording(recording);
  m_fill.ClearRuns();
  m_regionCount = 0;
  for (i32 y = 0; y < scanH; y++) {
    const i32 R = static_cast<i32>(100ll * (y + 1) / scanH);
    SetLocalProgress(55.0 + 0.4 * R, low, high);
    if (i_Cancelled()) return 0;
    for (i32 x = m_fill.FindFree(y, 0); x >= 0; x = m_fill.FindFree(y, x + 1)) {
      const i32 P = static_cast<i32>(100ll * (x + 1) / scanW);
      SetLocalProgress(55.0 + 0.4 * R + 0.004 * P, low, high);
      if (i_Cancelled()) return 0;
      m_fill.ResetBounds();
      const u32 firstRun = m_fill.GetRunCount();
      const kltPOS seed = {x, y};
      // A region filled only in part must not be stored: its rest would
      // become a piece of its own.
      if (!(m_runFill ? m_fill.SeedFill(x, y) : m_math.FillBounds(&m_fill, seed))) return i_MemoryFailure();
      if (m_fill.m_minX > m_fill.m_maxX || m_fill.m_minY > m_fill.m_maxY) continue;
      if (recording) {
        if (!i_KeepRegion(firstRun)) return i_MemoryFailure();
        continue;
      }
      if (!i_StoreRegion(width, height, outerMask, outerStride, planes, planeStride, planeCount, centreCount))
        return 0;
      if (m_cellCount > kMaxPieces) return i_TooManyPieces();
    }
  }
  if (!recording) return 1;
  m_fill.SetRecording(0);
  return i_PaintRegions(width, height, outerMask, outerStride, planes, planeStride, planeCount, centreCount,
                        kRecordedRegions);
}

u8 CTessarette::i_FindRegions(u8 low, u8 high) {
  // Progress 55 to 75 and a cancel check a scan row as the runs are counted.
  struct Ask {
    CTessarette* e;
    i32 scanH;
    u8 low, high;
    static u8 Stop(void* user, i32 y) {
      Ask& a = *static_cast<Ask*>(user);
      a.e->SetLocalProgress(55.0 + 20.0 * y / a.scanH, a.low, a.high);
      return a.e->i_Cancelled();
    }
  } ask = {this, m_fill.GetScanHeight(), low, high};
  const u8* knife = m_knifeBlock.GetPtr();
  const u32 stride = m_fill.GetKnifeStride();
  const i32 scanW = m_fill.GetScanWidth(), scanH = m_fill.GetScanHeight();
  const u8 bit4 = m_fill.GetMode() == CTessaretteFill::MODE_BIT4;
  const u8 found = bit4 ? m_runs.Find(knife, stride, scanW, scanH, m_threads, Ask::Stop, &ask)
                        : m_runs.FindBytes(knife, stride, scanW, scanH, m_threads, Ask::Stop, &ask);
  if (found == CTessaretteRuns::kStopped) return 0;
  if (found != CTessaretteRuns::kFound) return i_MemoryFailure();
  SetLocalProgress(75, low, high);
  return i_Cancelled() ? 0 : 1;
}

u8 CTessarette::CountPieces(i32 width, i32 height, u32& count) {
  ResetError();
  m_lastProgress = -1;
  count = 0;
  m_nested = 1;
  const u8 ok = i_CountPieces(width, height, count);
  m_nested = 0;
  // The knife mask stays for a next count, whose pages are then touched
  // already; a cut frees it.
  m_runs.Release();
  return ok;
}

// SplitCells' steps up to its regions; without an outer mask every region
// is a piece, and so is the thick knife's area.
u8 CTessarette::i_CountPieces(i32 width, i32 height, u32& count) {
  if (!i_CheckImageSize(width, height)) return 0;
  SetLocalProgress(0, 0, 100);
  if (i_Cancelled()) return 0;
  CTessaretteFill::Mode mode;
  u32 knifeStride;
  if (!i_DrawKnifeMask(width, height, 0, 100, mode, knifeStride)) return 0;
  m_fill.Setup(mode, m_knifeBlock.GetPtr(), knifeStride, nullptr, width, height);
  m_fill.SealPadding();
  if (mode != CTessaretteFill::MODE_BIT4 && !i_ClosePinholesSideBySide(0, 100)) return 0;
  if (!i_FindRegions(0, 100)) return 0;
  count = m_runs.GetRegionCount() + (m_thinKnife ? 0u : 1u);
  if (count > kMaxPieces) return i_TooManyPieces();
  SetLocalProgress(100, 0, 100);
  return 1;
}

u8 CTessarette::i_TooManyPieces() {
  PlatformMessageBox(kMsgTooMany, kMsgTitle);
  return Fail(klErrBadArg);
}

u8 CTessarette::i_StoreSplitterPiece(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes,
                                     u32 planeStride, u8 planeCount, u32 centreCount) {
  const kltFPOS* centres = reinterpret_cast<const kltFPOS*>(m_centreBlock.GetPtr());
  const u32* pairs = reinterpret_cast<const u32*>(m_pairBlock.GetPtr());
  const u8* knife = m_knifeBlock.GetPtr();
  if (!outerMask) {
    kltRECT_s all = {0, 0, width, height};
    return i_AddRectToSplitedCellsStorage(knife, width, height, all, 0, planes, planeStride, planeCount,
                                          nullptr, 0, centres, pairs, centreCount);
  }
  // The work mask is still clear here.
  u8* work = m_workMaskBlock.GetPtr();
  const kltRECT_s b =
      i_MultiplyByOuter(knife, work, static_cast<u32>(width), {0, 0}, outerMask, outerStride, {0, 0, width, height});
  if (RectEmpty(b)) return 1;
  return i_AddRectToSplitedCellsStorage(work, width, height, b, 1, planes, planeStride, planeCount, outerMask,
                                        outerStride, centres, pairs, centreCount);
}

u8 CTessarette::i_StoreRegion(i32 width, i32 height, u8* outerMask, u32 outerStride, u8** planes,
                              u32 planeStride, u8 planeCount, u32 centreCount) {
  kltRECT_s r = {m_fill.m_minX, m_fill.m_minY, m_fill.m_maxX + 1, m_fill.m_maxY + 1};
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  if (r.right > width) r.right = width;
  if (r.bottom > height) r.bottom = height;
  if (RectEmpty(r)) return 1;
  const kltFPOS* centres = reinterpret_cast<const kltFPOS*>(m_centreBlock.GetPtr());
  const u32* pairs = reinterpret_cast<const u32*>(m_pairBlock.GetPtr());
  u8* work = m_workMaskBlock.GetPtr();
  if (outerMask) {
    r = i_MultiplyByOuter(work, work, static_cast<u32>(width), {0, 0}, outerMask, outerStride, r);
    if (RectEmpty(r)) return 1;
  }
  return i_AddRectToSplitedCellsStorage(work, width, height, r, 1, planes, planeStride, planeCount, outerMask,
                                        outerStride, centres, pairs, centreCount);
}

u8 CTessarette::i_GrowWorkImage(RenderContext& rc) {
  if (m_largestWidth <= 0 || m_largestHeight <= 0) return 1;
  const u64 plane = static_cast<u64>(m_largestWidth) * static_cast<u64>(m_largestHeight);
  if (!i_GrowBlock(rc.workBlock, plane * m_planeCount)) return 0;
  for (u32 p = 0; p < 5; p++)
    rc.workPlanes[p] = p < m_planeCount ? rc.workBlock.GetPtr() + static_cast<size_t>(p) * plane : nullptr;
  rc.workStride = static_cast<u32>(m_largestWidth);
  return 1;
}
