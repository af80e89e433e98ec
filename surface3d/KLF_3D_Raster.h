// Private to the surface renderer's rasterisers: the render target that
// the fills, spans and mesh lines share, the screen point of a vertex and
// the clip of a rectangle to an image.
#pragma once

#include <algorithm>

#include "CKLF_3D_SurfaceBase.h"
#include "KLF_3D_Numeric.h"

struct KLF_3D_RasterTarget {
  typedef CKLF_3D_SurfaceBase::ZBUFFER_ELEMENT ZBUFFER_ELEMENT;
  u8* plane[4];  // red, green, blue, alpha; row stride = image width
  u32 stride;
  kltRECT_s clip;      // inside the image, not empty
  ZBUFFER_ELEMENT* z;  // one element per clip pixel, row stride = clip width
  u32 zStride;
  // Draft texture mapping: texture planes of one size, row stride = width.
  const u8* front[4];
  const u8* back[3];
  u32 texW;
  u32 texH;
  // Per triangle of the draft renderer.
  u8 frontFacing;
  f64 shade;
  i64 offX;  // texel = pixel - offset on the simple path
  i64 offY;
};

struct KLF_3D_ScreenVertex {
  i32 x;
  i32 y;
  f32 z;
  f32 u;  // mapping coordinates, transformed draft path only
  f32 v;
};

// The rectangle cut to the image (klNullRect = whole image); false when
// nothing remains.
bool klClipToImage(const CKLF_Image* image, kltRECT_s r, kltRECT_s& out);

// Value along the edge from a to b, k of h rows down.
inline f32 klScanLerp(f32 a, f32 b, i64 k, i64 h) { return a + (b - a) * static_cast<f32>(k) / static_cast<f32>(h); }

// Rows of the triangle inside the clip, top point's row included, bottom
// point's row excluded; each row's two edge ends go to emit(y, left end,
// right end) unless they meet. kMap interpolates u and v as well.
template <bool kMap, class Emit>
void klScanTriangle(const KLF_3D_ScreenVertex* p, const kltRECT_s& clip, Emit emit) {
  typedef KLF_3D_ScreenVertex SV;
  const SV* s[3] = {p, p + 1, p + 2};
  if (s[1]->y < s[0]->y) std::swap(s[0], s[1]);
  if (s[2]->y < s[1]->y) std::swap(s[1], s[2]);
  if (s[1]->y < s[0]->y) std::swap(s[0], s[1]);
  const SV &T = *s[0], &M = *s[1], &B = *s[2];
  const i64 h1 = static_cast<i64>(M.y) - T.y, h2 = static_cast<i64>(B.y) - M.y, H = static_cast<i64>(B.y) - T.y;
  // Rows yFrom..yTo-1 of the part whose short edge runs from a to b.
  auto part = [&](const SV& a, const SV& b, i64 h, i32 yFrom, i32 yTo) {
    for (i32 y = yFrom; y < yTo; ++y) {
      const i64 ka = static_cast<i64>(y) - a.y, kb = static_cast<i64>(y) - T.y;
      SV e0 = {}, e1 = {};  // short edge, long edge
      e0.x = klEdgeX(a.x, static_cast<i64>(b.x) - a.x, ka, h);
      e1.x = klEdgeX(T.x, static_cast<i64>(B.x) - T.x, kb, H);
      if (e0.x == e1.x) continue;
      e0.z = klScanLerp(a.z, b.z, ka, h);
      e1.z = klScanLerp(T.z, B.z, kb, H);
      if (kMap) {
        e0.u = klScanLerp(a.u, b.u, ka, h);
        e0.v = klScanLerp(a.v, b.v, ka, h);
        e1.u = klScanLerp(T.u, B.u, kb, H);
        e1.v = klScanLerp(T.v, B.v, kb, H);
      }
      if (e0.x < e1.x)
        emit(y, e0, e1);
      else
        emit(y, e1, e0);
    }
  };
  if (h1 > 0) part(T, M, h1, std::max(T.y, clip.top), std::min(M.y, clip.bottom));
  if (h2 > 0) part(M, B, h2, std::max(M.y, clip.top), std::min(B.y, clip.bottom));
}
