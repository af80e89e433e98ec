// What the effect windows show: the sample preview (the effect of the
// mode's record on the sample picture, over the main window's checker),
// the opacity preview, grey documents, and the range bars.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "effects/FXTestUtil.h"

namespace {

using namespace fxtest;

class EffectLook : public FXWindowTest {
 protected:
  // Colours within a step or two of each other: the window's composition
  // of an opaque layer leaves a little of what lies under it.
  static bool Near(u32 a, u32 b) {
    for (int shift : {0, 8, 16})
      if (std::abs(static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255)) > 2) return false;
    return true;
  }
  kltRGBA8 SamplePixel(i32 x, i32 y) {
    kltRECT_s pr;
    const u8* p = Window()->SampleImage()->GetStateMemPtr(1, &pr);
    const u32 w = static_cast<u32>(pr.right - pr.left), n = w * static_cast<u32>(pr.bottom - pr.top);
    const u32 i = static_cast<u32>(y - pr.top) * w + static_cast<u32>(x - pr.left);
    return {p[i], p[n + i], p[2 * n + i], p[3 * n + i]};
  }
};

// The preview renders the mode's record: value 1, or value 2 while it is
// edited; with the spread on, a field whose "A" box is unchecked shows the
// engine's default.
TEST_F(EffectLook, PreviewShowsTheModesRecord) {
  ASSERT_NE(Open(kBC), nullptr);
  Slider("_Bright1")->SetValue(160, 1);    // 60
  Slider("_Contrast1")->SetValue(130, 1);  // 30
  std::vector<u8> want = Expected([](CKLF_ImageFX& fx) { EXPECT_TRUE(fx.BrightnessContrast(60, 30, 128)); });
  EXPECT_TRUE(ResultIs(want));
  Click(Box("_AAdjust"));
  Slider("_Bright2")->SetValue(20, 1);  // -80, mode 1
  want = Expected([](CKLF_ImageFX& fx) { EXPECT_TRUE(fx.BrightnessContrast(-80, 0, 128)); });
  EXPECT_TRUE(ResultIs(want));
  Click(Box("_ABrightness"));  // unchecked: the default brightness
  const i8 defContrast = scene->Engine().m_defBc.contrast, defBright = scene->Engine().m_defBc.brightness;
  want = Expected([&](CKLF_ImageFX& fx) { EXPECT_TRUE(fx.BrightnessContrast(defBright, defContrast, 128)); });
  EXPECT_TRUE(ResultIs(want));

  ASSERT_NE(Open(kBlur), nullptr);
  want = Expected([](CKLF_ImageFX& fx) { EXPECT_TRUE(fx.GaussianBlur(0, 0, 1)); });
  Slider("_Radius")->SetValue(0, 1);
  EXPECT_TRUE(ResultIs(want));  // radius 0 copies the picture
  Slider("_Radius")->SetValue(12, 1);
  want = Expected([](CKLF_ImageFX& fx) { EXPECT_TRUE(fx.GaussianBlur(12, 0, 1)); });
  EXPECT_TRUE(ResultIs(want));
}

// The preview's transparency shows the main window's checker; the opacity
// window shows the picture itself at the edited opacity.
TEST_F(EffectLook, CheckerAndOpacityPreview) {
  scene = std::make_unique<fxtest::Scene>(3, 2);
  scene->puzzle.port.mainWindow = mainWindow.get();
  scene->puzzle.port.checker[0] = {255, 0, 0, 255};
  scene->puzzle.port.checker[1] = {0, 0, 255, 255};
  ASSERT_NE(Reopen(kOpacity), nullptr);
  const kltRECT_s v = Window()->GetPreviewRect();
  // The sample is transparent in its top-left corner, opaque at its middle.
  ASSERT_EQ(SamplePixel(v.left, v.top).alpha, 0);
  const i32 mx = (v.left + v.right) / 2, my = (v.top + v.bottom) / 2 + 10;
  const kltRGBA8 s = SamplePixel(mx, my);
  ASSERT_EQ(s.alpha, 255);
  const u32 colour = static_cast<u32>(s.red) << 16 | s.green << 8 | s.blue;
  EXPECT_TRUE(Near(Pixel(v.left, v.top), 0x0000FFu));  // the checker's anchor cell
  EXPECT_TRUE(Near(Pixel(v.left + 4, v.top), 0xFF0000u));
  Slider("_Opacity")->SetValue(100, 1);
  EXPECT_TRUE(Near(Pixel(mx, my), colour));
  Slider("_Opacity")->SetValue(0, 1);
  EXPECT_TRUE(Near(Pixel(mx, my), 0xFF0000u) || Near(Pixel(mx, my), 0x0000FFu));
  Slider("_Opacity")->SetValue(50, 1);
  EXPECT_FALSE(Near(Pixel(mx, my), colour));
}

// In a grey document the sample is grey, and so are the effects' results.
TEST_F(EffectLook, GreyDocumentsHaveAGreySample) {
  ASSERT_NE(Open(kBlur, 3, 2, 0), nullptr);
  const kltRECT_s v = Window()->GetPreviewRect();
  int opaque = 0;
  for (i32 y = v.top; y < v.bottom; y += 3)
    for (i32 x = v.left; x < v.right; x += 3) {
      const kltRGBA8 p = SamplePixel(x, y);
      if (!p.alpha) continue;
      ++opaque;
      EXPECT_TRUE(p.red == p.green && p.green == p.blue) << x << "," << y;
      const u32 shown = Pixel(x, y);
      EXPECT_TRUE((shown >> 16) == ((shown >> 8) & 255) && (shown & 255) == ((shown >> 8) & 255)) << x << "," << y;
    }
  EXPECT_GT(opaque, 100);
}

// The range bar marks the span between the two sliders while the spread
// is on, and nothing while it is off.
TEST_F(EffectLook, RangeBarMarksTheSpan) {
  ASSERT_NE(Open(kBC), nullptr);
  kltRECT_s bar;
  ASSERT_EQ(Window()->GetResourceRect("FXbc_RangeBright", bar), 1);
  const i32 y = (bar.top + bar.bottom) / 2, w = bar.right - bar.left;
  auto at = [&](u32 sliderValue) { return Pixel(bar.left + static_cast<i32>((w - 1) * sliderValue / 200), y); };
  const u32 plain = at(150);
  Click(Box("_AAdjust"));
  Slider("_Bright1")->SetValue(40, 1);
  Slider("_Bright2")->SetValue(120, 1);
  EXPECT_EQ(at(20), plain);
  EXPECT_NE(at(40), plain);
  EXPECT_NE(at(80), plain);
  EXPECT_NE(at(120), plain);
  EXPECT_EQ(at(150), plain);
  EXPECT_GT(at(80) >> 16, plain >> 16);  // red over the background
  ui.AdvanceClock(600);  // a click of its own, not a double click's second
  Click(Box("_AAdjust"));
  EXPECT_EQ(at(80), plain);
}

}  // namespace
