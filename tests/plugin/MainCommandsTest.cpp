// The main window's command tables on the headless platform: every
// accelerator and menu command routed, refused in the wrong mode and under
// an open effect window, one undo point per user action, the button menus'
// enabling and marks in each mode, the units and zoom commands, the
// random-knots controls and the document files.
#include <set>

#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlSlider.h"
#include "CWnd_ChannelList.h"
#include "CWnd_Pref.h"
#include "PluginRunSupport.h"

using namespace plugintest;

namespace {

typedef CWnd_Main W;

// The Cutter's cut: the main window goes to Puzzle mode.
void CutNow(PluginRun& r) {
  r.Cut();
  ASSERT_EQ(r.Main()->IsLayoutMode(), 0);
}

// What a command may change: the settings block of the current mode (the
// layout, and the pieces' records in Puzzle mode) and the selection map.
Bytes State(W& w) {
  CKLF_Mem block;
  u32 n = 0;
  EXPECT_EQ(w.settings_SaveCurLayoutAndCellSettingsToMem(&block, n), 1);
  Bytes out(block.GetPtr(), block.GetPtr() + n);
  if (const u8* map = w.Puzzle().selectionMap)
    out.insert(out.end(), map, map + static_cast<size_t>(w.Puzzle().GetWidth()) * w.Puzzle().GetHeight());
  return out;
}

// Runs the dialog on a 640 x 420 document with one step, then cancels.
void WithWindow(PluginRun& r, std::function<void(W&)> step, int16_t mode = klpModeRGB) {
  r.Document(mode, 640, 420);
  r.Then([&r, step] {
    ASSERT_TRUE(r.Main());
    step(*r.Main());
    r.Main()->Puzzle().effectWindowOpen = 0;
    if (r.Main()->GetWindowHandle()) r.Main()->localClose();
  });
  r.Dialog();
}

u32 Command(W& w, W::VOCABULARY v, u32 code) {
  return v == W::kAcceleratorTable ? w.RunAccelerator(static_cast<u16>(code))
                                   : w.RunMenuCommand(static_cast<u16>(code));
}

const W::MENUITEM* Item(W& w, W::Control button, u16 command) {
  static W::MENULIST menu;
  w.BuildButtonMenu(button, menu);
  return menu.Find(command);
}

u32 IdOf(W& w, const CKLF_Control* c) {
  for (u32 i = 0; i < w.GetControlCount(); ++i)
    if (w.GetControl(i) == c) return i;
  return 0xFFFFFFFFu;
}

// Rows a test must not run: they open dialogs, menus or windows, or end
// the run.
bool Interactive(W::VOCABULARY v, u32 code) {
  static const std::set<u32> accel = {36}, menu = {81, 85, 86, 87, 84, 88, 89, 90};
  return (v == W::kAcceleratorTable ? accel : menu).count(code) != 0;
}

}  // namespace

