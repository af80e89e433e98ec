// The effect windows as a user reaches them in the plug-in's dialog: cut
// in the Cutter, an effect window opened from the main window in Puzzle
// mode, a value typed, OK; the pieces render with it, and OK of the main
// window writes what the replay of the stored block writes; a blur spread
// to the right over pieces picked by a dragged rectangle gives each the
// spread's radius, stored and replayed as the models would set it.
// Swatches pick through the platform's colour chooser when the host has
// none.
#include <algorithm>
#include <string>
#include <vector>

#include "CKLF_CtrlList.h"
#include "CWndFX_Base.h"
#include "CWndFX_ImageOverlay.h"
#include "CWnd_LayersList.h"
#include "PluginRunSupport.h"
#include "SpreadExpectation.h"

using namespace plugintest;

namespace {

typedef CTessarette T;
const u32 R = T::FX_RENDERED, W = T::FX_WORKING;

// The effect's record of a piece as the window edits it: the first value
// of the typed parameter, or -1 while the effect is off.
int Rendered(const T::SPLITEDCELL& c, u8 effect, u32 copy) {
  switch (effect) {
    case 0: return c.blur[copy].enabled ? c.blur[copy].radius : -1;
    case 1: return c.bevel[copy].enabled ? c.bevel[copy].size : -1;
    case 2: return c.hsl[copy].enabled ? c.hsl[copy].hue : -1;
    case 3: return c.colorOverlay[copy].enabled ? c.colorOverlay[copy].opacity : -1;
    case 4: return c.bc[copy].enabled ? c.bc[copy].brightness : -1;
    case 5: return c.mblur[copy].enabled ? c.mblur[copy].radius : -1;
    case 6: return c.opacity[copy].enabled ? c.opacity[copy].opacity : -1;
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
  r.ExpectReplayed(before);
}

namespace {

// The rectangle dragged over the top row of a 640 x 420 document's cut,
// clear of the knobs of the row below, in window points (shown 1:1).
void TopRowDrag(CWnd_Main& w, kltPOS& from, kltPOS& to) {
  ASSERT_EQ(w.Preview().GetZoom(), 4);
  const kltPOS o = w.Preview().GetOffset();
  const kltRECT_s v = w.GetPreviewRect();
  from = {v.left + 40 - o.x, v.top + 20 - o.y};
  to = {v.left + 600 - o.x, v.top + 80 - o.y};
}

}  // namespace

// Cut, a rectangle dragged over the top row, the blur window opened from
// the main window's button, value 1 typed, the spread on, value 2 dragged,
// to the right, OK, Apply: each selected piece has the spread's radius,
// the others none, and the replay of the stored block writes the output
// again. The same selection and radii given to the models store the same
// block.
TEST(EffectWindowsRun, ABlurSpreadOverADraggedRectangleIsStoredAsTheModelsWouldSetIt) {
  PluginRun r;
  r.Document(klpModeRGB, 640, 420);
  const auto before = r.Planes();
  std::vector<int> radii;
  r.Then([&r, &radii] {
    r.Cut();
    CWnd_Main& w = *r.Main();
    T& engine = *w.GetEngine();
    kltPOS a, b;
    ASSERT_NO_FATAL_FAILURE(TopRowDrag(w, a, b));
    r.DragIn(a.x, a.y, b.x, b.y);
    r.Click(w, Named(w, "Main_FXBlur", klCtrlButton));
    r.ui.Pump();
    auto* fx = dynamic_cast<CWndFX_Base*>(w.Puzzle().effectWindow);
    ASSERT_TRUE(fx);
    r.Type(*fx, Named(*fx, "FXblur_Radius", klCtrlEditLine), "6");
    r.Click(*fx, Named(*fx, "FXblur_AAdjust", klCtrlCheckBox));
    r.ui.Pump();
    r.ui.SelectWindow(fx->GetWindowHandle());
    for (u32 k = 0; k <= 40; k += 8) {
      const KLP_Point p = SliderPoint(*fx, "FXblur_Radius2", k);
      r.ui.PostMouse(k ? klpMouseDragged : klpMouseDown, p.x, p.y);
    }
    const KLP_Point end = SliderPoint(*fx, "FXblur_Radius2", 40);
    r.ui.PostMouse(klpMouseUp, end.x, end.y);
    r.ui.Pump();
    r.Click(*fx, Named(*fx, "FXblur_AR", klCtrlRadioButton));
    r.ui.Pump();
    r.Click(*fx, Named(*fx, "FXblur_Ok", klCtrlButton));
    r.ui.Pump();
    EXPECT_EQ(w.Puzzle().effectWindowOpen, 0);
    radii = spreadexpect::BlurRadii(engine, CFXSpread::kRight, 6, 40);
    EXPECT_EQ(spreadexpect::RenderedRadii(engine), radii);
    // The whole top row and only it, from value 1 at the left to value 2.
    for (u32 i = 0; i < engine.GetPieceCount(); ++i)
      EXPECT_EQ(engine.GetPiece(i)->selected, engine.GetPiece(i)->rect.top == 0) << i;
    EXPECT_NE(std::find(radii.begin(), radii.end(), 6), radii.end());
    EXPECT_NE(std::find(radii.begin(), radii.end(), 40), radii.end());
    r.Click(CWnd_Main::kApply);
  });
  ASSERT_EQ(r.Dialog(), klpResNoErr);
  const auto applied = r.ExpectReplayed(before);

  PluginRun m;
  m.Document(klpModeRGB, 640, 420);
  m.Then([&m, &radii] {
    m.Cut();
    CWnd_Main& w = *m.Main();
    kltPOS a, b;
    ASSERT_NO_FATAL_FAILURE(TopRowDrag(w, a, b));
    const kltRECT_s v = w.GetPreviewRect();
    w.pmop_Sel_SelectRectLocal({a.x - v.left, a.y - v.top, b.x + 1 - v.left, b.y + 1 - v.top}, 1, 0, 1);
    CKLF_DWordArray changed;
    ASSERT_TRUE(spreadexpect::SetBlurRecords(*w.GetEngine(), radii, changed));
    ASSERT_EQ(w.Puzzle().pmop_RerenderPieces(&changed, 1, 0), 1);
    m.Click(CWnd_Main::kApply);
  });
  ASSERT_EQ(m.Dialog(), klpResNoErr);
  EXPECT_EQ(m.LastData(), r.LastData());
  EXPECT_EQ(m.Planes(), applied);
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
    ASSERT_TRUE(conf.AddFolder("Preferences"));
    const u8 solid[4] = {10, 20, 30, 255};
    ASSERT_TRUE(conf.SetRecord("Preferences>ExtAlphaColorSolid", solid, 4));
    ASSERT_TRUE(conf.SetRecord("Preferences>ExtAlphaSolid", static_cast<u8>(1)));
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

namespace {

enum Closing { kCloseRequest, kCloseBox, kCancel, kEscape, kEscapeInField };

// Time passes while Cancel's render runs: as the closing window loses the
// keys the mouse moves over the main window, and its move comes 100 ms
// later, the window's timers due by then firing.
void TimePassesAsTheWindowCloses(PuzzleRun& r, const KLP_WindowID& closing) {
  r.ui.SetEventObserver([&r, &closing](const KLP_Event& e) {
    CWnd_Main* main = r.Main();
    if (!main || !closing) return;
    const kltRECT_s m = main->GetWindowRect();
    if (e.window == closing && e.eventClass == klpClassWindow && e.kind == klpWindowDeactivated)
      r.ui.PostMouse(klpMouseMoved, m.left + 20, m.bottom - 20);
    else if (e.window == main->GetWindowHandle() && e.eventClass == klpClassMouse && main->Puzzle().IsRerenderBusy())
      r.ui.AdvanceClock(100);
  });
}

}  // namespace

// A value typed into each effect window and left with Tab reaches the
// pieces; the window closed by the window manager's close request, its
// close box, Cancel or Escape (also one press in the field being typed
// into) leaves them as they were, also when time
// passes during Cancel's render (the field that still had the keys ends
// its edit before the close, not as the closed window loses them).
TEST(EffectWindowsRun, EveryCloseButOkLeavesThePiecesAsTheyWere) {
  const struct {
    u8 effect;
    const char* edit;
    const char* typed;
    int stored;
  } edits[] = {{0, "_Radius", "25", 25}, {1, "_Size", "5", 5},      {2, "_H", "-30", -30},
               {3, "_Opacity", "40", 102}, {4, "_Bright", "30", 30}, {5, "_Radius", "12", 12},
               {6, "_Opacity", "40", 102}, {8, "_Size", "7", 7},     {9, "_Opacity", "60", 153}};
  PuzzleRun r;
  KLP_WindowID closing = 0;
  r.Then([&r, &edits, &closing] {
    r.Cut();
    // Here: the application sets its own observer as its loop starts.
    TimePassesAsTheWindowCloses(r, closing);
    T& engine = *r.Main()->GetEngine();
    for (const auto& e : edits)
      for (Closing way : {kCloseRequest, kCloseBox, kCancel, kEscape, kEscapeInField}) {
        SCOPED_TRACE(::testing::Message() << "effect " << int(e.effect) << " way " << int(way));
        std::vector<int> start;
        for (u32 i = 0; i < engine.GetPieceCount(); ++i) start.push_back(Rendered(*engine.GetPiece(i), e.effect, R));
        CWndFX_Base* fx = r.Open(e.effect);
        ASSERT_TRUE(fx);
        closing = fx->GetWindowHandle();
        if (way == kEscapeInField) {  // typed into the field that keeps the keys
          r.Click(*fx, r.Control(*fx, e.edit, klCtrlEditLine));
          for (const char* c = e.typed; *c; ++c) r.ui.PostKey(klpKeyDown, klpVKNone, static_cast<u8>(*c));
          r.ui.PostKey(klpKeyDown, klpVKEscape, 27);
        } else {
          r.Type(*fx, r.Control(*fx, e.edit, klCtrlEditLine), e.typed);
        }
        r.ui.AdvanceClock(100);
        r.ui.Pump();
        if (way != kEscapeInField) {
          ASSERT_EQ(Rendered(*engine.GetPiece(0), e.effect, R), e.stored);
        }
        if (way == kCloseRequest) r.ui.PostClose(closing);
        if (way == kCloseBox || way == kCancel)
          r.Click(*fx, r.Control(*fx, way == kCancel ? "_Cancel" : "_CloseX", klCtrlButton));
        if (way == kEscape) r.ui.PostKey(klpKeyDown, klpVKEscape, 27);
        r.ui.Pump();
        closing = 0;
        EXPECT_EQ(r.Main()->Puzzle().effectWindowOpen, 0);
        for (u32 i = 0; i < engine.GetPieceCount(); ++i) {
          EXPECT_EQ(Rendered(*engine.GetPiece(i), e.effect, R), start[i]) << i;
          EXPECT_EQ(Rendered(*engine.GetPiece(i), e.effect, W), start[i]) << i;
        }
      }
    r.ui.SetEventObserver(nullptr);
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
}

// The host's picker, with nothing scripted, is the platform's chooser over
// the effect window; a window manager's close of the effect window then
// keeps nothing, and of the main window cancels the run.
TEST(EffectWindowsRun, HostsPickerIsThePlatformsChooserAndCloseRequestsCancel) {
  PuzzleRun r;
  r.host.SetColourChooser([&r]() -> CKLP_UIPlatform* { return &r.ui; });
  r.Then([&r] {
    r.Cut();
    T& engine = *r.Main()->GetEngine();
    CWndFX_Base* fx = r.Open(3);
    ASSERT_TRUE(fx);
    const T::SFX_COLOROVERLAY start = engine.GetPiece(0)->colorOverlay[R];
    // A chooser without memory to show is told over the window.
    r.ui.FailColor();
    r.Click(*fx, r.Control(*fx, "_Color1", klCtrlStaticImage));
    r.ui.Pump();
    ASSERT_EQ(r.ui.Log().alerts.size(), 1u);
    EXPECT_EQ(r.ui.Log().alerts[0].second, "Memory allocation problem...");
    EXPECT_EQ(r.ui.Log().alertParents[0], fx->GetWindowHandle());
    r.ui.AnswerColor(250 * 257, 10 * 257, 0);
    r.Click(*fx, r.Control(*fx, "_Color1", klCtrlStaticImage));
    r.ui.Pump();
    ASSERT_EQ(r.ui.Log().colourParents.size(), 2u);
    EXPECT_EQ(r.ui.Log().colourParents[1], fx->GetWindowHandle());
    r.ui.PostClose(fx->GetWindowHandle());
    r.ui.Pump();
    EXPECT_EQ(r.Main()->Puzzle().effectWindowOpen, 0);
    EXPECT_FALSE(fx->GetWindowHandle());
    const T::SFX_COLOROVERLAY& after = engine.GetPiece(0)->colorOverlay[R];
    EXPECT_EQ(std::string(after.color, after.color + 8), std::string(start.color, start.color + 8));
    EXPECT_EQ(after.enabled, start.enabled);
    // Chosen again and kept with OK: the pieces take it.
    fx = r.Open(3);
    ASSERT_TRUE(fx);
    r.ui.AnswerColor(250 * 257, 10 * 257, 0);
    r.Click(*fx, r.Control(*fx, "_Color1", klCtrlStaticImage));
    r.Click(*fx, r.Control(*fx, "_Ok", klCtrlButton));
    r.ui.Pump();
    const u8* kept = engine.GetPiece(0)->colorOverlay[R].color;
    EXPECT_EQ(kept[1] * 1000000 + kept[2] * 1000 + kept[3], 250010000);
    r.ui.PostClose(r.Main()->GetWindowHandle());
  });
  const auto before = r.Planes();
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  EXPECT_EQ(r.Planes(), before);
}
