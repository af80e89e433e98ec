// Mesh edges: the wire grid through the framework's line drawing, and the
// hidden-line mesh lines over a z-buffered image. The mesh lines walk only
// the part of a line whose major coordinate lies inside the clip, jumping
// there in closed form, so far end points cost nothing.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "KLF_3D_Numeric.h"
#include "KLF_3D_Raster.h"

namespace {

// Cuts segment a-b to the 16-bit plane of the framework's line drawing
// (only called when an end lies outside it); false when nothing remains.
bool ClipToShort(f64& x0, f64& y0, f64& x1, f64& y1) {
  const f64 lo = -32768.0, hi = 32767.0;
  f64 t0 = 0.0, t1 = 1.0;
  const f64 d[2] = {x1 - x0, y1 - y0}, s[2] = {x0, y0};
  for (int k = 0; k < 2; ++k) {
    if (d[k] == 0.0) {
      if (s[k] < lo || s[k] > hi) return false;
      continue;
    }
    f64 a = (lo - s[k]) / d[k], b = (hi - s[k]) / d[k];
    if (a > b) std::swap(a, b);
    t0 = std::max(t0, a);
    t1 = std::min(t1, b);
  }
  if (t0 > t1) return false;
  x1 = x0 + t1 * d[0];
  y1 = y0 + t1 * d[1];
  x0 = s[0] + t0 * d[0];
  y0 = s[1] + t0 * d[1];
  return true;
}

void GridLine(CKLF_Image* image, i32 x0, i32 y0, i32 x1, i32 y1, const kltRECT_s& clip, u8 aa, kltRGBA8 c) {
  auto fits = [](i32 v) { return v >= -32768 && v <= 32767; };
  if (!fits(x0) || !fits(y0) || !fits(x1) || !fits(y1)) {
    f64 a = x0, b = y0, e = x1, f = y1;
    if (!ClipToShort(a, b, e, f)) return;
    x0 = klTruncSat<i32>(std::round(a));
    y0 = klTruncSat<i32>(std::round(b));
    x1 = klTruncSat<i32>(std::round(e));
    y1 = klTruncSat<i32>(std::round(f));
  }
  const i16 sx0 = static_cast<i16>(x0), sy0 = static_cast<i16>(y0), sx1 = static_cast<i16>(x1),
            sy1 = static_cast<i16>(y1);
  if (aa)
    image->DrawAALine(sx0, sy0, sx1, sy1, c, clip, 0);
  else
    image->DrawLine(sx0, sy0, sx1, sy1, c, clip);
}

// Cone filter weight of a distance, as a coverage of colour alpha.
u8 Coverage(f64 d, u8 alpha) {
  const f64 f = std::max(0.0, 1.0 - 2.0 * std::fabs(d) / 3.0);
  return static_cast<u8>((static_cast<u32>(klTruncSat<u8>(255.0 * f * f)) * alpha) >> 8);
}

void BlendCoverage(const KLF_3D_RasterTarget& g, i64 x, i64 y, u8 a, kltRGBA8 c) {
  if (!a) return;
  const size_t o = static_cast<size_t>(y) * g.stride + static_cast<size_t>(x);
  const u8 col[3] = {c.red, c.green, c.blue};
  for (int k = 0; k < 3; ++k) g.plane[k][o] = static_cast<u8>((col[k] * a + g.plane[k][o] * (255 - a)) >> 8);
  g.plane[3][o] = std::max(g.plane[3][o], a);
}

}  // namespace

u8 CKLF_3D_SurfaceBase::RenderMeshGrid(CKLF_Image* image, i16 dx, i16 dy, kltRECT_s clip, u8 aa, kltRGBA8 colour) {
  kltRECT_s c;
  if (!image || !klClipToImage(image, clip, c)) return Fail(klErrBadArg);
  KLF_3D_ScreenVertex s[3];
  for (u32 t = 0; t < m_triCount; ++t) {
    if (!i_ScreenTriangle(t, dx, dy, c, s)) continue;
    const u8 f = m_triangles[t].flags;
    if (f & 4) GridLine(image, s[0].x, s[0].y, s[1].x, s[1].y, c, aa, colour);
    if (f & 2) GridLine(image, s[1].x, s[1].y, s[2].x, s[2].y, c, aa, colour);
    if (f & 6) GridLine(image, s[2].x, s[2].y, s[0].x, s[0].y, c, aa, colour);
  }
  return 1;
}

bool CKLF_3D_SurfaceBase::i_MeshPixelVisible(const KLF_3D_RasterTarget& g, i64 x, i64 y, u32 t) const {
  if (x < g.clip.left || x >= g.clip.right || y < g.clip.top || y >= g.clip.bottom) return false;
  const i32 o = g.z[static_cast<size_t>(y - g.clip.top) * g.zStride + static_cast<size_t>(x - g.clip.left)].owner;
  if (o == -1 || static_cast<u32>(o) == t) return true;
  if (static_cast<u32>(o) >= m_triCount) return false;
  // An edge neighbour: two vertex indices in common.
  const u32 *a = m_triangles[t].v, *b = m_triangles[o].v;
  int shared = 0;
  for (int i = 0; i < 3; ++i)
    if ((i == 0 || a[i] != a[0]) && (i < 2 || a[i] != a[1]) && (a[i] == b[0] || a[i] == b[1] || a[i] == b[2])) ++shared;
  return shared >= 2;
}

void CKLF_3D_SurfaceBase::int_BlendMeshPixel(const KLF_3D_RasterTarget& g, i64 x, i64 y, kltRGBA8 c, u32 t) const {
  if (!i_MeshPixelVisible(g, x, y, t)) return;
  const size_t o = static_cast<size_t>(y) * g.stride + static_cast<size_t>(x);
  g.plane[0][o] = c.red;
  g.plane[1][o] = c.green;
  g.plane[2][o] = c.blue;
  g.plane[3][o] = 255;
}

