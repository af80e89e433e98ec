// The main window on the headless platform: its start, the info and
// status lines, the mode's controls, the Cutter's hand-over and the main
// progress.
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlStaticImage.h"
#include "CKLF_CtrlStaticText.h"
#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

std::string Text(CWnd_Main::Control c) {
  auto* t = static_cast<CKLF_CtrlStaticText*>(PluginRun::Main()->GetNamedControl(c));
  return t ? t->GetText().GetStr() : "?";
}

// Runs the dialog with one step, then cancels.
void WithMainWindow(PluginRun& r, std::function<void(CWnd_Main&)> step) {
  r.Then([&r, step] {
    ASSERT_TRUE(r.Main());
    step(*r.Main());
    if (r.Main()->GetWindowHandle()) r.Click(CWnd_Main::kCancel);
  });
  r.Dialog();
}

// Preferences of distinct colours, checkers or solid: transparency
// (250, 240, 230) and (90, 160, 40), solid (200, 100, 50); the area outside
// the image (20, 30, 240) and (240, 20, 200), solid (10, 220, 120).
void StoreColours(PluginRun& r, bool solid) {
  r.Store([solid](CKLF_Storage& conf) {
    ASSERT_TRUE(conf.AddFolder("Preferences"));
    const u8 one[4] = {250, 240, 230, 255}, two[4] = {90, 160, 40, 255}, single[4] = {200, 100, 50, 255};
    const u8 out1[4] = {20, 30, 240, 255}, out2[4] = {240, 20, 200, 255}, outSolid[4] = {10, 220, 120, 255};
    ASSERT_TRUE(conf.SetRecord("Preferences>AlphaColor1", one, 4));
    ASSERT_TRUE(conf.SetRecord("Preferences>AlphaColor2", two, 4));
    ASSERT_TRUE(conf.SetRecord("Preferences>AlphaColorSolid", single, 4));
    ASSERT_TRUE(conf.SetRecord("Preferences>ExtAlphaColor1", out1, 4));
    ASSERT_TRUE(conf.SetRecord("Preferences>ExtAlphaColor2", out2, 4));
    ASSERT_TRUE(conf.SetRecord("Preferences>ExtAlphaColorSolid", outSolid, 4));
    ASSERT_TRUE(conf.SetRecord("Preferences>AlphaSolid", static_cast<u8>(solid ? 1 : 0)));
    ASSERT_TRUE(conf.SetRecord("Preferences>ExtAlphaSolid", static_cast<u8>(solid ? 1 : 0)));
  });
}

// The window's pixels 4 to the left and to the right of (x, y) in the
// navigator: each one of the colours, plainly or under the navigator's
// light veil outside the view frame ((200, 200, 200) at alpha 100); with
// two colours, cells of both.
void ExpectCells(PluginRun& r, CWnd_Main& w, i32 x, i32 y, const std::vector<std::vector<int>>& colours) {
  auto near = [](const std::vector<int>& got, const std::vector<int>& want) {
    bool plain = true, veiled = true;
    for (size_t k = 0; k < 3; ++k) {
      plain = plain && std::abs(got[k] - want[k]) <= 3;
      veiled = veiled && std::abs(got[k] - (200 * 100 + want[k] * 155) / 255) <= 3;
    }
    return plain || veiled;
  };
  std::vector<std::vector<int>> seen;
  for (i32 px : {x - 4, x + 4}) {
    u8 rgb[3] = {};
    ASSERT_TRUE(r.ui.GetPixel(w.GetWindowHandle(), px, y, rgb));
    seen.push_back({rgb[0], rgb[1], rgb[2]});
    SCOPED_TRACE(::testing::PrintToString(seen.back()));
    bool any = false;
    for (const auto& c : colours) any = any || near(seen.back(), c);
    EXPECT_TRUE(any);
  }
  if (colours.size() > 1) {
    EXPECT_NE(seen[0], seen[1]);
  }
}

u8 Visible(CWnd_Main& w, CWnd_Main::Control c) {
  return static_cast<CKLF_CtrlStaticImage*>(w.GetNamedControl(c))->GetControlLayer()->GetVisible();
}

}  // namespace

