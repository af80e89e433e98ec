#include <gtest/gtest.h>

#include <random>

#include "LayoutTestSupport.h"

using namespace laytest;

namespace {

Values Ones(u32 n, Values at) {
  Values v(n, 0);
  for (u32 i : at) v[i] = 1;
  return v;
}

}  // namespace

TEST(LayoutSelection, ClicksBlocksRowsAndAll) {
  Editor e(4, 4);  // 12 vertical knives (3 a band), then 12 horizontal (4 a line)
  CKLF_DWordArray ids;
  const u32 H = CLayoutModel::kHorizontalIdBase;
  // A plain click on a crossing selects both knives and sends the first to
  // the Cutter without a callback.
  e.model.vKnives[0].pointCount = 2;
  e.selection.op_SetSelToKnives(0, 0, 0, Ids(ids, {0, H + 5}), 0, 0, 1);
  EXPECT_EQ(e.Selected(), Ones(24, {0, 17}));
  EXPECT_EQ(Values({e.cutter.sent.back().nodeCount, e.cutter.sentNotify, e.model.anchorIndex}), Values({2, 0, 5}));
  // Shift from vertical (line 0, band 0) to horizontal (column 2, line 1):
  // the vertical knives of lines 0-1 in bands 0-1, the horizontal knives of
  // columns 1-2 on lines 0-1.
  e.selection.op_SetSelToKnives(0, 0, 0, Ids(ids, {0}), 1, 0, 1);
  e.selection.op_SetSelToKnives(0, 1, 0, Ids(ids, {H + 6}), 1, 0, 1);
  EXPECT_EQ(e.Selected(), Ones(24, {0, 1, 3, 4, 13, 14, 17, 18}));
  // Shift and Option take the block out again; Command toggles one knife;
  // Command-Shift flips across, with Option along; Option alone does nothing.
  e.selection.op_SetSelToKnives(0, 1, 1, Ids(ids, {1}), 1, 0, 1);
  EXPECT_EQ(e.Selected(), Ones(24, {0, 3, 13, 17}));
  e.selection.op_SetSelToKnives(1, 0, 0, Ids(ids, {4, 5}), 1, 1, 1);
  e.selection.op_SetSelToKnives(1, 1, 0, Ids(ids, {2}), 1, 0, 1);
  e.selection.op_SetSelToKnives(1, 1, 1, Ids(ids, {H}), 1, 0, 1);
  e.selection.op_SetSelToKnives(0, 0, 1, Ids(ids, {7}), 1, 0, 1);
  EXPECT_EQ(e.Selected(), Ones(24, {0, 3, 4, 5, 13, 17}));
  EXPECT_EQ(Values({e.model.vKnives[2].flipH, e.model.hKnives[0].flipU}), Values({1, 1}));
  // An extra knife never joins a block and, as the anchor, counts as none.
  ASSERT_EQ(e.knives.i_op_AddAuxKnifeToKnots(0, 12), 1);
  e.selection.op_SetSelToKnives(0, 0, 0, Ids(ids, {2000000}), 1, 0, 1);
  e.selection.op_SetSelToKnives(0, 1, 0, Ids(ids, {11}), 1, 0, 1);
  EXPECT_EQ(e.Selected(), Ones(25, {11, 24}));

  e.selection.op_AddRemoveRowColumnToSelection(1, 0, 1, 0);
  e.selection.op_AddRemoveRowColumnToSelection(2, 1, 1, 0);
  e.selection.op_AddRemoveRowColumnToSelection(3, 1, 1, 0);  // no such line
  e.selection.op_InvertSelToAllKnives(0);
  e.selection.op_SetSelToAllKnives(0, 0, 1, 0, 0);
  EXPECT_EQ(e.Selected(), Ones(25, {12, 13, 14, 15, 16, 17, 18, 19}));
  e.model.hKnives[3].hidden = 1;
  e.selection.op_SetSelToHiddenOrShownKnives(1, 1);
  EXPECT_EQ(e.Selected(), Ones(25, {15}));
}

