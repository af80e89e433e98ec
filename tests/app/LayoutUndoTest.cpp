#include <gtest/gtest.h>

#include "LayoutTestSupport.h"

using namespace laytest;

TEST(LayoutUndo, PartialPointsUndoAndRedo) {
  Editor e(4, 3);
  CLayoutModel& m = e.model;
  EXPECT_EQ(e.undo.uncm_Restore(), 0);  // nothing to undo yet
  const Bytes start = e.State();
  // A dragged line: undo puts it back, a second undo moves it again.
  e.undo.uncm_PreSave(CLayoutUndo::kLines);
  m.verticalLines[1] = 0.6f;
  e.undo.uncm_SaveState(CLayoutUndo::kLines, 0);
  const Bytes moved = e.State();
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), start);
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), moved);
  // Flags: hiding hidden knives changes nothing and keeps the line point;
  // a real change is undone with its selection anchor.
  m.vKnives[0].hidden = 1;
  e.undo.uncm_PreSave(CLayoutUndo::kFlags);
  e.selection.op_ShowHideListOfKnives(0, nullptr, 0);
  e.undo.uncm_SaveState(CLayoutUndo::kFlags, 0);
  EXPECT_EQ(e.undo.StoredKind(), CLayoutUndo::kLines);
  m.vKnives[2].selected = 1;
  m.anchorIndex = 2, m.anchorVertical = 1;
  m.spl_OnKnifeSelChanged();
  e.undo.uncm_PreSave(CLayoutUndo::kFlags);
  m.vKnives[2].flipU = 1;
  m.vKnives[5].selected = 1;
  m.anchorIndex = 5;
  e.undo.uncm_SaveState(CLayoutUndo::kFlags, 0);
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(Values({m.vKnives[2].flipU, m.vKnives[5].selected, m.vKnives[0].hidden, m.anchorIndex}),
            Values({0, 0, 1, 2}));
  // Knot offsets with the random amount kept at commit: undo gives back the
  // amount the offsets were dealt with, and shows it.
  ScriptedRandom r({12345678, 2000000000});
  m.SetRandom(&r);
  m.knotRandomAmount = 0.3f;
  m.spl_AutoFillKnots(1);
  const Bytes dealt = e.State();
  e.undo.uncm_PreSave(CLayoutUndo::kKnots);
  m.knotRandomAmount = 0.6f;
  m.spl_AutoFillKnots(1);
  e.undo.uncm_SaveState(CLayoutUndo::kKnots, 0);
  e.undo.uncm_PreSave(CLayoutUndo::kKnots);  // a knot drag that moved nothing
  e.undo.uncm_SaveState(CLayoutUndo::kKnots, 0);
  m.knotRandomAmount = 0.9f;  // the controls moved on without dealing
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), dealt);
  EXPECT_EQ(m.knotRandomAmount, 0.3f);
  EXPECT_EQ(e.view.amount, 30);
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(m.knotRandomAmount, 0.9f);
  EXPECT_EQ(e.view.amount, 90);
  // A pre-save that runs out of memory fails after the alert; the edit goes
  // on without an undo point and the old one stays.
  m.SetBlockLimit(0);
  CLayoutUndo fresh(m);
  EXPECT_EQ(fresh.uncm_PreSave(CLayoutUndo::kLines), 0);
  m.verticalLines[0] = 0.1f;
  EXPECT_EQ(fresh.uncm_SaveState(CLayoutUndo::kLines, 0), 1);
  EXPECT_EQ(Values({fresh.IsEmpty(), static_cast<u32>(e.view.alerts.size())}), Values({1, 1}));
  EXPECT_EQ(e.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubLine), 0);
  EXPECT_EQ(e.undo.StoredKind(), CLayoutUndo::kKnots);
}

TEST(LayoutUndo, GlobalPointsMergeByKind) {
  Editor e(4, 3);
  CLayoutModel& m = e.model;
  const Bytes start = e.State();
  for (u32 size : {90, 80, 70, 60, 50}) e.shapes.OnCutterUpdateKnifeSize(size);
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), start);  // before the first of the run
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(m.vKnives[0].knobSize, 50u);
  // Thickness, then knob size: undo takes back the knob size only.
  e.shapes.OnCutterUpdateKnifeThickness(9, 0);
  const Bytes thick = e.State();
  e.shapes.OnCutterUpdateKnifeSize(20);
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), thick);
  // A line inserted and undone: the old grid, the Cutter told its counts;
  // a global point right after an undo snapshots again.
  ASSERT_EQ(e.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubLine), 1);
  ASSERT_EQ(e.grid.op_InsertRC(0, 0.1), 1);
  const Bytes inserted = e.State();
  e.cutter.refreshed = 0;
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), thick);
  EXPECT_EQ(Values({e.cutter.rows, e.cutter.columns, static_cast<u32>(e.cutter.refreshed)}), Values({3, 4, 1}));
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), inserted);
  ASSERT_EQ(e.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubLine), 1);
  m.vKnives[0].knobSize = 1;
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), inserted);
  // A point saved for other counts is not forced onto this layout.
  e.undo.uncm_PreSave(CLayoutUndo::kLines);
  m.horizontalLines[0] = 0.2f;
  e.undo.uncm_SaveState(CLayoutUndo::kLines, 0);
  ASSERT_EQ(m.spl_SplitEvenParts(2, 2, 1, 1), 1);
  EXPECT_EQ(e.undo.uncm_Restore(), 0);

  // Layout mode beginning forgets the point: undo does nothing, and the
  // next change of the same kind as the forgotten point snapshots anew.
  e.shapes.OnCutterUpdateKnifeSize(40);
  e.undo.uncm_MarkEmpty();
  const Bytes opened = e.State();
  EXPECT_EQ(e.undo.uncm_Restore(), 0);
  EXPECT_EQ(e.State(), opened);
  e.shapes.OnCutterUpdateKnifeSize(30);
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), opened);
}

TEST(LayoutUndo, MarkedEmptyWhenTheCutterOpens) {
  // The Cutter opens on a layout the store does not describe: nothing is
  // undone, and the next global point is a fresh one, not merged into the
  // run of points before.
  Editor e(3, 3);
  CLayoutModel& m = e.model;
  ASSERT_EQ(e.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubGrid), 1);
  ASSERT_EQ(m.spl_SplitEvenParts(5, 4, 1, 1), 1);
  e.undo.uncm_MarkEmpty();
  const Bytes opened = e.State();
  EXPECT_EQ(e.undo.uncm_Restore(), 0);
  EXPECT_EQ(e.State(), opened);
  ASSERT_EQ(e.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubGrid), 1);
  ASSERT_EQ(m.spl_SplitEvenParts(2, 2, 1, 1), 1);
  EXPECT_EQ(e.undo.uncm_Restore(), 1);
  EXPECT_EQ(e.State(), opened);
}
