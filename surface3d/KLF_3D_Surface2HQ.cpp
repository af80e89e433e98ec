// The second class's HQ renderers: fills, spans and lighting.
#include <algorithm>
#include <cmath>

#include "CKLF_3D_Surface2.h"
#include "KLF_3D_HQ.h"

namespace {

typedef CKLF_3D_SurfaceBase::HQ_RENDERER_DATA Record;
typedef CKLF_3D_Surface2::INTERNAL_LIGHT_SOURCE Light;

}  // namespace

void CKLF_3D_Surface2::int_ApplyLight_HQMapping_Opt_8(HQ_RENDERER_DATA* r) const {
  const klt3D_VECTOR& n = r->n;
  const bool front = r->frontFacing != 0;
  f32 level[4];
  if (r->k >= 0.0f) {
    const f32 l = r->k * (std::max(0.0f, front ? n.z : -n.z) - 1.0f) + 1.0f;
    std::fill(level, level + 4, l);
    klHQWrite<klHQConvertRounded>(*r, level);
    return;
  }
  if (klHQCached(*r)) return klHQWrite<klHQConvertRounded>(*r, r->lit);
  const f32* ambient = front ? m_ambientBlock.factors1 : m_ambientBlock.factors2;
  std::copy(ambient, ambient + 4, level);
  bool shadowed = false;
  for (u32 k = 0; k < Light_Count(); ++k) {
    const Light& l = *Light_GetRecord(k);
    const LIGHT_SOURCE& s = l.source;
    const klt3D_VECTOR& L = l.lightingVector;
    const f32 d = n.x * L.x + n.y * L.y + n.z * L.z;
    const f32 base = std::max(0.0f, 2.0f * d * n.z - L.z);  // the reflected ray's z
    const bool toDiffuse = front ? s.diffuseToAmbient1 : s.diffuseToAmbient2;
    const bool toHighlight = front ? s.highlightToAmbient1 : s.highlightToAmbient2;
    const f32 diffuse = std::max(0.0f, toDiffuse ? (front ? d : -d) : 0.0f);
    const f32 highlight =
        toHighlight ? static_cast<f32>(std::pow(static_cast<f64>(base), static_cast<f64>(l.highlightExponent))) : 0.0f;
    const f32 shadow = klHQShadow(l.shadowMap, l.shadowActive, r->mapTexel, s.shadowValue1);
    shadowed = shadowed || l.shadowActive;
    for (int i = 0; i < 4; ++i) level[i] += (diffuse * l.factors1[i] + highlight * l.factors2[i]) * shadow;
  }
  for (f32& v : level) v = std::max(0.0f, v);
  if (!shadowed) klHQCache(*r, level, 4);
  klHQWrite<klHQConvertRounded>(*r, level);
}

// ---- spans ----

