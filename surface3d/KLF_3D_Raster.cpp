// The flat-shaded and draft texture-mapped rasterisers: one scan converter
// over integer screen points with a z-buffer of the clip rectangle.
#include "KLF_3D_Raster.h"

#include <algorithm>
#include <cmath>

#include "KLF_3D_Numeric.h"

namespace {

typedef CKLF_3D_SurfaceBase::ZBUFFER_ELEMENT ZElem;

inline bool ZPass(const ZElem& e, f32 z) { return e.owner == -1 || z < e.depth; }

inline u8 Shaded(u8 c, f64 shade) { return shade == 1.0 ? c : klTruncSat<u8>(shade * c); }

// Texel o of the draft textures into pixel px, unless it is transparent or
// the depth test fails.
inline void PutTexel(const KLF_3D_RasterTarget& g, ZElem& e, f32 z, u32 t, size_t o, size_t px) {
  if (!g.front[3][o] || !ZPass(e, z)) return;
  e.depth = z;
  e.owner = static_cast<i32>(t);
  const u8* const* rgb = g.frontFacing ? g.front : g.back;
  for (int k = 0; k < 3; ++k) g.plane[k][px] = Shaded(rgb[k][o], g.shade);
  g.plane[3][px] = 255;
}

// The part of span xl..xr (right end excluded) inside the clip: pixels
// xs..xe-1, depth z at xs and its step dz. False when nothing is left.
struct Span {
  i32 xs, xe;
  f32 z, dz;
};
inline bool ClipSpan(const kltRECT_s& c, i32 y, i32 xl, i32 xr, f32 zl, f32 zr, Span& s) {
  if (y < c.top || y >= c.bottom || xl >= c.right || xr < c.left) return false;
  s.xs = std::max(xl, c.left);
  s.xe = std::min(xr, c.right);
  s.dz = xl == xr ? 0.0f : (zr - zl) / static_cast<f32>(static_cast<i64>(xr) - xl);
  s.z = zl + s.dz * static_cast<f32>(static_cast<i64>(s.xs) - xl);
  return s.xs < s.xe;
}

}  // namespace

bool klClipToImage(const CKLF_Image* image, kltRECT_s r, kltRECT_s& out) {
  const i32 w = image->GetImageWidth(), h = image->GetImageHeight();
  out = klIsNullRect(r)
            ? kltRECT_s{0, 0, w, h}
            : kltRECT_s{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, w), std::min(r.bottom, h)};
  return out.left < out.right && out.top < out.bottom;
}

u8 CKLF_3D_SurfaceBase::i_BeginRender(CKLF_Image* image, kltRECT_s clip, KLF_3D_RasterTarget& g) {
  g = KLF_3D_RasterTarget();
  if (!image || image->GetImageMode() != 2 || !klClipToImage(image, clip, g.clip)) return Fail(klErrBadArg);
  u8* planes[5];
  if (!image->GetImageChannels(planes, g.stride)) return Fail(klErrBadArg);
  std::copy(planes, planes + 4, g.plane);
  if (!RecreateZBuffer(static_cast<u16>(g.clip.right - g.clip.left), static_cast<u16>(g.clip.bottom - g.clip.top)))
    return 0;
  g.z = m_zBuffer;
  g.zStride = m_zWidth;
  return 1;
}

bool CKLF_3D_SurfaceBase::i_ScreenTriangle(u32 t, i32 dx, i32 dy, const kltRECT_s& clip, KLF_3D_ScreenVertex* s) const {
  const klt3D_VERTEX* p[3];
  if (!i_TriVertices(m_triangles[t], p[0], p[1], p[2])) return false;
  bool inside = false;
  for (int k = 0; k < 3; ++k) {
    s[k] = KLF_3D_ScreenVertex{klScreenCoord(p[k]->x, dx), klScreenCoord(p[k]->y, dy), p[k]->z, 0.0f, 0.0f};
    inside = inside || (s[k].x >= clip.left && s[k].x < clip.right && s[k].y >= clip.top && s[k].y < clip.bottom);
  }
  return inside;
}

// ---- flat shading ----