TEST(MainWindow, StartZoomFitsTheImageOrShowsItAtOneToOne) {
  EXPECT_EQ(CWnd_Main::StartZoom(4000, 3000, 600, 450, 1), 1);  // 4000 / 8 and 3000 / 8 fit
  EXPECT_EQ(CWnd_Main::StartZoom(600, 450, 600, 450, 1), 4);
  EXPECT_EQ(CWnd_Main::StartZoom(601, 10, 600, 450, 1), 3);
  EXPECT_EQ(CWnd_Main::StartZoom(600 * 17, 10, 600, 450, 1), 0);  // beyond 16 times: the smallest zoom
  EXPECT_EQ(CWnd_Main::StartZoom(4000, 3000, 600, 450, 0), 4);
}

TEST(MainWindow, OpensInLayoutModeWithItsPreviewAndTheLastSettings) {
  PluginRun r;
  r.Document(klpModeRGB, 3000, 200);
  WithMainWindow(r, [&](CWnd_Main& w) {
    EXPECT_TRUE(w.IsCreated());
    EXPECT_EQ(w.GetZoom(), 2);  // 3000 / 4 fits the 766 pixels of the preview
    EXPECT_EQ(w.Preview().GetZoom(), 2);
    EXPECT_TRUE(w.Preview().IsWashedOut());
    EXPECT_TRUE(Visible(w, CWnd_Main::kModeL));
    EXPECT_FALSE(Visible(w, CWnd_Main::kModeP));
    EXPECT_TRUE(w.GetNamedControl(CWnd_Main::kApplyLM)->IsEnabled());
    EXPECT_FALSE(w.GetNamedControl(CWnd_Main::kApply)->IsEnabled());
    EXPECT_FALSE(w.GetNamedControl(CWnd_Main::kRndKnotsButton)->IsEnabled());
    EXPECT_FALSE(w.GetEffectControl(0, klCtrlButton)->IsEnabled());
    // The default layout: two rows on a wide image.
    EXPECT_EQ(w.Editor().model.horizontalLineCount, 1);
    EXPECT_EQ(w.Editor().undo.IsEmpty(), 1);
    // The Cutter was told the grid, the common thickness and knob size,
    // and shows them.
    CCutterSession* c = r.Cutter();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->rows, 2);
    EXPECT_EQ(c->columns, w.Editor().model.verticalLineCount + 1);
    EXPECT_EQ(c->thickness, 3);
    EXPECT_EQ(c->knobSize, 100);
    EXPECT_EQ(c->thicknessMixed, 0);
    EXPECT_TRUE(r.CutterWindow()->IsVisible());
    EXPECT_EQ(static_cast<CKLF_CtrlEditLine*>(r.CutterWindow()->GetCtrl(CWnd_Cutter::kRowsEdit))->GetText(), "2");
  });
  // Its picture: the window as a person sees it, kept in the build folder.
  EXPECT_GT(r.ui.Log().cursorSets, 0u);
}

