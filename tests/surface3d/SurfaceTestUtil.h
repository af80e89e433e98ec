// Mesh and image helpers of the surface renderer tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "CKLF_3D_Surface.h"
#include "support/TestSupport.h"

namespace s3dtest {

struct Tri {
  u32 a, b, c;
  u8 flags;
};

// Replaces the surface's mesh by these vertices and triangles.
inline void SetMesh(CKLF_3D_SurfaceBase& s, const std::vector<klt3D_VERTEX>& v, const std::vector<Tri>& t) {
  ASSERT_EQ(s.Create(static_cast<u32>(v.size()), static_cast<u32>(t.size())), 1);
  for (u32 i = 0; i < v.size(); ++i) *s.GetVertex(i) = v[i];
  for (u32 i = 0; i < t.size(); ++i)
    *s.GetTriMesh(i) = CKLF_3D_SurfaceBase::TRIMESH{{t[i].a, t[i].b, t[i].c}, t[i].flags};
}

// A w x h quad at depth z of two triangles, front-facing or turned away.
inline void Quad(std::vector<klt3D_VERTEX>& v, std::vector<Tri>& t, f32 x, f32 y, f32 w, f32 h, f32 z, bool front) {
  const u32 b = u32(v.size());
  v.insert(v.end(), {{x, y, z}, {x + w, y, z}, {x + w, y + h, z}, {x, y + h, z}});
  if (front)
    t.insert(t.end(), {{b + 3, b + 1, b, 0}, {b + 3, b + 2, b + 1, 0}});
  else
    t.insert(t.end(), {{b, b + 1, b + 3, 0}, {b + 1, b + 2, b + 3, 0}});
}

// Mapping from the current x, y, vertices first..last-1 mapped (du, dv)
// further on.
inline void MapShifted(CKLF_3D_SurfaceBase& s, u32 first, u32 last, f32 du, f32 dv) {
  for (u32 i = first; i < last; ++i) s.GetVertex(i)->x += du, s.GetVertex(i)->y += dv;
  ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
  for (u32 i = first; i < last; ++i) s.GetVertex(i)->x -= du, s.GetVertex(i)->y -= dv;
}

// An enabled white first-class light: lit by half highlight, half diffuse,
// its shadows (map, taken on a change, and background) at full strength.
inline CKLF_3D_Surface::LIGHT_SOURCE WhiteLight(const char* name, klt3D_VECTOR dir) {
  CKLF_3D_Surface::LIGHT_SOURCE l = {};
  l.name = name;
  l.enabled = 1;
  l.intensity = 1.0f;
  for (f32& c : l.colour) c = 1.0f;
  l.factor = 100.0f;
  l.lightingMix = 50.0f;
  l.direction = dir;
  l.shadowStrength = 100.0f;
  l.useShadowMap = 1;
  l.bgShadowOn = 1;
  l.bgStrength = 100.0f;
  return l;
}

// An RGBA image filled with one colour.
inline void MakeImage(CKLF_Image& im, u16 w, u16 h, kltRGBA8 fill) {
  ASSERT_EQ(im.Create(w, h, 2), 1);
  im.Set(fill, 255);
}

inline bool Same(kltRGBA8 a, kltRGBA8 b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

// The planes of an image as one byte vector, for whole-image comparisons.
inline std::vector<u8> Bytes(const CKLF_Image& im) {
  const CKLF_Mem* m = im.GetMemObj();
  return std::vector<u8>(m->GetPtr(), m->GetPtr() + m->GetSize());
}

}  // namespace s3dtest
