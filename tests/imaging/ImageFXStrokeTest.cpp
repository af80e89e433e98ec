#include <gtest/gtest.h>

#include "imaging/FXTestImage.h"

using fxtest::Bind;
using fxtest::Pic;

namespace {

// The stroke as literally described: every edge pixel stamps its whole
// window. Slow (edge pixels times (2w + 1)^2) but obviously right.
Pic RefStroke(const Pic& src, const u8* colour, u8 width, u8 opacity) {
  Pic dst = src.Blank();
  const u32 W = src.w, H = src.h;
  const u8 last = static_cast<u8>(src.count - 1);
  if (width == 0) return src;
  std::vector<u8> cov(W * H, 0);
  auto a = [&](i32 x, i32 y) -> i32 {
    if (x < 0 || y < 0 || x >= static_cast<i32>(W) || y >= static_cast<i32>(H)) return 0;
    return src.At(last, x, y);
  };
  auto border = [&](u32 x, u32 y) { return x == 0 || y == 0 || x + 1 == W || y + 1 == H; };
  if (width == 1) {
    for (u32 y = 0; y < H; ++y)
      for (u32 x = 0; x < W; ++x) {
        if (a(x, y) != 255 || border(x, y)) {
          cov[y * W + x] = 255;
          continue;
        }
        i32 mn = 255;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (dx || dy) mn = std::min(mn, a(x + dx, y + dy));
        cov[y * W + x] = static_cast<u8>(255 - mn);
      }
  } else {
    const i32 w = width, d = 2 * w + 1;
    std::vector<u8> m0(d * d), small((d - 2) * (d - 2)), m1(d * d, 0);
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, m0.data(), w);
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, small.data(), w - 1);
    for (i32 r = 0; r < d - 2; ++r)
      for (i32 c = 0; c < d - 2; ++c) m1[(r + 1) * d + c + 1] = small[r * (d - 2) + c];
    for (u32 y = 0; y < H; ++y)
      for (u32 x = 0; x < W; ++x) {
        const i32 ax = a(x, y);
        if (ax == 255 && !border(x, y)) continue;
        cov[y * W + x] = 255;
        if (a(x - 1, y) != 255 && a(x + 1, y) != 255 && a(x, y - 1) != 255 && a(x, y + 1) != 255) continue;
        for (i32 v = static_cast<i32>(y) - w; v <= static_cast<i32>(y) + w; ++v)
          for (i32 u = static_cast<i32>(x) - w; u <= static_cast<i32>(x) + w; ++u) {
            if (u < 0 || v < 0 || u >= static_cast<i32>(W) || v >= static_cast<i32>(H)) continue;
            const i32 k = (v - static_cast<i32>(y) + w) * d + (u - static_cast<i32>(x) + w);
            const i32 s = m0[k] - (ax * (m0[k] - m1[k])) / 255;
            u8& c = cov[v * W + u];
            if (s > c) c = static_cast<u8>(s);
          }
      }
  }
  for (u8 p = 0; p < last; ++p)
    for (u32 y = 0; y < H; ++y)
      for (u32 x = 0; x < W; ++x) {
        const i32 s = src.At(p, x, y), k = cov[y * W + x];
        dst.At(p, x, y) = static_cast<u8>(opacity == 255 ? s + (k * (colour[p] - s)) / 255
                                                         : s + (k * opacity * (colour[p] - s)) / 65025);
      }
  for (u32 y = 0; y < H; ++y) std::memcpy(dst.Row(last, y), src.Row(last, y), W);
  return dst;
}

Pic Stroke(Pic& src, const u8* colour, u8 width, u8 opacity) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  EXPECT_EQ(fx.StrokeInside(colour, width, opacity), 1) << fx.GetError();
  return dst;
}

}  // namespace

TEST(ImageFXStroke, DiscMatrices) {
  u8 m[25];
  CKLF_ImageFX::Stroke_FillCircleMatrix(3, m, 1);
  const u8 one[9] = {164, 192, 164, 192, 224, 192, 164, 192, 164};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(m[i], one[i]) << i;
  CKLF_ImageFX::Stroke_FillCircleMatrix(3, m, 2);
  const u8 two[25] = {60,  208, 216, 208, 60,  208, 255, 255, 255, 208, 216, 255, 255,
                      255, 216, 208, 255, 255, 255, 208, 60,  208, 216, 208, 60};
  for (int i = 0; i < 25; ++i) EXPECT_EQ(m[i], two[i]) << i;
}