void CKLF_3D_SurfaceBase::int_DrawYLine(const KLF_3D_RasterTarget& g, i32 y, i32 xl, i32 xr, f32 zl, f32 zr, kltRGBA8 c,
                                        u32 t) const {
  Span s;
  if (!ClipSpan(g.clip, y, xl, xr, zl, zr, s)) return;
  ZElem* zrow = g.z + static_cast<size_t>(y - g.clip.top) * g.zStride - g.clip.left;
  const size_t row = static_cast<size_t>(y) * g.stride;
  u8 *r = g.plane[0] + row, *gr = g.plane[1] + row, *b = g.plane[2] + row, *a = g.plane[3] + row;
  f32 z = s.z;
  for (i32 x = s.xs; x < s.xe; ++x, z += s.dz) {
    ZElem& e = zrow[x];
    if (!ZPass(e, z)) continue;
    e.depth = z;
    e.owner = static_cast<i32>(t);
    r[x] = c.red;
    gr[x] = c.green;
    b[x] = c.blue;
    a[x] = 255;
  }
}

void CKLF_3D_SurfaceBase::int_FillTriangle(const KLF_3D_RasterTarget& g, const KLF_3D_ScreenVertex* p, kltRGBA8 c,
                                           u32 t) const {
  klScanTriangle<false>(p, g.clip, [&](i32 y, const KLF_3D_ScreenVertex& l, const KLF_3D_ScreenVertex& r) {
    int_DrawYLine(g, y, l.x, r.x, l.z, r.z, c, t);
  });
}

u8 CKLF_3D_SurfaceBase::RenderFlatShadedSurface(CKLF_Image* image, i16 dx, i16 dy, kltRECT_s clip, u8 aa, kltRGBA8 grid,
                                                kltRGBA8 front, kltRGBA8 back) {
  KLF_3D_RasterTarget g;
  if (!i_BeginRender(image, clip, g)) return 0;
  KLF_3D_ScreenVertex s[3];
  for (u32 t = 0; t < m_triCount; ++t) {
    if (!i_ScreenTriangle(t, dx, dy, g.clip, s)) continue;
    const klt3D_VECTOR n = GetMeshNormal(t);
    kltRGBA8 c = n.z > 0.0f ? front : back;
    const f64 shade = std::min(1.0, 0.6 + 0.4 * std::fabs(n.z));
    c.red = klTruncSat<u8>(shade * c.red);
    c.green = klTruncSat<u8>(shade * c.green);
    c.blue = klTruncSat<u8>(shade * c.blue);
    int_FillTriangle(g, s, c, t);
  }
  if (!grid.alpha) return 1;
  for (u32 t = 0; t < m_triCount; ++t) {
    if (!i_ScreenTriangle(t, dx, dy, g.clip, s)) continue;
    const u8 f = m_triangles[t].flags;
    for (int e = 0; e < 2; ++e) {
      if (!(f & (e == 0 ? 4 : 2))) continue;
      const KLF_3D_ScreenVertex &a = s[e], &b = s[e + 1];
      if (aa)
        int_DrawAAMeshLine(g, a.x, a.y, b.x, b.y, grid, t);
      else
        int_DrawMeshLine(g, a.x, a.y, b.x, b.y, grid, t);
    }
  }
  return 1;
}

// ---- draft texture mapping ----

void CKLF_3D_SurfaceBase::int_DrawYLine_DraftMapping_Simple(const KLF_3D_RasterTarget& g, i32 y, i32 xl, i32 xr, f32 zl,
                                                            f32 zr, u32 t) const {
  Span s;
  if (!ClipSpan(g.clip, y, xl, xr, zl, zr, s)) return;
  const u64 ty = static_cast<u64>(y - g.offY);
  if (ty >= g.texH) return;
  ZElem* zrow = g.z + static_cast<size_t>(y - g.clip.top) * g.zStride - g.clip.left;
  const size_t row = static_cast<size_t>(y) * g.stride, trow = ty * g.texW;
  f32 z = s.z;
  for (i32 x = s.xs; x < s.xe; ++x, z += s.dz) {
    const u64 tx = static_cast<u64>(x - g.offX);
    if (tx < g.texW) PutTexel(g, zrow[x], z, t, trow + tx, row + x);  // else off the texture
  }
}

void CKLF_3D_SurfaceBase::int_FillTriangle_DraftMapping_Simple(const KLF_3D_RasterTarget& g,
                                                               const KLF_3D_ScreenVertex* p, u32 t) const {
  klScanTriangle<false>(p, g.clip, [&](i32 y, const KLF_3D_ScreenVertex& l, const KLF_3D_ScreenVertex& r) {
    int_DrawYLine_DraftMapping_Simple(g, y, l.x, r.x, l.z, r.z, t);
  });
}

