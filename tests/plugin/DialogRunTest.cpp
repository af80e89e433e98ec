// The dialog through the plug-in's entry: the host asks for it, the main
// window opens on the document, and Apply or Cancel ends the run with the
// document written back, or left as it was.
#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

const int16_t kModes[] = {klpModeRGB, klpModeGray, klpModeCMYK};

const char kCutterLeft[] = "Windows Positions>CUTTER>MAIN>Left";
const char kLastShape[] = "LastShape>NodesCount";

// Applies in the mode asked for (Puzzle mode cuts with the Cutter's button
// first) and answers the run's result.
int16_t ApplyFromDialog(PluginRun& r, bool puzzle, u32* pieces = nullptr) {
  r.Then([&r, puzzle, pieces] {
    ASSERT_TRUE(r.Main());
    EXPECT_TRUE(r.Main()->IsLayoutMode());
    ASSERT_TRUE(r.CutterWindow());
    EXPECT_TRUE(r.CutterWindow()->IsVisible());
    if (puzzle) {
      r.Cut();
      EXPECT_FALSE(r.Main()->IsLayoutMode());
      EXPECT_GT(r.Main()->GetEngine()->GetPieceCount(), 1u);
      if (pieces) *pieces = r.Main()->GetEngine()->GetPieceCount();
      r.Click(CWnd_Main::kApply);
    } else {
      r.Click(CWnd_Main::kApplyLM);
    }
  });
  return r.Dialog();
}

}  // namespace

TEST(DialogRun, ApplyWritesWhatTheReplayOfTheStoredBlockWrites) {
  // OK without edits, in each mode on every kind of document, opaque or
  // with transparency (where no piece lies, the document's own colours):
  // the block stored in "last.data" replays to the very same bytes.
  for (const int16_t mode : kModes)
    for (const bool puzzle : {false, true})
      for (const bool transparency : {false, true}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode << (puzzle ? " puzzle" : " layout")
                                        << (transparency ? " transparency" : ""));
        PluginRun r;
        r.Document(mode, 90, 64, transparency);
        const auto before = r.Planes();
        EXPECT_EQ(ApplyFromDialog(r, puzzle), klpResNoErr);
        const auto applied = r.Planes();
        EXPECT_NE(applied, before);
        const Bytes block = r.LastData();
        ASSERT_GT(block.size(), 10u);
        EXPECT_EQ(block[0], puzzle ? 1 : 0);  // the block's puzzle flag
        r.SetPlanes(before);
        EXPECT_EQ(r.Replay(), klpResNoErr);
        EXPECT_EQ(r.Planes(), applied);
      }
}

TEST(DialogRun, ThickAntiAliasedKnivesReplayToWhatApplyWrote) {
  // Razor cut off: the pieces' soft edges meet along every knife, and OK
  // and the replay must add their alphas up alike.
  for (const int16_t mode : kModes)
    for (const bool transparency : {false, true}) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << (transparency ? " transparency" : ""));
      PluginRun r;
      r.Document(mode, 90, 64, transparency);
      const auto before = r.Planes();
      r.Then([&r] {
        ASSERT_TRUE(r.CutterWindow());
        r.Click(CWnd_Cutter::kRazorCut);
        r.ui.Pump();
        r.Cut();
        EXPECT_FALSE(r.Main()->GetEngine()->m_thinKnife);
        r.Click(CWnd_Main::kApply);
      });
      EXPECT_EQ(r.Dialog(), klpResNoErr);
      const auto applied = r.Planes();
      EXPECT_EQ(r.ReplayOver(before), applied);
    }
}

