// The surface renderer's first class: the mesh core with lights kept as
// internal records that carry their premultiplied colour and the flags
// telling the shadow code what to rebuild, and an ambient light of one
// value per output plane.
//
// Limits: light names keep at most 49 characters; lookups are linear scans
// and take the first light of a name.
#pragma once

#include "CKLF_3D_SurfaceBase.h"

class CKLF_3D_Surface : public CKLF_3D_SurfaceBase {
 public:
  // Shadow-map or background-shadow settings: sampling level (an exponent,
  // 0 = one sample per texel), blur flag (0 constant, 1 and 2 depending on
  // distance), blur radii for the nearest and the farthest occluder.
  struct SHADOW_SETTINGS {
    u8 samplingLevel;
    u8 blurFlag;
    f32 blur1;
    f32 blur2;
  };

  // The caller's record.
  struct LIGHT_SOURCE {
    const char* name;
    u8 enabled;
    u8 spare;  // kept and returned, read by nothing else
    f32 intensity;
    f32 colour[4];    // one per output plane
    f32 factor;       // percent, with the intensity
    f32 lightingMix;  // percent
    klt3D_VECTOR direction;
    f32 shadowStrength;  // percent
    SHADOW_SETTINGS shadowMap;
    u8 bgShadowOn;
    f32 bgStrength;  // percent
    SHADOW_SETTINGS bgShadow;
    u8 useShadowMap;
  };

  // The record kept per light.
  struct LIGHT_SRC : LIGHT_BASE {
    f32 intensity;
    f32 colour[4];
    f32 premulColour[4];  // colour x intensity x factor / 100
    f32 factor;
    f32 lightingMix;
    f32 shadowStrength;
    SHADOW_SETTINGS shadowMap;
    u8 bgShadowOn;
    f32 bgStrength;
    SHADOW_SETTINGS bgShadow;
    u8 bgChanged;  // the background shadow is to be rebuilt
    klt3D_VECTOR direction;
    u8 enabled;
    u8 spare;
    u8 useShadowMap;
    u8 changed;       // the shadow map is to be rebuilt
    u8 shadowActive;  // set by each HQ render for that render
  };

  CKLF_3D_Surface();
  ~CKLF_3D_Surface() override;

  // Error 1 for a null record or name, or a direction of length zero.
  u8 Light_Add(const LIGHT_SOURCE* src);
  // Overwrites the named light; a change of direction, blur or sampling
  // sets changed, of direction or background blur or sampling sets
  // background changed. Error 1 as Light_Add.
  u8 Light_Change(const LIGHT_SOURCE* src);
  // Fills every field but the name from the named light.
  u8 Light_GetData(LIGHT_SOURCE* dst) const;
  const LIGHT_SRC* Light_GetRecord(u32 i) const { return static_cast<const LIGHT_SRC*>(i_Light(i)); }
  LIGHT_SRC* Light_GetRecord(u32 i) { return static_cast<LIGHT_SRC*>(i_Light(i)); }
  u8 Light_CreateShadowMapStorage(const char* name, u32 width, u32 height);
  // Flags of the named light; 0 when no light has the name.
  u8 Light_Enable(const char* name, u8 on) { return i_SetFlag(name, &LIGHT_SRC::enabled, on); }
  u8 Light_UseShadowMap(const char* name, u8 on) { return i_SetFlag(name, &LIGHT_SRC::useShadowMap, on); }
  u8 Light_SetChangedFlag(const char* name, u8 on) { return i_SetFlag(name, &LIGHT_SRC::changed, on); }
  u8 Light_GetChangedFlag(const char* name) const { return i_GetFlag(name, &LIGHT_SRC::changed); }
  u8 Light_SetBgChangedFlag(const char* name, u8 on) { return i_SetFlag(name, &LIGHT_SRC::bgChanged, on); }
  u8 Light_GetBgChangedFlag(const char* name) const { return i_GetFlag(name, &LIGHT_SRC::bgChanged); }
  // 1 when some light uses a shadow map and has changed.
  u8 Light_CheckAllLightsChanges() const;
  // 1 when some light casts a background shadow and has background changed.
  u8 Light_CheckAllLightsBgShadowChanges() const;
  u8 Light_SetAmbientLight(f32 a0, f32 a1, f32 a2, f32 a3);

  // ---- shadows ----
  //
  // Opacity planes lie over the mapping space (0 transparent, 255 opaque)
  // with their own stride; a map is w x h bytes over the same space,
  // 255 lit. Light space: the mesh turned so that the light's direction
  // runs along +z, smaller z nearer the light.

