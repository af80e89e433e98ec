// The surface renderer's later class: the mesh core with lights that keep
// the caller's record whole and derive their channel factors, highlight
// exponent and lighting vector in Light_PrecalculateLights, and two ambient
// lights (front faces, back faces) that can be set automatically so that a
// flat front face under all lights keeps its colour.
//
// Colour records are eight bytes: grey, red, green, blue, cyan, magenta,
// yellow, black; all eight 255 marks an automatic ambient colour.
// Limits: light names keep at most 49 characters; lookups are linear scans
// and take the first light of a name.
#pragma once

#include "CKLF_3D_SurfaceBase.h"

class CKLF_3D_Surface2 : public CKLF_3D_SurfaceBase {
 public:
  // The caller's record.
  struct LIGHT_SOURCE {
    const char* name;
    klt3D_VECTOR direction;
    u8 front;        // 0: the direction's z is taken negated
    f32 intensity1;  // percent, with colour 1 (diffuse)
    u8 colour1[8];
    u8 diffuseToAmbient1;
    u8 diffuseToAmbient2;
    f32 intensity2;          // percent, with colour 2 (highlight)
    f32 highlightSharpness;  // k: exponent k^3 x 250 / 1000000 + 1
    u8 colour2[8];
    u8 highlightToAmbient1;
    u8 highlightToAmbient2;
    u8 castsShadow;
    f32 shadowValue1;  // shadow strength of the lit renderers
    f32 shadowValue2;  // blur radius of the shadow map
  };

  // The record kept per light; the derived values hold from
  // Light_PrecalculateLights to the next change.
  struct INTERNAL_LIGHT_SOURCE : LIGHT_BASE {
    f32 factors1[4];
    f32 factors2[4];
    f32 highlightExponent;  // at least 1
    klt3D_VECTOR lightingVector;
    u8 shadowActive;      // set by each HQ render for that render
    LIGHT_SOURCE source;  // its name pointer is never followed
  };

  // Front faces take ambient 1, back faces ambient 2; levels in percent.
  struct AMBIENT {
    u8 colour1[8];
    f32 level1;
    f32 factors1[4];
    u8 colour2[8];
    f32 level2;
    f32 factors2[4];
  };

  CKLF_3D_Surface2();
  ~CKLF_3D_Surface2() override;

  // Error 1 for a null record or name, or a direction of length zero.
  u8 Light_Add(const LIGHT_SOURCE* src);
  // Replaces the named light's record whole. Error 1 as Light_Add.
  u8 Light_Change(const LIGHT_SOURCE* src);
  // Fills every field but the name from the named light.
  u8 Light_GetData(LIGHT_SOURCE* dst) const;
  const INTERNAL_LIGHT_SOURCE* Light_GetRecord(u32 i) const {
    return static_cast<const INTERNAL_LIGHT_SOURCE*>(i_Light(i));
  }
  // On failure the light has no map.
  u8 Light_CreateShadowMapStorage(const char* name, u32 width, u32 height);
  // Automatic levels make a flat front (auto1) or back (auto2) face under
  // every light sum to 100%, with colour all 255; levels are not clamped.
  // Error 1 for a null colour that is not automatic.
  u8 Light_SetAmbientLight(const u8* colour1, f32 level1, const u8* colour2, f32 level2, u8 auto1, u8 auto2);
  const AMBIENT& GetAmbientLight() const { return m_ambientBlock; }
  // Document kind 0 grey, 1 RGB, 2 CMYK (others leave the channel factors).
  u8 Light_PrecalculateLights(u8 kind);

 protected:
  INTERNAL_LIGHT_SOURCE* i_Src(const char* name) const {
    return static_cast<INTERNAL_LIGHT_SOURCE*>(i_LightByName(name));
  }

  AMBIENT m_ambientBlock;
};