// A Shift-click on many knives against the knives clicked one at a time,
// each block from the anchor walked over every grid knife: random grids
// with extra knives, selections, anchors (none, extra, gone) and knives
// under the pointer (repeated, extra, unknown). The click tells the window
// once; without memory for its blocks it alerts and changes nothing.
TEST(LayoutSelection, AShiftClickSelectsTheBlocksOfItsKnivesInTurn) {
  std::mt19937 g(5);
  auto below = [&](u32 n) { return static_cast<u32>(g() % n); };
  for (int trial = 0; trial < 300; ++trial) {
    const u16 columns = static_cast<u16>(1 + below(9)), rows = static_cast<u16>(1 + below(9));
    Editor e(columns, rows), reference(columns, rows);
    for (u32 x = below(4); x-- > 0;) {
      const u32 a = below(e.model.knotCount), b = below(e.model.knotCount);
      ASSERT_EQ(e.knives.i_op_AddAuxKnifeToKnots(a, b), reference.knives.i_op_AddAuxKnifeToKnots(a, b));
    }
    const u32 total = e.model.TotalKnifeCount();
    for (u32 i = 0; i < total; ++i) e.model.NthKnife(i)->selected = reference.model.NthKnife(i)->selected = !below(3);
    Values ids;
    for (u32 n = 1 + below(40); n-- > 0;)
      ids.push_back(total && below(12) ? e.model.NthKnifeId(below(total)) : 1500000 + below(3));
    const u32 anchor = below(4) ? (below(2) ? below(total + 2) : 0) : CLayoutModel::kNoAnchor;
    const u8 anchorVertical = below(2), anchorExtra = !below(4), option = below(2);
    for (CLayoutModel* m : {&e.model, &reference.model})
      m->anchorIndex = anchor, m->anchorVertical = anchorVertical, m->anchorExtra = anchorExtra;
    CKLF_DWordArray list;
    e.view.selectionChanges = 0;
    EXPECT_EQ(e.selection.op_SetSelToKnives(0, 1, option, Ids(list, ids), 1, 0, 0), 1);
    EXPECT_EQ(e.view.selectionChanges, 1);
    CLayoutModel& r = reference.model;
    for (u32 id : ids) {
      Knife* k = r.GetKnife(id);
      if (!k || id >= CLayoutModel::kExtraIdBase) continue;
      const u8 vertical = id < CLayoutModel::kHorizontalIdBase;
      const u32 index = vertical ? id : id - CLayoutModel::kHorizontalIdBase;
      if (r.anchorIndex != CLayoutModel::kNoAnchor && !r.anchorExtra)
        reference.selection.op_SetSelToKnivesBlock(!option, r.anchorIndex, r.anchorVertical, index, vertical);
      else
        k->selected = 1;
      r.anchorIndex = index, r.anchorVertical = vertical, r.anchorExtra = 0;
    }
    r.spl_OnKnifeSelChanged();
    ASSERT_EQ(e.Selected(), reference.Selected()) << "trial " << trial;
    ASSERT_EQ(Values({e.model.anchorIndex, e.model.anchorVertical, e.model.anchorExtra, e.model.anyKnifeSelected}),
              Values({r.anchorIndex, r.anchorVertical, r.anchorExtra, r.anyKnifeSelected}))
        << "trial " << trial;
  }
  Editor e(101, 101);
  e.model.SetBlockLimit(1000);
  CKLF_DWordArray ids;
  e.model.anchorIndex = 0;
  EXPECT_EQ(e.selection.op_SetSelToKnives(0, 1, 0, Ids(ids, {500}), 1, 0, 1), 0);
  EXPECT_EQ(e.Selected(), Values(e.model.TotalKnifeCount(), 0));
  EXPECT_EQ(e.view.alerts, std::vector<std::string>({"Error! Memory allocation problem..."}));
  EXPECT_EQ(Values({static_cast<u32>(e.view.selectionChanges), static_cast<u32>(e.view.redraws)}), Values({0, 0}));
}

TEST(LayoutSelection, RandomPicksFollowTheDraws) {
  // 220 knives pick eleven: the product of two draws modulo the candidates,
  // a used candidate giving the next free one.
  Editor e(11, 11);
  ScriptedRandom r({7, 9});
  e.model.SetRandom(&r);
  ASSERT_EQ(e.selection.op_SelRandom(1, 0), 1);
  Values want(220, 0);
  for (u32 i = 0; i < 11; ++i) want[(63 + i) % 220] = 1;
  EXPECT_EQ(e.Selected(), want);
  EXPECT_EQ(r.draws, 22u);
  ASSERT_EQ(e.selection.op_SelRandom(1, 0), 1);  // candidates skip the selected knives
  for (u32 i = 74; i < 85; ++i) want[i] = 1;
  EXPECT_EQ(e.Selected(), want);
  ASSERT_EQ(e.selection.op_SelRandom(0, 0), 1);  // eleven picks among the 22 selected
  EXPECT_EQ(e.model.anyKnifeSelected, 1);
  e.selection.op_SetSelToAllKnives(1, 0, 1, 1, 1);
  EXPECT_EQ(e.selection.op_SelRandom(1, 0), 0);  // nothing to pick
}

