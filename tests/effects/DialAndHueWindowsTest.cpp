// The motion blur window (its two direction dials, folded into angles and
// drawn as lines) and the hue/saturation window (its ranges, the hue
// spread straight between two numbers) over a real cut.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "CWndFX_MBlur.h"
#include "effects/FXTestUtil.h"

namespace {

using namespace fxtest;

const f64 kPi = 3.14159265358979323846;

class DialWindow : public FXWindowTest {
 protected:
  CWndFX_MBlur* MBlur() { return dynamic_cast<CWndFX_MBlur*>(Window()); }
  T::SFX_MBLUR& Value(u8 which) { return *reinterpret_cast<T::SFX_MBLUR*>(Window()->Records().GetValue(which)); }
  // The global point of a dial's value (degrees counterclockwise from the right).
  KLP_Point DialPoint(const char* name, f64 degrees) {
    const kltRECT_s r = ResourceRect(std::string("UIResources>Sliders>") + name + ">Background_Normal");
    const f64 cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
    const f64 radius = std::min(r.right - r.left, r.bottom - r.top) / 2.0 - 8, a = degrees * kPi / 180;
    return Global(static_cast<i32>(std::lround(cx + radius * std::cos(a))),
                  static_cast<i32>(std::lround(cy - radius * std::sin(a))));
  }
  // The dial's line layer's alpha at a point r from its centre at an angle.
  u8 LineAlpha(u8 which, f64 degrees, f64 r) {
    CKLF_Layer& l = MBlur()->DirectionLayer(which);
    const f64 c = l.GetImageWidth() * 0.5, a = degrees * kPi / 180;
    return l.GetPixel(static_cast<u16>(c + r * std::cos(a)), static_cast<u16>(c - r * std::sin(a))).alpha;
  }
  bool ResultIsSource() {
    kltRECT_s pr;
    const u8* pixels = Window()->SampleImage()->GetStateMemPtr(1, &pr);
    CKLF_Layer& l = Window()->ResultLayer();
    return std::memcmp(l.GetMemObj()->GetPtr(), pixels, 4u * l.GetImageWidth() * l.GetImageHeight()) == 0;
  }
};

// A dial's value folds into -89..90: opposite directions blur alike.
TEST_F(DialWindow, DialValuesFoldIntoAngles) {
  ASSERT_NE(Open(kMBlur), nullptr);
  const std::pair<u32, const char*> folds[] = {{135, "-45"}, {300, "-60"}, {90, "90"}, {270, "90"}, {0, "0"}};
  for (const auto& f : folds) {
    Slider("_Dir1")->SetValue(f.first, 1);
    EXPECT_EQ(Text(Edit("_Dir1")), f.second) << f.first;
    EXPECT_EQ(Value(0).angle, std::atoi(f.second));
  }
  // Dragged round the dial by the mouse from the right to the top left.
  const KLP_Point start = DialPoint("FXmblur_Dir1", 0);
  ui.PostMouse(klpMouseDown, start.x, start.y);
  for (int deg = 10; deg <= 135; deg += 5) {
    const KLP_Point p = DialPoint("FXmblur_Dir1", deg);
    ui.PostMouse(klpMouseDragged, p.x, p.y);
  }
  const KLP_Point end = DialPoint("FXmblur_Dir1", 135);
  ui.PostMouse(klpMouseUp, end.x, end.y);
  ui.Pump();
  EXPECT_NEAR(Value(0).angle, -45, 2);
  EXPECT_EQ(Window()->GetMode(), 0);
}

// Typed angles: -90 is kept and puts the dial at 270, and comes back as
// 90 (the same direction); an angle out of range is written back clamped
// when left; typing does not change the mode.
TEST_F(DialWindow, TypedAngles) {
  ASSERT_NE(Open(kMBlur, 3, 2), nullptr);
  Enter(Edit("_Dir1"), "-90");
  EXPECT_EQ(Value(0).angle, -90);
  EXPECT_EQ(Slider("_Dir1")->GetValue(), 270u);
  ClickButton("_Ok");
  EXPECT_EQ(scene->Piece(0).mblur[R].angle, -90);
  ASSERT_NE(Reopen(kMBlur), nullptr);
  EXPECT_EQ(Text(Edit("_Dir1")), "90");
  EXPECT_EQ(Value(0).angle, 90);
  ClickBox("_AAdjust");
  Enter(Edit("_Dir2"), "120");
  EXPECT_EQ(Text(Edit("_Dir2")), "90");
  EXPECT_EQ(Value(1).angle, 90);
  EXPECT_EQ(Window()->GetMode(), 0);
  ClickBox("_AAdjust");  // off: the second dial is disabled and its line hidden
  EXPECT_FALSE(Slider("_Dir2")->IsEnabled());
  EXPECT_FALSE(MBlur()->DirectionLayer(1).GetVisible());
  EXPECT_TRUE(MBlur()->DirectionLayer(0).GetVisible());
}

// Each dial shows its value's direction as a line through its centre.
TEST_F(DialWindow, DialLines) {
  ASSERT_NE(Open(kMBlur), nullptr);
  Enter(Edit("_Dir1"), "0");
  const f64 r = MBlur()->DirectionLayer(0).GetImageWidth() * 0.5 - 10;
  for (f64 at : {r / 2, -r / 2}) {
    EXPECT_GT(LineAlpha(0, 0, at), 128) << at;
    EXPECT_EQ(LineAlpha(0, 90, at), 0) << at;
  }
  Enter(Edit("_Dir1"), "-60");
  EXPECT_GT(LineAlpha(0, -60, r * 0.7), 128);
  EXPECT_GT(LineAlpha(0, 120, r * 0.7), 128);  // the opposite direction
  EXPECT_EQ(LineAlpha(0, 30, r * 0.7), 0);
  EXPECT_EQ(LineAlpha(0, 0, r + 6), 0);  // the line ends inside the ring
  // On screen the line is value 1's colour.
  kltRECT_s dial;
  ASSERT_TRUE(Window()->GetResourceRect("FXmblur_Dir1", dial));
  const f64 c = (dial.right - dial.left) * 0.5, a = -60 * kPi / 180;
  const u32 px = Pixel(dial.left + static_cast<i32>(c + r * 0.5 * std::cos(a)),
                       dial.top + static_cast<i32>(c - r * 0.5 * std::sin(a)));
  EXPECT_GT(static_cast<int>(px >> 16), 180);
  EXPECT_LT(static_cast<int>(px & 255), 150);
}

// With only the distance's box checked each piece keeps its own angle and
// the preview uses the default's; a distance of 0 leaves the picture as it
// is whatever the angle.
TEST_F(DialWindow, SpreadOfTheDistanceAlone) {
  scene = std::make_unique<Scene>(4, 2);
  scene->puzzle.port.mainWindow = mainWindow.get();
  for (u32 i = 0; i < scene->Count(); ++i) scene->Piece(i).mblur[R].angle = static_cast<i8>(10 * i);
  ASSERT_NE(Reopen(kMBlur), nullptr);
  Enter(Edit("_Radius"), "0");
  EXPECT_TRUE(ResultIsSource());
  ClickBox("_AAdjust");
  Click(Box("_AAngle"));
  Slider("_Radius2")->SetValue(30, 1);
  Click(Radio("_AR"));
  EXPECT_FALSE(ResultIsSource());
  ClickButton("_Ok");
  int spread = 0;
  for (u32 i = 0; i < scene->Count(); ++i) {
    EXPECT_EQ(scene->Piece(i).mblur[R].angle, static_cast<i8>(10 * i));
    spread += scene->Piece(i).mblur[R].radius > 0 ? 1 : 0;
  }
  EXPECT_GT(spread, 3);
}

// ---------------------------------------------------------------------------
// Hue/saturation

// Typed numbers move the mode's slider at once and are written back clamped
// when left; the slider holds the hue plus 180.
TEST_F(DialWindow, HueSaturationTyping) {
  ASSERT_NE(Open(kHSL), nullptr);
  Click(Edit("_H"));
  Type("200");
  EXPECT_EQ(Slider("_H1")->GetValue(), 360u);
  Key(kVKTab);
  EXPECT_EQ(Text(Edit("_H")), "180");
  Enter(Edit("_H"), "-250");
  EXPECT_EQ(Text(Edit("_H")), "-180");
  EXPECT_EQ(Slider("_H1")->GetValue(), 0u);
  Slider("_H1")->SetValue(180, 1);
  EXPECT_EQ(Text(Edit("_H")), "0");
  Enter(Edit("_L"), "-101");
  EXPECT_EQ(Text(Edit("_L")), "-100");
}

// The hue is spread straight between the two numbers: -170 and 170 half
// way give 0, not 180. With only saturation's box checked, hue and
// lightness stay each piece's and the preview shows the default's.
TEST_F(DialWindow, HueSpreadAndUncheckedBoxes) {
  scene = std::make_unique<Scene>(3, 2);
  scene->puzzle.port.mainWindow = mainWindow.get();
  for (u32 i = 0; i < scene->Count(); ++i) scene->Piece(i).hsl[R] = {0, 0, static_cast<i16>(i), 5, static_cast<i8>(-i)};
  ASSERT_NE(Reopen(kHSL), nullptr);
  Window()->SetRandomSource(ScriptedRandom::Next);
  Enter(Edit("_H"), "-170");
  ClickBox("_AAdjust");
  Slider("_H2")->SetValue(350, 1);                // 170
  Slider("_S2")->SetValue(200, 1);                // 100
  ScriptedRandom::Draws().assign(6, 1073741823);  // t = 0.5 for each piece
  ClickButton("_ARND");
  ClickButton("_Ok");
  for (u32 i = 0; i < scene->Count(); ++i) {
    EXPECT_EQ(scene->Piece(i).hsl[R].hue, 0);
    EXPECT_EQ(scene->Piece(i).hsl[R].saturation, 53);  // 5 + 0.5 x 95, rounded half up
  }

  scene = std::make_unique<Scene>(3, 2);
  scene->puzzle.port.mainWindow = mainWindow.get();
  for (u32 i = 0; i < scene->Count(); ++i) scene->Piece(i).hsl[R] = {0, 0, static_cast<i16>(i), 5, static_cast<i8>(-i)};
  ASSERT_NE(Reopen(kHSL), nullptr);
  ClickBox("_AAdjust");
  Click(Box("_AH"));
  Click(Box("_AL"));
  Slider("_S2")->SetValue(40, 1);  // -60, mode 1
  Click(Radio("_AB"));
  const T::SFX_HSL& def = scene->Engine().m_defHsl;
  EXPECT_TRUE(
      ResultIs(Expected([&](CKLF_ImageFX& fx) { EXPECT_TRUE(fx.HSLCorrection(def.hue, -60, def.lightness, 1)); })));
  ClickButton("_Ok");
  for (u32 i = 0; i < scene->Count(); ++i) {
    EXPECT_EQ(scene->Piece(i).hsl[R].hue, static_cast<i32>(i));
    EXPECT_EQ(scene->Piece(i).hsl[R].lightness, -static_cast<i32>(i));
  }
}

}  // namespace