TEST(MainCommands, EveryAcceleratorAndEveryMenuItemHasOneRow) {
  u32 n = 0;
  const W::COMMANDROW* rows = W::GetCommandTable(W::kAcceleratorTable, n);
  std::multiset<u32> accel;
  for (u32 i = 0; i < n; ++i) accel.insert(rows[i].code);
  for (u32 k = 0; k <= 45; ++k) {
    const bool notOurs = k == 0 || k == 5 || k == 6 || k == 7 || k == 9 || k == 28;
    EXPECT_EQ(accel.count(k), notOurs ? 0u : 1u) << "accelerator " << k;
  }
  rows = W::GetCommandTable(W::kMenuTable, n);
  std::multiset<u32> menu;
  for (u32 i = 0; i < n; ++i) menu.insert(rows[i].code);
  // Every item of every menu the window builds, in both modes, is routed.
  PluginRun r;
  std::set<u16> offered;
  auto collect = [&](const W::MENULIST& m) {
    for (u32 i = 0; i < m.count; ++i)
      if (m.items[i].command != 65535) offered.insert(m.items[i].command);
  };
  WithWindow(r, [&](W& w) {
    W::MENULIST m;
    const kltRECT_s v = w.GetPreviewRect();
    const CLayoutModel& model = w.Editor().model;
    for (int mode = 0; mode < 2; ++mode) {
      for (W::Control b : {W::kMain, W::kSelect, W::kAdjust}) w.BuildButtonMenu(b, m), collect(m);
      w.BuildPreviewMenu(klNullPOS, m), collect(m);
      w.BuildMeasurementMenu(klNullPOS, m), collect(m);
      if (mode == 0) {
        // On a knife crossing a knot, and on both rulers' handles and bodies.
        const CLayoutModel::KNOT& k = model.knots[model.knotColumns + 1];
        w.BuildPreviewMenu({v.left + static_cast<i32>(k.x), v.top + static_cast<i32>(k.y)}, m), collect(m);
        for (u8 left = 0; left < 2; ++left) {
          const CLayoutDrawing& d = w.Editor().drawing;
          const i32 at = d.markers[left][0].position;
          ASSERT_TRUE(w.BuildSplitRulerMenu(left, static_cast<i16>(left ? 28 : v.left + at),
                                            static_cast<i16>(left ? v.top + at : 84), m));
          collect(m);
          ASSERT_TRUE(w.BuildSplitRulerMenu(left, static_cast<i16>(left ? 30 : v.left + 5),
                                            static_cast<i16>(left ? v.top + 5 : 86), m));
          collect(m);
        }
        ASSERT_NO_FATAL_FAILURE(CutNow(r));
      } else {
        w.BuildPreviewMenu({v.left + 300, v.top + 200}, m), collect(m);
      }
    }
  });
  EXPECT_GT(offered.size(), 80u);
  for (u16 c : offered) EXPECT_EQ(menu.count(c), 1u) << "menu command " << c;
}

TEST(MainCommands, AnOpenEffectWindowRefusesEditingButNotTheView) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    w.Puzzle().pmop_Sel_SetSelectionToPiece(1, 0, 0, 0);
    w.Puzzle().effectWindowOpen = 1;
    const Bytes before = State(w);
    for (W::VOCABULARY v : {W::kAcceleratorTable, W::kMenuTable}) {
      u32 n = 0;
      const W::COMMANDROW* rows = W::GetCommandTable(v, n);
      for (u32 i = 0; i < n; ++i) {
        if (!(rows[i].guard & W::kGuardFX) || Interactive(v, rows[i].code)) continue;
        EXPECT_EQ(Command(w, v, rows[i].code), 0u) << (v ? "menu " : "accelerator ") << rows[i].code;
      }
    }
    // Undo from the menu is refused as its key is: it would take back what
    // the open window was made for.
    w.Puzzle().pmop_Sel_SelectAllPieces(0);
    w.Puzzle().pmop_Sel_SetSelectionToPiece(1, 0, 0, 0);
    EXPECT_EQ(w.RunMenuCommand(80), 0u);
    EXPECT_EQ(w.RunMenuCommand(84), 0u);   // save
    EXPECT_EQ(w.RunMenuCommand(89), 1u);   // export: nothing, quietly
    EXPECT_EQ(w.RunMenuCommand(90), 0u);   // no Layout mode under an effect window
    EXPECT_EQ(State(w), before);
    EXPECT_EQ(w.IsLayoutMode(), 0);
    // The view still answers.
    EXPECT_EQ(w.RunAccelerator(12), 1u);
    EXPECT_EQ(w.GetZoom(), 4);
    EXPECT_EQ(w.RunAccelerator(16), 1u);
    EXPECT_EQ(w.GetZoom(), 3);
    w.Puzzle().effectWindowOpen = 0;
    EXPECT_EQ(w.RunMenuCommand(80), 1u);
  });
}

