// Planar test pictures for the effect engine: planes in one block, a row
// stride that may exceed the width (the gap holds a sentinel that effects
// must leave alone), random and shaped contents.
#pragma once

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CKLF_ImageFX.h"

namespace fxtest {

constexpr u8 kGap = 0xA5;

struct Pic {
  u32 w = 0, h = 0, stride = 0;
  u8 count = 0, alpha = 0;
  std::vector<u8> data;

  Pic() {}
  Pic(u32 w_, u32 h_, u8 count_, u8 alpha_, u32 gap = 0, u8 fill = 0)
      : w(w_), h(h_), stride(w_ + gap), count(count_), alpha(alpha_),
        data(static_cast<size_t>(stride) * h * count, kGap) {
    for (u8 p = 0; p < count; ++p)
      for (u32 y = 0; y < h && w > 0; ++y) std::memset(Row(p, y), fill, w);
  }
  u8* Plane(u8 p) { return data.data() + static_cast<size_t>(p) * stride * h; }
  const u8* Plane(u8 p) const { return data.data() + static_cast<size_t>(p) * stride * h; }
  u8* Row(u8 p, u32 y) { return Plane(p) + static_cast<size_t>(y) * stride; }
  const u8* Row(u8 p, u32 y) const { return Plane(p) + static_cast<size_t>(y) * stride; }
  u8& At(u8 p, u32 x, u32 y) { return Row(p, y)[x]; }
  u8 At(u8 p, u32 x, u32 y) const { return Row(p, y)[x]; }
  Pic Blank() const { return Pic(w, h, count, alpha, stride - w, 0); }

  void Randomise(std::mt19937& rng) {
    for (u8 p = 0; p < count; ++p)
      for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x) At(p, x, y) = static_cast<u8>(rng());
  }
  // True when every sample of the planes (and the row gaps) is equal.
  bool SameAs(const Pic& o) const { return data == o.data; }
  bool PlaneSame(const Pic& o, u8 p) const {
    for (u32 y = 0; y < h; ++y)
      if (std::memcmp(Row(p, y), o.Row(p, y), w) != 0) return false;
    return true;
  }
  bool GapsIntact() const {
    for (u8 p = 0; p < count; ++p)
      for (u32 y = 0; y < h; ++y)
        for (u32 x = w; x < stride; ++x)
          if (Row(p, y)[x] != kGap) return false;
    return true;
  }
};

inline void Bind(CKLF_ImageFX& fx, Pic& src, Pic& dst) {
  ASSERT_TRUE(
      fx.SetSource(src.data.data(), src.stride, src.count, src.alpha, static_cast<u16>(src.w), static_cast<u16>(src.h)));
  ASSERT_TRUE(fx.SetDestination(dst.data.data(), dst.stride, dst.count, dst.alpha, static_cast<u16>(dst.w),
                                static_cast<u16>(dst.h)));
}

// Alpha of blobs: opaque inside random discs, soft rims, transparent
// elsewhere, with a sprinkling of stray partial values.
inline void BlobAlpha(Pic& pic, std::mt19937& rng, u32 blobs) {
  const u8 a = static_cast<u8>(pic.count - 1);
  for (u32 y = 0; y < pic.h; ++y) std::memset(pic.Row(a, y), 0, pic.w);
  for (u32 b = 0; b < blobs; ++b) {
    const f64 cx = rng() % (pic.w + 1), cy = rng() % (pic.h + 1);
    const f64 r = 2.0 + rng() % (1 + (pic.w + pic.h) / 4);
    for (u32 y = 0; y < pic.h; ++y)
      for (u32 x = 0; x < pic.w; ++x) {
        const f64 d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
        const f64 v = (r - d) * 120.0;
        const u8 nv = v >= 255.0 ? 255 : (v <= 0.0 ? 0 : static_cast<u8>(v));
        if (nv > pic.At(a, x, y)) pic.At(a, x, y) = nv;
      }
  }
  for (u32 i = 0; i < pic.w * pic.h / 40; ++i) pic.At(a, rng() % pic.w, rng() % pic.h) = static_cast<u8>(rng());
}

}  // namespace fxtest
