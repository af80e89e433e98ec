#include <gtest/gtest.h>

#include "imaging/FXTestImage.h"

using fxtest::Bind;
using fxtest::Pic;

namespace {

Pic OnePixel(u8 r, u8 g, u8 b, u8 a = 255) {
  Pic p(1, 1, 4, 1);
  p.At(0, 0, 0) = r;
  p.At(1, 0, 0) = g;
  p.At(2, 0, 0) = b;
  p.At(3, 0, 0) = a;
  return p;
}

struct Rgb {
  int r, g, b;
};

Rgb Hsl(Pic src, i16 hue, i16 sat, i16 light, u8 first = 1) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  EXPECT_EQ(fx.HSLCorrection(hue, sat, light, first), 1);
  return {dst.At(0, 0, 0), dst.At(1, 0, 0), dst.At(2, 0, 0)};
}

}  // namespace

TEST(ImageFXColour, RgbToHlsCases) {
  f64 h, l, s;
  CKLF_ImageFX::Color_RGB2HLS(255, 0, 0, h, l, s);
  EXPECT_EQ(h, 0.0);
  EXPECT_EQ(l, 0.5);
  EXPECT_EQ(s, 1.0);
  CKLF_ImageFX::Color_RGB2HLS(255, 0, 255, h, l, s);  // red and blue tie: blue decides
  EXPECT_DOUBLE_EQ(h, 300.0);
  CKLF_ImageFX::Color_RGB2HLS(0, 255, 255, h, l, s);
  EXPECT_DOUBLE_EQ(h, 180.0);
  CKLF_ImageFX::Color_RGB2HLS(255, 255, 0, h, l, s);  // red and green tie: green decides
  EXPECT_DOUBLE_EQ(h, 60.0);
  CKLF_ImageFX::Color_RGB2HLS(0, 0, 255, h, l, s);
  EXPECT_DOUBLE_EQ(h, 240.0);
  CKLF_ImageFX::Color_RGB2HLS(255, 0, 128, h, l, s);
  EXPECT_GT(h, 300.0);  // negative red formula wrapped
  CKLF_ImageFX::Color_RGB2HLS(200, 210, 230, h, l, s);
  EXPECT_GT(l, 0.5);
  EXPECT_NEAR(s, (30.0 / 255) / (2.0 - 430.0 / 255), 1e-12);
}

TEST(ImageFXColour, HlsRoundTripLosesAtMostTruncation) {
  std::mt19937 rng(4);
  for (int i = 0; i < 20000; ++i) {
    const u8 r = rng(), g = rng(), b = rng();
    f64 h, l, s;
    CKLF_ImageFX::Color_RGB2HLS(r, g, b, h, l, s);
    u8 r2, g2, b2;
    CKLF_ImageFX::Color_HLS2RGB(h, l, s, r2, g2, b2);
    ASSERT_LE(r - r2, 1);
    ASSERT_GE(r - r2, 0);
    ASSERT_LE(g - g2, 1);
    ASSERT_GE(g - g2, 0);
    ASSERT_LE(b - b2, 1);
    ASSERT_GE(b - b2, 0);
  }
  u8 r, g, b;
  CKLF_ImageFX::Color_HLS2RGB(400, 0.5, 3.0, r, g, b);  // S clamped to 1, hue wrapped once
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 170);  // 40 degrees: 0 + 1 * 40 / 60
  EXPECT_EQ(b, 0);
}

TEST(ImageFXColour, LightnessCorrection) {
  u8 r = 100, g = 0, b = 255;
  CKLF_ImageFX::Color_CorrectLightness(&r, &g, &b, 50);
  EXPECT_EQ(r, 177);  // 100 + 50 * 155 / 100
  EXPECT_EQ(g, 127);
  EXPECT_EQ(b, 255);
  CKLF_ImageFX::Color_CorrectLightness(&r, &g, &b, -33);
  EXPECT_EQ(r, 119);  // 177 - 58.41 truncated toward zero
  EXPECT_EQ(g, 86);
  r = 9;
  CKLF_ImageFX::Color_CorrectLightness(&r, &g, &b, -100);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(b, 0);
}

