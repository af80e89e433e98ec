#include "CKLF_3D_Surface.h"

#include <new>

namespace {

bool SameSettings(const CKLF_3D_Surface::SHADOW_SETTINGS& a, const CKLF_3D_Surface::SHADOW_SETTINGS& b) {
  return a.samplingLevel == b.samplingLevel && a.blurFlag == b.blurFlag && a.blur1 == b.blur1 && a.blur2 == b.blur2;
}

bool SameDirection(const klt3D_VECTOR& a, const klt3D_VECTOR& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

}  // namespace

CKLF_3D_Surface::CKLF_3D_Surface() : m_ambient() {}

CKLF_3D_Surface::~CKLF_3D_Surface() {}

void CKLF_3D_Surface::i_CopyFields(LIGHT_SRC& dst, const LIGHT_SOURCE& src) {
  dst.intensity = src.intensity;
  dst.factor = src.factor;
  dst.lightingMix = src.lightingMix;
  dst.direction = src.direction;
  dst.shadowStrength = src.shadowStrength;
  dst.enabled = src.enabled;
  dst.spare = src.spare;
  dst.shadowMap = src.shadowMap;
  dst.bgShadowOn = src.bgShadowOn;
  dst.bgStrength = src.bgStrength;
  dst.bgShadow = src.bgShadow;
  for (int i = 0; i < 4; ++i) {
    dst.colour[i] = src.colour[i];
    dst.premulColour[i] = src.colour[i] * src.intensity * src.factor / 100.0f;
  }
}

u8 CKLF_3D_Surface::Light_Add(const LIGHT_SOURCE* src) {
  if (!src || !src->name || !i_UsableDirection(src->direction)) return Fail(klErrBadArg);
  LIGHT_SRC* rec = new (std::nothrow) LIGHT_SRC();
  if (rec) {
    i_CopyFields(*rec, *src);
    rec->changed = 1;
    rec->bgChanged = 1;
  }
  return i_AddLight(rec, src->name);
}

u8 CKLF_3D_Surface::Light_Change(const LIGHT_SOURCE* src) {
  if (!src || !src->name) return Fail(klErrBadArg);
  LIGHT_SRC* rec = i_Src(src->name);
  if (!rec) return 0;
  if (!i_UsableDirection(src->direction)) return Fail(klErrBadArg);
  // Each flag is raised by its own kind of change, whatever the other holds.
  const bool turned = !SameDirection(rec->direction, src->direction);
  if (turned || !SameSettings(rec->shadowMap, src->shadowMap)) rec->changed = 1;
  if (turned || !SameSettings(rec->bgShadow, src->bgShadow)) rec->bgChanged = 1;
  i_CopyFields(*rec, *src);
  rec->useShadowMap = src->useShadowMap;
  return 1;
}

u8 CKLF_3D_Surface::Light_GetData(LIGHT_SOURCE* dst) const {
  if (!dst) return 0;
  const LIGHT_SRC* rec = i_Src(dst->name);
  if (!rec) return 0;
  dst->enabled = rec->enabled;
  dst->spare = rec->spare;
  dst->intensity = rec->intensity;
  for (int i = 0; i < 4; ++i) dst->colour[i] = rec->colour[i];
  dst->factor = rec->factor;
  dst->lightingMix = rec->lightingMix;
  dst->direction = rec->direction;
  dst->shadowStrength = rec->shadowStrength;
  dst->shadowMap = rec->shadowMap;
  dst->bgShadowOn = rec->bgShadowOn;
  dst->bgStrength = rec->bgStrength;
  dst->bgShadow = rec->bgShadow;
  dst->useShadowMap = rec->useShadowMap;
  return 1;
}

u8 CKLF_3D_Surface::Light_CreateShadowMapStorage(const char* name, u32 width, u32 height) {
  LIGHT_SRC* rec = i_Src(name);
  if (!rec || !i_ResizeShadowMap(rec, width, height)) return 0;
  rec->useShadowMap = 1;
  return 1;
}

u8 CKLF_3D_Surface::i_SetFlag(const char* name, u8 LIGHT_SRC::*flag, u8 on) {
  LIGHT_SRC* rec = i_Src(name);
  if (!rec) return 0;
  rec->*flag = on;
  return 1;
}

u8 CKLF_3D_Surface::i_GetFlag(const char* name, u8 LIGHT_SRC::*flag) const {
  const LIGHT_SRC* rec = i_Src(name);
  return rec ? rec->*flag : 0;
}

u8 CKLF_3D_Surface::Light_CheckAllLightsChanges() const {
  for (u32 i = 0; i < Light_Count(); ++i)
    if (Light_GetRecord(i)->useShadowMap && Light_GetRecord(i)->changed) return 1;
  return 0;
}

u8 CKLF_3D_Surface::Light_CheckAllLightsBgShadowChanges() const {
  for (u32 i = 0; i < Light_Count(); ++i)
    if (Light_GetRecord(i)->bgShadowOn && Light_GetRecord(i)->bgChanged) return 1;
  return 0;
}

u8 CKLF_3D_Surface::Light_SetAmbientLight(f32 a0, f32 a1, f32 a2, f32 a3) {
  m_ambient[0] = a0;
  m_ambient[1] = a1;
  m_ambient[2] = a2;
  m_ambient[3] = a3;
  return 1;
}
