#include <gtest/gtest.h>

#include <functional>

#include "CKLF_Image.h"
#include "imaging/FXTestImage.h"

using fxtest::Bind;
using fxtest::Pic;

TEST(ImageFX, BlockAndImageDescriptors) {
  CKLF_ImageFX fx;
  std::vector<u8> block(10 * 4 * 3);
  ASSERT_EQ(fx.SetDestination(block.data(), 10, 3, 0, 8, 4), 1);
  u8* planes[5];
  u32 stride;
  u8 count, alpha;
  i32 w, h;
  ASSERT_EQ(fx.GetDestination(planes, stride, count, alpha, w, h), 1);
  EXPECT_EQ(planes[1], block.data() + 40);
  EXPECT_EQ(planes[2], block.data() + 80);
  EXPECT_EQ(stride, 10u);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(w, 8);
  EXPECT_EQ(h, 4);
  EXPECT_EQ(fx.SetSource(static_cast<u8*>(nullptr), 10, 3, 0, 8, 4), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);

  CKLF_Image img;
  ASSERT_EQ(img.Create(6, 5, 2), 1);
  fx.ResetError();
  ASSERT_EQ(fx.SetDestination(&img), 1);
  fx.GetDestination(planes, stride, count, alpha, w, h);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(alpha, 1);
  EXPECT_EQ(stride, 6u);
  EXPECT_EQ(planes[0], img.GetMemObj()->GetPtr());
  EXPECT_EQ(planes[3], img.GetMemObj()->GetPtr() + 3 * 30);
  EXPECT_EQ(fx.SetSource(static_cast<CKLF_Image*>(nullptr)), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);
  CKLF_Image empty;
  EXPECT_EQ(fx.SetSource(&empty), 0);

  // An image pair runs an effect end to end.
  CKLF_Image src;
  ASSERT_EQ(src.Create(6, 5, 2), 1);
  src.Set(kltRGBA8{10, 20, 30, 40}, 0x0F, klNullRect);
  ASSERT_EQ(fx.SetSource(&src), 1);
  ASSERT_EQ(fx.Invert(), 1);
  const kltRGBA8 px = img.GetPixel(5, 4);
  EXPECT_EQ(px.red, 245);
  EXPECT_EQ(px.blue, 225);
  EXPECT_EQ(px.alpha, 40);
}

TEST(ImageFX, MismatchedDescriptorsLeaveDestinationUntouched) {
  Pic src(12, 9, 4, 1), dst(12, 9, 3, 0);
  std::mt19937 rng(1);
  src.Randomise(rng);
  dst.Randomise(rng);
  const Pic before = dst;
  const u8 colour[4] = {1, 2, 3, 4};
  klt3D_VECTOR light = {1, 1, 1};
  const std::vector<std::function<u8(CKLF_ImageFX&)>> effects = {
      [](CKLF_ImageFX& f) { return f.GaussianBlur(2, 0, 1); },
      [](CKLF_ImageFX& f) { return f.MotionBlur(30, 2, 0, 1); },
      [](CKLF_ImageFX& f) { return f.HSLCorrection(10, 10, 10, 1); },
      [](CKLF_ImageFX& f) { return f.BrightnessContrast(10, 10, 128); },
      [&](CKLF_ImageFX& f) { return f.ColorOverlay(colour, 100); },
      [](CKLF_ImageFX& f) { return f.Invert(); },
      [](CKLF_ImageFX& f) { return f.Combine_DonStoD(100); },
      [&](CKLF_ImageFX& f) { return f.StrokeInside(colour, 3, 255); },
      [&](CKLF_ImageFX& f) { return f.Bevel(5, 100, 1, light, colour, 255, colour, 255); },
      [](CKLF_ImageFX& f) { return f.Resize(0); },
      [](CKLF_ImageFX& f) { return f.Resize_Int_ZO(0); },
      [](CKLF_ImageFX& f) { return f.Tile(); },
      [](CKLF_ImageFX& f) { return f.filter_UnsharpenMaskNormal(0); },
  };
  for (size_t i = 0; i < effects.size(); ++i) {
    CKLF_ImageFX fx;
    Bind(fx, src, dst);
    EXPECT_EQ(effects[i](fx), 0) << i;
    EXPECT_EQ(fx.GetError(), klErrBadArg) << i;
    EXPECT_TRUE(dst.SameAs(before)) << i;
  }
  // Same counts but another size: only the geometric operations accept it.
  Pic other(7, 5, 4, 1);
  CKLF_ImageFX fx;
  Bind(fx, src, other);
  EXPECT_EQ(fx.Invert(), 0);
  EXPECT_EQ(fx.Resize(1), 1);
}

TEST(ImageFX, ConvertSourceToGray) {
  Pic single(3, 2, 1, 0, 0, 77);
  const Pic keep = single;
  CKLF_ImageFX fx;
  Bind(fx, single, single);
  fx.SetError(5);
  EXPECT_EQ(fx.ConvertSourceToGray(), 0);
  EXPECT_EQ(fx.GetError(), 5);  // left as it was
  EXPECT_TRUE(single.SameAs(keep));

  for (u8 alpha : {0, 1}) {
    Pic rgb(4, 3, alpha ? 4 : 3, alpha, 1);
    for (u32 y = 0; y < 3; ++y)
      for (u32 x = 0; x < 4; ++x) {
        rgb.At(0, x, y) = 10;
        rgb.At(1, x, y) = 20;
        rgb.At(2, x, y) = 31;
        if (alpha) rgb.At(3, x, y) = 99;
      }
    CKLF_ImageFX g;
    Bind(g, rgb, rgb);
    ASSERT_EQ(g.ConvertSourceToGray(), 1);
    for (u8 p = 0; p < 3; ++p) EXPECT_EQ(rgb.At(p, 3, 2), 20);
    if (alpha) {
      EXPECT_EQ(rgb.At(3, 3, 2), 99);
    }
    EXPECT_TRUE(rgb.GapsIntact());
  }
  Pic four(2, 2, 4, 0);  // four colour planes: refused
  CKLF_ImageFX g;
  Bind(g, four, four);
  EXPECT_EQ(g.ConvertSourceToGray(), 0);
}
