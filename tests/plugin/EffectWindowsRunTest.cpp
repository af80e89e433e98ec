// The effect windows as a user reaches them in the plug-in's dialog: cut
// in the Cutter, an effect window opened from the main window in Puzzle
// mode, a value typed, OK; the pieces render with it, and OK of the main
// window writes what the replay of the stored block writes. Swatches pick
// through the platform's colour chooser when the host has none.
#include <string>

#include "CKLF_CtrlList.h"
#include "CWndFX_Base.h"
#include "CWndFX_ImageOverlay.h"
#include "CWnd_LayersList.h"
#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

typedef CTessarette T;
const u32 R = T::FX_RENDERED, W = T::FX_WORKING;

// The effect's record of a piece as the window edits it: the first value
// of the typed parameter, or -1 while the effect is off.
int Rendered(const T::SPLITEDCELL& c, u8 effect, u32 copy) {
  switch (effect) {
    case 1: return c.bevel[copy].enabled ? c.bevel[copy].size : -1;
    case 2: return c.hsl[copy].enabled ? c.hsl[copy].hue : -1;
    case 3: return c.colorOverlay[copy].enabled ? c.colorOverlay[copy].opacity : -1;
    case 5: return c.mblur[copy].enabled ? c.mblur[copy].radius : -1;
    case 8: return c.stroke[copy].enabled ? c.stroke[copy].size : -1;
    default: return c.imageOverlay[copy].enabled ? c.imageOverlay[copy].opacity : -1;
  }
}

// A run on an RGB document with two layers (the filtered one and a
// coloured one that covers part of it), its Cutter's default grid cut.
struct PuzzleRun : PluginRun {
  PuzzleRun() {
    Document(klpModeRGB, 120, 90);
    Layer(1, "Background", {0, 0, 120, 90}, {}, true);
    Layer(2, "Pattern", {0, 0, 120, 90}, {30, 200, 90, 255});
  }
  CWndFX_Base* Open(u8 effect) {
    EXPECT_EQ(OpenEffect(*Main(), effect), 1) << int(effect);
    return dynamic_cast<CWndFX_Base*>(Main()->Puzzle().effectWindow);
  }
  CKLF_Control* Control(CWndFX_Base& fx, const char* suffix, u8 type) {
    return Named(fx, (std::string(fx.GetName().GetStr()) + suffix).c_str(), type);
  }
};

}  // namespace

TEST(EffectWindowsRun, EachWindowGivesThePiecesTheTypedValue) {
  const struct {
    u8 effect;
    const char* edit;
    const char* typed;
    int stored;  // the record's value
  } edits[] = {{1, "_Size", "5", 5},      {2, "_H", "-30", -30},       {3, "_Opacity", "40", 102},
               {5, "_Radius", "12", 12},  {8, "_Size", "7", 7},         {9, "_Opacity", "60", 153}};
  PuzzleRun r;
  const auto before = r.Planes();
  r.Then([&r, &edits] {
    r.Cut();
    T& engine = *r.Main()->GetEngine();
    ASSERT_GT(engine.GetPieceCount(), 1u);
    for (const auto& e : edits) {
      SCOPED_TRACE(int(e.effect));
      CWndFX_Base* fx = r.Open(e.effect);
      ASSERT_TRUE(fx);
      r.Type(*fx, r.Control(*fx, e.edit, klCtrlEditLine), e.typed);
      r.Click(*fx, r.Control(*fx, "_Ok", klCtrlButton));
      r.ui.Pump();
      EXPECT_EQ(r.Main()->Puzzle().effectWindowOpen, 0);
      // No piece selected: every piece took it, rendered.
      for (u32 i = 0; i < engine.GetPieceCount(); ++i) {
        EXPECT_EQ(Rendered(*engine.GetPiece(i), e.effect, R), e.stored) << i;
        EXPECT_EQ(Rendered(*engine.GetPiece(i), e.effect, W), e.stored) << i;
      }
    }
    r.Click(CWnd_Main::kApply);
  });
  ASSERT_EQ(r.Dialog(), klpResNoErr);
  const auto applied = r.Planes();
  EXPECT_NE(applied, before);
  EXPECT_EQ(r.ReplayOver(before), applied);
}