TEST(ImageFXColour, HslCorrectionCases) {
  std::mt19937 rng(9);
  Pic src(13, 7, 4, 1, 2);
  src.Randomise(rng);
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  ASSERT_EQ(fx.HSLCorrection(0, 0, 0, 0), 1);
  EXPECT_TRUE(dst.SameAs(src));

  // Saturation -100 turns every pixel grey, alpha kept.
  ASSERT_EQ(fx.HSLCorrection(37, -100, 0, 1), 1);
  for (u32 y = 0; y < src.h; ++y)
    for (u32 x = 0; x < src.w; ++x) {
      ASSERT_EQ(dst.At(0, x, y), dst.At(1, x, y));
      ASSERT_EQ(dst.At(1, x, y), dst.At(2, x, y));
      ASSERT_EQ(dst.At(3, x, y), src.At(3, x, y));
    }
  Rgb red = Hsl(OnePixel(255, 0, 0), 0, -100, 0);
  EXPECT_EQ(red.r, 127);  // trunc(0.5 * 255)

  // +100 saturates even grey pixels to hue 0 plus the shift; +99 keeps grey.
  Rgb sat = Hsl(OnePixel(100, 100, 100), 0, 100, 0);
  EXPECT_NEAR(sat.r, 200, 1);
  EXPECT_EQ(sat.g, 0);
  EXPECT_EQ(sat.b, 0);
  Rgb green = Hsl(OnePixel(100, 100, 100), 120, 100, 0);
  EXPECT_EQ(green.r, 0);
  EXPECT_NEAR(green.g, 200, 1);
  Rgb grey = Hsl(OnePixel(100, 100, 100), 50, 99, 0);
  EXPECT_EQ(grey.r, grey.g);
  EXPECT_EQ(grey.g, grey.b);
  EXPECT_NEAR(grey.r, 100, 1);

  // Hue rotation by 120 carries red to green; lightness order matters.
  Rgb turned = Hsl(OnePixel(255, 0, 0), 120, 0, 0);
  EXPECT_EQ(turned.r, 0);
  EXPECT_EQ(turned.g, 255);
  Rgb lightFirst = Hsl(OnePixel(200, 40, 40), 0, 50, 30, 1);
  Rgb lightLast = Hsl(OnePixel(200, 40, 40), 0, 50, 30, 0);
  EXPECT_NE(lightFirst.g, lightLast.g);
}

TEST(ImageFXColour, HslRefusesBadLayoutsAndRanges) {
  Pic four(3, 3, 4, 0), fourDst(3, 3, 4, 0);
  const Pic keep = fourDst;
  CKLF_ImageFX fx;
  Bind(fx, four, fourDst);
  EXPECT_EQ(fx.HSLCorrection(10, 0, 0, 1), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);
  Pic rgb(3, 3, 3, 0), out(3, 3, 3, 0, 0, 9);
  const Pic keep2 = out;
  Bind(fx, rgb, out);
  EXPECT_EQ(fx.HSLCorrection(181, 0, 0, 1), 0);
  EXPECT_EQ(fx.HSLCorrection(0, -101, 0, 1), 0);
  EXPECT_EQ(fx.HSLCorrection(0, 0, 101, 1), 0);
  EXPECT_EQ(fx.HSLColorize(361, 0, 0, 1), 0);
  EXPECT_EQ(fx.HSLColorize(10, -1, 0, 1), 0);
  EXPECT_TRUE(out.SameAs(keep2));
  EXPECT_TRUE(fourDst.SameAs(keep));
}