TEST(MainCommands, ACommandOfTheOtherModeChangesNothing) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    for (int mode = 0; mode < 2; ++mode) {
      if (mode == 1) {
        ASSERT_NO_FATAL_FAILURE(CutNow(r));
      }
      w.RunAccelerator(2);  // everything selected: the flips and hides would show
      const Bytes before = State(w);
      for (W::VOCABULARY v : {W::kAcceleratorTable, W::kMenuTable}) {
        u32 n = 0;
        const W::COMMANDROW* rows = W::GetCommandTable(v, n);
        for (u32 i = 0; i < n; ++i) {
          const W::ACTION& a = mode == 0 ? rows[i].layout : rows[i].puzzle;
          if (a.run) continue;
          const u32 expected = rows[i].guard & W::kGuardOtherMode ? 0 : 1;
          EXPECT_EQ(Command(w, v, rows[i].code), expected) << (mode ? "Puzzle " : "Layout ") << rows[i].code;
        }
      }
      EXPECT_EQ(State(w), before) << (mode ? "Puzzle mode" : "Layout mode");
      EXPECT_EQ(w.IsLayoutMode(), mode == 0);
    }
  });
}

TEST(MainCommands, EachActionLeavesOneUndoPointAndASecondUndoRedoes) {
  // Layout mode: commands of one and of two operations, knife flags and
  // whole-layout points; Puzzle mode: selection and visibility.
  const struct {
    u8 puzzle;
    W::VOCABULARY v;
    u16 code;
  } cases[] = {{0, W::kAcceleratorTable, 2},  {0, W::kMenuTable, 37},  {0, W::kMenuTable, 38},
               {0, W::kMenuTable, 98},        {0, W::kAcceleratorTable, 23}, {0, W::kMenuTable, 107},
               {0, W::kMenuTable, 111},       {1, W::kAcceleratorTable, 2},  {1, W::kMenuTable, 97},
               {1, W::kAcceleratorTable, 10}, {1, W::kMenuTable, 124}};
  PluginRun r;
  WithWindow(r, [&](W& w) {
    w.RunMenuCommand(110);  // a knife in the clipboard for the paste
    w.Editor().model.hKnives[0].flipH = 1;  // the pasted knife differs from some
    w.RunAccelerator(11);
    for (const auto& c : cases) {
      if (c.puzzle && w.IsLayoutMode()) {
        ASSERT_NO_FATAL_FAILURE(CutNow(r));
      }
      const Bytes before = State(w);
      Command(w, c.v, c.code);
      const Bytes after = State(w);
      EXPECT_NE(after, before) << "command " << c.code << " changed nothing";
      w.RunAccelerator(3);
      EXPECT_EQ(State(w), before) << "undo of " << c.code;
      w.RunAccelerator(4);
      EXPECT_EQ(State(w), after) << "redo of " << c.code;
      w.RunAccelerator(3);
    }
  });
}