  // Map storage and a map for every enabled light that uses one and, with
  // onlyChanged, has changed. 0 on the first failure.
  u8 Light_GenerateAllInnerShadowMaps(const u8* opacity, u32 stride, u32 w, u32 h, u8 onlyChanged);
  // The texel method: each texel sample multiplies the transparencies of
  // the mesh's triangles in front of it. Sampling level (at most 3, none
  // when the radius that matters is above 3) and blurs by the light's
  // settings; clears its changed flag. Error 1 for a missing opacity plane,
  // a stride below w, a map storage under w x h or no full mapping array.
  // Cost: per triangle an index search, per sample the candidates in front.
  u8 int_GenerateInternalLightShadowMap(LIGHT_SRC* l, const u8* opacity, u32 stride, u32 w, u32 h);
  // Shadow density (0 none .. 255) of the enabled lights with a background
  // shadow on a plane `distance` (at least 0.1) behind the farthest vertex,
  // over the destination's pixels (the mesh's x, y units), lights merged as
  // layers. The destination is untouched without such a light. Error 1 for
  // missing planes, strides below their widths, no full mapping array, or a
  // destination stride other than its width where a light blurs.
  u8 RenderHQ_BgShadow(f32 distance, const u8* opacity, u32 stride, u32 w, u32 h, u8* dst, u32 dstStride, u32 dstW,
                       u32 dstH);
  // One light's density at background depth z (strength clamped to 0..100).
  u8 int_RenderBgShadow(LIGHT_SRC* l, f32 z, const u8* opacity, u32 stride, u32 w, u32 h, u8* dst, u32 dstStride,
                        u32 dstW, u32 dstH);

  // ---- HQ renderers (the frame's rules: CKLF_3D_SurfaceBase) ----
  //
  // With useShadows a light's map dims it (by its shadow strength) when the
  // light uses one of at least the texture's size; the light's shadow-active
  // flag says so after the render. Error 1 as RenderHQ_Simple.

  // Lit by the light at position 0, enabled or not: ambient plus its
  // highlight and diffuse terms in the proportion of its lighting mix.
  // level >= 0 shades by the face normal instead (k = level / 100:
  // k (max(0, z) - 1) + 1); lit without a light: error 1. perspective: seen
  // from the eye at distance eye.z about (eye.x, eye.y), or about the
  // mesh's middle with centre set.
  u8 RenderHQ_Opt(u8 perspective, klt3D_VERTEX eye, u8 centre, u8 useShadows, u8 s, u8 count, const HQ_DESTINATION& dst,
                  const HQ_TEXTURE& tex, const HQ_BUMP& bump, kltRECT_s clip, f32 level);
  // As RenderHQ_Opt lit, the normal interpolated from the vertex normals.
  u8 RenderHQ_Opt_1Light_8_Phong(u8 useShadows, u8 s, u8 count, const HQ_DESTINATION& dst, const HQ_TEXTURE& tex,
                                 const HQ_BUMP& bump, kltRECT_s clip);
  // Lit by every enabled light (cosine to the cos power, mixed), texture
  // colours only (solid flags are not read), tiles of 600 / s pixels, no
  // progress. The wide-sample flag is refused (error 48).
  u8 RenderHQ(u8 useShadows, u8 s, u8 count, u8 wide, const HQ_DESTINATION& dst, const HQ_TEXTURE& tex,
              const HQ_BUMP& bump, kltRECT_s clip);

 protected:
  LIGHT_SRC* i_Src(const char* name) const { return static_cast<LIGHT_SRC*>(i_LightByName(name)); }
  static void i_CopyFields(LIGHT_SRC& dst, const LIGHT_SOURCE& src);
  u8 i_SetFlag(const char* name, u8 LIGHT_SRC::*flag, u8 on);
  u8 i_GetFlag(const char* name, u8 LIGHT_SRC::*flag) const;
  // The blur a map or background shadow asks for.
  u8 i_BlurShadow(u8* plane, u32 w, u32 h, const SHADOW_SETTINGS& st, f32* dist);
  // job's texel walk and blur by the settings of a map or background shadow.
  u8 i_ShadowBySettings(const SHADOW_SETTINGS& st, klt3D_VECTOR turn, KLF_3D_TexelShadowJob& job);

  // HQ fills, spans and lighting.
  void RenderHQ_Opt_FillTriangleMesh(HQ_RENDERER_DATA* r, klt3D_VERTEX p0, klt3D_VERTEX p1, klt3D_VERTEX p2,
                                     klt2D_VERTEX t0, klt2D_VERTEX t1, klt2D_VERTEX t2, u8 bump, kltRECT_s clip);
  // Bumped triangles draw unbumped: the class has no bumped perspective span.
  void RenderHQ_Opt_FillTriangleMesh_PerspectiveMapping(HQ_RENDERER_DATA* r, klt3D_VERTEX p0, klt3D_VERTEX p1,
                                                        klt3D_VERTEX p2, f64 w0, f64 w1, f64 w2, klt2D_VERTEX t0,
                                                        klt2D_VERTEX t1, klt2D_VERTEX t2, u8 bump, kltRECT_s clip);
  void int_DrawYLine_HQMapping_8(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_1Light_8_NoBump(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_1Light_8_Bump(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Perspective(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Phong(HQ_RENDERER_DATA* r) const;
  void int_DrawYLine_HQMapping_Opt_1Light_8_Bump_Phong(HQ_RENDERER_DATA* r) const;
  void int_ApplyLight_HQMapping_8(HQ_RENDERER_DATA* r) const;
  void int_ApplyLight_HQMapping_Opt_8(HQ_RENDERER_DATA* r) const;
  // The light flags of one render: shadow active for lights that use a map
  // of at least `texels` bytes when useShadows is set.
  static void i_PrepareShadow(LIGHT_SRC* l, u8 useShadows, u64 texels);
  // The frame of RenderHQ_Opt and the Phong renderer, lit by light 0.
  u8 i_RenderHQ_Light0(KLF_3D_HQFrame& f, u8 useShadows);

  f32 m_ambient[4];  // start of each plane's light sum
};
