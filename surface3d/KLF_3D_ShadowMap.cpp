// Texel-method shadow maps of both surface classes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CKLF_3D_Surface.h"
#include "CKLF_3D_Surface2.h"
#include "KLF_3D_Shadow.h"

namespace {

// Sampling exponents beyond 3 lose every sample's share: (255 - L) >> 2s
// is 0 from s = 4 on.
const u8 kMaxSampling = 3;

}  // namespace

// The turn that carries d onto +z (Rotate turns (x, -y, z) onto +z).
klt3D_VECTOR klShadowTurn(const klt3D_VECTOR& d) {
  const f32 len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  return klt3D_VECTOR{d.x / len, -d.y / len, d.z / len};
}

namespace {

bool UsableVector(const klt3D_VECTOR& d) {
  const f32 len2 = d.x * d.x + d.y * d.y + d.z * d.z;
  return len2 > 0.0f && std::isfinite(len2);
}

}  // namespace

u8 CKLF_3D_Surface::i_BlurShadow(u8* plane, u32 w, u32 h, const SHADOW_SETTINGS& st, f32* dist) {
  if (st.blur1 == st.blur2 || st.blurFlag == 0) return st.blur2 > 0.1f ? int_Blur_Const(plane, w, h, st.blur2) : 1;
  if (st.blurFlag == 1 || st.blurFlag == 2)
    return int_Blur_Perspective(st.blurFlag == 1, plane, w, h, st.blur1, st.blur2, dist);
  return 1;
}

u8 CKLF_3D_Surface::i_ShadowBySettings(const SHADOW_SETTINGS& st, klt3D_VECTOR turn, KLF_3D_TexelShadowJob& job) {
  // Soft modes spread by occluder distance; sampling stops where the blur
  // would wipe it out anyway.
  const bool soft = st.blurFlag != 0;
  const f32 radius = soft ? std::min(st.blur1, st.blur2) : st.blur2;
  job.shift = radius > 3.0f ? 0 : std::min(st.samplingLevel, kMaxSampling);
  const u64 bytes = 4 * static_cast<u64>(job.w) * job.h;
  CKLF_Mem distMem;
  if (soft && (!klFits32(bytes) || !distMem.Zalloc(static_cast<u32>(bytes)))) return FailFrom(distMem, klErrNoMemory);
  job.dist = soft ? reinterpret_cast<f32*>(distMem.GetPtr()) : nullptr;
  return i_TexelShadow(turn, job) && i_BlurShadow(job.plane, job.w, job.h, st, job.dist);
}

u8 CKLF_3D_Surface::int_GenerateInternalLightShadowMap(LIGHT_SRC* l, const u8* opacity, u32 stride, u32 w, u32 h) {
  const u64 size = static_cast<u64>(w) * h;
  if (!l || !opacity || !w || !h || stride < w || !l->MapFor(size) || !i_MappingReady()) return Fail(klErrBadArg);
  u8* map = l->MapFor(size);
  std::memset(map, 255, size);
  KLF_3D_TexelShadowJob job = klTexelShadowJob(map, w, w, h, opacity, stride, w, h);
  if (!i_ShadowBySettings(l->shadowMap, klShadowTurn(l->direction), job)) return 0;
  l->changed = 0;
  return 1;
}

u8 CKLF_3D_Surface::Light_GenerateAllInnerShadowMaps(const u8* opacity, u32 stride, u32 w, u32 h, u8 onlyChanged) {
  for (u32 i = 0; i < Light_Count(); ++i) {
    LIGHT_SRC* l = Light_GetRecord(i);
    if (!l->enabled || !l->useShadowMap || (onlyChanged && !l->changed)) continue;
    // This light's own storage: names need not be unique.
    if (!i_ResizeShadowMap(l, w, h) || !int_GenerateInternalLightShadowMap(l, opacity, stride, w, h)) return 0;
  }
  return 1;
}

namespace {

// Progress of Surface2's texel method: one mark per walked triangle.
struct TexelProgress {
  CKLF_3D_Surface2* surface;
  f64 start, span;
};

}  // namespace

u8 CKLF_3D_Surface2::int_GenerateInternalLightShadowMap(INTERNAL_LIGHT_SOURCE* l, const u8* opacity, u32 stride, u32 w,
                                                        u32 h, f32 blur, f64 start, f64 end) {
  const u64 size = static_cast<u64>(w) * h;
  if (!l || !opacity || !w || !h || stride < w || !l->MapFor(size) || !i_MappingReady() ||
      !UsableVector(l->lightingVector))
    return Fail(klErrBadArg);
  const f64 span = (end - start) / 100.0;
  for (f64 k : {0.0, 1.0, 3.0, 4.0, 5.0, 6.0, 7.0})
    if (!i_ProgressStep(start + k * span)) return Fail(klErrNone);
  u8* map = l->MapFor(size);
  std::memset(map, 255, size);
  KLF_3D_TexelShadowJob job = klTexelShadowJob(map, w, w, h, opacity, stride, w, h);
  TexelProgress tp = {this, start, span};
  job.ctx = &tp;
  job.afterTriangle = [](void* ctx, u32 walked, u32 total) {
    const TexelProgress& p = *static_cast<TexelProgress*>(ctx);
    return p.surface->i_ProgressStep(p.start + (7.0 + 83.0 * walked / total) * p.span);
  };
  if (!i_TexelShadow(klShadowTurn(l->lightingVector), job)) return 0;
  if (!i_ProgressStep(start + 90.0 * span) || !i_ProgressStep(start + 91.0 * span)) return Fail(klErrNone);
  const f32 radius = blur * l->source.shadowValue2;
  if (radius > 0.1f && !int_Blur_Const(map, w, h, radius)) return 0;
  return i_ProgressStep(end) ? 1 : Fail(klErrNone);
}
