#include <gtest/gtest.h>

#include <cmath>

#include "LayoutTestSupport.h"

using namespace laytest;

TEST(LayoutKnives, CloneMutationStaysInItsBounds) {
  // The extreme draws move S by -MutS^2 and almost +MutS^2, H and U by half
  // of MutX^2, three draws a point; S and U stay within 0..1.
  Editor e(3, 2);  // 4 vertical, 3 horizontal knives
  e.cutter.nodes[1].U = 0.999;
  e.cutter.nodeS[2] = 0.98;
  e.cutter.nodes[4].U = 0.001;
  for (u32 r : {0u, 0x7FFFFFFFu}) {
    ScriptedRandom scripted({r});
    e.model.SetRandom(&scripted);
    e.shapes.spl_DoReFillKnivesFromCutter(1, 0.2f, 0.1f, 0.5f, 0);
    const Knife& k = e.model.hKnives[2];
    const f64 sign = r ? 1.0 : -1.0;
    EXPECT_NEAR(k.pointS[0], 0.5 + sign * 0.04, 1e-6);
    EXPECT_NEAR(k.pointH[2], -0.297 + sign * 0.005, 1e-6);
    EXPECT_NEAR(k.pointU[0], 0.434 + sign * 0.125, 1e-6);
    EXPECT_EQ(std::vector<f32>({k.pointU[r ? 1 : 4], k.pointS[2]}), std::vector<f32>({r ? 1.0f : 0.0f, r ? 1.0f : 0.94f}));
    EXPECT_EQ(scripted.draws, 7u * 5u * 3u);
  }
}

TEST(LayoutKnives, ShapesFromTheCutter) {
  Editor e(3, 2);
  CLayoutModel& m = e.model;
  m.vKnives[1].selected = m.hKnives[0].selected = 1;
  m.hKnives[0].pointCount = 3;
  m.spl_OnKnifeSelChanged();
  e.shapes.OnCutterUpdateShape(0, 0, 0, 0, 1);  // the selected knives take the whole shape
  EXPECT_EQ(Values({m.vKnives[0].pointCount, m.vKnives[1].pointCount, m.hKnives[0].pointCount}), Values({0, 5, 5}));
  EXPECT_EQ(m.vKnives[1].centre, 0.5f);
  // Only nodes 1 and 3 selected: a knife of five points changes only those
  // (after mirroring its own); a knife of another count takes the whole
  // shape and is not mirrored.
  for (u32 j = 0; j < 5; ++j) e.cutter.nodes[j].H = 0.5, e.cutter.nodeSelected[j] = j == 1 || j == 3;
  m.hKnives[0].pointCount = 4;
  e.shapes.OnCutterUpdateShape_FlipU(0, 0, 0);
  const Knife& v = m.vKnives[1];
  EXPECT_EQ(std::vector<f32>({v.pointU[0], v.pointU[1], v.pointU[4], v.pointH[0], v.pointH[1], m.hKnives[0].pointU[0]}),
            std::vector<f32>({1 - 0.566f, 0.3515f, 1 - 0.434f, 0.0f, 0.5f, 0.434f}));
  e.shapes.OnCutterUpdateShape_FlipH(0, 0, 0);
  EXPECT_EQ(std::vector<f32>({v.pointH[2], v.pointH[3]}), std::vector<f32>({0.297f, 0.5f}));
  // Knob size and thickness go to the selected knives.
  e.shapes.OnCutterUpdateKnifeSize(40);
  e.shapes.OnCutterUpdateKnifeThickness(9, 0);
  e.shapes.OnCutterUpdateAntiAliasing(0);
  EXPECT_EQ(Values({v.knobSize, v.thickness, m.vKnives[0].knobSize, m.thinKnives, m.antiAliasing,
                    static_cast<u32>(e.view.redraws)}),
            Values({40, 9, 100, 0, 0, 6}));
}