TEST(MainCommands, ButtonMenusFollowTheModeAndTheSelection) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    struct Expect {
      const char* when;
      W::Control menu;
      u16 command;
      u8 enabled, marked;
    };
    auto check = [&](const std::vector<Expect>& list) {
      for (const Expect& e : list) {
        const W::MENUITEM* it = Item(w, e.menu, e.command);
        ASSERT_TRUE(it) << e.when << ": " << e.command;
        EXPECT_EQ(it->enabled, e.enabled) << e.when << ": " << it->text;
        EXPECT_EQ(it->marked, e.marked) << e.when << ": " << it->text;
      }
    };
    const W::MENUITEM* apply = Item(w, W::kMain, 86);
    ASSERT_TRUE(apply);
    EXPECT_STREQ(apply->text, "Apply (Draw Splitter)");
    check({{"fresh layout", W::kMain, 80, 0, 0}, {"fresh layout", W::kMain, 90, 0, 0},
           {"fresh layout", W::kSelect, 32, 1, 0}, {"fresh layout", W::kSelect, 33, 0, 0},
           {"fresh layout", W::kSelect, 39, 0, 0}, {"fresh layout", W::kAdjust, 111, 0, 0},
           {"fresh layout", W::kAdjust, 97, 1, 0}, {"fresh layout", W::kAdjust, 96, 0, 0},
           {"fresh layout", W::kAdjust, 3937, 0, 0}, {"fresh layout", W::kAdjust, 104, 1, 0}});
    w.RunAccelerator(2);
    w.RunMenuCommand(110);
    w.RunMenuCommand(97);  // every knife hidden
    check({{"all selected and hidden", W::kMain, 80, 1, 0}, {"all selected and hidden", W::kSelect, 32, 0, 0},
           {"all selected and hidden", W::kSelect, 41, 0, 0}, {"all selected and hidden", W::kSelect, 42, 1, 0},
           {"all selected and hidden", W::kAdjust, 111, 1, 0}, {"all selected and hidden", W::kAdjust, 96, 1, 0},
           {"all selected and hidden", W::kAdjust, 97, 0, 0}});
    w.RunMenuCommand(96);
    w.RunMenuCommand(98);
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    apply = Item(w, W::kMain, 87);
    ASSERT_TRUE(apply);
    EXPECT_STREQ(apply->text, "Apply");
    check({{"cut", W::kMain, 80, 0, 0}, {"cut", W::kMain, 90, 1, 0}, {"cut", W::kSelect, 33, 0, 0},
           {"cut", W::kSelect, 43, 0, 0}, {"cut", W::kSelect, 47, 1, 1}, {"cut", W::kAdjust, 116, 1, 0},
           {"cut", W::kAdjust, 128, 0, 0}, {"cut", W::kAdjust, 120, 1, 0}, {"cut", W::kAdjust, 111, 0, 0}});
    // A mixed selection may be shown and hidden from the menu, as by its buttons.
    w.Puzzle().pmop_ShowHidePiece(0, 0, 0);
    check({{"one piece hidden", W::kAdjust, 96, 1, 0}, {"one piece hidden", W::kAdjust, 97, 1, 0}});
    w.Puzzle().pmop_Sel_SetSelectionToPiece(0, 0, 0, 0);
    w.RunMenuCommand(120);  // blur on the selected piece
    w.RunMenuCommand(110);
    check({{"hidden piece selected", W::kAdjust, 96, 1, 0}, {"hidden piece selected", W::kAdjust, 97, 0, 0},
           {"blur on", W::kAdjust, 120, 1, 1}, {"blur on", W::kAdjust, 121, 1, 0},
           {"effects copied", W::kAdjust, 111, 1, 0}, {"one selected", W::kSelect, 32, 1, 0},
           {"one selected", W::kSelect, 33, 1, 0}});
    w.RunAccelerator(1);  // extras hidden
    check({{"extras hidden", W::kSelect, 47, 1, 0}});
  });
}

TEST(MainCommands, HueSaturationNeedsAnRGBDocument) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    EXPECT_EQ(Item(w, W::kAdjust, 116)->enabled, 0);
    EXPECT_EQ(Item(w, W::kAdjust, 123)->enabled, 0);
    EXPECT_EQ(Item(w, W::kAdjust, 124)->enabled, 1);
  }, klpModeGray);
}

