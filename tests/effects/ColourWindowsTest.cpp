// The colour overlay and stroke windows over a real cut: the colour's
// eight bytes spread one by one, the swatches through the host's colour
// picker (cancelled, disabled, in a grey document), the opacity in percent
// and the stroke's width spread alone.
#include <gtest/gtest.h>

#include <cstring>

#include "CWndFX_Bevel.h"
#include "CWndFX_ColourBase.h"
#include "effects/FXTestUtil.h"

namespace {

using namespace fxtest;

class ColourWindow : public FXWindowTest {
 protected:
  CWndFX_ColourBase* Colour() { return dynamic_cast<CWndFX_ColourBase*>(Window()); }
  // The colour bytes of a record of the window's effect.
  static u8* ColourOf(u8* record, u8 effect) {
    return effect == kCovr ? reinterpret_cast<T::SFX_COLOROVERLAY*>(record)->color
                           : reinterpret_cast<T::SFX_STROKE*>(record)->color;
  }
  u8* Value(u8 which, u8 effect) { return ColourOf(Window()->Records().GetValue(which), effect); }
  void PressSwatch(u8 which) {
    const kltRECT_s r = Colour()->Colours().SwatchRect(which);
    const KLP_Point p = Global(r.left + 3, r.top + 3);
    ui.PostClick(p.x, p.y);
    ui.Pump();
  }
  void NewScene(u8 colorKind = 1) {
    scene = std::make_unique<Scene>(3, 2, colorKind);
    scene->puzzle.port.mainWindow = mainWindow.get();
    scene->Serve();
  }
};

const u8 kRed[8] = {76, 255, 0, 0, 0, 255, 255, 0};
const u8 kBlue[8] = {29, 0, 0, 255, 255, 255, 0, 0};

// Red to blue half way: each of the eight bytes half way on its own.
TEST_F(ColourWindow, ColourBytesSpreadOneByOne) {
  for (u8 effect : {kCovr, kStroke}) {
    NewScene();
    for (u32 i = 0; i < scene->Count(); ++i)
      std::memcpy(ColourOf(CFXEffectRecords::PieceRecord(scene->Piece(i), effect, R), effect), kRed, 8);
    std::memcpy(ColourOf(const_cast<u8*>(CFXEffectRecords::DefaultRecord(scene->Engine(), effect)), effect), kBlue, 8);
    ASSERT_NE(Reopen(effect), nullptr);
    Window()->SetRandomSource(ScriptedRandom::Next);
    ClickBox("_AAdjust");
    ASSERT_TRUE(Box("_AColor")->GetCheck());
    ScriptedRandom::Draws().assign(6, 1073741823);  // t = 0.5
    ClickButton("_ARND");
    ClickButton("_Ok");
    const u8 half[8] = {53, 128, 0, 128, 128, 255, 128, 0};
    for (u32 i = 0; i < scene->Count(); ++i)
      EXPECT_EQ(Bytes(ColourOf(CFXEffectRecords::PieceRecord(scene->Piece(i), effect, R), effect),
                      ColourOf(CFXEffectRecords::PieceRecord(scene->Piece(i), effect, R), effect) + 8),
                Bytes(half, half + 8))
          << int(effect) << " " << i;
  }
}

// A picked colour takes all eight bytes the picker gives and reaches the
// pieces; a cancelled picker changes nothing and renders nothing, but the
// mode follows the swatch.
TEST_F(ColourWindow, PickingAndCancelling) {
  for (u8 effect : {kCovr, kStroke}) {
    NewScene();
    ASSERT_NE(Reopen(effect), nullptr);
    ui.AdvanceClock(100);
    scene->host.SetPickedColour(true, 0, 160, 250);
    PressSwatch(0);
    u8 line[8] = {0, 0, 160, 250, 0, 0, 0, 0};
    scene->plugin.Fill8ByteColorLineFromRGB(line);
    EXPECT_EQ(Bytes(Value(0, effect), Value(0, effect) + 8), Bytes(line, line + 8)) << int(effect);
    EXPECT_EQ(Colour()->Colours().SwatchLayer(0).GetPixel(2, 2).blue, 250);
    ui.AdvanceClock(60);
    EXPECT_EQ(ColourOf(CFXEffectRecords::PieceRecord(scene->Piece(0), effect, R), effect)[2], 160);

    ClickBox("_AAdjust");
    ui.AdvanceClock(100);
    const Bytes before = puzzletest::Records(scene->Engine());
    const Bytes second(Value(1, effect), Value(1, effect) + 8);
    scene->host.SetPickedColour(false, 0, 0, 0);
    Model().renders = 0;
    PressSwatch(1);
    ui.AdvanceClock(100);
    EXPECT_EQ(Bytes(Value(1, effect), Value(1, effect) + 8), second);
    EXPECT_EQ(Window()->GetMode(), 1);  // the mode follows the swatch all the same
    EXPECT_EQ(Model().renders, 0);
    EXPECT_EQ(puzzletest::Records(scene->Engine()), before);
    ClickButton("_Cancel");
  }
}

// Swatch 2 is disabled while the spread is off; with the spread on and the
// colour's box unchecked neither swatch takes a press; disabled swatches
// show at half opacity.
TEST_F(ColourWindow, DisabledSwatches) {
  NewScene();
  ASSERT_NE(Reopen(kStroke), nullptr);
  scene->host.SetPickedColour(true, 1, 2, 3);
  const Bytes first(Value(0, kStroke), Value(0, kStroke) + 8), second(Value(1, kStroke), Value(1, kStroke) + 8);
  EXPECT_FALSE(Colour()->Colours().SwatchLayer(1).GetVisible());
  PressSwatch(1);
  EXPECT_EQ(Bytes(Value(1, kStroke), Value(1, kStroke) + 8), second);
  ClickBox("_AAdjust");
  EXPECT_TRUE(Colour()->Colours().Swatch(1)->IsEnabled());
  EXPECT_TRUE(Colour()->Colours().SwatchLayer(1).GetVisible());
  Click(Box("_AColor"));
  EXPECT_FALSE(Colour()->Colours().SwatchLayer(0).GetVisible());
  EXPECT_EQ(Colour()->Colours().Swatch(0)->GetDisabledOpacity(), 50);
  PressSwatch(0);
  PressSwatch(1);
  EXPECT_EQ(Bytes(Value(0, kStroke), Value(0, kStroke) + 8), first);
  EXPECT_EQ(Bytes(Value(1, kStroke), Value(1, kStroke) + 8), second);
}

// In a grey document the swatches and the preview use the grey byte.
TEST_F(ColourWindow, GreyDocumentsShowTheGreyByte) {
  NewScene(0);
  for (u32 i = 0; i < scene->Count(); ++i) {
    std::memcpy(scene->Piece(i).colorOverlay[R].color, kRed, 8);
    scene->Piece(i).colorOverlay[R].opacity = 255;
  }
  ASSERT_NE(Reopen(kCovr), nullptr);
  const kltRGBA8 s = Colour()->Colours().SwatchLayer(0).GetPixel(1, 1);
  EXPECT_TRUE(s.red == 76 && s.green == 76 && s.blue == 76);
  const kltRECT_s v = Window()->GetPreviewRect();
  const u32 mid = Pixel((v.left + v.right) / 2, (v.top + v.bottom) / 2 + 10);
  EXPECT_NEAR(static_cast<int>(mid >> 16), 76, 2);
  EXPECT_EQ(mid >> 16, mid & 255);
}

// On screen a swatch shows the chosen colour itself (its grey in a grey
// document: 63 for 20, 90, 40), and the picker starts from what it shows.
TEST_F(ColourWindow, SwatchesShowAndHandOverTheColourAsChosen) {
  const int kChosen[3] = {20, 90, 40};
  for (u8 kind : {1, 0})
    for (u8 effect : {kCovr, kStroke, kBevel}) {
      NewScene(kind);
      ASSERT_NE(Reopen(effect), nullptr);
      const kltRECT_s r = effect == kBevel ? dynamic_cast<CWndFX_Bevel*>(Window())->SwatchRect(0)
                                           : Colour()->Colours().SwatchRect(0);
      auto shown = [&] {
        const u32 p = Pixel((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        return std::vector<int>({int(p >> 16), int(p >> 8 & 255), int(p & 255)});
      };
      std::vector<int> handed, before;
      scene->host.ForgetPickedColour();
      scene->host.SetColourChooser([this] { return &ui; });
      ui.SetColourAnswerer([&](uint16_t rgb[3]) {
        handed = {rgb[0] / 257, rgb[1] / 257, rgb[2] / 257};
        for (int i = 0; i < 3; ++i) rgb[i] = static_cast<uint16_t>(kChosen[i] * 257);
        return true;
      });
      for (int pick = 0; pick < 2; ++pick) {
        before = shown();
        ui.PostClick(Global(r.left + 3, r.top + 3).x, Global(r.left + 3, r.top + 3).y);
        ui.Pump();
        EXPECT_EQ(handed, before) << int(effect) << " " << int(kind);
        EXPECT_EQ(shown(), kind ? std::vector<int>(kChosen, kChosen + 3) : std::vector<int>(3, 63)) << int(effect);
      }
      ClickButton("_Cancel");
    }
}

// An overlay opacity of 128 shows as 50 % and OK stores 127.
TEST_F(ColourWindow, OpacityInPercent) {
  NewScene();
  for (u32 i = 0; i < scene->Count(); ++i) scene->Piece(i).colorOverlay[R].opacity = 128;
  ASSERT_NE(Reopen(kCovr), nullptr);
  EXPECT_EQ(Text(Edit("_Opacity")), "50");
  ClickButton("_Ok");
  EXPECT_EQ(scene->Piece(0).colorOverlay[R].opacity, 127);
}

// The stroke's width alone spread: 2 to 10 half way gives 6, each piece
// keeping its own opacity and colour; the preview shows the edited width
// with the default's opacity and colour.
TEST_F(ColourWindow, StrokeWidthSpreadAlone) {
  NewScene();
  for (u32 i = 0; i < scene->Count(); ++i) {
    T::SFX_STROKE& s = scene->Piece(i).stroke[R];
    s.size = 2, s.opacity = static_cast<u8>(100 + i), s.color[1] = static_cast<u8>(i);
  }
  ASSERT_NE(Reopen(kStroke), nullptr);
  Window()->SetRandomSource(ScriptedRandom::Next);
  ClickBox("_AAdjust");
  Click(Box("_AColor"));
  Click(Box("_AOpacity"));
  Slider("_Size2")->SetValue(10, 1);
  const T::SFX_STROKE& def = scene->Engine().m_defStroke;
  EXPECT_TRUE(
      ResultIs(Expected([&](CKLF_ImageFX& fx) { EXPECT_TRUE(fx.StrokeInside(def.color + 1, 10, def.opacity)); })));
  ScriptedRandom::Draws().assign(6, 1073741823);
  ClickButton("_ARND");
  ClickButton("_Ok");
  for (u32 i = 0; i < scene->Count(); ++i) {
    const T::SFX_STROKE& s = scene->Piece(i).stroke[R];
    EXPECT_EQ(s.size, 6);
    EXPECT_EQ(s.opacity, 100 + i);
    EXPECT_EQ(s.color[1], i);
    EXPECT_EQ(s.enabled, 1);
  }
}

}  // namespace