TEST(LayoutKnives, CopyPasteAndExtraKnives) {
  Editor e(3, 2);  // 4 x 3 knots
  CLayoutModel& m = e.model;
  CKLF_DWordArray ids;
  EXPECT_EQ(e.knives.op_CopyKnife(9, 1, 0), 0);
  e.knives.op_PasteKnife(nullptr);  // an empty clipboard pastes nothing
  CLayoutModel::settings_SetDefaultKnife(&m.hKnives[1]);
  m.hKnives[1].flipU = m.hKnives[1].selected = 1;
  m.hKnives[1].thickness = 8;
  ASSERT_EQ(e.knives.op_CopyKnife(0xFFFFFFFF, 0, 0), 1);  // the first selected one
  m.hKnives[1].selected = 0;
  m.vKnives[2].hidden = 1;
  e.knives.op_PasteKnife(Ids(ids, {2, 2000005}));
  const Knife& v = m.vKnives[2];
  EXPECT_EQ(Values({v.hidden, v.flipU, v.thickness, v.pointCount, m.vKnives[1].pointCount, e.cutter.thick[0]}),
            Values({1, 1, 8, 5, 0, 4}));  // the Cutter hears the mean thickness of all

  // Extra knives: never between neighbours (also across a row end) nor twice
  // between two knots; the Cutter's shape, size and thickness.
  e.cutter.knobSize = 70;
  const std::pair<u32, u32> pairs[] = {{0, 1}, {3, 4}, {0, 4}, {0, 5}, {5, 0}, {0, 10}, {2, 8}, {11, 0}};
  Values added;
  for (const auto& p : pairs) added.push_back(e.knives.i_op_AddAuxKnifeToKnots(p.first, p.second));
  EXPECT_EQ(added, Values({0, 0, 0, 1, 0, 1, 1, 1}));
  EXPECT_EQ(Values({m.xKnives[0].knobSize, m.xKnives[0].pointCount, m.xKnives[0].knotB}), Values({70, 5, 5}));
  m.selectedKnots[0] = 6, m.selectedKnots[1] = 2, m.selectedKnotCount = 2;
  EXPECT_EQ(e.knives.op_AddAuxKnifeToSelectedKnots(1), 0);  // neighbours
  // With only grid knives selected every extra knife is spared; a list
  // deletes its extra ids; without a selection all go.
  m.hKnives[2].selected = 1;
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(e.knives.op_DelAuxKnives(1, nullptr, 0, 1), 0u);
  EXPECT_EQ(e.knives.op_DelAuxKnives(0, Ids(ids, {2000001, 5}), 0, 1), 1u);
  EXPECT_EQ(Values({m.xKnifeCount, m.xKnives[1].knotA}), Values({3, 2}));
  m.hKnives[2].selected = 0;
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(e.knives.op_DelAuxKnives(1, nullptr, 0, 0), 3u);
  m.xKnifeCount = CLayoutModel::kMaxExtraKnives;
  EXPECT_EQ(e.knives.i_op_AddAuxKnifeToKnots(0, 5), 0);  // the list is full
  m.xKnifeCount = 0;
}

TEST(LayoutKnives, EqualKnobs) {
  Editor e(3, 2);
  CLayoutModel& m = e.model;
  for (u32 i = 0; i < m.TotalKnifeCount(); ++i) CLayoutModel::settings_SetDefaultKnife(m.NthKnife(i));
  m.vKnives[0].span = 20;
  EXPECT_EQ(e.knives.check_IsAvail_EqualizeKnobs(0), 0);  // one knife drawn
  // It is the reference and keeps its size; knives of span 0 get 100.
  m.vKnives[1].knobSize = m.vKnives[0].knobSize = 30;
  EXPECT_EQ(e.knives.op_EqualizeKnobs(0, 1), 1);
  EXPECT_EQ(Values({m.vKnives[0].knobSize, m.vKnives[1].knobSize}), Values({30, 100}));
  // Twice the span with the same shape halves the size; a knob twice as
  // tall at the same span gets half; one point keeps its size; a tiny
  // reference shrinks all the others to 1.
  m.vKnives[0].knobSize = 100;
  m.vKnives[1].span = 40;
  m.hKnives[0].span = 20;
  for (u32 j = 0; j < 5; ++j) m.hKnives[0].pointH[j] *= 2;
  m.hKnives[1].span = 10;
  m.hKnives[1].pointCount = 1;
  m.hKnives[2].span = 1e-30f;
  EXPECT_EQ(e.knives.check_IsAvail_EqualizeKnobs(0), 1);
  EXPECT_EQ(e.knives.op_EqualizeKnobs(0, 0), 1);
  EXPECT_EQ(Values({m.vKnives[1].knobSize, m.hKnives[0].knobSize, m.hKnives[1].knobSize, m.hKnives[2].knobSize}),
            Values({1, 1, 100, 100}));
  m.hKnives[2].span = 0;
  m.vKnives[0].knobSize = 100;
  EXPECT_EQ(e.knives.op_EqualizeKnobs(0, 0), 1);
  EXPECT_EQ(Values({m.vKnives[0].knobSize, m.vKnives[1].knobSize, m.hKnives[0].knobSize, m.hKnives[1].knobSize,
                    e.undo.StoredSubKind()}),
            Values({100, 50, 50, 100, CLayoutUndo::kSubKnobSize}));
}