TEST(DialogRun, ARecutOfTheStoredPiecesReplaysToWhatApplyWrote) {
  // A first run inverts every piece and applies; the next one cuts the
  // stored layout finer and answers "No" to resetting the effects.
  for (const bool transparency : {false, true}) {
    SCOPED_TRACE(transparency ? "transparency" : "opaque");
    PluginRun r;
    r.Document(klpModeRGB, 90, 64, transparency);
    r.Then([&r] {
      r.Cut();
      r.Main()->RunMenuCommand(32);   // select all pieces
      r.Main()->RunMenuCommand(130);  // invert
      r.Click(CWnd_Main::kApply);
    });
    ASSERT_EQ(r.Dialog(), klpResNoErr);
    const auto before = r.Planes();
    r.Then([&r] {
      ASSERT_TRUE(r.CutterWindow());
      r.Type(*r.CutterWindow(), r.CutterWindow()->GetCtrl(CWnd_Cutter::kRowsEdit), "5");
      r.Click(CWnd_Cutter::kCut);
    });
    bool asked = false;
    r.Then([&r, &asked] {
      for (KLP_WindowID id : r.ui.GetInputWindows())
        if (auto* w = dynamic_cast<CKLF_Window*>(r.ui.GetWindowClient(id)))
          if (w->GetName() == "MessageBox") {
            asked = true;
            r.Click(*w, Named(*w, "MessageBox_NO", klCtrlButton));
          }
    });
    r.Then([&r] { r.Click(CWnd_Main::kApply); });
    EXPECT_EQ(r.Dialog(), klpResNoErr);
    EXPECT_TRUE(asked);
    const auto applied = r.Planes();
    EXPECT_EQ(r.ReplayOver(before), applied);
  }
}

TEST(DialogRun, KnivesWithoutAntiAliasingReplayToWhatApplyWrote) {
  // Anti-aliasing off in the Cutter, on a first cut and on a second one
  // that keeps the effects; and a grid finer than the document, whose cut
  // makes no piece at all (OK then shows nothing, as the replay does).
  for (const bool fine : {false, true}) {
    SCOPED_TRACE(fine ? "finer than the pixels" : "");
    PluginRun r;
    r.Document(klpModeRGB, 64, 48, true);
    const auto before = r.Planes();
    r.Then([&r, fine] {
      r.Cut();
      r.Main()->RunMenuCommand(90);  // the Cutter again
      r.ui.Pump();
      ASSERT_TRUE(r.CutterWindow());
      if (fine) {
        r.Type(*r.CutterWindow(), r.CutterWindow()->GetCtrl(CWnd_Cutter::kRowsEdit), "100");
        r.Type(*r.CutterWindow(), r.CutterWindow()->GetCtrl(CWnd_Cutter::kColumnsEdit), "100");
      }
      r.Click(CWnd_Cutter::kAntiAliasing);
      r.ui.Pump();
      r.Cut();
      EXPECT_EQ(r.Main()->GetEngine()->GetPieceCount() == 0, fine);
      r.Click(CWnd_Main::kApply);
    });
    EXPECT_EQ(r.Dialog(), klpResNoErr);
    const auto applied = r.Planes();
    EXPECT_EQ(r.ReplayOver(before), applied);
  }
  for (const bool again : {false, true})
    for (const bool transparency : {false, true}) {
      SCOPED_TRACE(testing::Message() << (again ? "cut again" : "one cut") << (transparency ? " transparency" : ""));
      PluginRun r;
      r.Document(klpModeRGB, 64, 48, transparency);
      const auto before = r.Planes();
      r.Then([&r, again] {
        if (again) {
          r.Cut();
          r.Main()->RunMenuCommand(32);   // select all pieces
          r.Main()->RunMenuCommand(130);  // invert
          r.Main()->RunMenuCommand(90);   // the Cutter again
          r.ui.Pump();
        }
        ASSERT_TRUE(r.CutterWindow());
        r.Click(CWnd_Cutter::kAntiAliasing);
        r.ui.Pump();
        r.Click(CWnd_Cutter::kCut);
      });
      r.Then([&r] {
        for (KLP_WindowID id : r.ui.GetInputWindows())
          if (auto* w = dynamic_cast<CKLF_Window*>(r.ui.GetWindowClient(id)))
            if (w->GetName() == "MessageBox") r.Click(*w, Named(*w, "MessageBox_NO", klCtrlButton));
      });
      r.Then([&r] { r.Click(CWnd_Main::kApply); });
      EXPECT_EQ(r.Dialog(), klpResNoErr);
      const auto applied = r.Planes();
      EXPECT_EQ(r.ReplayOver(before), applied);
    }
}

