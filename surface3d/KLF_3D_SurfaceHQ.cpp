// The first class's HQ renderers: fills, spans and lighting.
#include <algorithm>
#include <cmath>

#include "CKLF_3D_Surface.h"
#include "KLF_3D_HQ.h"

namespace {

typedef CKLF_3D_SurfaceBase::HQ_RENDERER_DATA Record;
typedef CKLF_3D_Surface::LIGHT_SRC Light;

f32 ShadowOf(const Light& l, const Record& r) {
  return klHQShadow(l.LIGHT_BASE::shadowMap, l.shadowActive, r.mapTexel, l.shadowStrength);
}

}  // namespace

// ---- lighting ----

void CKLF_3D_Surface::int_ApplyLight_HQMapping_Opt_8(HQ_RENDERER_DATA* r) const {
  const klt3D_VECTOR& n = r->n;
  const bool front = r->frontFacing != 0;
  f32 level[4];
  if (r->k >= 0.0f) {
    const f32 l = r->k * (std::max(0.0f, front ? n.z : -n.z) - 1.0f) + 1.0f;
    std::fill(level, level + 4, l);
  } else {
    const Light& l = *static_cast<const Light*>(r->light);
    if (!klHQCached(*r)) {
      const klt3D_VECTOR& L = l.direction;
      const f32 d = n.x * L.x + n.y * L.y + n.z * L.z;
      const f32 rx = 2.0f * d * n.x - L.x, ry = 2.0f * d * n.y - L.y, rz = 2.0f * d * n.z - L.z;
      const f32 s = std::max(0.0f, rx * L.x + ry * L.y + rz * L.z), mix = l.lightingMix / 100.0f;
      // An exponent below 1 would make an unlit highlight infinite.
      const f64 e = std::max(1, m_matShading + 101);
      const f32 i =
          std::max(0.0f, (1.0f - mix) * static_cast<f32>(std::pow(static_cast<f64>(s), e)) + mix * (front ? d : -d));
      klHQCache(*r, &i, 1);
    }
    const f32 share = ShadowOf(l, *r) * r->lit[0];
    for (int c = 0; c < 4; ++c) level[c] = m_ambient[c] + share * l.premulColour[c];
  }
  klHQWrite<klHQConvert>(*r, level);
}

void CKLF_3D_Surface::int_ApplyLight_HQMapping_8(HQ_RENDERER_DATA* r) const {
  if (klHQCached(*r)) return klHQWrite<klHQConvert>(*r, r->lit);
  const klt3D_VECTOR& n = r->n;
  const f32 nl = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
  f32 level[4] = {m_ambient[0], m_ambient[1], m_ambient[2], m_ambient[3]};
  bool shadowed = false;
  for (u32 k = 0; k < Light_Count(); ++k) {
    const Light& l = *Light_GetRecord(k);
    if (!l.enabled) continue;
    const klt3D_VECTOR& L = l.direction;
    const f32 ll = std::sqrt(L.x * L.x + L.y * L.y + L.z * L.z);
    f32 c = (L.x / ll) * (n.x / nl) + (L.y / ll) * (n.y / nl) + (L.z / ll) * (n.z / nl);
    if (!r->frontFacing) c = -c;
    const f32 f =
        c >= 0.0f ? 1.0f - (1.0f - static_cast<f32>(std::pow(static_cast<f64>(c), m_cosPower))) * l.lightingMix / 100.0f
                  : 0.0f;
    const f32 shadow = ShadowOf(l, *r);
    shadowed = shadowed || l.shadowActive;
    for (int i = 0; i < 4; ++i) level[i] += f * l.premulColour[i] * shadow;
  }
  if (!shadowed) klHQCache(*r, level, 4);
  klHQWrite<klHQConvert>(*r, level);
}

// ---- spans ----