void CKLF_3D_Surface2::int_DrawYLine_HQMapping_Opt_8_NoBump(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQFaceNormal, KLF_3D_HQAffine>(*r, [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface2::int_DrawYLine_HQMapping_Opt_8_Bump(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQBumpNormal<true>, KLF_3D_HQAffine>(*r, [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface2::int_DrawYLine_HQMapping_Opt_8_NoBump_Perspective(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQFaceNormal, KLF_3D_HQPerspective<f64>>(*r,
                                                           [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface2::int_DrawYLine_HQMapping_Opt_8_Bump_Perspective(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQBumpNormal<true>, KLF_3D_HQPerspective<f64>>(
      *r, [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface2::int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Phong(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQPhongNormal, KLF_3D_HQAffine>(*r, [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface2::int_DrawYLine_HQMapping_Opt_1Light_8_Bump_Phong(HQ_RENDERER_DATA* r) const {
  int_DrawYLine_HQMapping_Opt_8_Bump(r);  // the bump tilts the face normal
}

// ---- fills ----

void CKLF_3D_Surface2::RenderHQ_Opt_FillTriangleMesh(HQ_RENDERER_DATA* r, klt3D_VERTEX p0, klt3D_VERTEX p1,
                                                     klt3D_VERTEX p2, klt2D_VERTEX t0, klt2D_VERTEX t1, klt2D_VERTEX t2,
                                                     u8 bump, kltRECT_s clip) {
  klHQFill<f32, false, false>(*r, klHQTriangle({p0, p1, p2}, {t0, t1, t2}, bump, clip), [this, bump](Record& d) {
    if (bump)
      int_DrawYLine_HQMapping_Opt_8_Bump(&d);
    else
      int_DrawYLine_HQMapping_Opt_8_NoBump(&d);
  });
}

void CKLF_3D_Surface2::RenderHQ_Opt_FillTriangleMesh_PerspectiveMapping(HQ_RENDERER_DATA* r, klt3D_VERTEX p0,
                                                                        klt3D_VERTEX p1, klt3D_VERTEX p2, f64 w0,
                                                                        f64 w1, f64 w2, klt2D_VERTEX t0,
                                                                        klt2D_VERTEX t1, klt2D_VERTEX t2, u8 bump,
                                                                        kltRECT_s clip) {
  KLF_3D_HQTriangle tri = klHQTriangle({p0, p1, p2}, {t0, t1, t2}, bump, clip);
  tri.w[0] = w0, tri.w[1] = w1, tri.w[2] = w2;
  klHQFill<f64, true, false>(*r, tri, [this, bump](Record& d) {
    if (bump)
      int_DrawYLine_HQMapping_Opt_8_Bump_Perspective(&d);
    else
      int_DrawYLine_HQMapping_Opt_8_NoBump_Perspective(&d);
  });
}

// ---- renderers ----

u8 CKLF_3D_Surface2::RenderHQ_Opt(u8 perspective, klt3D_VERTEX eye, u8 centre, u8 useShadows, u8 s, u8 count,
                                  const HQ_DESTINATION& dst, const HQ_TEXTURE& tex, const HQ_BUMP& bump, kltRECT_s clip,
                                  f32 level) {
  KLF_3D_HQFrame f = klHQFrame(s, count, dst, tex, bump, clip);
  f.k = level / 100.0f;
  f.perspective = perspective ? 2 : 0, f.eye = eye, f.centre = centre;
  if (perspective)
    f.fill = [](CKLF_3D_SurfaceBase* self, Record& r, const KLF_3D_HQTriangle& t) {
      static_cast<CKLF_3D_Surface2*>(self)->RenderHQ_Opt_FillTriangleMesh_PerspectiveMapping(
          &r, t.p[0], t.p[1], t.p[2], t.w[0], t.w[1], t.w[2], t.t[0], t.t[1], t.t[2], t.bump, t.clip);
    };
  else
    f.fill = [](CKLF_3D_SurfaceBase* self, Record& r, const KLF_3D_HQTriangle& t) {
      static_cast<CKLF_3D_Surface2*>(self)->RenderHQ_Opt_FillTriangleMesh(&r, t.p[0], t.p[1], t.p[2], t.t[0], t.t[1],
                                                                          t.t[2], t.bump, t.clip);
    };
  if (!i_HQCheck(f)) return 0;
  const u64 texels = static_cast<u64>(tex.width) * tex.height;
  for (u32 i = 0; i < Light_Count(); ++i) {
    Light& l = *Light_GetRecord(i);
    l.shadowActive = useShadows && l.source.castsShadow && l.MapFor(texels) ? 1 : 0;
  }
  return i_RenderHQ(f);
}

u8 CKLF_3D_Surface2::RenderHQ_Opt_InterpolatedShading(u8 s, u8 count, const HQ_DESTINATION& dst, const HQ_TEXTURE& tex,
                                                      const HQ_BUMP& bump, kltRECT_s clip) {
  KLF_3D_HQFrame f = klHQFrame(s, count, dst, tex, bump, clip);
  f.k = -1.0f, f.phong = 1;
  f.fill = [](CKLF_3D_SurfaceBase* self, Record& r, const KLF_3D_HQTriangle& t) {
    const CKLF_3D_Surface2* me = static_cast<CKLF_3D_Surface2*>(self);
    klHQFill<f32, false, true>(r, t, [me, &t](Record& d) {
      if (t.bump)
        me->int_DrawYLine_HQMapping_Opt_1Light_8_Bump_Phong(&d);
      else
        me->int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Phong(&d);
    });
  };
  if (!i_HQCheck(f)) return 0;
  for (u32 i = 0; i < Light_Count(); ++i) Light_GetRecord(i)->shadowActive = 0;
  return i_RenderHQ(f);
}
