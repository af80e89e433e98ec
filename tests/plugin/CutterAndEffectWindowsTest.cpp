// The Cutter and the effect windows of the plug-in with its main window, as
// the assembly puts them together: the Cutter's controls drive the main
// window's layout, both windows speak the application's tips and Help
// menu, and the main window opens the effect windows over Puzzle mode.
#include <string>
#include <vector>

#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_UIResources.h"
#include "CWndFX_Base.h"
#include "CWndFX_ImageOverlay.h"
#include "CWnd_LayersList.h"
#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

typedef CWnd_Cutter C;

std::string Text(C::CONTROL c) {
  return static_cast<CKLF_CtrlEditLine*>(PluginRun::CutterWindow()->GetCtrl(c))->GetText().GetStr();
}

// Types over the text of one of the Cutter's edit lines and leaves it.
void Type(PluginRun& r, C::CONTROL edit, const std::string& text) {
  r.Type(*PluginRun::CutterWindow(), PluginRun::CutterWindow()->GetCtrl(edit), text);
}

// The main window's pixels over a rectangle of it.
std::vector<u8> Pixels(PluginRun& r, kltRECT_s rect) {
  std::vector<u8> out;
  u8 rgb[3];
  for (i32 y = rect.top; y < rect.bottom; ++y)
    for (i32 x = rect.left; x < rect.right; ++x)
      if (r.ui.GetPixel(r.Main()->GetWindowHandle(), x, y, rgb)) out.insert(out.end(), rgb, rgb + 3);
  return out;
}

// A status line's text once its fade has run.
std::string Settled(PluginRun& r, CKLF_CtrlStaticText* status) {
  r.ui.AdvanceClock(600);
  return status ? status->GetText().GetStr() : "?";
}

}  // namespace

