#include "CKLF_3D_Surface2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

// k^3 x 250 / 1000000 + 1, and at least 1: a smaller exponent makes the
// highlight of an unlit point (base 0) infinite.
f32 HighlightExponent(f32 k) { return std::max(1.0f, k * k * k * 250.0f / 1000000.0f + 1.0f); }

// Channel factors of a colour record at a level in percent.
void ChannelFactors(const u8* colour, f32 level, u8 kind, f32* out) {
  auto f = [&](int i) { return colour[i] * level / 25500.0f; };
  switch (kind) {
    case 0:
      std::fill(out, out + 4, f(0));
      break;
    case 1:
      out[0] = f(1);
      out[1] = f(2);
      out[2] = f(3);
      out[3] = out[0];
      break;
    case 2:
      for (int i = 0; i < 4; ++i) out[i] = f(4 + i);
      break;
    default:
      break;
  }
}

}  // namespace

CKLF_3D_Surface2::CKLF_3D_Surface2() : m_ambientBlock() {}

CKLF_3D_Surface2::~CKLF_3D_Surface2() {}

u8 CKLF_3D_Surface2::Light_Add(const LIGHT_SOURCE* src) {
  if (!src || !src->name || !i_UsableDirection(src->direction)) return Fail(klErrBadArg);
  INTERNAL_LIGHT_SOURCE* rec = new (std::nothrow) INTERNAL_LIGHT_SOURCE();
  if (rec) rec->source = *src;
  return i_AddLight(rec, src->name);
}

u8 CKLF_3D_Surface2::Light_Change(const LIGHT_SOURCE* src) {
  if (!src || !src->name) return Fail(klErrBadArg);
  INTERNAL_LIGHT_SOURCE* rec = i_Src(src->name);
  if (!rec) return 0;
  if (!i_UsableDirection(src->direction)) return Fail(klErrBadArg);
  rec->source = *src;
  return 1;
}

u8 CKLF_3D_Surface2::Light_GetData(LIGHT_SOURCE* dst) const {
  if (!dst) return 0;
  const INTERNAL_LIGHT_SOURCE* rec = i_Src(dst->name);
  if (!rec) return 0;
  const char* name = dst->name;
  *dst = rec->source;
  dst->name = name;
  return 1;
}

u8 CKLF_3D_Surface2::Light_CreateShadowMapStorage(const char* name, u32 width, u32 height) {
  INTERNAL_LIGHT_SOURCE* rec = i_Src(name);
  if (!rec) return 0;
  if (i_ResizeShadowMap(rec, width, height)) return 1;
  rec->shadowMem.free();
  rec->shadowMap = nullptr;
  return 0;
}

u8 CKLF_3D_Surface2::Light_SetAmbientLight(const u8* colour1, f32 level1, const u8* colour2, f32 level2, u8 auto1,
                                           u8 auto2) {
  if ((!auto1 && !colour1) || (!auto2 && !colour2)) return Fail(klErrBadArg);
  // What every light gives a flat face whose normal and view are +z.
  f64 s1 = 0.0, s2 = 0.0;
  for (u32 i = 0; i < Light_Count(); ++i) {
    const LIGHT_SOURCE& l = Light_GetRecord(i)->source;
    const f64 z = l.front ? l.direction.z : -l.direction.z, zc = std::max(0.0, z);
    const f64 h = std::pow(zc, static_cast<f64>(HighlightExponent(l.highlightSharpness)));
    const f64 i1 = l.intensity1 / 100.0, i2 = l.intensity2 / 100.0;
    s1 += (l.highlightToAmbient1 ? h : 0.0) * i2 + std::max(0.0, (l.diffuseToAmbient1 ? z : 0.0) * i1);
    s2 += (l.highlightToAmbient2 ? h : 0.0) * i2 + std::max(0.0, (l.diffuseToAmbient2 ? z : 0.0) * i1);
  }
  AMBIENT& a = m_ambientBlock;
  a.level1 = auto1 ? static_cast<f32>((1.0 - s1) * 100.0) : level1;
  a.level2 = auto2 ? static_cast<f32>((1.0 - s2) * 100.0) : level2;
  if (auto1)
    std::memset(a.colour1, 255, sizeof(a.colour1));
  else
    std::memcpy(a.colour1, colour1, sizeof(a.colour1));
  if (auto2)
    std::memset(a.colour2, 255, sizeof(a.colour2));
  else
    std::memcpy(a.colour2, colour2, sizeof(a.colour2));
  return 1;
}

u8 CKLF_3D_Surface2::Light_PrecalculateLights(u8 kind) {
  for (u32 i = 0; i < Light_Count(); ++i) {
    INTERNAL_LIGHT_SOURCE* rec = static_cast<INTERNAL_LIGHT_SOURCE*>(i_Light(i));
    const LIGHT_SOURCE& l = rec->source;
    ChannelFactors(l.colour1, l.intensity1, kind, rec->factors1);
    ChannelFactors(l.colour2, l.intensity2, kind, rec->factors2);
    rec->lightingVector = klt3D_VECTOR{-l.direction.x, l.direction.y, l.front ? l.direction.z : -l.direction.z};
    rec->highlightExponent = HighlightExponent(l.highlightSharpness);
  }
  ChannelFactors(m_ambientBlock.colour1, m_ambientBlock.level1, kind, m_ambientBlock.factors1);
  ChannelFactors(m_ambientBlock.colour2, m_ambientBlock.level2, kind, m_ambientBlock.factors2);
  return 1;
}
