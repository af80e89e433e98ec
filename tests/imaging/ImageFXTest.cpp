#include <gtest/gtest.h>

#include <functional>

#include "CKLF_Image.h"
#include "imaging/FXTestImage.h"
#include "support/TestSupport.h"

using fxtest::Bind;
using fxtest::Pic;

TEST(ImageFX, BlockAndImageDescriptors) {
  CKLF_ImageFX fx;
  std::vector<u8> block(10 * 4 * 3);
  u8* planes[5];
  u32 stride;
  u8 count, alpha;
  i32 w, h;
  ASSERT_EQ(fx.SetDestination(block.data(), 10, 3, 0, 8, 4), 1);
  ASSERT_TRUE(fx.GetDestination(planes, stride, count, alpha, w, h));
  EXPECT_EQ(planes[2], block.data() + 80);  // plane k at k * stride * height
  EXPECT_FAILS(fx, fx.SetSource(static_cast<u8*>(nullptr), 10, 3, 0, 8, 4), klErrBadArg);
  // An image: mode 2 is four planes with alpha, stride = width.
  CKLF_Image img, src, empty;
  ASSERT_EQ(img.Create(6, 5, 2), 1);
  ASSERT_EQ(fx.SetDestination(&img), 1);
  ASSERT_TRUE(fx.GetDestination(planes, stride, count, alpha, w, h));
  EXPECT_EQ(std::vector<int>({count, alpha, static_cast<int>(stride)}), std::vector<int>({4, 1, 6}));
  EXPECT_EQ(planes[3], img.GetMemObj()->GetPtr() + 3 * 30);
  EXPECT_EQ(fx.SetSource(static_cast<CKLF_Image*>(nullptr)), 0);
  EXPECT_EQ(fx.SetSource(&empty), 0);
  // An image pair runs an effect end to end.
  ASSERT_EQ(src.Create(6, 5, 2), 1);
  src.Set(kltRGBA8{10, 20, 30, 40}, 0x0F, klNullRect);
  ASSERT_EQ(fx.SetSource(&src), 1);
  ASSERT_EQ(fx.Invert(), 1);
  const kltRGBA8 px = img.GetPixel(5, 4);
  EXPECT_EQ(std::vector<int>({px.red, px.blue, px.alpha}), std::vector<int>({245, 225, 40}));
}