TEST(ImageFXStroke, FastFormEqualsWindowStamping) {
  std::mt19937 rng(17);
  for (int round = 0; round < 60; ++round) {
    const u8 count = round % 3 == 0 ? 2 : 4;
    Pic src(1 + rng() % 48, 1 + rng() % 40, count, 1, rng() % 3);
    src.Randomise(rng);
    if (round % 5 != 4) fxtest::BlobAlpha(src, rng, 1 + rng() % 4);
    const u8 colour[4] = {static_cast<u8>(rng()), static_cast<u8>(rng()), static_cast<u8>(rng()), 0};
    const u8 width = static_cast<u8>(round < 50 ? 1 + round % 12 : 20 + rng() % 236);
    const u8 opacity = round % 4 == 0 ? 255 : static_cast<u8>(rng());
    Pic got = Stroke(src, colour, width, opacity);
    ASSERT_TRUE(got.SameAs(RefStroke(src, colour, width, opacity)))
        << src.w << "x" << src.h << " width " << int(width) << " opacity " << int(opacity);
  }
}

TEST(ImageFXStroke, OpaqueRectangleAndDisc) {
  const u8 red[3] = {255, 0, 0};
  // Width 1 over an image that is opaque everywhere colours exactly the
  // outermost rows and columns.
  Pic full(10, 8, 4, 1, 1, 40);
  for (u32 y = 0; y < 8; ++y) std::memset(full.Row(3, y), 255, 10);
  Pic out = Stroke(full, red, 1, 255);
  for (u32 y = 0; y < 8; ++y)
    for (u32 x = 0; x < 10; ++x) {
      const bool edge = x == 0 || y == 0 || x == 9 || y == 7;
      ASSERT_EQ(out.At(0, x, y), edge ? 255 : 40) << x << "," << y;
      ASSERT_EQ(out.At(1, x, y), edge ? 0 : 40);
    }

  // Width 3 on an opaque disc over transparency: a band inside the edge,
  // nothing deeper than the width, alpha unchanged.
  Pic disc(41, 41, 4, 1, 0, 100);
  for (u32 y = 0; y < 41; ++y)
    for (u32 x = 0; x < 41; ++x) {
      const f64 dd = std::hypot(x - 20.0, y - 20.0);
      disc.At(3, x, y) = dd <= 15.0 ? 255 : (dd >= 16.0 ? 0 : static_cast<u8>((16.0 - dd) * 255));
    }
  Pic band = Stroke(disc, red, 3, 255);
  EXPECT_TRUE(band.PlaneSame(disc, 3));
  for (u32 y = 0; y < 41; ++y)
    for (u32 x = 0; x < 41; ++x) {
      const f64 dd = std::hypot(x - 20.0, y - 20.0);
      if (dd < 15.0 - 3.0 - 1.5) {
        ASSERT_EQ(band.At(0, x, y), 100) << x << "," << y;
      }
      if (dd > 13.2 && dd < 15.0) {
        ASSERT_GT(band.At(0, x, y), 150) << x << "," << y;
      }
    }
  EXPECT_GT(band.At(0, 20, 8), band.At(0, 20, 9));  // fading at the inner rim

  Pic none = Stroke(disc, red, 3, 0);
  EXPECT_TRUE(none.SameAs(disc));
  Pic copy = Stroke(disc, red, 0, 255);
  EXPECT_TRUE(copy.SameAs(disc));
}

TEST(ImageFXStroke, RefusesWithoutAlphaOrColour) {
  const u8 c[3] = {1, 2, 3};
  Pic rgb(5, 5, 3, 0), out(5, 5, 3, 0);
  CKLF_ImageFX fx;
  Bind(fx, rgb, out);
  EXPECT_EQ(fx.StrokeInside(c, 2, 255), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);
  Pic rgba(5, 5, 4, 1), o2(5, 5, 4, 1);
  Bind(fx, rgba, o2);
  fx.ResetError();
  EXPECT_EQ(fx.StrokeInside(nullptr, 2, 255), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);
  std::vector<u8> a(16), b(16);
  fx.SetSource(a.data(), 1, 4, 1, 0, 3);  // no columns
  fx.SetDestination(b.data(), 1, 4, 1, 0, 3);
  fx.ResetError();
  EXPECT_EQ(fx.StrokeInside(c, 2, 255), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);
}
