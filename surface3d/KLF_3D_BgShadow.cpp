// Background shadows of the first class: the texel walk over a quad that
// stands for a plane behind the mesh, one texel per destination pixel.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CKLF_3D_Surface.h"
#include "KLF_3D_Numeric.h"
#include "KLF_3D_Shadow.h"

namespace {

// The blurs and the distance buffer address rows of width bytes.
bool NeedsPlainRows(const CKLF_3D_Surface::LIGHT_SRC& l) {
  const CKLF_3D_Surface::SHADOW_SETTINGS& st = l.bgShadow;
  return st.blurFlag != 0 || st.blur2 > 0.1f;
}

bool Casts(const CKLF_3D_Surface::LIGHT_SRC& l) { return l.enabled && l.bgShadowOn; }

void FillRows(u8* p, u32 stride, u32 w, u32 h, u8 v) {
  for (u32 y = 0; y < h; ++y) std::memset(p + static_cast<size_t>(y) * stride, v, w);
}

// The background: corners (0, 0), (w, 0), (w, h), (0, h) at depth z,
// triangles (3, 0, 1) and (3, 2, 1), mapped by their own x, y.
u8 MakeQuad(CKLF_3D_SurfaceBase& q, u32 w, u32 h, f32 z) {
  if (!q.Create(4u, 2u)) return 0;
  const f32 fw = static_cast<f32>(w), fh = static_cast<f32>(h);
  *q.GetVertex(0) = {0.0f, 0.0f, z};
  *q.GetVertex(1) = {fw, 0.0f, z};
  *q.GetVertex(2) = {fw, fh, z};
  *q.GetVertex(3) = {0.0f, fh, z};
  *q.GetTriMesh(0) = {{3, 0, 1}, 0};
  *q.GetTriMesh(1) = {{3, 2, 1}, 0};
  return q.RecreateMappingArrayFromCurrentValues();
}

}  // namespace

u8 CKLF_3D_Surface::int_RenderBgShadow(LIGHT_SRC* l, f32 z, const u8* opacity, u32 stride, u32 w, u32 h, u8* dst,
                                       u32 dstStride, u32 dstW, u32 dstH) {
  if (!l || !opacity || !dst || !w || !h || stride < w || dstStride < dstW || !i_MappingReady() ||
      (dstStride != dstW && NeedsPlainRows(*l)))
    return Fail(klErrBadArg);
  FillRows(dst, dstStride, dstW, dstH, 255);
  CKLF_3D_SurfaceBase quad;
  if (!MakeQuad(quad, dstW, dstH, z)) return FailFrom(quad, klErrNoMemory);
  KLF_3D_TexelShadowJob job = klTexelShadowJob(dst, dstStride, dstW, dstH, opacity, stride, w, h);
  job.quad = &quad;
  // Turned as for the light's shadow maps: the background shadow falls the
  // way the light runs, as its shadows on the mesh and its lighting do.
  if (!i_ShadowBySettings(l->bgShadow, klShadowTurn(l->direction), job)) return 0;
  // Light level to density.
  const u32 p = static_cast<u32>(std::clamp<i32>(klTruncSat<i32>(l->bgStrength), 0, 100));
  for (u32 y = 0; y < dstH; ++y) {
    u8* row = dst + static_cast<size_t>(y) * dstStride;
    for (u32 x = 0; x < dstW; ++x) row[x] = static_cast<u8>(p * (255u - row[x]) / 100u);
  }
  return 1;
}

u8 CKLF_3D_Surface::RenderHQ_BgShadow(f32 distance, const u8* opacity, u32 stride, u32 w, u32 h, u8* dst, u32 dstStride,
                                      u32 dstW, u32 dstH) {
  if (!opacity || !dst || stride < w || dstStride < dstW || !i_MappingReady()) return Fail(klErrBadArg);
  for (u32 i = 0; i < Light_Count(); ++i)
    if (Casts(*Light_GetRecord(i)) && dstStride != dstW && NeedsPlainRows(*Light_GetRecord(i)))
      return Fail(klErrBadArg);
  f32 zmax = -1e6f;
  for (u32 i = 0; i < m_vertexCount; ++i) zmax = std::max(zmax, m_vertices[i].z);
  const f32 z = (distance > 0.1f ? distance : 0.1f) + zmax;
  CKLF_Mem merge;
  bool first = true;
  for (u32 i = 0; i < Light_Count(); ++i) {
    LIGHT_SRC* l = Light_GetRecord(i);
    if (!Casts(*l)) continue;
    if (first) {
      if (!int_RenderBgShadow(l, z, opacity, stride, w, h, dst, dstStride, dstW, dstH)) return 0;
      first = false;
      continue;
    }
    const u64 size = static_cast<u64>(dstW) * dstH;
    if (!klFits32(size) || (merge.GetSize() < size && !merge.Resize(static_cast<u32>(size))))
      return FailFrom(merge, klErrNoMemory);
    u8* b = merge.GetPtr();
    if (!int_RenderBgShadow(l, z, opacity, stride, w, h, b, dstW, dstW, dstH)) return 0;
    // Densities merge as layers.
    for (u32 y = 0; y < dstH; ++y) {
      u8* a = dst + static_cast<size_t>(y) * dstStride;
      const u8* m = b + static_cast<size_t>(y) * dstW;
      for (u32 x = 0; x < dstW; ++x) a[x] = static_cast<u8>(255 - (255 - a[x]) * (255 - m[x]) / 255);
    }
  }
  return 1;
}