void CKLF_3D_Surface::int_DrawYLine_HQMapping_Opt_1Light_8_NoBump(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQFaceNormal, KLF_3D_HQAffine>(*r, [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface::int_DrawYLine_HQMapping_Opt_1Light_8_Bump(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQBumpNormal<false>, KLF_3D_HQAffine>(*r, [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface::int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Perspective(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQFaceNormal, KLF_3D_HQPerspective<f32>>(*r,
                                                           [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface::int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Phong(HQ_RENDERER_DATA* r) const {
  klHQSpan<KLF_3D_HQPhongNormal, KLF_3D_HQAffine>(*r, [this](Record& d) { int_ApplyLight_HQMapping_Opt_8(&d); });
}

void CKLF_3D_Surface::int_DrawYLine_HQMapping_Opt_1Light_8_Bump_Phong(HQ_RENDERER_DATA* r) const {
  int_DrawYLine_HQMapping_Opt_1Light_8_Bump(r);  // the bump tilts the face normal
}

void CKLF_3D_Surface::int_DrawYLine_HQMapping_8(HQ_RENDERER_DATA* r) const {
  auto light = [this](HQ_RENDERER_DATA& d) { int_ApplyLight_HQMapping_8(&d); };
  if (r->bump)
    klHQSpan<KLF_3D_HQBumpNormal<false>, KLF_3D_HQAffine>(*r, light);
  else
    klHQSpan<KLF_3D_HQFaceNormal, KLF_3D_HQAffine>(*r, light);
}

// ---- fills ----

void CKLF_3D_Surface::RenderHQ_Opt_FillTriangleMesh(HQ_RENDERER_DATA* r, klt3D_VERTEX p0, klt3D_VERTEX p1,
                                                    klt3D_VERTEX p2, klt2D_VERTEX t0, klt2D_VERTEX t1, klt2D_VERTEX t2,
                                                    u8 bump, kltRECT_s clip) {
  klHQFill<f32, false, false>(*r, klHQTriangle({p0, p1, p2}, {t0, t1, t2}, bump, clip),
                              [this, bump](HQ_RENDERER_DATA& d) {
                                if (bump)
                                  int_DrawYLine_HQMapping_Opt_1Light_8_Bump(&d);
                                else
                                  int_DrawYLine_HQMapping_Opt_1Light_8_NoBump(&d);
                              });
}

void CKLF_3D_Surface::RenderHQ_Opt_FillTriangleMesh_PerspectiveMapping(HQ_RENDERER_DATA* r, klt3D_VERTEX p0,
                                                                       klt3D_VERTEX p1, klt3D_VERTEX p2, f64 w0, f64 w1,
                                                                       f64 w2, klt2D_VERTEX t0, klt2D_VERTEX t1,
                                                                       klt2D_VERTEX t2, u8 bump, kltRECT_s clip) {
  KLF_3D_HQTriangle tri = klHQTriangle({p0, p1, p2}, {t0, t1, t2}, bump, clip);
  tri.w[0] = w0, tri.w[1] = w1, tri.w[2] = w2;
  klHQFill<f32, true, false>(
      *r, tri, [this](HQ_RENDERER_DATA& d) { int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Perspective(&d); });
}

// ---- renderers ----

void CKLF_3D_Surface::i_PrepareShadow(LIGHT_SRC* l, u8 useShadows, u64 texels) {
  l->shadowActive = useShadows && l->useShadowMap && l->MapFor(texels) ? 1 : 0;
}

u8 CKLF_3D_Surface::i_RenderHQ_Light0(KLF_3D_HQFrame& f, u8 useShadows) {
  if (!i_HQCheck(f)) return 0;
  if (!(f.k >= 0.0f) && !Light_Count()) return Fail(klErrBadArg);  // lit by a light that is not there
  if (Light_Count()) {
    i_PrepareShadow(Light_GetRecord(0), useShadows, static_cast<u64>(f.tex.width) * f.tex.height);
    f.light = Light_GetRecord(0);
  }
  return i_RenderHQ(f);
}

u8 CKLF_3D_Surface::RenderHQ_Opt(u8 perspective, klt3D_VERTEX eye, u8 centre, u8 useShadows, u8 s, u8 count,
                                 const HQ_DESTINATION& dst, const HQ_TEXTURE& tex, const HQ_BUMP& bump, kltRECT_s clip,
                                 f32 level) {
  KLF_3D_HQFrame f = klHQFrame(s, count, dst, tex, bump, clip);
  f.k = level / 100.0f;
  f.perspective = perspective ? 1 : 0, f.eye = eye, f.centre = centre;
  if (perspective)
    f.fill = [](CKLF_3D_SurfaceBase* self, HQ_RENDERER_DATA& r, const KLF_3D_HQTriangle& t) {
      static_cast<CKLF_3D_Surface*>(self)->RenderHQ_Opt_FillTriangleMesh_PerspectiveMapping(
          &r, t.p[0], t.p[1], t.p[2], t.w[0], t.w[1], t.w[2], t.t[0], t.t[1], t.t[2], t.bump, t.clip);
    };
  else
    f.fill = [](CKLF_3D_SurfaceBase* self, HQ_RENDERER_DATA& r, const KLF_3D_HQTriangle& t) {
      static_cast<CKLF_3D_Surface*>(self)->RenderHQ_Opt_FillTriangleMesh(&r, t.p[0], t.p[1], t.p[2], t.t[0], t.t[1],
                                                                         t.t[2], t.bump, t.clip);
    };
  return i_RenderHQ_Light0(f, useShadows);
}

u8 CKLF_3D_Surface::RenderHQ_Opt_1Light_8_Phong(u8 useShadows, u8 s, u8 count, const HQ_DESTINATION& dst,
                                                const HQ_TEXTURE& tex, const HQ_BUMP& bump, kltRECT_s clip) {
  KLF_3D_HQFrame f = klHQFrame(s, count, dst, tex, bump, clip);
  f.k = -1.0f, f.phong = 1;
  f.fill = [](CKLF_3D_SurfaceBase* self, HQ_RENDERER_DATA& r, const KLF_3D_HQTriangle& t) {
    const CKLF_3D_Surface* me = static_cast<CKLF_3D_Surface*>(self);
    klHQFill<f32, false, true>(r, t, [me, &t](HQ_RENDERER_DATA& d) {
      if (t.bump)
        me->int_DrawYLine_HQMapping_Opt_1Light_8_Bump_Phong(&d);
      else
        me->int_DrawYLine_HQMapping_Opt_1Light_8_NoBump_Phong(&d);
    });
  };
  return i_RenderHQ_Light0(f, useShadows);
}

u8 CKLF_3D_Surface::RenderHQ(u8 useShadows, u8 s, u8 count, u8 wide, const HQ_DESTINATION& dst, const HQ_TEXTURE& tex,
                             const HQ_BUMP& bump, kltRECT_s clip) {
  // Wide samples have no merge or resolve to give them a meaning yet.
  if (wide) return Fail(klErrUnsupported);
  KLF_3D_HQFrame f = klHQFrame(s, count, dst, tex, bump, clip);
  f.tex.front.solid = f.tex.back.solid = 0;
  f.tileBase = 600, f.progress = 0, f.hqComposite = 1, f.k = -1.0f;
  f.fill = [](CKLF_3D_SurfaceBase* self, HQ_RENDERER_DATA& r, const KLF_3D_HQTriangle& t) {
    const CKLF_3D_Surface* me = static_cast<CKLF_3D_Surface*>(self);
    klHQFill<f32, false, false>(r, t, [me](HQ_RENDERER_DATA& d) { me->int_DrawYLine_HQMapping_8(&d); });
  };
  if (!i_HQCheck(f)) return 0;
  for (u32 i = 0; i < Light_Count(); ++i)
    if (Light_GetRecord(i)->enabled)
      i_PrepareShadow(Light_GetRecord(i), useShadows, static_cast<u64>(tex.width) * tex.height);
  return i_RenderHQ(f);
}