TEST(DialogRun, CancelLeavesTheDocumentAndAnswersUserCancelled) {
  for (const CWnd_Main::Control button : {CWnd_Main::kCancel, CWnd_Main::kCloseX}) {
    PluginRun r;
    r.Document(klpModeRGB, 60, 40);
    const auto before = r.Planes();
    r.Then([&r, button] { r.Click(button); });
    EXPECT_EQ(r.Dialog(), klpResUserCanceled);
    EXPECT_EQ(r.Planes(), before);
    EXPECT_TRUE(r.LastData().empty());  // nothing stored either
    EXPECT_TRUE(r.Stored(kCutterLeft));
    EXPECT_FALSE(r.Stored(kLastShape));
    EXPECT_EQ(m_App, nullptr);
  }
}

TEST(DialogRun, ApplyInLayoutModeStoresEverythingTheNextRunNeeds) {
  PluginRun r;
  r.Document(klpModeRGB, 80, 50);
  EXPECT_EQ(ApplyFromDialog(r, false), klpResNoErr);
  EXPECT_TRUE(r.Stored(kLastShape));
  EXPECT_TRUE(r.Stored(kCutterLeft));
  // The main window's place is kept for the next run, which opens there.
  CKLF_Storage conf;
  ASSERT_EQ(conf.Open(CKLF_String(r.dir.File("plugin.conf").c_str()), 1), 1);
  u32 left = 0;
  EXPECT_EQ(conf.GetRec("Windows Positions>MAIN>ROOT>Left", left), 1);
}

TEST(DialogRun, TheStoredPiecesGoToTheCutterOfTheNextRun) {
  PluginRun r;
  r.Document(klpModeRGB, 90, 64);
  u32 pieces = 0;
  ASSERT_EQ(ApplyFromDialog(r, true, &pieces), klpResNoErr);
  const Bytes block = r.LastData();
  ASSERT_EQ(block[0], 1);  // a Puzzle-mode block, with the pieces' records
  // The next dialog starts in Layout mode without the pieces the engine
  // kept from the last run (cut from a window that is gone); its Cutter
  // receives the stored records instead.
  PluginRun next;
  next.Document(klpModeRGB, 90, 64);
  ASSERT_TRUE(klftest::WriteFileBytes(next.dir.File("last.data"), block));
  u32 records = 0;
  next.Then([&next, &records] {
    ASSERT_TRUE(next.Cutter());
    EXPECT_EQ(next.Main()->GetEngine()->GetPieceCount(), 0u);
    records = next.Cutter()->pendingRecordCount;
    EXPECT_TRUE(next.Cutter()->pendingRecords);
    next.Click(CWnd_Main::kCancel);
  });
  EXPECT_EQ(next.Dialog(), klpResUserCanceled);
  EXPECT_EQ(records, pieces);
}

TEST(DialogRun, AMissingResourceFileAlertsAndCancels) {
  PluginRun r(false);
  r.Document(klpModeRGB, 40, 30);
  const auto before = r.Planes();
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  EXPECT_EQ(r.Planes(), before);
  ASSERT_EQ(r.ui.Log().alerts.size(), 1u);
  EXPECT_EQ(r.ui.Log().alerts[0].first, "Kelvanos Tessarette 3.0 Error");
  EXPECT_EQ(r.ui.Log().alerts[0].second,
            "Cannot load the resource file.\nPlease, try to reinstall plug-in and if the problem persists, contact "
            "Kelvanos");
  EXPECT_EQ(r.About(), klpResUserCanceled);  // About finds no store either
  EXPECT_EQ(r.ui.Log().alerts.size(), 2u);
}

