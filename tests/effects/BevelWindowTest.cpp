// The bevel window over a real cut: the light on the disc (presses,
// drags, typed angle and altitude, lights read from pieces that are not
// lights), the opacities in percent, the colour swatches through the
// host's picker, the preview's mix of the mode's sizes and value 1's
// light, the spread that keeps unchecked fields, and the status zones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "CWndFX_Bevel.h"
#include "effects/FXTestUtil.h"

namespace {

using namespace fxtest;

class BevelWindow : public FXWindowTest {
 protected:
  CWndFX_Bevel* Bevel() { return dynamic_cast<CWndFX_Bevel*>(Window()); }
  T::SFX_BEVEL& Value(u8 which) { return *reinterpret_cast<T::SFX_BEVEL*>(Window()->Records().GetValue(which)); }
  klt3D_VECTOR Light() { return {Value(0).light[0], Value(0).light[1], Value(0).light[2]}; }
  void Press(f64 x, f64 y) { Mouse(klpMouseDown, x, y); }
  void Mouse(u16 kind, f64 x, f64 y) {
    const KLP_Point p = Global(static_cast<i32>(std::lround(x)), static_cast<i32>(std::lround(y)));
    ui.PostMouse(kind, p.x, p.y);
    ui.Pump();
  }
  // The preview as the effect would render it with these parameters.
  bool PreviewIs(u16 size, u16 depth, u8 soften, const T::SFX_BEVEL& v1) {
    return ResultIs(Expected([&](CKLF_ImageFX& fx) {
      EXPECT_TRUE(fx.Bevel(size, depth, soften, {v1.light[0], v1.light[1], v1.light[2]}, v1.highlightColor + 1,
                           v1.highlightOpacity, v1.shadowColor + 1, v1.shadowOpacity));
    }));
  }
};

// A press at the centre is the light straight above; beyond the rim but
// within reach, the light sinks to the horizon in the press's direction; a
// drag follows every move and reaches the pieces only when released.
TEST_F(BevelWindow, LightOnTheDisc) {
  ASSERT_NE(Open(kBevel), nullptr);
  ui.AdvanceClock(100);
  const CFXLight::DISC d = Bevel()->Disc();
  Press(d.cx, d.cy);
  Mouse(klpMouseUp, d.cx, d.cy);
  EXPECT_EQ(Light().x, 0.0f);
  EXPECT_EQ(Light().y, 0.0f);
  EXPECT_EQ(Light().z, 1.0f);
  EXPECT_EQ(Text(Edit("_Angle")), "0");
  EXPECT_EQ(Text(Edit("_Alt")), "90");
  EXPECT_EQ(Bevel()->ThumbLayer().GetPos().x, static_cast<i32>(d.cx) - 10);

  ui.AdvanceClock(60);
  Model().renders = 0;
  Press(d.cx - d.r - 4, d.cy);  // beyond the rim, to the left
  EXPECT_LT(Light().x, -0.99f);
  EXPECT_EQ(Text(Edit("_Angle")), "180");
  EXPECT_EQ(Text(Edit("_Alt")), "1");
  for (int step = 1; step <= 5; ++step) {
    Mouse(klpMouseDragged, d.cx, d.cy - 6 * step);
    EXPECT_EQ(Text(Edit("_Angle")), "90") << step;
    EXPECT_TRUE(PreviewIs(Value(0).size, Value(0).depth, Value(0).soften, Value(0))) << step;
  }
  ui.AdvanceClock(100);
  EXPECT_EQ(Model().renders, 0);  // nothing while the button is down
  Mouse(klpMouseUp, d.cx, d.cy - 30);
  ui.AdvanceClock(60);
  EXPECT_EQ(Model().renders, static_cast<int>(scene->Count()));
  ClickButton("_Ok");
  for (u32 i = 0; i < scene->Count(); ++i) {
    EXPECT_EQ(std::memcmp(scene->Piece(i).bevel[R].light, Value(0).light, 12), 0);
    EXPECT_GT(scene->Piece(i).bevel[R].light[1], 0.4f);
  }
}

// Altitude 45, then angle 90: the light half way up, the thumb R / 2 above
// the centre; typed values are clamped and written back when left.
TEST_F(BevelWindow, TypedAngleAndAltitude) {
  ASSERT_NE(Open(kBevel), nullptr);
  Enter(Edit("_Alt"), "45");
  Enter(Edit("_Angle"), "90");
  EXPECT_NEAR(Light().x, 0, 1e-6);
  EXPECT_NEAR(Light().y, 0.70710678, 1e-6);
  EXPECT_NEAR(Light().z, 0.70710678, 1e-6);
  const CFXLight::DISC d = Bevel()->Disc();
  EXPECT_EQ(Bevel()->ThumbLayer().GetPos().x, static_cast<i32>(d.cx) - 10);
  EXPECT_NEAR(Bevel()->ThumbLayer().GetPos().y + 10, d.cy - d.r / 2, 1);
  Enter(Edit("_Angle"), "400");
  EXPECT_EQ(Text(Edit("_Angle")), "359");
  Enter(Edit("_Alt"), "0");
  EXPECT_EQ(Text(Edit("_Alt")), "1");
  i32 angle = 0, altitude = 0;
  CFXLight::ToAngles(Light(), angle, altitude);
  EXPECT_NEAR(angle, 359, 1);
  EXPECT_LE(altitude, 1);
}

// Tab leaves a field for the window's next one: what was typed counts,
// and the digits typed next go into the field Tab reached.
TEST_F(BevelWindow, TabCommitsAndTypingGoesOnInTheNextField) {
  ASSERT_NE(Open(kBevel), nullptr);
  Click(Edit("_Alt"));
  Type("45");
  Key(0x30);
  CKLF_CtrlEditLine* next = nullptr;
  for (u32 i = 0; i < Window()->GetControlCount(); ++i)
    if (Window()->GetControl(i)->GetType() == klCtrlEditLine && Window()->GetControl(i)->GetFocus())
      next = static_cast<CKLF_CtrlEditLine*>(Window()->GetControl(i));
  ASSERT_NE(next, nullptr);
  EXPECT_NE(next, Edit("_Alt"));
  Type("3");
  EXPECT_EQ(Text(next), "3");
  EXPECT_EQ(Text(Edit("_Alt")), "45");
  i32 angle = 0, altitude = 0;
  CFXLight::ToAngles(Light(), angle, altitude);
  EXPECT_NEAR(altitude, 45, 1);
}

// A piece whose light is not a light (a document from elsewhere) opens
// with the light straight above, which OK then gives the pieces; the
// opacities show in percent and store what the percent gives back.
TEST_F(BevelWindow, LightsAndOpacitiesReadFromPieces) {
  scene = std::make_unique<Scene>(3, 2);
  scene->puzzle.port.mainWindow = mainWindow.get();
  const f32 nan = std::numeric_limits<f32>::quiet_NaN();
  for (u32 i = 0; i < scene->Count(); ++i) {
    T::SFX_BEVEL& b = scene->Piece(i).bevel[R];
    b.light[0] = nan, b.light[1] = 0, b.light[2] = 0;
    b.highlightOpacity = 128;
    b.shadowOpacity = 2;
  }
  ASSERT_NE(Reopen(kBevel), nullptr);
  EXPECT_EQ(Text(Edit("_Alt")), "90");
  EXPECT_EQ(Text(Edit("_HLOpacity")), "50");
  EXPECT_EQ(Text(Edit("_SHOpacity")), "1");
  ClickButton("_Ok");
  for (u32 i = 0; i < scene->Count(); ++i) {
    const T::SFX_BEVEL& b = scene->Piece(i).bevel[R];
    EXPECT_TRUE(b.light[0] == 0 && b.light[1] == 0 && b.light[2] == 1);
    EXPECT_EQ(b.highlightOpacity, 127);
    EXPECT_EQ(b.shadowOpacity, 2);
  }
  // Opacity 60 % typed: 153, and the preview follows.
  ASSERT_NE(Reopen(kBevel), nullptr);
  Enter(Edit("_HLOpacity"), "60");
  EXPECT_EQ(Value(0).highlightOpacity, 153);
  EXPECT_EQ(Find<CKLF_CtrlSlider>("FXbevel_HLOpacity", klCtrlSlider)->GetValue(), 60u);
  EXPECT_TRUE(PreviewIs(Value(0).size, Value(0).depth, Value(0).soften, Value(0)));
}

// The swatches take the host picker's eight bytes; a cancelled picker
// changes nothing and renders nothing.
TEST_F(BevelWindow, SwatchesPickThroughTheHost) {
  scene = std::make_unique<Scene>(3, 2);
  scene->puzzle.port.mainWindow = mainWindow.get();
  scene->Serve();
  ASSERT_NE(Reopen(kBevel), nullptr);
  ui.AdvanceClock(100);
  const kltRECT_s hl = Bevel()->SwatchRect(0), sh = Bevel()->SwatchRect(1);
  scene->host.SetPickedColour(true, 10, 200, 30);
  Press(hl.left + 2, hl.top + 2);
  u8 line[8] = {0, 10, 200, 30, 0, 0, 0, 0};
  scene->plugin.Fill8ByteColorLineFromRGB(line);
  EXPECT_EQ(Bytes(Value(0).highlightColor, Value(0).highlightColor + 8), Bytes(line, line + 8));
  EXPECT_EQ(Bevel()->SwatchLayer(0).GetPixel(3, 3).green, 200);
  EXPECT_TRUE(PreviewIs(Value(0).size, Value(0).depth, Value(0).soften, Value(0)));
  ui.AdvanceClock(60);
  EXPECT_EQ(scene->Piece(0).bevel[R].highlightColor[2], 200);

  const Bytes shadow(Value(0).shadowColor, Value(0).shadowColor + 8);
  scene->host.SetPickedColour(false, 0, 0, 0);
  Model().renders = 0;
  Press(sh.right - 1, sh.bottom - 1);
  ui.AdvanceClock(100);
  EXPECT_EQ(Bytes(Value(0).shadowColor, Value(0).shadowColor + 8), shadow);
  EXPECT_EQ(Model().renders, 0);
  EXPECT_EQ(Window()->GetMode(), 0);
}

// In mode 1 the preview shows value 2's size, depth and soften with value
// 1's light and colours; with the spread on and depth's box unchecked each
// piece keeps its own depth while size and soften are spread and the light
// is value 1's everywhere.
TEST_F(BevelWindow, ModeTwoPreviewAndTheSpread) {
  scene = std::make_unique<Scene>(4, 2);
  scene->puzzle.port.mainWindow = mainWindow.get();
  for (u32 i = 0; i < scene->Count(); ++i) scene->Piece(i).bevel[R].depth = static_cast<u16>(500 + i);
  ASSERT_NE(Reopen(kBevel), nullptr);
  Enter(Edit("_Alt"), "30");
  ClickBox("_AAdjust");
  Slider("_Size2")->SetValue(40, 1);
  Slider("_Soften2")->SetValue(20, 1);
  ASSERT_EQ(Window()->GetMode(), 1);
  EXPECT_TRUE(PreviewIs(40, scene->Engine().m_defBevel.depth, 20, Value(0)));
  Click(Box("_ADepth"));
  Click(Radio("_AR"));
  ClickButton("_Ok");
  u8 sawLow = 0, sawHigh = 0;
  for (u32 i = 0; i < scene->Count(); ++i) {
    const T::SFX_BEVEL& b = scene->Piece(i).bevel[R];
    EXPECT_EQ(b.depth, 500 + i);
    EXPECT_EQ(std::memcmp(b.light, Value(0).light, 12), 0);
    sawLow |= b.size == Value(0).size ? 1 : 0;
    sawHigh |= b.size == 40 ? 1 : 0;
    EXPECT_TRUE(b.soften == 0 || b.size > Value(0).size);
  }
  EXPECT_TRUE(sawLow && sawHigh);
}

// The depth bar marks 0..100 over its left half; the status line names the
// disc and the swatches while the mouse is over them.
TEST_F(BevelWindow, DepthBarAndStatusZones) {
  ASSERT_NE(Open(kBevel), nullptr);
  ClickBox("_AAdjust");
  Slider("_Depth1")->SetValue(0, 1);
  Slider("_Depth2")->SetValue(100, 1);
  kltRECT_s bar;
  ASSERT_TRUE(Window()->GetResourceRect("FXbevel_RangeDepth", bar));
  const i32 w = bar.right - bar.left, y = (bar.top + bar.bottom) / 2;
  const u32 plain = Pixel(bar.right - 2, y);
  EXPECT_NE(Pixel(bar.left + (w - 1) / 2 - 1, y), plain);
  EXPECT_EQ(Pixel(bar.left + (w - 1) / 2 + 3, y), plain);

  ui.AdvanceClock(600);
  const CFXLight::DISC d = Bevel()->Disc();
  auto* status = Find<CKLF_CtrlStaticText>(Name("_Status"), klCtrlStaticText);
  Mouse(klpMouseMoved, d.cx + 5, d.cy + 5);
  ui.AdvanceClock(600);
  EXPECT_EQ(std::string(status->GetText().GetStr()), "Effect/Zone_Bevel_3DLight/1/255");
  const kltRECT_s sh = Bevel()->SwatchRect(1);
  Mouse(klpMouseMoved, sh.left + 3, sh.top + 3);
  ui.AdvanceClock(600);
  EXPECT_EQ(std::string(status->GetText().GetStr()), "Effect/Zone_Bevel_SHSwatch/1/255");
}

}  // namespace