TEST(LayoutSelection, ChannelMapsSelectAtTheBorders) {
  Editor e(3, 2);  // knots 4 x 3 on a 30 x 20 map; lines at x 10, 20 and y 10
  ASSERT_EQ(e.knives.i_op_AddAuxKnifeToKnots(0, 7), 1);
  e.model.SetImageSize(30, 20);
  std::vector<u8> map(30 * 20, 255);
  CLayoutView::CHANNELMAP c = {0, 0, map.data(), 30, 20, 30};
  const u32 total = e.model.TotalKnifeCount();
  // Subtract with a map of 255 changes nothing, border knots included; New
  // with it inverted selects every knife.
  e.selection.op_SetSelToAllKnives(1, 0, 1, 1, 1);
  c.mode = 2;
  ASSERT_EQ(e.selection.SelectFromChannel(c), 1);
  EXPECT_EQ(e.Selected(), Values(total, 1));
  c.mode = 0, c.invert = 1;
  e.selection.op_SetSelToAllKnives(0, 0, 1, 1, 1);
  ASSERT_EQ(e.selection.SelectFromChannel(c), 1);
  EXPECT_EQ(e.Selected(), Values(total, 1));
  // The right border column (sampled at x 29) marks the knives that end
  // there: the horizontal knife of column 2 and the extra knife to knot 7.
  for (int y = 0; y < 20; ++y) map[y * 30 + 29] = 0;
  c.invert = 0;
  ASSERT_EQ(e.selection.SelectFromChannel(c), 1);
  EXPECT_EQ(e.Selected(), Ones(total, {6, 7}));
  // Intersect drops the knives at a knot outside the channel (255 at knot
  // (2, 1)).
  std::fill(map.begin(), map.end(), 0);
  map[10 * 30 + 20] = 255;  // knot (2, 1)
  e.selection.op_SetSelToAllKnives(1, 0, 1, 1, 1);
  c.mode = 3;
  e.view.channel = c;
  ASSERT_EQ(e.selection.op_LoadSelection(), 1);
  EXPECT_EQ(e.Selected(), Ones(total, {0, 2, 4, 7}));
}

TEST(LayoutSelection, VisibilityAndFlips) {
  Editor e(3, 2);  // 4 vertical, 3 horizontal knives
  ASSERT_EQ(e.knives.i_op_AddAuxKnifeToKnots(0, 6), 1);
  // Draws below 0x3FFFFFFF flip: yes, no, yes, yes, no, over and over.
  ScriptedRandom r({0, 0x3FFFFFFF, 0x3FFFFFFE, 9, 0x7FFFFFFF});
  e.model.SetRandom(&r);
  e.selection.op_RandFlip(1, 1, 1, 1);  // nothing selected: every knife, H then U
  EXPECT_EQ(e.Flags(&Knife::flipH), Values({1, 1, 0, 0, 1, 1, 1, 0}));
  EXPECT_EQ(e.Flags(&Knife::flipU), Values({0, 1, 1, 1, 0, 0, 1, 1}));
  CKLF_DWordArray ids;
  e.selection.op_SetSelToKnives(0, 0, 0, Ids(ids, {1, 2, 3, 1000000, 1000001}), 1, 0, 0);
  e.selection.op_Interleaved(1, 0, 1, 0);  // 0, 1, 0 on the vertical, 0, 1 on the horizontal
  e.selection.op_Flip(0, 1, 1, 0);
  EXPECT_EQ(e.Flags(&Knife::flipH), Values({1, 0, 1, 0, 0, 1, 1, 0}));
  EXPECT_EQ(e.Flags(&Knife::flipU), Values({0, 0, 0, 0, 1, 1, 1, 1}));
  e.selection.op_NonInterleaved(1, 1, 0, 0);  // grid knives only
  EXPECT_EQ(e.Flags(&Knife::flipU), Values({0, 0, 0, 0, 0, 0, 0, 1}));
  e.selection.op_ShowHideSelectedKnives(0, 1);
  e.selection.op_ShowHideListOfKnives(1, Ids(ids, {2, 2000000, 2000001}), 0);
  e.selection.op_ReverseShownHidden(0);
  EXPECT_EQ(e.Flags(&Knife::hidden), Values({0, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(e.view.redraws, 2);
}