TEST(MainWindow, KeepsAPictureOfEachModeInTheBuildFolder) {
  PluginRun r;
  r.Document(klpModeRGB, 640, 420);
  r.Then([&r] {
    CWnd_Main& w = *r.Main();
    EXPECT_TRUE(r.ui.SavePNG(w.GetWindowHandle(), std::string(KLF_BINARY_DIR) + "/mainwindow-layout.png"));
    EXPECT_TRUE(r.ui.SavePNG(r.CutterWindow()->GetWindowHandle(), std::string(KLF_BINARY_DIR) + "/mainwindow-cutter.png"));
    r.Cut();
    EXPECT_FALSE(Visible(w, CWnd_Main::kModeL));
    EXPECT_TRUE(Visible(w, CWnd_Main::kModeP));
    EXPECT_TRUE(w.GetNamedControl(CWnd_Main::kApply)->IsEnabled());
    EXPECT_FALSE(w.GetNamedControl(CWnd_Main::kApplyLM)->IsEnabled());
    EXPECT_TRUE(w.GetEffectControl(1, klCtrlButton)->IsEnabled());
    EXPECT_FALSE(w.GetEffectControl(7, klCtrlCheckBox)->IsEnabled());  // image overlay: no layer access here
    EXPECT_TRUE(r.ui.SavePNG(w.GetWindowHandle(), std::string(KLF_BINARY_DIR) + "/mainwindow-puzzle.png"));
    r.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
}

TEST(MainWindow, PreferencesAreTakenOnlyFromWellFormedRecords) {
  PluginRun r;
  r.Store([](CKLF_Storage& conf) {
    ASSERT_TRUE(conf.AddFolder("Preferences"));
    const u8 three[3] = {1, 2, 3}, four[4] = {9, 8, 7, 255};
    ASSERT_TRUE(conf.SetRecord("Preferences>AlphaColor1", three, 3));  // not a colour: ignored
    ASSERT_TRUE(conf.SetRecord("Preferences>AlphaColorSolid", four, 4));
    ASSERT_TRUE(conf.SetRecord("Preferences>AlphaSolid", static_cast<u8>(1)));
    ASSERT_TRUE(conf.SetRecord("Preferences>OnLoadZoom", static_cast<u8>(0)));
  });
  r.Document(klpModeRGB, 3000, 200);
  WithMainWindow(r, [](CWnd_Main& w) {
    const CPreferences& p = w.GetPreferences();
    EXPECT_EQ(std::vector<u8>({p.alphaColor1.red, p.alphaColor1.green, p.alphaColor1.blue}),
              std::vector<u8>({255, 255, 255}));
    EXPECT_EQ(p.alphaColorSolid.red, 9);
    EXPECT_EQ(p.alphaSolid, 1);
    EXPECT_EQ(p.delKnifeOpacity, 70);
    EXPECT_EQ(w.GetZoom(), 4);  // no fitting: 1:1
    // Effect windows show transparency as the main window does: solid.
    kltRGBA8 a, b;
    w.GetTransparencyColors(a, b);
    EXPECT_EQ(std::vector<u8>({a.red, a.green, b.red, b.blue}), std::vector<u8>({9, 8, 9, 7}));
  });
}

// The navigator shows a transparent document as the preview does: over
// the checker of the preferences' two colours, or over their solid colour,
// never black.
TEST(MainWindow, TheNavigatorDrawsTransparencyAsThePreview) {
  for (const bool solid : {false, true}) {
    SCOPED_TRACE(solid ? "solid" : "checker");
    PluginRun r;
    StoreColours(r, solid);
    r.Document(klpModeRGB, 300, 200, true);
    // The left half transparent but for its first column, which keeps the
    // filtered area (and so the thumbnail's picture) the document's width.
    for (i32 y = 0; y < 200; ++y) std::fill_n(&r.host.Plane(3)[static_cast<size_t>(y) * 300 + 1], 149, 0);
    bool ran = false;
    WithMainWindow(r, [&](CWnd_Main& w) {
      ran = true;
      const kltRECT_s nav = w.GetNamedControl(CWnd_Main::kNavigator)->GetRenderRect();
      // Two neighbouring cells in the thumbnail's left half, in the view
      // frame (which shows what lies under it).
      const i32 cx = nav.left + (nav.right - nav.left) / 4, cy = (nav.top + nav.bottom) / 2;
      if (solid) ExpectCells(r, w, cx, cy, {{200, 100, 50}});
      else ExpectCells(r, w, cx, cy, {{250, 240, 230}, {90, 160, 40}});
    });
    EXPECT_TRUE(ran);
  }
}

// A document of another shape than the navigator leaves margins around its
// thumbnail; they show the colours of the area outside the image, as the
// preview's margins do, not those of transparency.
TEST(MainWindow, TheNavigatorsMarginsShowTheOutsideColours) {
  for (const bool solid : {false, true}) {
    SCOPED_TRACE(solid ? "solid" : "checker");
    PluginRun r;
    StoreColours(r, solid);
    // A wide strip: margins above and below the thumbnail.
    r.Document(klpModeRGB, 640, 64, true);
    bool ran = false;
    WithMainWindow(r, [&](CWnd_Main& w) {
      ran = true;
      const kltRECT_s nav = w.GetNamedControl(CWnd_Main::kNavigator)->GetRenderRect();
      const i32 cx = (nav.left + nav.right) / 2, y = nav.top + 5;
      if (solid) ExpectCells(r, w, cx, y, {{10, 220, 120}});
      else ExpectCells(r, w, cx, y, {{20, 30, 240}, {240, 20, 200}});
    });
    EXPECT_TRUE(ran);
  }
}

TEST(MainWindow, InfoLineInEveryUnit) {
  const struct {
    u8 units;
    f64 ppi;
    kltPOS pos;
    const char* text;
  } cases[] = {
      {1, 72, {12, 34}, "X: 12 pixels\tY: 34 pixels"},
      {2, 72, {1500, 72}, "X: 20.83 inches (1500 px)\tY: 1.00 inches (72 px)"},
      {2, 72, {72000, 0}, "X: 1000 inches (72000 px)\tY: 0.00 inches (0 px)"},
      {2, 0, {144, 0}, "X: 2.00 inches (144 px)\tY: 0.00 inches (0 px)"},  // no resolution: 72
      {3, 254, {1000, 0}, "X: 10.00 cm (1000 px)\tY: 0.00 cm (0 px)"},
      {4, 254, {1000, 0}, "X: 100.0 mm (1000 px)\tY: 0.00 mm (0 px)"},
      {5, 72, {100, 65535}, "X: 100.0 (%) (100 px)\tY: ---"},
      {1, 72, {-1, 3}, "X: ---\tY: 3 pixels"},
  };
  PluginRun r;
  r.Document(klpModeRGB, 101, 40);
  WithMainWindow(r, [&](CWnd_Main& w) {
    for (const auto& c : cases) {
      w.SetInfoUnits(c.units);
      KLF_GetPluginObject().GetPluginDataPtr()->resolutionH = c.ppi;
      KLF_GetPluginObject().GetPluginDataPtr()->resolutionV = c.ppi;
      w.UpdateInfoPanel(c.pos, 0);
      EXPECT_EQ(Text(CWnd_Main::kInfo), c.text);
    }
    w.SetInfoUnits(2);
    w.UpdateInfoPanel(klNullPOS, 1);
    EXPECT_EQ(Text(CWnd_Main::kInfo), "Image Size (W x H): 1.40 inches x 0.56 inches (101 px x 40 px)");
    // A dragged split line's measures.
    w.SetInfoUnits(1);
    w.ShowLineInfo(1, 0);
    EXPECT_EQ(Text(CWnd_Main::kInfo).rfind("Position: ", 0), 0u);
  });
}

TEST(MainWindow, PercentOfAOnePixelWideImageIsNoDivisionByZero) {
  PluginRun r;
  r.Document(klpModeRGB, 1, 30);
  WithMainWindow(r, [](CWnd_Main& w) {
    w.SetInfoUnits(5);
    w.UpdateInfoPanel({0, 29}, 0);
    EXPECT_EQ(Text(CWnd_Main::kInfo), "X: 0.0 (%) (0 px)\tY: 100.0 (%) (29 px)");
  });
}

TEST(MainWindow, InPuzzleModeTheInfoLineNamesThePieceUnderThePoint) {
  PluginRun r;
  r.Document(klpModeRGB, 120, 80);
  WithMainWindow(r, [&](CWnd_Main& w) {
    r.Cut();
    const CTessarette& e = *w.GetEngine();
    w.SetInfoUnits(1);
    w.UpdateInfoPanel({119, 79}, 0);
    const i32 piece = w.Puzzle().GetPieceByXY({119, 79});
    ASSERT_GE(piece, 0);
    char expected[160];
    std::snprintf(expected, sizeof expected, "X: 119 pixels\tY: 79 pixels \tPiece info: ID: %d (%u); Column: %u; Row: %u",
                  piece, e.GetPieceCount(), e.GetPiece(static_cast<u32>(piece))->column,
                  e.GetPiece(static_cast<u32>(piece))->row);
    EXPECT_EQ(Text(CWnd_Main::kInfo), expected);
    // The piece under the mouse is the current piece an effect window
    // starts from.
    EXPECT_EQ(w.GetCurrentPiece(), static_cast<u32>(piece));
    w.UpdateInfoPanel({-1, -1}, 0);
    EXPECT_EQ(Text(CWnd_Main::kInfo), "X: ---\tY: --- \tPiece: ??? (" + std::to_string(e.GetPieceCount()) + ")");
    EXPECT_GE(w.GetCurrentPiece(), e.GetPieceCount());
  });
}

TEST(MainWindow, StatusTipsFadeOutInFourTicksAndInOverSeven) {
  PluginRun r;
  r.Document(klpModeRGB, 60, 40);
  WithMainWindow(r, [&](CWnd_Main& w) {
    auto* status = static_cast<CKLF_CtrlStaticText*>(w.GetNamedControl(CWnd_Main::kStatus));
    w.UpdateStatus("first");
    for (int i = 0; i < 12; ++i) r.ui.AdvanceClock(CWnd_Main::kTimerMs);
    ASSERT_EQ(w.GetStatusFade(), 0);
    EXPECT_STREQ(status->GetText().GetStr(), "first");
    w.UpdateStatus("first");  // the same text starts nothing
    EXPECT_EQ(w.GetStatusFade(), 0);
    w.UpdateStatus("second");
    std::vector<int> opacity;
    for (int i = 0; i < 11; ++i) {
      r.ui.AdvanceClock(CWnd_Main::kTimerMs);
      opacity.push_back(status->GetOpacity());
    }
    EXPECT_EQ(opacity, (std::vector<int>{190, 125, 60, 0, 40, 80, 120, 160, 200, 240, 255}));
    EXPECT_STREQ(status->GetText().GetStr(), "second");
    EXPECT_EQ(w.GetStatusFade(), 0);
    // The fade goes on while a long render pumps events: the clock moves a
    // tick while the pump hands an event on, and the window's timer runs.
    w.UpdateStatus("third");
    r.ui.SetEventObserver([&r](const KLP_Event&) { r.ui.AdvanceClock(CWnd_Main::kTimerMs); });
    const kltRECT_s at = w.GetWindowRect();
    r.ui.PostMouse(klpMouseMoved, at.left + 300, at.top + 46);
    w.PumpEvents();
    r.ui.SetEventObserver(nullptr);
    EXPECT_EQ(status->GetOpacity(), 190);
  });
}

TEST(MainWindow, TheControlUnderTheMouseGivesItsTip) {
  PluginRun r;
  r.Document(klpModeRGB, 60, 40);
  WithMainWindow(r, [&](CWnd_Main& w) {
    r.Hover(CWnd_Main::kCancel);
    r.ui.Pump();
    EXPECT_STREQ(w.GetStatusText().GetStr(), "Click the button to close the window without applying.");
    r.Hover(CWnd_Main::kAddKnives);
    r.ui.Pump();
    EXPECT_STREQ(w.GetStatusText().GetStr(),
                 "To add extra knife, select any two knots (except neighboring) and then, click the button.");
  });
}

TEST(MainProgress, ShowsTheCaptionThePercentAndABarOfOneIAPercent) {
  PluginRun r;
  r.Document(klpModeRGB, 60, 40);
  WithMainWindow(r, [&](CWnd_Main& w) {
    w.UpdateStatusProgress("Rendering is in progress:", 30);
    EXPECT_EQ(Text(CWnd_Main::kStatus), "Rendering is in progress: 30%\t" + std::string(30, 'I'));
    CKLF_Progress* p = w.BeginProgress("The Splitter's calculation is in progress:");
    ASSERT_TRUE(p);
    EXPECT_EQ(w.BeginProgress("inner"), p);  // begins nest on one progress
    p->Progress(7, nullptr);
    EXPECT_EQ(Text(CWnd_Main::kStatus), "The Splitter's calculation is in progress: 7%\tIIIIIII");
    EXPECT_EQ(w.GetStatusFade(), 0);
    w.EndProgress();
    EXPECT_EQ(Text(CWnd_Main::kStatus).rfind("The Splitter's", 0), 0u);  // the outer one still runs
    w.EndProgress();
    EXPECT_EQ(Text(CWnd_Main::kStatus), w.GetStatusText().GetStr());  // back to the tip
  });
}

TEST(MainProgress, ALongRenderKeepsTheWindowAnswering) {
  // Events that come while the pieces are recombined are handled then, not
  // after: the render's progress runs the window's events.
  PluginRun r;
  r.Document(klpModeRGB, 200, 150);
  WithMainWindow(r, [&](CWnd_Main& w) {
    r.Cut();
    r.Hover(CWnd_Main::kExport);
    ASSERT_TRUE(r.ui.PeekEvent(klpMaskMouse));
    ASSERT_EQ(w.Puzzle().pmop_DoRerenderRect(klNullRect, 1, 0, 100), 1);
    EXPECT_FALSE(r.ui.PeekEvent(klpMaskMouse));
    EXPECT_STREQ(w.GetStatusText().GetStr(), "Click the button to export the pieces as a PSD file or PNG files.");
  });
}

// What a person does on the main window while its pieces render (after
// an effect's switch, or Yes to resetting the effects of a new layout)
// acts once the render ends, in its order: a menu title's click opens the
// menu then, Command-A selects, the window manager's close closes.
TEST(MainProgress, InputMadeWhileThePiecesRenderActsOnceTheRenderEnds) {
  enum Act { kHelp, kSelectAll, kClose };
  const struct {
    bool yes;  // Yes to "Pieces Layout Has Changed" starts the render, else the blur's switch
    std::vector<Act> acts;
    const char* seen;  // "menu N" for each menu, N of the 6 pieces selected then; "closed", or the pieces selected at the end
  } cases[] = {{false, {kHelp}, "menu 0 0"},       {false, {kSelectAll, kHelp}, "menu 6 6"},
               {false, {kHelp, kSelectAll}, "menu 0 6"}, {false, {kClose}, "closed"},
               {true, {kHelp}, "menu 0 0"},        {true, {kSelectAll, kClose}, "closed"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seen);
    PluginRun r;
    r.Document(klpModeRGB, 240, 160);
    std::string seen;
    auto selected = [] {
      u32 n = 0;
      for (u32 i = 0; i < PluginRun::Main()->GetEngine()->GetPieceCount(); ++i)
        n += PluginRun::Main()->GetEngine()->GetPiece(i)->selected;
      return std::to_string(n);
    };
    r.ui.SetMenuAnswerer([&](const std::vector<KLP_MenuItem>&) {
      seen += std::string(PluginRun::Main()->Puzzle().IsRerenderBusy() ? "busy " : "menu ") + selected() + " ";
      return -1;
    });
    // Queued behind what starts the render, as the person's hand does.
    auto act = [&r, &c] {
      CWnd_Main& w = *PluginRun::Main();
      r.ui.SelectWindow(w.GetWindowHandle());
      const kltRECT_s wr = w.GetWindowRect(), b = w.GetNamedControl(CWnd_Main::kHelp)->GetRenderRect();
      for (Act a : c.acts) {
        if (a == kHelp) r.ui.PostClick(wr.left + (b.left + b.right) / 2, wr.top + (b.top + b.bottom) / 2);
        if (a == kSelectAll) r.ui.PostKey(klpKeyDown, klpVKLetters[0], 'a', klpCmdKey);
        if (a == kClose) r.ui.PostClose(w.GetWindowHandle());
      }
    };
    r.Then([&] {
      CWnd_Main& w = *r.Main();
      r.Cut();
      r.Click(w, w.GetEffectControl(3, klCtrlCheckBox));
      if (c.yes) {
        // Every piece blurred, then a new row: the effects go by cell.
        r.ui.Pump();
        w.DoCutterWindow();
        r.Type(*r.CutterWindow(), r.CutterWindow()->GetCtrl(CWnd_Cutter::kRowsEdit), "3");
        r.Then([&] {
          auto* box = dynamic_cast<CKLF_Window*>(r.ui.GetWindowClient(r.ui.GetActiveWindow()));
          ASSERT_TRUE(box && box->GetName() == "MessageBox");
          // Yes pressed as a key would: a click would make the box the
          // active window, and nothing gives the keys back when it goes.
          u32 mods = 0;
          Named(*box, "MessageBox_YESl", klCtrlButton)->SendMessage(klMsgClick, &mods);
          act();
        });
        r.Click(CWnd_Cutter::kCut);
      } else {
        act();
      }
      r.ui.Pump();
      if (!w.GetWindowHandle()) return void(seen += "closed");
      seen += selected();
      EXPECT_EQ(w.Puzzle().i_pmfx_GetFXOnSelection(CPuzzleModel::kSelection) & 1, c.yes ? 0 : 1);
      r.Click(CWnd_Main::kCancel);
    });
    EXPECT_EQ(r.Dialog(), klpResUserCanceled);
    EXPECT_EQ(seen, c.seen);
  }
}

TEST(MainWindow, RelayoutHandsTheCutterThePiecesRecordsWithoutTheirSelection) {
  PluginRun r;
  r.Document(klpModeRGB, 120, 90);
  WithMainWindow(r, [&](CWnd_Main& w) {
    r.Cut();
    const u32 n = w.GetEngine()->GetPieceCount();
    ASSERT_GT(n, 1u);
    w.Puzzle().pmop_Sel_SelectAllPieces(0);
    w.Editor().model.vKnives[0].thickness = 9;  // the knives now differ
    w.DoCutterWindow();
    EXPECT_TRUE(w.IsLayoutMode());
    CCutterSession* c = r.Cutter();
    ASSERT_TRUE(c);
    EXPECT_TRUE(r.CutterWindow()->IsVisible());
    EXPECT_EQ(c->pendingRecordCount, n);
    ASSERT_TRUE(c->pendingRecords);
    EXPECT_EQ(c->pendingRecords[88], 0);  // selected, not handed over
    EXPECT_EQ(c->thicknessMixed, 1);
    EXPECT_EQ(w.Editor().undo.IsEmpty(), 1);
  });
}