TEST(EffectWindowsRun, SwatchesPickThroughThePlatformsChooserWithoutHostColours) {
  PuzzleRun r;
  r.host.GetServices().colorServices = false;
  r.Then([&r] {
    r.Cut();
    T& engine = *r.Main()->GetEngine();
    CWndFX_Base* fx = r.Open(3);
    ASSERT_TRUE(fx);
    const T::SFX_COLOROVERLAY start = engine.GetPiece(0)->colorOverlay[R];
    // Cancelled: nothing changes.
    r.Click(*fx, r.Control(*fx, "_Color1", klCtrlStaticImage));
    r.ui.Pump();
    ASSERT_EQ(r.ui.Log().colourTitles.size(), 1u);
    EXPECT_EQ(r.ui.Log().colourTitles[0], "Select Color");
    r.ui.AnswerColor(0, 160 * 257, 250 * 257);
    r.Click(*fx, r.Control(*fx, "_Color1", klCtrlStaticImage));
    r.ui.Pump();
    EXPECT_EQ(r.ui.Log().colourTitles.size(), 2u);
    r.Click(*fx, r.Control(*fx, "_Ok", klCtrlButton));
    r.ui.Pump();
    // Grey and CMYK from the chosen red, green and blue, the host offering
    // no conversions.
    const u8 want[8] = {136, 0, 160, 250, 255, 95, 5, 0};
    for (u32 i = 0; i < engine.GetPieceCount(); ++i) {
      const T::SFX_COLOROVERLAY& c = engine.GetPiece(i)->colorOverlay[R];
      EXPECT_EQ(c.enabled, 1);
      EXPECT_EQ(std::string(c.color, c.color + 8), std::string(want, want + 8)) << i;
    }
    EXPECT_NE(std::string(start.color, start.color + 8), std::string(want, want + 8));
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
}

// The image overlay's layer picker, opened from the window the main window
// opened: its thumbnail lies in the main window's outside colours (here
// solid) and OK hands the chosen layer to the pieces.
TEST(EffectWindowsRun, TheLayerPickerFramesItsThumbnailAsTheMainWindowDoes) {
  PuzzleRun r;
  r.Store([](CKLF_Storage& conf) {
    conf.AddFolder("Preferences");
    const u8 solid[4] = {10, 20, 30, 255};
    conf.SetRecord("Preferences>ExtAlphaColorSolid", solid, 4);
    conf.SetRecord("Preferences>ExtAlphaSolid", static_cast<u8>(1));
  });
  r.Then([&r] {
    r.Cut();
    auto* fx = dynamic_cast<CWndFX_ImageOverlay*>(r.Open(9));
    ASSERT_TRUE(fx);
    u8 corner[3] = {0, 0, 0};
    r.ui.AnswerMenu(1);
    r.Then([&r, fx, &corner] {
      CWnd_LayersList* picker = fx->RunningPicker();
      ASSERT_TRUE(picker);
      kltRECT_s preview;
      ASSERT_TRUE(picker->GetResourceRect("Layers_Preview", preview));
      // The document is wider than high: the thumbnail leaves the top rows.
      EXPECT_TRUE(r.ui.GetPixel(picker->GetWindowHandle(), preview.left + 1, preview.top + 1, corner));
      CKLF_CtrlList* list = picker->List();
      for (u32 row = 0; row < list->GetItemsCount(); ++row) {
        CKLF_String text;
        list->GetItem(row, &text, nullptr, nullptr);
        if (std::string(text.GetStr()).find("Pattern") != std::string::npos) list->SelectItems(row, row, 1, 0, 1, 1, 1);
      }
      EXPECT_EQ(picker->GetChosenId(), 2);
      r.Click(*picker, Named(*picker, "Layers_Ok", klCtrlButton));
    });
    r.Click(*fx, Named(*fx, "FXiovr_ChooseImage", klCtrlButton));
    r.ui.Pump();
    // (The window's composition of its layers rounds by a unit or so.)
    EXPECT_NEAR(corner[0], 10, 2);
    EXPECT_NEAR(corner[1], 20, 2);
    EXPECT_NEAR(corner[2], 30, 2);
    r.Click(*fx, Named(*fx, "FXiovr_Ok", klCtrlButton));
    r.ui.Pump();
    T& engine = *r.Main()->GetEngine();
    for (u32 i = 0; i < engine.GetPieceCount(); ++i) {
      const T::SFX_IMAGEOVERLAY& o = engine.GetPiece(i)->imageOverlay[R];
      EXPECT_EQ(o.enabled, 1);
      EXPECT_EQ(o.sourceMode, 1);
      EXPECT_EQ(o.layerId, 2);
    }
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
}