void CKLF_3D_SurfaceBase::int_DrawYLine_DraftMapping_Transformed(const KLF_3D_RasterTarget& g, i32 y, i32 xl, i32 xr,
                                                                 f32 zl, f32 zr, f32 ul, f32 vl, f32 ur, f32 vr,
                                                                 u32 t) const {
  Span s;
  if (!ClipSpan(g.clip, y, xl, xr, zl, zr, s)) return;
  const f32 w = static_cast<f32>(static_cast<i64>(xr) - xl), lead = static_cast<f32>(static_cast<i64>(s.xs) - xl);
  const f32 du = (ur - ul) / w, dv = (vr - vl) / w;
  f32 u = ul + du * lead, v = vl + dv * lead, z = s.z;
  ZElem* zrow = g.z + static_cast<size_t>(y - g.clip.top) * g.zStride - g.clip.left;
  const size_t row = static_cast<size_t>(y) * g.stride;
  for (i32 x = s.xs; x < s.xe; ++x, z += s.dz, u += du, v += dv) {
    const i64 tu = klTruncSat<i64>(u), tv = klTruncSat<i64>(v);
    if (tu < 0 || tv < 0 || tu >= g.texW || tv >= g.texH) continue;
    PutTexel(g, zrow[x], z, t, static_cast<size_t>(tv) * g.texW + static_cast<size_t>(tu), row + x);
  }
}

void CKLF_3D_SurfaceBase::int_FillTriangle_DraftMapping_Transformed(const KLF_3D_RasterTarget& g,
                                                                    const KLF_3D_ScreenVertex* p, u32 t) const {
  klScanTriangle<true>(p, g.clip, [&](i32 y, const KLF_3D_ScreenVertex& l, const KLF_3D_ScreenVertex& r) {
    int_DrawYLine_DraftMapping_Transformed(g, y, l.x, r.x, l.z, r.z, l.u, l.v, r.u, r.v, t);
  });
}

u8 CKLF_3D_SurfaceBase::RenderDraftTexturedSurface(CKLF_Image* image, i16 dx, i16 dy, CKLF_Image* front,
                                                   CKLF_Image* back, kltRECT_s clip) {
  if (!front || !back || front->GetImageMode() != 2 || back->GetImageMode() != 2 ||
      front->GetImageWidth() != back->GetImageWidth() || front->GetImageHeight() != back->GetImageHeight() ||
      !i_MappingReady())
    return Fail(klErrBadArg);
  KLF_3D_RasterTarget g;
  if (!i_BeginRender(image, clip, g)) return 0;
  u8 *fp[5], *bp[5];
  u32 stride;
  if (!front->GetImageChannels(fp, stride) || !back->GetImageChannels(bp, stride)) return Fail(klErrBadArg);
  std::copy(fp, fp + 4, g.front);
  std::copy(bp, bp + 3, g.back);
  g.texW = front->GetImageWidth();
  g.texH = front->GetImageHeight();
  KLF_3D_ScreenVertex s[3];
  for (u32 t = 0; t < m_triCount; ++t) {
    if (!i_ScreenTriangle(t, dx, dy, g.clip, s)) continue;
    const klt3D_VECTOR n = GetMeshNormal(t);
    g.frontFacing = n.z > 0.0f;
    g.shade = std::fabs(n.z);
    const TRIMESH& tri = m_triangles[t];
    const klt3D_VERTEX* P[3] = {m_vertices + tri.v[0], m_vertices + tri.v[1], m_vertices + tri.v[2]};
    const klt2D_VERTEX* M[3] = {m_mapping + tri.v[0], m_mapping + tri.v[1], m_mapping + tri.v[2]};
    const f32 ox = P[0]->x - M[0]->x, oy = P[0]->y - M[0]->y;
    if (P[1]->x - M[1]->x == ox && P[2]->x - M[2]->x == ox && P[1]->y - M[1]->y == oy && P[2]->y - M[2]->y == oy) {
      // The texture moved without distortion.
      g.offX = static_cast<i64>(dx) + klTruncSat<i32>(ox);
      g.offY = static_cast<i64>(dy) + klTruncSat<i32>(oy);
      int_FillTriangle_DraftMapping_Simple(g, s, t);
      continue;
    }
    for (int k = 0; k < 3; ++k) {
      s[k].u = M[k]->x;
      s[k].v = M[k]->y;
    }
    int_FillTriangle_DraftMapping_Transformed(g, s, t);
  }
  return 1;
}