TEST(MainCommands, FitZoomAndUnits) {
  PluginRun r;
  r.Document(klpModeRGB, 766 * 4, 100);
  r.Then([&] {
    W& w = *r.Main();
    w.RunAccelerator(12);
    EXPECT_EQ(w.GetZoom(), 4);
    w.RunAccelerator(13);
    EXPECT_EQ(w.GetZoom(), 2);  // a quarter fits the preview's width
    w.RunAccelerator(17);
    EXPECT_EQ(w.GetZoom(), 1);
    KLF_GetPluginObject().GetPluginDataPtr()->resolutionH = 0;
    w.RunMenuCommand(17);  // inches need a resolution
    EXPECT_EQ(w.GetInfoUnits(), 1);
    KLF_GetPluginObject().GetPluginDataPtr()->resolutionH = 72;
    w.RunMenuCommand(17);
    EXPECT_EQ(w.GetInfoUnits(), 2);
    W::MENULIST m;
    w.BuildMeasurementMenu(klNullPOS, m);
    EXPECT_EQ(m.Find(17)->marked, 1);
    EXPECT_EQ(m.Find(16)->marked, 0);
    w.localClose();
  });
  r.Dialog();
  PluginRun tiny;
  tiny.Document(klpModeRGB, 20, 10);
  tiny.Then([&] {
    tiny.Main()->RunAccelerator(13);
    EXPECT_EQ(tiny.Main()->GetZoom(), 8);
    tiny.Main()->localClose();
  });
  tiny.Dialog();
}

TEST(MainCommands, ShiftOnAnEffectButtonSwitchesTheEffectWithoutItsWindow) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    w.Puzzle().pmop_Sel_SetSelectionToPiece(1, 0, 0, 0);
    const kltRECT_s b = w.GetEffectControl(3, klCtrlButton)->GetRenderRect();  // "Main_FXBlur"
    r.MouseAt(klpMouseDown, (b.left + b.right) / 2, (b.top + b.bottom) / 2, klpShiftKey);
    r.MouseAt(klpMouseUp, (b.left + b.right) / 2, (b.top + b.bottom) / 2, klpShiftKey);
    r.ui.SetModifiers(0);
    EXPECT_EQ(w.GetEffectControl(3, klCtrlCheckBox)->GetCheck(), 1);
    EXPECT_EQ(w.GetEngine()->GetPiece(1)->blur[0].enabled, 1);
    EXPECT_EQ(w.GetEngine()->GetPiece(2)->blur[0].enabled, 0);
    EXPECT_EQ(w.Puzzle().effectWindowOpen, 0);
    w.RunAccelerator(3);
    EXPECT_EQ(w.GetEngine()->GetPiece(1)->blur[0].enabled, 0);
  });
}

// A double click on an effect's switch turns the effect once: also when
// its second click waited in the queue while the first one's render ran.
TEST(MainCommands, DoubleClickOnAnEffectSwitchTurnsItOnce) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    const kltRECT_s b = w.GetEffectControl(3, klCtrlCheckBox)->GetRenderRect();  // "Main_FXBlur"
    const kltRECT_s at = w.GetWindowRect();
    const i32 x = at.left + (b.left + b.right) / 2, y = at.top + (b.top + b.bottom) / 2;
    for (u8 waited : {0, 1}) {
      const u8 before = w.GetEngine()->GetPiece(1)->blur[0].enabled;
      r.ui.SelectWindow(w.GetWindowHandle());
      r.ui.AdvanceClock(1000);
      r.ui.PostClick(x, y);
      r.ui.Pump();
      r.ui.AdvanceClock(120);
      r.ui.PostClick(x, y);
      if (waited) r.ui.AdvanceClock(3000);
      r.ui.Pump();
      EXPECT_EQ(w.GetEngine()->GetPiece(1)->blur[0].enabled, before ? 0 : 1) << int(waited);
      EXPECT_EQ(w.GetEffectControl(3, klCtrlCheckBox)->GetCheck(), before ? 0 : 1) << int(waited);
    }
  });
}