TEST(ImageFXColour, Colorize) {
  Pic src = OnePixel(100, 50, 0, 7);
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  ASSERT_EQ(fx.HSLColorize(0, 100, 0, 1), 1);  // L = 100 / 510
  EXPECT_NEAR(dst.At(0, 0, 0), 100, 1);
  EXPECT_EQ(dst.At(1, 0, 0), 0);
  EXPECT_EQ(dst.At(2, 0, 0), 0);
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
  ASSERT_EQ(fx.BrightnessContrast(10, 0, 128), 1);
  EXPECT_EQ(dst.At(0, 250, 0), 255);
  EXPECT_EQ(dst.At(0, 5, 0), 15);
  EXPECT_EQ(dst.At(3, 5, 0), 5);  // alpha copied
  ASSERT_EQ(fx.BrightnessContrast(0, 100, 128), 1);
  EXPECT_EQ(dst.At(0, 127, 0), 0);
  EXPECT_EQ(dst.At(1, 128, 0), 255);
  ASSERT_EQ(fx.BrightnessContrast(0, 50, 128), 1);  // k = 10000: v + (v - 128)
  EXPECT_EQ(dst.At(0, 150, 0), 172);
  EXPECT_EQ(dst.At(0, 100, 0), 72);
  ASSERT_EQ(fx.BrightnessContrast(0, 20, 128), 1);  // k = trunc(0.25 * 10000) in floats
  EXPECT_EQ(dst.At(0, 200, 0), 218);
  EXPECT_EQ(dst.At(0, 101, 0), 95);  // -6.75 truncated toward zero
  ASSERT_EQ(fx.BrightnessContrast(0, -50, 128), 1);
  EXPECT_EQ(dst.At(0, 200, 0), 164);
  EXPECT_EQ(dst.At(0, 100, 0), 114);
  ASSERT_EQ(fx.BrightnessContrast(-128, -128, 255), 1);  // clamped both ways
  EXPECT_EQ(dst.At(0, 0, 0), 255);
  EXPECT_EQ(dst.At(0, 255, 0), 255);
  ASSERT_EQ(fx.BrightnessContrast(-100, -10, 0), 1);
  EXPECT_EQ(dst.At(0, 200, 0), 90);  // 100 + (100 * -10) / 100
}

TEST(ImageFXColour, OverlayInvertCombine) {
  std::mt19937 rng(2);
  Pic src(9, 6, 4, 1, 3);
  src.Randomise(rng);
  Pic dst = src.Blank(), back = src.Blank();
  CKLF_ImageFX fx;
  const u8 white[3] = {255, 255, 255};
  Pic w = OnePixel(255, 255, 255);
  Pic wo = w.Blank();
  Bind(fx, w, wo);
  ASSERT_EQ(fx.ColorOverlay(white, 128), 1);
  EXPECT_EQ(wo.At(0, 0, 0), 254);  // shifted by 8, not divided by 255
  ASSERT_EQ(fx.ColorOverlay(white, 0), 1);
  EXPECT_EQ(wo.At(0, 0, 0), 254);
  const u8 col[3] = {1, 2, 3};
  Bind(fx, src, dst);
  ASSERT_EQ(fx.ColorOverlay(col, 255), 1);
  EXPECT_EQ(dst.At(2, 4, 4), 3);
  EXPECT_TRUE(dst.PlaneSame(src, 3));
  EXPECT_EQ(fx.ColorOverlay(nullptr, 1), 0);

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
  Pic zero = src.Blank();
  zero.Randomise(rng);
  Bind(fx, src, zero);
  ASSERT_EQ(fx.Combine_DonStoD(0), 1);
  EXPECT_TRUE(zero.SameAs(src));
  Pic rgbSrc(4, 4, 3, 0), rgbTop(4, 4, 3, 0);
  rgbSrc.Randomise(rng);
  rgbTop.Randomise(rng);
  const Pic rgbKeep = rgbTop;
  Bind(fx, rgbSrc, rgbTop);
  ASSERT_EQ(fx.Combine_DonStoD(255), 1);  // no alpha: the full amount keeps the top
  EXPECT_TRUE(rgbTop.SameAs(rgbKeep));
}