void CKLF_3D_SurfaceBase::int_BlendAAMeshPixel(const KLF_3D_RasterTarget& g, i64 x, i64 y, u8 acrossX, f64 dPrev,
                                               f64 dSelf, f64 dNext, kltRGBA8 c, u32 t) const {
  if (!i_MeshPixelVisible(g, x, y, t)) return;
  BlendCoverage(g, x, y, Coverage(dSelf, c.alpha), c);
  if (acrossX) {
    if (x > g.clip.left) BlendCoverage(g, x - 1, y, Coverage(dPrev, c.alpha), c);
    if (x < g.clip.right - 1) BlendCoverage(g, x + 1, y, Coverage(dNext, c.alpha), c);
  } else {
    if (y > g.clip.top) BlendCoverage(g, x, y - 1, Coverage(dPrev, c.alpha), c);
    if (y < g.clip.bottom - 1) BlendCoverage(g, x, y + 1, Coverage(dNext, c.alpha), c);
  }
}

void CKLF_3D_SurfaceBase::int_DrawMeshLine(const KLF_3D_RasterTarget& g, i32 x0, i32 y0, i32 x1, i32 y1, kltRGBA8 c,
                                           u32 t) const {
  // 16.16 fixed point along the major axis, half a pixel in: the minor
  // coordinate at major m is (minor0 * 65536 + 32768 + slope (m - major0)) >> 16.
  const i64 dx = static_cast<i64>(x1) - x0, dy = static_cast<i64>(y1) - y0;
  const bool xMajor = std::llabs(dy) <= std::llabs(dx);
  const i64 ma0 = xMajor ? x0 : y0, mi0 = xMajor ? y0 : x0, dma = xMajor ? dx : dy, dmi = xMajor ? dy : dx;
  const i64 slope = dma ? (dmi * 65536) / dma : 0;
  const i64 lo = std::max(std::min(ma0, ma0 + dma), static_cast<i64>(xMajor ? g.clip.left : g.clip.top));
  const i64 hi = std::min(std::max(ma0, ma0 + dma), static_cast<i64>(xMajor ? g.clip.right : g.clip.bottom) - 1);
  for (i64 m = lo; m <= hi; ++m) {
    const i64 mi = (mi0 * 65536 + 32768 + slope * (m - ma0)) >> 16;
    if (xMajor)
      int_BlendMeshPixel(g, m, mi, c, t);
    else
      int_BlendMeshPixel(g, mi, m, c, t);
  }
}

void CKLF_3D_SurfaceBase::int_DrawAAMeshLine(const KLF_3D_RasterTarget& g, i32 x0, i32 y0, i32 x1, i32 y1, kltRGBA8 c,
                                             u32 t) const {
  const i64 dx = static_cast<i64>(x1) - x0, dy = static_cast<i64>(y1) - y0;
  if (!dx && !dy) {
    if (i_MeshPixelVisible(g, x0, y0, t)) BlendCoverage(g, x0, y0, Coverage(0.0, c.alpha), c);
    return;
  }
  // Gupta-Sproull over (major, minor), the major axis walked forward.
  const f64 k = 1.0 / (2.0 * std::sqrt(static_cast<f64>(dx) * dx + static_cast<f64>(dy) * dy));
  const bool xMajor = std::llabs(dy) < std::llabs(dx);
  const u8 across = xMajor ? 0 : 1;
  i64 ma0 = xMajor ? x0 : y0, mi0 = xMajor ? y0 : x0, dma = xMajor ? dx : dy, dmi = xMajor ? dy : dx;
  if (dma < 0) {
    ma0 += dma;
    mi0 += dmi;
    dma = -dma;
    dmi = -dmi;
  }
  const i64 s = dmi < 0 ? -1 : 1;
  dmi *= s;
  const f64 W = 2.0 * dma * k;
  auto plot = [&](i64 ma, i64 mi, f64 prev, f64 self, f64 next) {
    if (xMajor)
      int_BlendAAMeshPixel(g, ma, mi, across, prev, self, next, c, t);
    else
      int_BlendAAMeshPixel(g, mi, ma, across, prev, self, next, c, t);
  };
  const i64 first = std::max<i64>(0, (xMajor ? g.clip.left : g.clip.top) - ma0);
  const i64 last = std::min<i64>(dma, (xMajor ? g.clip.right : g.clip.bottom) - 1 - ma0);
  if (first > last) return;
  if (first == 0) plot(ma0, mi0, W, 0.0, W);
  // Before step i the minor axis has moved n = (2 (i - 1) dmi + dma) / (2 dma)
  // times and the decision is 2 i dmi - dma - 2 dma n. Non-negative terms,
  // so unsigned 64-bit arithmetic holds them; d itself is small.
  i64 i = std::max<i64>(1, first);
  const u64 udma = static_cast<u64>(dma), udmi = static_cast<u64>(dmi);
  u64 n = (2 * static_cast<u64>(i - 1) * udmi + udma) / (2 * udma);
  i64 d = static_cast<i64>(2 * static_cast<u64>(i) * udmi - udma - 2 * udma * n);
  for (; i <= last; ++i) {
    i64 u, step;
    if (d >= 0) {
      ++n;
      u = -dma;
      step = 2 * (dmi - dma);
    } else {
      u = dma;
      step = 2 * dmi;
    }
    const f64 v = k * static_cast<f64>(u + d) * static_cast<f64>(s);
    plot(ma0 + i, mi0 + s * static_cast<i64>(n), W + v, s * v, W - v);
    d += step;
  }
}