TEST(MainCommands, EffectKeysOpenTheirWindowsInPuzzleModeOnly) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    for (u16 k : {24, 25, 26, 27, 29, 30, 31, 44}) {
      EXPECT_EQ(w.RunAccelerator(k), 1u);
      EXPECT_EQ(w.Puzzle().effectWindowOpen, 0) << "Layout mode, accelerator " << k;
    }
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    for (u16 k : {24, 25, 26, 27, 29, 30, 31, 44}) {
      w.RunAccelerator(k);
      ASSERT_EQ(w.Puzzle().effectWindowOpen, 1) << "accelerator " << k;
      EXPECT_EQ(w.RunAccelerator(k), 0u);  // no second window over the first
      auto* window = dynamic_cast<CKLF_Window*>(w.Puzzle().effectWindow);
      ASSERT_TRUE(window);
      window->Close();
      EXPECT_EQ(w.Puzzle().effectWindowOpen, 0);
    }
  });
}

TEST(MainCommands, SplitRulerMenusInsertAndDeleteLines) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    const kltRECT_s v = w.GetPreviewRect();
    const u16 lines = m.verticalLineCount;
    W::MENULIST menu;
    // Between the handles: "Insert" at the click's x.
    ASSERT_TRUE(w.BuildSplitRulerMenu(0, static_cast<i16>(v.left + 100), 86, menu));
    EXPECT_EQ(menu.Find(66)->enabled, 1);
    w.RunMenuCommand(66);
    ASSERT_EQ(m.verticalLineCount, lines + 1);
    EXPECT_NEAR(m.verticalLines[0] * w.Editor().drawing.AreaWidth(), 100 + w.Preview().GetOffset().x, 0.01);
    // On its handle: "Delete" takes that line away again.
    ASSERT_TRUE(w.BuildSplitRulerMenu(0, static_cast<i16>(v.left + 100), 84, menu));
    ASSERT_TRUE(menu.Find(67));
    EXPECT_EQ(w.Context().handleIndex, 0);
    w.RunMenuCommand(98);  // another action between: the delete gets an undo point of its own
    w.RunMenuCommand(67);
    EXPECT_EQ(m.verticalLineCount, lines);
    w.RunAccelerator(3);
    EXPECT_EQ(m.verticalLineCount, lines + 1);
    // Outside the image or on a line no line goes in, and no undo point is
    // made: the undo still redoes the delete.
    const Bytes before = State(w);
    w.Context().handleClickPos = {v.right + 40, 86};
    w.RunMenuCommand(66);
    w.Context().handleClickPos = {v.left + 100, 86};  // on the line
    w.RunMenuCommand(66);
    w.Context().handleClickPos = {v.left - 3, 86};
    w.RunMenuCommand(66);
    EXPECT_EQ(State(w), before);
    EXPECT_TRUE(r.ui.Log().alerts.empty());
    EXPECT_EQ(r.ui.Log().beeps, 0u);
    w.RunAccelerator(3);
    EXPECT_EQ(m.verticalLineCount, lines);
  });
}

TEST(MainCommands, CopyingAnExtraKnifeFromItsMenu) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    const u32 n = m.knotColumns;
    for (u32 b : {2u, 3u, n + 1, n + 2, n + 3, 2 * n + 1}) {
      m.selectedKnots[0] = 0;
      m.selectedKnots[1] = b;
      m.selectedKnotCount = 2;
      w.ClickButton(W::kAddKnives);
    }
    ASSERT_GE(m.xKnifeCount, 6u);
    m.xKnives[5].knobSize = 37;
    w.Context().knives.Empty();
    ASSERT_GE(w.Context().knives.Add(CLayoutModel::kExtraIdBase + 5), 0);
    w.RunMenuCommand(264);
    EXPECT_EQ(w.Editor().knives.Clipboard().knobSize, 37u);
    // One knife of each list pasted from it.
    ASSERT_GE(w.Context().knives.Add(3), 0);
    w.RunMenuCommand(265);
    EXPECT_EQ(m.vKnives[3].knobSize, 37u);
    w.RunAccelerator(3);
    EXPECT_EQ(m.vKnives[3].knobSize, 100u);
  });
}

