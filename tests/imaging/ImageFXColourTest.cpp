#include <gtest/gtest.h>

#include "imaging/FXTestImage.h"

using fxtest::Bind;
using fxtest::Pic;

namespace {

Pic OnePixel(u8 r, u8 g, u8 b, u8 a = 255) {
  Pic p(1, 1, 4, 1);
  p.At(0, 0, 0) = r, p.At(1, 0, 0) = g, p.At(2, 0, 0) = b, p.At(3, 0, 0) = a;
  return p;
}

std::vector<int> Hsl(Pic src, i16 hue, i16 sat, i16 light, u8 first = 1) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  EXPECT_EQ(fx.HSLCorrection(hue, sat, light, first), 1);
  return {dst.At(0, 0, 0), dst.At(1, 0, 0), dst.At(2, 0, 0)};
}

}  // namespace

TEST(ImageFXColour, HlsConversionsAndLightness) {
  f64 h, l, s;
  CKLF_ImageFX::Color_RGB2HLS(255, 0, 0, h, l, s);
  EXPECT_EQ(std::vector<f64>({h, l, s}), std::vector<f64>({0.0, 0.5, 1.0}));
  // Ties between the largest channels: blue, then green decides.
  const struct {
    u8 r, g, b;
    f64 hue;
  } hues[] = {{255, 0, 255, 300}, {0, 255, 255, 180}, {255, 255, 0, 60}, {0, 0, 255, 240}};
  for (const auto& c : hues) {
    CKLF_ImageFX::Color_RGB2HLS(c.r, c.g, c.b, h, l, s);
    EXPECT_DOUBLE_EQ(h, c.hue);
  }
  CKLF_ImageFX::Color_RGB2HLS(255, 0, 128, h, l, s);
  EXPECT_GT(h, 300.0);  // negative red formula wrapped
  CKLF_ImageFX::Color_RGB2HLS(200, 210, 230, h, l, s);
  EXPECT_NEAR(s, (30.0 / 255) / (2.0 - 430.0 / 255), 1e-12);  // the light half
  // There and back loses at most the truncation.
  std::mt19937 rng(4);
  for (int i = 0; i < 5000; ++i) {
    const u8 rgb[3] = {static_cast<u8>(rng()), static_cast<u8>(rng()), static_cast<u8>(rng())};
    u8 back[3];
    CKLF_ImageFX::Color_RGB2HLS(rgb[0], rgb[1], rgb[2], h, l, s);
    CKLF_ImageFX::Color_HLS2RGB(h, l, s, back[0], back[1], back[2]);
    for (int c = 0; c < 3; ++c) ASSERT_TRUE(rgb[c] - back[c] == 0 || rgb[c] - back[c] == 1) << i;
  }
  u8 r, g, b;
  CKLF_ImageFX::Color_HLS2RGB(400, 0.5, 3.0, r, g, b);  // S clamped to 1, hue wrapped once
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({255, 170, 0}));

  r = 100, g = 0, b = 255;
  CKLF_ImageFX::Color_CorrectLightness(&r, &g, &b, 50);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({177, 127, 255}));  // 100 + 50 * 155 / 100
  CKLF_ImageFX::Color_CorrectLightness(&r, &g, &b, -33);
  EXPECT_EQ(std::vector<int>({r, g}), std::vector<int>({119, 86}));  // 177 - 58.41 toward zero
  CKLF_ImageFX::Color_CorrectLightness(&r, &g, &b, -100);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({0, 0, 0}));
}

TEST(ImageFXColour, HslCorrectionCases) {
  std::mt19937 rng(9);
  // A few colours repeated and many single ones: the whole image equals
  // each pixel corrected on its own.
  Pic src(24, 16, 4, 1, 2);
  src.Randomise(rng);
  for (u32 i = 0; i < 200; ++i)
    for (u8 p = 0; p < 3; ++p) src.At(p, rng() % 24, rng() % 16) = static_cast<u8>(85 * (rng() % 4));
  const i16 settings[][4] = {{37, -100, 0, 1}, {-120, 40, -30, 0}, {170, 100, 20, 1}};  // hue, sat, light, first
  for (const auto& q : settings) {
    Pic dst = src.Blank();
    CKLF_ImageFX fx;
    Bind(fx, src, dst);
    ASSERT_EQ(fx.HSLCorrection(q[0], q[1], q[2], static_cast<u8>(q[3])), 1);
    for (u32 y = 0; y < src.h; ++y)
      for (u32 x = 0; x < src.w; ++x) {
        const std::vector<int> one = Hsl(OnePixel(src.At(0, x, y), src.At(1, x, y), src.At(2, x, y)), q[0], q[1], q[2],
                                         static_cast<u8>(q[3]));
        ASSERT_EQ(one, std::vector<int>({dst.At(0, x, y), dst.At(1, x, y), dst.At(2, x, y)})) << x << "," << y;
        ASSERT_EQ(dst.At(3, x, y), src.At(3, x, y));
      }
    if (q[1] == -100) {
      EXPECT_EQ(dst.At(0, 5, 5), dst.At(2, 5, 5)) << "no saturation is grey";
    }
  }
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  ASSERT_EQ(fx.HSLCorrection(0, 0, 0, 0), 1);
  EXPECT_TRUE(dst.SameAs(src));

  EXPECT_EQ(Hsl(OnePixel(255, 0, 0), 0, -100, 0), std::vector<int>({127, 127, 127}));  // trunc(0.5 * 255)
  // +100 saturates even grey pixels to hue 0 plus the shift; +99 keeps grey.
  EXPECT_EQ(Hsl(OnePixel(100, 100, 100), 0, 100, 0), std::vector<int>({200, 0, 0}));
  EXPECT_EQ(Hsl(OnePixel(100, 100, 100), 120, 100, 0), std::vector<int>({0, 200, 0}));
  EXPECT_EQ(Hsl(OnePixel(100, 100, 100), 50, 99, 0), std::vector<int>({100, 100, 100}));
  // Hue rotation by 120 carries red to green; lightness order matters.
  EXPECT_EQ(Hsl(OnePixel(255, 0, 0), 120, 0, 0), std::vector<int>({0, 255, 0}));
  EXPECT_NE(Hsl(OnePixel(200, 40, 40), 0, 50, 30, 1), Hsl(OnePixel(200, 40, 40), 0, 50, 30, 0));
}