TEST(CutterWithTheMainWindow, ItsGridAndKnifeControlsDriveTheLayout) {
  PluginRun r;
  r.Document(klpModeRGB, 400, 300);
  r.Then([&r] {
    CWnd_Main& w = *r.Main();
    const CLayoutModel& m = w.Editor().model;
    ASSERT_TRUE(r.CutterWindow());
    // Typed counts split the main window's grid when the field is left.
    Type(r, C::kRowsEdit, "5");
    Type(r, C::kColumnsEdit, "7");
    EXPECT_EQ(m.horizontalLineCount * 100 + m.verticalLineCount, 406);
    // A dragged slider shows the lines of its counts over the preview, the
    // linked columns the document's ideal ones, and leaves the grid as it
    // is until released.
    r.Click(C::kLinkRC);
    r.ui.Pump();
    const kltRECT_s preview = w.GetPreviewRect();
    const KLP_Point from = SliderPoint(*r.CutterWindow(), "Cutter_Rows", 4),
                    to = SliderPoint(*r.CutterWindow(), "Cutter_Rows", 8);
    r.ui.PostMouse(klpMouseDown, from.x, from.y);
    r.ui.Pump();
    const std::vector<u8> before = Pixels(r, preview);
    r.ui.PostMouse(klpMouseDragged, to.x, to.y);
    r.ui.Pump();
    EXPECT_EQ(m.horizontalLineCount, 4u);
    EXPECT_NE(Pixels(r, preview), before);
    r.ui.PostMouse(klpMouseUp, to.x, to.y);
    r.ui.Pump();
    EXPECT_EQ(m.horizontalLineCount + 1u, 9u);
    EXPECT_EQ(m.verticalLineCount + 1u, 12u);  // 9 rows of 400 x 300: 12 columns
    EXPECT_EQ(Text(C::kColumnsEdit), "12");
    // The knives take a typed thickness once razor cut is off, and a typed
    // knob size; none is selected, so all of them.
    r.Click(C::kRazorCut);
    r.ui.Pump();
    Type(r, C::kThickEdit, "6");
    Type(r, C::kKnobEdit, "40");
    for (u32 i = 0; i < m.TotalKnifeCount(); ++i) {
      EXPECT_EQ(m.NthKnife(i)->thickness, 6u) << i;
      EXPECT_EQ(m.NthKnife(i)->knobSize, 40u) << i;
    }
    EXPECT_EQ(m.thinKnives, 0);
    // An auto layout (its dialog is the Cutter's) lays hexagons and shows
    // the new counts in the Cutter.
    w.AutoLayout_Hexagons(3, 4, 1);
    EXPECT_GT(m.xKnifeCount, 0u);
    EXPECT_EQ(Text(C::kRowsEdit), std::to_string(m.horizontalLineCount + 1));
    EXPECT_EQ(Text(C::kColumnsEdit), std::to_string(m.verticalLineCount + 1));
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
}

TEST(CutterWithTheMainWindow, TheApplicationsTipsAndHelpMenuInEveryWindow) {
  PluginRun r;
  r.Document(klpModeRGB, 120, 90);
  r.Then([&r] {
    CWnd_Cutter& c = *r.CutterWindow();
    auto* status = static_cast<CKLF_CtrlStaticText*>(c.GetCtrl(C::kStatus));
    r.Hover(c, c.GetCtrl(C::kCut));
    r.ui.Pump();
    EXPECT_EQ(Settled(r, status), "Click the button to cut the image into pieces and go to Puzzle mode.");
    r.ui.AnswerMenu(-1);
    r.Click(C::kHelp);
    r.ui.Pump();
    ASSERT_FALSE(r.ui.Log().menus.empty());
    const std::vector<KLP_MenuItem>& help = r.ui.Log().menus.back();
    EXPECT_EQ(help.front().text + " / " + help.back().text, "Help... / About Plug-in...");
    // An effect window's tips come from the same table.
    r.Cut();
    CWnd_Main& w = *r.Main();
    ASSERT_EQ(w.pmfx_DoOpacity(), 1);
    auto* fx = dynamic_cast<CWndFX_Base*>(w.Puzzle().effectWindow);
    ASSERT_TRUE(fx);
    CKLF_Control* ok = Named(*fx, "FXopac_Ok", klCtrlButton);
    ASSERT_TRUE(ok);
    r.Hover(*fx, ok);
    r.ui.Pump();
    EXPECT_EQ(Settled(r, Named<CKLF_CtrlStaticText>(*fx, "FXopac_Status", klCtrlStaticText)),
              "Click the button to keep the changes and close the window.");
    r.Click(*fx, ok);
    r.ui.Pump();
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
}

TEST(EffectWindowsOfTheMainWindow, AllNineOpenOverPuzzleMode) {
  for (const int16_t mode : {klpModeRGB, klpModeGray}) {
    SCOPED_TRACE(mode);
    PluginRun r;
    r.Document(mode, 120, 90);
    r.Then([&r, mode] {
      CWnd_Main& w = *r.Main();
      CPuzzleModel& p = w.Puzzle();
      r.Cut();
      ASSERT_FALSE(w.IsLayoutMode());
      for (u8 effect = 0; effect < 10; ++effect) {
        if (effect == 7) continue;
        SCOPED_TRACE(int(effect));
        if (effect == 2 && mode != klpModeRGB) {
          // Hue/saturation is for RGB documents alone: nothing opens.
          EXPECT_EQ(OpenEffect(w, effect), 0);
          EXPECT_EQ(p.effectWindowOpen, 0);
          continue;
        }
        ASSERT_EQ(OpenEffect(w, effect), 1);
        auto* fx = dynamic_cast<CWndFX_Base*>(p.effectWindow);
        ASSERT_TRUE(fx);
        EXPECT_STREQ(fx->GetName().GetStr(), CEffectWindowServices::ResourceName(effect));
        EXPECT_TRUE(fx->IsVisible());
        // The desktop keeps it over the main window, with the keys.
        EXPECT_TRUE(r.ui.IsWindowModal(fx->GetWindowHandle()));
        EXPECT_EQ(fx->GetParent(), &w);
        EXPECT_EQ(p.effectWindowOpen, 1);
        EXPECT_FALSE(w.GetNamedControl(CWnd_Main::kApply)->IsEnabled());  // the main window waits for it
        // Return is its OK: closed, effect mode over, the window kept until
        // the next opener replaces it.
        r.ui.SelectWindow(fx->GetWindowHandle());
        r.ui.PostKey(klpKeyDown, 0x24, '\r');
        r.ui.Pump();
        EXPECT_EQ(p.effectWindowOpen, 0);
        EXPECT_FALSE(fx->GetWindowHandle());
        EXPECT_TRUE(w.GetNamedControl(CWnd_Main::kApply)->IsEnabled());
      }
      r.Click(CWnd_Main::kCancel);
    });
    EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  }
}

TEST(StatusLines, EveryTipFitsItsWindowsLine) {
  PluginRun r;
  r.Document(klpModeRGB, 120, 90);
  r.Layer(1, "Background", {0, 0, 120, 90}, {}, true);
  r.Layer(2, "Pattern", {10, 10, 100, 80}, {200, 40, 40, 255});
  r.Then([&r] {
    CWnd_Main& w = *r.Main();
    ExpectTipsFit(w, static_cast<CKLF_CtrlStaticText*>(w.GetNamedControl(CWnd_Main::kStatus)), "Main", {2, 3, 4},
                  {"Zone_Preview", "Zone_HSplitter", "Zone_VSplitter", "Zone_Status"});
    CWnd_Cutter& c = *r.CutterWindow();
    ExpectTipsFit(c, static_cast<CKLF_CtrlStaticText*>(c.GetCtrl(C::kStatus)), "Cutter", {1}, {"Zone_Preview"});
    // The Cutter's dialogs with a status line, each run from its button.
    const struct {
      C::CONTROL button;
      const char* group;
      const char* status;
    } dialogs[] = {{C::kPresets, "PresetsManager", "PresMng_Status"},
                   {C::kAutoLayout, "AutoLayout", "AutoLayout_Status"}};
    for (const auto& d : dialogs) {
      bool seen = false;
      r.Then([&r, &d, &seen] {
        CKLF_Window* dialog = dynamic_cast<CKLF_Window*>(r.ui.GetWindowClient(r.ui.GetActiveWindow()));
        ASSERT_TRUE(dialog);
        ExpectTipsFit(*dialog, Named<CKLF_CtrlStaticText>(*dialog, d.status, klCtrlStaticText), d.group, {0, 1}, {});
        seen = true;
        r.ui.PostKey(klpKeyDown, klpVKEscape, 27);
      });
      r.Click(d.button);
      r.ui.Pump();
      EXPECT_TRUE(seen) << d.group;
    }
    r.Cut();
    for (u8 effect = 0; effect < 10; ++effect) {
      if (effect == 7) continue;  // invert has no window
      ASSERT_EQ(OpenEffect(w, effect), 1) << int(effect);
      auto* fx = dynamic_cast<CWndFX_Base*>(w.Puzzle().effectWindow);
      ASSERT_TRUE(fx);
      const std::string status = std::string(fx->GetName().GetStr()) + "_Status";
      std::vector<const char*> zones;
      if (effect == 1) zones = {"Zone_Bevel_3DLight", "Zone_Bevel_HLSwatch", "Zone_Bevel_SHSwatch"};
      ExpectTipsFit(*fx, Named<CKLF_CtrlStaticText>(*fx, status.c_str(), klCtrlStaticText), "Effect", {0, 1}, zones);
      if (effect == 9) {
        // The document's layer picker, run from the overlay's source menu.
        bool seen = false;
        r.ui.AnswerMenu(1);
        r.Then([&r, &seen, fx] {
          CKLF_Window* picker = static_cast<CWndFX_ImageOverlay*>(fx)->RunningPicker();
          ASSERT_TRUE(picker);
          ExpectTipsFit(*picker, Named<CKLF_CtrlStaticText>(*picker, "Layers_Status", klCtrlStaticText), "Layers",
                        {0, 1}, {"Zone_Preview"});
          seen = true;
          r.ui.PostKey(klpKeyDown, klpVKEscape, 27);
        });
        r.Click(*fx, Named(*fx, "FXiovr_ChooseImage", klCtrlButton));
        r.ui.Pump();
        EXPECT_TRUE(seen);
      }
      fx->Close();
    }
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
}
