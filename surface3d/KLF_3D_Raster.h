// Private to the surface renderer's rasterisers: the render target that
// the fills, spans and mesh lines share, the screen point of a vertex and
// the clip of a rectangle to an image.
#pragma once

#include "CKLF_3D_SurfaceBase.h"

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