TEST(ImageFX, MismatchedOrBadArgumentsAreRefusedAndChangeNothing) {
  const u8 c[4] = {1, 2, 3, 4};
  const auto nan = std::nan("");
  const klt3D_VECTOR light = {1, 1, 1};
  typedef std::function<u8(CKLF_ImageFX&)> Run;
  // Source with alpha, destination without: every effect refuses.
  const Run mismatched[] = {
      [](CKLF_ImageFX& f) { return f.GaussianBlur(2, 0, 1); },
      [](CKLF_ImageFX& f) { return f.MotionBlur(30, 2, 0, 1); },
      [](CKLF_ImageFX& f) { return f.HSLCorrection(10, 10, 10, 1); },
      [](CKLF_ImageFX& f) { return f.BrightnessContrast(10, 10, 128); },
      [&](CKLF_ImageFX& f) { return f.ColorOverlay(c, 100); },
      [](CKLF_ImageFX& f) { return f.Invert(); },
      [](CKLF_ImageFX& f) { return f.Combine_DonStoD(100); },
      [&](CKLF_ImageFX& f) { return f.StrokeInside(c, 3, 255); },
      [&](CKLF_ImageFX& f) { return f.Bevel(5, 100, 1, light, c, 255, c, 255); },
      [](CKLF_ImageFX& f) { return f.Resize(0); },
      [](CKLF_ImageFX& f) { return f.Resize_Int_ZO(0); },
      [](CKLF_ImageFX& f) { return f.Tile(); },
      [](CKLF_ImageFX& f) { return f.filter_UnsharpenMaskNormal(0); },
  };
  // Matching descriptors (planes, alpha) and bad arguments.
  const struct {
    u8 count, alpha;
    Run run;
  } bad[] = {
      {4, 1, [](CKLF_ImageFX& f) { return f.GaussianBlur(std::nan(""), 0, 0); }},
      {4, 1, [](CKLF_ImageFX& f) { return f.MotionBlur(std::nan(""), 2.0, 0, 0); }},
      {4, 1, [](CKLF_ImageFX& f) { return f.MotionBlur(HUGE_VAL, 2.0, 0, 0); }},
      {4, 1, [](CKLF_ImageFX& f) { return f.MotionBlur(10.0, HUGE_VAL, 0, 0); }},
      {4, 0, [](CKLF_ImageFX& f) { return f.HSLCorrection(10, 0, 0, 1); }},  // four colour planes
      {3, 0, [](CKLF_ImageFX& f) { return f.HSLCorrection(181, 0, 0, 1); }},
      {3, 0, [](CKLF_ImageFX& f) { return f.HSLCorrection(0, -101, 0, 1); }},
      {3, 0, [](CKLF_ImageFX& f) { return f.HSLCorrection(0, 0, 101, 1); }},
      {3, 0, [](CKLF_ImageFX& f) { return f.HSLColorize(361, 0, 0, 1); }},
      {3, 0, [](CKLF_ImageFX& f) { return f.HSLColorize(10, -1, 0, 1); }},
      {4, 1, [](CKLF_ImageFX& f) { return f.ColorOverlay(nullptr, 1); }},
      {3, 0, [&](CKLF_ImageFX& f) { return f.StrokeInside(c, 2, 255); }},  // no alpha
      {4, 1, [](CKLF_ImageFX& f) { return f.StrokeInside(nullptr, 2, 255); }},
      {4, 1, [&](CKLF_ImageFX& f) { return f.Bevel(4, 100, 0, klt3D_VECTOR{0, 0, 0}, c, 255, c, 255); }},
      {4, 1, [&](CKLF_ImageFX& f) { return f.Bevel(4, 100, 0, klt3D_VECTOR{0, 0, 1}, nullptr, 255, c, 255); }},
      {4, 1, [&](CKLF_ImageFX& f) { return f.Bevel(4, 100, nan, klt3D_VECTOR{0, 0, 1}, c, 255, c, 255); }},
      {4, 1, [](CKLF_ImageFX& f) { return f.ApplyConvolutionMask(KLFFX_CONVOLUTIONMASK{nullptr, 3, 3}, 0); }},
  };
  std::mt19937 rng(2);
  const size_t n = std::size(mismatched);
  for (size_t i = 0; i < n + std::size(bad); ++i) {
    const bool mis = i < n;
    Pic src(9, 8, mis ? 4 : bad[i - n].count, mis ? 1 : bad[i - n].alpha);
    Pic dst(9, 8, mis ? 3 : src.count, mis ? 0 : src.alpha);
    src.Randomise(rng);
    dst.Randomise(rng);
    const Pic before = dst;
    CKLF_ImageFX fx;
    Bind(fx, src, dst);
    EXPECT_EQ((mis ? mismatched[i] : bad[i - n].run)(fx), 0) << i;
    EXPECT_EQ(fx.GetError(), klErrBadArg) << i;
    EXPECT_TRUE(dst.SameAs(before)) << i;
  }
  // Same counts but another size: only the geometric operations accept it.
  Pic src(9, 8, 4, 1), other(7, 5, 4, 1);
  CKLF_ImageFX fx;
  Bind(fx, src, other);
  EXPECT_EQ(fx.Invert(), 0);
  EXPECT_EQ(fx.Resize(1), 1);
  // A descriptor without columns.
  std::vector<u8> a(16), b(16);
  ASSERT_TRUE(fx.SetSource(a.data(), 1, 4, 1, 0, 3));
  ASSERT_TRUE(fx.SetDestination(b.data(), 1, 4, 1, 0, 3));
  fx.ResetError();
  EXPECT_FAILS(fx, fx.StrokeInside(c, 2, 255), klErrBadArg);
}

TEST(ImageFX, ConvertSourceToGray) {
  Pic single(3, 2, 1, 0, 0, 77), four(2, 2, 4, 0);
  const Pic keep = single;
  CKLF_ImageFX fx;
  Bind(fx, single, single);
  fx.SetError(5);
  EXPECT_EQ(fx.ConvertSourceToGray(), 0);
  EXPECT_EQ(fx.GetError(), 5);  // left as it was
  EXPECT_TRUE(single.SameAs(keep));
  Bind(fx, four, four);  // four colour planes: refused
  EXPECT_EQ(fx.ConvertSourceToGray(), 0);
  for (u8 alpha : {0, 1}) {
    Pic rgb(4, 3, alpha ? 4 : 3, alpha, 1, 99);
    for (u32 y = 0; y < 3; ++y) std::memset(rgb.Row(0, y), 10, 4), std::memset(rgb.Row(2, y), 31, 4);
    Bind(fx, rgb, rgb);
    ASSERT_EQ(fx.ConvertSourceToGray(), 1);
    for (u8 p = 0; p < rgb.count; ++p) EXPECT_EQ(rgb.At(p, 3, 2), p < 3 ? 46 : 99);  // (10 + 99 + 31) / 3
    EXPECT_TRUE(rgb.GapsIntact());
  }
}
