// Mesh and image helpers of the surface renderer tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "CKLF_3D_Surface.h"

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