TEST(MainCommands, RandomKnotControlsKeepInStep) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    auto* slider = static_cast<CKLF_CtrlSlider*>(w.GetNamedControl(W::kRndKnotsSlider));
    auto* edit = static_cast<CKLF_CtrlEditLine*>(w.GetNamedControl(W::kRndKnotsEdit));
    CLayoutModel& m = w.Editor().model;
    const u32 inner = m.knotColumns + 1;
    edit->SetText("250", 1);
    EXPECT_EQ(slider->GetValue(), 100u);
    EXPECT_EQ(m.knots[inner].dx, 0.0f);  // typing changes no knot
    w.OnEditRandomKnotsLF();
    EXPECT_STREQ(edit->GetText().GetStr(), "100");
    EXPECT_EQ(m.knotRandomAmount, 1.0f);
    EXPECT_NE(m.knots[inner].dx, 0.0f);
    EXPECT_TRUE(w.GetNamedControl(W::kRndKnotsButton)->IsEnabled());
    // Two shuffles at one amount differ; each is one undo step.
    const f32 first = m.knots[inner].dx;
    w.ClickButton(W::kRndKnotsButton);
    const f32 second = m.knots[inner].dx;
    EXPECT_NE(second, first);
    w.RunAccelerator(3);
    EXPECT_EQ(m.knots[inner].dx, first);
    // Dragging the slider shows the number but deals once, on release.
    u32 value = 30;
    w.OnCtrlMessage(klMsgValueDragging, IdOf(w, slider), "", klCtrlSlider, &value);
    EXPECT_STREQ(edit->GetText().GetStr(), "30");
    EXPECT_EQ(m.knots[inner].dx, first);
    edit->SetText("abc", 1);
    w.OnEditRandomKnotsLF();
    EXPECT_STREQ(edit->GetText().GetStr(), "0");
    EXPECT_EQ(m.knots[inner].dx, 0.0f);
    EXPECT_FALSE(w.GetNamedControl(W::kRndKnotsButton)->IsEnabled());
    // The undo shows the amount it brings back.
    w.RunAccelerator(3);
    EXPECT_EQ(slider->GetValue(), 100u);
    EXPECT_STREQ(edit->GetText().GetStr(), "100");
    // Puzzle mode: the controls change, the layout does not.
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    const Bytes before = State(w);
    slider->SetValue(40, 1);
    EXPECT_STREQ(edit->GetText().GetStr(), "40");
    EXPECT_EQ(State(w), before);
  });
}

TEST(MainCommands, ExtrasButtonsShowOneAtATime) {
  PluginRun r;
  WithWindow(r, [&](W& w) {
    auto shown = [&](W::Control c) { return w.GetNamedControl(c)->IsEnabled(); };
    EXPECT_FALSE(shown(W::kShowExtras));
    EXPECT_TRUE(shown(W::kHideExtras));
    w.ClickButton(W::kHideExtras);
    EXPECT_EQ(w.Editor().model.showKnots, 0);
    EXPECT_TRUE(shown(W::kShowExtras));
    EXPECT_FALSE(shown(W::kHideExtras));
    EXPECT_EQ(w.Editor().model.knotHandleCount, 0u);
    w.RunAccelerator(1);
    EXPECT_EQ(w.Editor().model.showKnots, 1);
    EXPECT_FALSE(shown(W::kShowExtras));
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    w.RunAccelerator(8);
    EXPECT_EQ(w.Puzzle().showPieceExtras, 0);
    EXPECT_TRUE(shown(W::kShowExtras));
  });
}