TEST(DialogRun, AFailedHandOverIsAnErrorNotACancel) {
  // A layout the engine cannot take is said, and the host hears an error;
  // the settings were stored all the same.
  PluginRun r;
  r.Document(klpModeRGB, 60, 40);
  const auto before = r.Planes();
  r.Then([&r] {
    CLayoutModel& m = r.Main()->Editor().model;
    ASSERT_GT(m.vKnifeCount, 0u);
    m.vKnifeCount -= 1;  // a count the engine will not agree with
    CLayoutModel::KNIFESTRUCT& dropped = m.vKnives[m.vKnifeCount];
    delete dropped.polyline;  // the model no longer sees it to free it
    dropped.polyline = nullptr;
    r.Click(CWnd_Main::kApplyLM);
  });
  EXPECT_EQ(r.Dialog(), klpResBadParameters);
  EXPECT_EQ(r.Planes(), before);
  ASSERT_FALSE(r.ui.Log().alerts.empty());
  EXPECT_EQ(r.ui.Log().alerts.back().first, "Error!");
  EXPECT_FALSE(r.LastData().empty());
}

TEST(DialogRun, ACutterThatCannotOpenEndsTheStartAsCancelled) {
  PluginRun r;
  r.Document(klpModeRGB, 60, 40);
  CCutterServices::SetFactory(RefusingCutter::New);
  RefusingCutter::refused = 0;
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  EXPECT_EQ(RefusingCutter::refused, 1);
  EXPECT_EQ(RefusingCutter::alive, 0);  // not kept without its window
  ASSERT_FALSE(r.ui.Log().alerts.empty());
  EXPECT_EQ(r.ui.Log().alerts.back(), std::make_pair(std::string("Error!"), std::string("Cannot open the Cutter window.")));
}

TEST(DialogRun, WithoutACutterLayoutModeOpensAndOKDrawsTheKnives) {
  PluginRun r(true, false);
  r.Document(klpModeGray, 70, 50);
  const auto before = r.Planes();
  r.Then([&r] {
    EXPECT_TRUE(r.Main()->IsLayoutMode());
    EXPECT_EQ(r.Main()->GetCutter(), nullptr);
    r.Click(CWnd_Main::kApplyLM);
  });
  EXPECT_EQ(r.Dialog(), klpResNoErr);
  EXPECT_NE(r.Planes(), before);
}

TEST(DialogRun, AFilterAreaBeyondTheWindowsImagesIsRefusedWithAnAlert) {
  // 70000 pixels do not fit the images' 16-bit sizes: refused, never cut.
  PluginRun r;
  r.Document(klpModeGray, 70000, 2);
  EXPECT_EQ(r.Dialog(), klpResUserCanceled);
  ASSERT_FALSE(r.ui.Log().alerts.empty());
  EXPECT_NE(r.ui.Log().alerts.back().second.find("65535"), std::string::npos);
}

TEST(AboutRun, ClosesOnAClickAKeyAndTheReleaseOfAHeldKey) {
  const struct {
    const char* what;
    std::function<void(PluginRun&)> act;
  } ways[] = {
      {"left click", [](PluginRun& r) { r.ClickAt(r.App()->GetAboutWindow(), 60, 60); }},
      {"right click",
       [](PluginRun& r) {
         const kltRECT_s w = r.App()->GetAboutWindow().GetWindowRect();
         r.ui.PostMouse(klpMouseDown, w.left + 50, w.top + 50, 2);
       }},
      {"key", [](PluginRun& r) { r.ui.PostKey(klpKeyDown, klpVKLetters[0], 'a'); }},
      {"release", [](PluginRun& r) { r.ui.PostKey(klpKeyUp, klpVKLetters[3], 'd'); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.what);
    PluginRun r;
    bool shown = false;
    r.Then([&] {
      ASSERT_TRUE(r.App());
      shown = r.App()->GetAboutWindow().IsVisible();
      way.act(r);
    });
    EXPECT_EQ(r.About(), klpResNoErr);
    EXPECT_TRUE(shown);
    EXPECT_EQ(r.ui.Log().stalls, 0u);  // the window closed; the loop did not run dry
  }
}
