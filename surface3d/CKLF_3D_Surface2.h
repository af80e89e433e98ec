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
  INTERNAL_LIGHT_SOURCE* Light_GetRecord(u32 i) { return static_cast<INTERNAL_LIGHT_SOURCE*>(i_Light(i)); }
  // On failure the light has no map.
  u8 Light_CreateShadowMapStorage(const char* name, u32 width, u32 height);
  // Automatic levels make a flat front (auto1) or back (auto2) face under
  // every light sum to 100%, with colour all 255; levels are not clamped.
  // Error 1 for a null colour that is not automatic.
  u8 Light_SetAmbientLight(const u8* colour1, f32 level1, const u8* colour2, f32 level2, u8 auto1, u8 auto2);
  const AMBIENT& GetAmbientLight() const { return m_ambientBlock; }
  // Document kind 0 grey, 1 RGB, 2 CMYK (others leave the channel factors).
  u8 Light_PrecalculateLights(u8 kind);

  // ---- shadows ----
  //
  // As the first class's (opacity planes over the mapping space, maps of
  // w x h bytes, 255 lit), seen along each light's lighting vector; the
  // lights must have been precalculated (error 1 for a zero vector).
  // Progress goes to the surface's progress object; a cancel returns 0
  // with error 0, maps already made stay.

  // Storage and a fragment-method map for every light that casts a shadow,
  // blurred by blur x the light's second shadow value (at least 1).
  u8 Light_GenerateAllInnerShadowMaps(const u8* opacity, u32 stride, u32 w, u32 h, f32 blur);
  // The texel method, one sample per texel; reports from start to end
  // percent.
  u8 int_GenerateInternalLightShadowMap(INTERNAL_LIGHT_SOURCE* l, const u8* opacity, u32 stride, u32 w, u32 h, f32 blur,
                                        f64 start, f64 end);
  // The fragment method: the mesh drawn from the light into per-pixel
  // lists of fragments (400 x 400 light-space pixels at a time), each list
  // sorted and turned into the light reaching each fragment, and each texel
  // given the level of the fragment at its own depth. The opacity stride
  // must equal w (error 1); a fragment block that cannot be had fails with
  // error 17. Cost: the mesh's light-space area per tile, memory at most
  // 499 blocks of 160,000 fragments (beyond that a row's rest is dropped).
  u8 int_GenerateInternalLightShadowMap_v2(INTERNAL_LIGHT_SOURCE* l, const u8* opacity, u32 stride, u32 w, u32 h,
                                           f32 blur, f64 start, f64 end);
  // The constant blur through the framework's Gaussian (16-bit sizes:
  // error 1 beyond). 0 with the blur's error when it fails.
  u8 int_Blur_Const_v2(u8* plane, u32 w, u32 h, f32 sigma);

  // One cell of the fragment method: 0xFFFF level in a head = empty.
  struct SHADOW_FRAGMENT {
    f32 z;
    SHADOW_FRAGMENT* next;
    u16 level;  // opacity while drawn, light reaching it once resolved
    u32 u, v;   // texel
  };
  // One span of one light-space row for int_DrawYLine_ShadowMapping.
  struct SHADOWRENDERER_DATA {
    i32 y, x0, x1;
    f32 z0, z1;
    f32 u0, v0, u1, v1;
    i32 left, top, right, bottom;  // tile
    SHADOW_FRAGMENT* heads;
    u32 headStride, headRows;
    u32 opW, opH;
    const u8* opacity;  // row stride = opW
    CKLF_Mem* blocks;   // 499 blocks; block 0 holds the heads
    u32 used[499];
    u32 blockCount;
    u16 error;  // a block that could not be had
  };
  void int_DrawYLine_ShadowMapping(SHADOWRENDERER_DATA* d);

  // ---- HQ renderers (the frame's rules: CKLF_3D_SurfaceBase) ----
  //
  // Lit by every light from its precalculated values: the side's ambient
  // factors plus each light's diffuse and highlight terms where its flags
  // send them to that side, dimmed by its first shadow value under its map
  // when useShadows is set and it casts a shadow into a map of at least the
  // texture's size; levels below 0 shade black; colours rounded. level >= 0
  // shades by the face normal instead; perspective as in the first class
  // (weights in double precision). Error 1 as RenderHQ_Simple.
  u8 RenderHQ_Opt(u8 perspective, klt3D_VERTEX eye, u8 centre, u8 useShadows, u8 s, u8 count, const HQ_DESTINATION& dst,
                  const HQ_TEXTURE& tex, const HQ_BUMP& bump, kltRECT_s clip, f32 level);
  // Lit by every light without shadows, the normal interpolated from the
  // vertex normals.
  u8 RenderHQ_Opt_InterpolatedShading(u8 s, u8 count, const HQ_DESTINATION& dst, const HQ_TEXTURE& tex,
                                      const HQ_BUMP& bump, kltRECT_s clip);

 protected:
  INTERNAL_LIGHT_SOURCE* i_Src(const char* name) const {
    return static_cast<INTERNAL_LIGHT_SOURCE*>(i_LightByName(name));
  }

  // HQ fills, spans and lighting; bumps ignore height differences of 1.
  void RenderHQ_Opt_FillTriangleMesh(HQ_RENDERER_DATA* r, klt3D_VERTEX p0, klt3D_VERTEX p1, klt3D_VERTEX p2,
                                     klt2D_VERTEX t0, klt2D_VERTEX t1, klt2D_VERTEX t2, u8 bump, kltRECT_s clip);
  void RenderHQ_Opt_FillTriangleMesh_PerspectiveMapping(HQ_RENDERER_DATA* r, klt3D_VERTEX p0, klt3D_VERTEX p1,
                                                        klt3D_VERTEX p2, f64 w0, f64 w1, f64 w2, klt2D_VERTEX t0,
                                                        klt2D_VERTEX t1, klt2D_VERTEX t2, u8 bump, kltRECT_s clip);
  void int_DrawYLine_HQMapping_Opt_8_NoBump(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_8_Bump(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_8_NoBump_Perspective(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_8_Bump_Perspective(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Phong(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_1Light_8_Bump_Phong(HQ_RENDERER_DATA* r) const;
  void int_ApplyLight_HQMapping_Opt_8(HQ_RENDERER_DATA* r) const;

  // The fragment method's drawing and writing, from the turned copy on.
  u8 i_FragmentShadow(const klt3D_VECTOR& turn, const u8* opacity, u32 w, u32 h, u8* map, f64 start, f64 span);
  // Draws light-space triangle i of lit into the tile's lists; 0 when it
  // misses the tile.
  u8 i_DrawShadowTriangle(const CKLF_3D_SurfaceBase& lit, u32 i, SHADOWRENDERER_DATA& d);

  AMBIENT m_ambientBlock;
};