TEST(ImageFXColour, Colorize) {
  Pic src = OnePixel(100, 50, 0, 7);
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  ASSERT_EQ(fx.HSLColorize(0, 100, 0, 1), 1);  // L = 100 / 510
  EXPECT_NEAR(dst.At(0, 0, 0), 100, 1);
  EXPECT_EQ(dst.At(1, 0, 0) + dst.At(2, 0, 0), 0);
  EXPECT_EQ(dst.At(3, 0, 0), 7);
  ASSERT_EQ(fx.HSLColorize(200, 0, 0, 1), 1);  // no saturation: grey of L
  EXPECT_EQ(dst.At(0, 0, 0), dst.At(2, 0, 0));
}

TEST(ImageFXColour, BrightnessContrast) {
  Pic src(256, 1, 4, 1, 1);
  for (u32 x = 0; x < 256; ++x)
    for (u8 p = 0; p < 4; ++p) src.At(p, x, 0) = static_cast<u8>(x);
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  ASSERT_EQ(fx.BrightnessContrast(0, 0, 128), 1);
  EXPECT_TRUE(dst.SameAs(src));
  const struct {
    i8 brightness, contrast;
    u8 pivot;
    u32 at;
    int want;
  } cases[] = {
      {10, 0, 128, 250, 255},   {10, 0, 128, 5, 15},     {0, 100, 128, 127, 0},
      {0, 100, 128, 128, 255},  {0, 50, 128, 150, 172},  // k = 10000: v + (v - 128)
      {0, 20, 128, 101, 95},    // k = trunc(0.25 * 10000) in floats; -6.75 toward zero
      {0, -50, 128, 200, 164},  {-128, -128, 255, 0, 255},  // clamped both ways
      {-100, -10, 0, 200, 90},  // 100 + (100 * -10) / 100
  };
  for (const auto& c : cases) {
    ASSERT_EQ(fx.BrightnessContrast(c.brightness, c.contrast, c.pivot), 1);
    EXPECT_EQ(dst.At(0, c.at, 0), c.want) << int(c.brightness) << " " << int(c.contrast) << " at " << c.at;
    EXPECT_EQ(dst.At(2, c.at, 0), c.want);
    EXPECT_EQ(dst.At(3, c.at, 0), c.at) << "alpha copied";
  }
}

TEST(ImageFXColour, OverlayInvertCombine) {
  std::mt19937 rng(2);
  Pic src(9, 6, 4, 1, 3);
  src.Randomise(rng);
  Pic dst = src.Blank(), back = src.Blank();
  CKLF_ImageFX fx;
  const u8 white[3] = {255, 255, 255}, col[3] = {1, 2, 3};
  Pic w = OnePixel(255, 255, 255), wo = w.Blank();
  Bind(fx, w, wo);
  ASSERT_EQ(fx.ColorOverlay(white, 128), 1);
  EXPECT_EQ(wo.At(0, 0, 0), 254);  // shifted by 8, not divided by 255
  Bind(fx, src, dst);
  ASSERT_EQ(fx.ColorOverlay(col, 255), 1);
  EXPECT_EQ(dst.At(2, 4, 4), 3);
  EXPECT_TRUE(dst.PlaneSame(src, 3));
  // Invert twice is the identity.
  ASSERT_EQ(fx.Invert(), 1);
  EXPECT_EQ(dst.At(1, 2, 3), 255 - src.At(1, 2, 3));
  Bind(fx, dst, back);
  ASSERT_EQ(fx.Invert(), 1);
  EXPECT_TRUE(back.SameAs(src));

  // Combine: the destination's content over the source, by destination alpha.
  Pic top = src.Blank();
  top.Randomise(rng);
  const Pic topBefore = top;
  Bind(fx, src, top);
  ASSERT_EQ(fx.Combine_DonStoD(200), 1);
  for (u32 y = 0; y < src.h; ++y)
    for (u32 x = 0; x < src.w; ++x) {
      const u32 wgt = topBefore.At(3, x, y) * 200u / 255;
      ASSERT_EQ(top.At(1, x, y), (topBefore.At(1, x, y) * wgt + src.At(1, x, y) * (255 - wgt)) / 255);
      ASSERT_EQ(top.At(3, x, y), src.At(3, x, y));
    }
  Pic rgbSrc(4, 4, 3, 0), rgbTop(4, 4, 3, 0);
  rgbSrc.Randomise(rng);
  rgbTop.Randomise(rng);
  const Pic rgbKeep = rgbTop;
  Bind(fx, rgbSrc, rgbTop);
  ASSERT_EQ(fx.Combine_DonStoD(255), 1);  // no alpha: the full amount keeps the top
  EXPECT_TRUE(rgbTop.SameAs(rgbKeep));
}