TEST(MainCommands, DocumentsSaveLoadAndUndoTheLoad) {
  PluginRun r;
  const std::string path = r.dir.File("grid.klpd");
  WithWindow(r, [&](W& w) {
    CLayoutModel& m = w.Editor().model;
    r.ui.AnswerFile({true, path});
    m.vKnives[0].flipU = 1;
    EXPECT_EQ(w.RunMenuCommand(84), 1u);
    ASSERT_EQ(r.ui.Log().questions.size(), 1u);
    EXPECT_EQ(r.ui.Log().questions[0].proposedName, "Untitled.klpd");
    const Bytes saved = klftest::ReadFileBytes(path);
    ASSERT_GT(saved.size(), 6u);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 6), "KLTS30");
    const Bytes withFlip = State(w);
    // A changed grid, then the document: the grid it holds, one undo away.
    w.RunMenuCommand(110);
    m.vKnives[0].flipU = 0;
    ASSERT_TRUE(w.InsertLineAt(1, static_cast<i16>(w.GetPreviewRect().left + 150), 86));
    const Bytes changed = State(w);
    r.ui.AnswerFile({true, path});
    EXPECT_EQ(w.RunAccelerator(33), 1u);
    EXPECT_EQ(State(w), withFlip);
    w.RunMenuCommand(80);
    EXPECT_EQ(State(w), changed);
    // Loaded in Puzzle mode, the document brings Layout mode back.
    ASSERT_NO_FATAL_FAILURE(CutNow(r));
    r.ui.AnswerFile({true, path});
    w.RunMenuCommand(88);
    EXPECT_EQ(w.IsLayoutMode(), 1);
    EXPECT_EQ(m.vKnives[0].flipU, 1);
    // Cancelled: nothing changes and nothing is said.
    w.RunMenuCommand(88);
    EXPECT_TRUE(r.ui.Log().alerts.empty());
    // A save question without memory is told once, as memory.
    r.ui.AnswerFile({false, "", true});
    w.RunMenuCommand(84);
    ASSERT_EQ(r.ui.Log().alerts.size(), 1u);
    EXPECT_EQ(r.ui.Log().alerts[0].second, "Memory allocation problem...");
  });
}

TEST(MainCommands, DialogsFromTheMenusAndTheSelectionTheyLoadAsOneUndoStep) {
  PluginRun r;
  r.Document(klpModeRGB, 640, 420);
  std::vector<uint8_t> left(640 * 420);
  for (size_t i = 0; i < left.size(); ++i) left[i] = i % 640 < 213 ? 0 : 255;
  ASSERT_TRUE(r.host.AddAlphaChannel(left));
  r.host.SetChannelNames({"Red", "Green", "Blue", "Left"}, true);
  auto running = [&r] { return dynamic_cast<CWnd_Dialog*>(r.ui.GetWindowClient(r.ui.GetActiveWindow())); };
  auto press = [&r](CWnd_Dialog& d, u32 c) {
    const kltRECT_s rc = d.GetCtrl(c)->GetRenderRect();
    r.ClickAt(d, (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    r.ui.Pump();
  };
  r.Then([&] {
    W& w = *r.Main();
    r.Then([&] {
      auto* d = dynamic_cast<CWnd_ChannelList*>(running());
      ASSERT_TRUE(d);
      const kltRECT_s l = d->GetCtrl(CWnd_ChannelList::kList)->GetRenderRect();
      r.ClickAt(*d, l.left + 30, l.top + 2 + 16 * 3 + 8);  // "Left"
      r.ui.Pump();
      press(*d, CWnd_ChannelList::kOk);
    });
    const Bytes before = State(w);
    EXPECT_EQ(w.RunMenuCommand(40), 1u);
    EXPECT_NE(State(w), before);
    w.RunAccelerator(3);
    EXPECT_EQ(State(w), before);
    // The preferences from the main menu, cancelled.
    bool shown = false;
    r.Then([&] {
      auto* d = dynamic_cast<CWnd_Pref*>(running());
      ASSERT_TRUE(d);
      shown = true;
      press(*d, CWnd_Pref::kCancel);
    });
    EXPECT_EQ(w.RunMenuCommand(81), 1u);
    EXPECT_TRUE(shown);
    EXPECT_EQ(State(w), before);
    w.localClose();
  });
  r.Dialog();
}
