#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "CCutterServices.h"
#include "CLayoutModel.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;

const kltFPOS kOrigin = {0.0, 0.0};

// A Cutter that records what the main window tells it.
class FakeCutter : public CCutterServices {
 public:
  void opSetShapeFromData(SPLINE_STRUCT*, u8) override {}
  i32 ExtSetRows(u16 r) override {
    rows = BringInto1to100(r);
    return 0;
  }
  i32 ExtSetColumns(u16 c) override {
    columns = BringInto1to100(c);
    return 0;
  }
  void NotifiedByMain_NewThickness(u16 t, u8 mixed, u8 thin) override {
    thickness = BringInto1to100(t);
    lastThicknessMixed = mixed;
    lastThin = thin;
    ++notifications;
  }
  void NotifiedByMain_NewKnobSize(u16 s, u8 mixed) override {
    knobSize = CapAt100(s);
    lastKnobMixed = mixed;
    ++notifications;
  }
  void SetInitialStatesToControls() override {}
  void settings_SaveWindowPosition() override {}
  u8 settings_SaveLastKnife() override { return 0; }

  u8 lastThicknessMixed = 0;
  u8 lastKnobMixed = 0;
  u8 lastThin = 0;
  int notifications = 0;
};

void Grid(CLayoutModel& m, u16 columns, u16 rows) {
  ASSERT_EQ(m.spl_SplitEvenParts(columns, rows, 1, 1), 1);
}

void AddExtra(CLayoutModel& m, u32 a, u32 b) {
  ASSERT_EQ(m.spl_InitAuxKnivesMem(m.xKnifeCount + 1), 1);
  CLayoutModel::AUXKNIFESTRUCT& x = m.xKnives[m.xKnifeCount];
  x.knobSize = 100;
  x.thickness = 3;
  x.knotA = a;
  x.knotB = b;
  m.xKnifeCount++;
}

}  // namespace

TEST(LayoutModel, KnotPositionsFollowTheirGaps) {
  CLayoutModel m;
  Grid(m, 1, 1);
  // No lines: the single knot column pair is the border; column 1 is x = W.
  kltFPOS p = m.i_spl_ConvertKnot(1u, 0u, 200.0, 100.0, kOrigin);
  EXPECT_DOUBLE_EQ(p.x, 200.0);
  EXPECT_DOUBLE_EQ(p.y, 0.0);

  Grid(m, 3, 2);  // lines at 1/3, 2/3 and 1/2
  m.verticalLines[0] = 0.25f;
  m.verticalLines[1] = 0.75f;
  // Knot (2, 1): on the last vertical line.
  u32 id = 1 * m.knotColumns + 2;
  m.knots[id].dx = 0.5f;  // toward the right border: gap 1 - 0.75
  kltFPOS q = m.i_spl_ConvertKnot(id, 400.0, 100.0, kOrigin);
  EXPECT_DOUBLE_EQ(q.x, (0.75 + 0.25 * 0.5) * 400.0);
  m.knots[id].dx = -0.5f;  // toward the previous line: gap 0.5
  q = m.i_spl_ConvertKnot(id, 400.0, 100.0, kOrigin);
  EXPECT_DOUBLE_EQ(q.x, (0.75 - 0.5 * 0.5) * 400.0);
  // First line, negative offset: the gap is the line's own position.
  u32 first = 1 * m.knotColumns + 1;
  m.knots[first].dx = -1.0f;
  EXPECT_DOUBLE_EQ(m.i_spl_ConvertKnot(first, 400.0, 100.0, kOrigin).x, 0.0);
  // Border knots never move across the border, and the origin is subtracted.
  m.knots[0].dx = 0.9f;
  m.knots[0].dy = 0.9f;
  kltFPOS o = {10.0, 20.0};
  kltFPOS b = m.i_spl_ConvertKnot(0u, 400.0, 100.0, o);
  EXPECT_DOUBLE_EQ(b.x, -10.0);
  EXPECT_DOUBLE_EQ(b.y, -20.0);
  // An offset of +1 lands on the neighbouring line.
  m.knots[first].dx = 1.0f;
  EXPECT_NEAR(m.i_spl_ConvertKnot(first, 400.0, 100.0, kOrigin).x, 300.0, 1e-9);

  CLayoutModel empty;
  kltFPOS z = empty.i_spl_ConvertKnot(5u, 10.0, 10.0, kOrigin);
  EXPECT_EQ(z.x, 0.0);
  EXPECT_EQ(z.y, 0.0);
}

TEST(LayoutModel, KnotIdsAfterInsertOrDeleteKeepTheirPlace) {
  // Oracle: a knot keeps its place in the image when a line is inserted or
  // deleted elsewhere, so its remapped id must convert to the same point in
  // the new grid.
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    u16 V = static_cast<u16>(rng() % 6), H = static_cast<u16>(rng() % 6);
    bool column = rng() & 1;
    bool insert = (rng() & 1) || (column ? V == 0 : H == 0);
    CLayoutModel a;
    Grid(a, static_cast<u16>(V + 1), static_cast<u16>(H + 1));
    u16 count = column ? V : H;
    u16 L = static_cast<u16>(insert ? rng() % (count + 1) : rng() % count);

    // The new grid: positions with one inserted at L (or entry L removed).
    std::vector<f32> old(column ? a.verticalLines : a.horizontalLines,
                         (column ? a.verticalLines : a.horizontalLines) + count);
    std::vector<f32> nw = old;
    if (insert) {
      f32 lo = L == 0 ? 0.0f : old[L - 1];
      f32 hi = L == count ? 1.0f : old[L];
      nw.insert(nw.begin() + L, (lo + hi) / 2);
    } else {
      nw.erase(nw.begin() + L);
    }
    CLayoutModel b;
    u16 nV = column ? static_cast<u16>(nw.size()) : V;
    u16 nH = column ? H : static_cast<u16>(nw.size());
    Grid(b, static_cast<u16>(nV + 1), static_cast<u16>(nH + 1));
    for (size_t i = 0; i < nw.size(); ++i) (column ? b.verticalLines : b.horizontalLines)[i] = nw[i];

    for (u32 id = 0; id < a.knotCount; ++id) {
      i32 to = a.i_CovertKnotID(id, insert, column, L);
      u32 c = id % a.knotColumns, r = id / a.knotColumns;
      if (!insert && (column ? c : r) == static_cast<u32>(L) + 1u) {
        EXPECT_EQ(to, -1);
        continue;
      }
      ASSERT_GE(to, 0);
      ASSERT_LT(static_cast<u32>(to), b.knotCount);
      kltFPOS pa = a.i_spl_ConvertKnot(id, 640.0, 480.0, kOrigin);
      kltFPOS pb = b.i_spl_ConvertKnot(static_cast<u32>(to), 640.0, 480.0, kOrigin);
      EXPECT_DOUBLE_EQ(pa.x, pb.x) << "round " << round << " id " << id;
      EXPECT_DOUBLE_EQ(pa.y, pb.y) << "round " << round << " id " << id;
    }
    EXPECT_EQ(a.i_CovertKnotID(a.knotCount, insert, column, L), -1);
  }
}

TEST(LayoutModel, EffectivePointsApplyFlipsAndKnobSize) {
  Knife k = {};
  CLayoutModel::settings_SetDefaultKnife(&k);
  EXPECT_FLOAT_EQ(k.centre, 0.5f);
  f64 u[64], h[64], s[64];
  ASSERT_EQ(CLayoutModel::GetEffectivePoints(k, u, h, s), 5u);
  EXPECT_DOUBLE_EQ(u[0], static_cast<f64>(0.434f));
  EXPECT_DOUBLE_EQ(h[2], static_cast<f64>(-0.297f));

  k.knobSize = 50;
  CLayoutModel::GetEffectivePoints(k, u, h, s);
  EXPECT_NEAR(u[0], 0.467, 1e-7);
  EXPECT_NEAR(h[2], -0.1485, 1e-7);

  // Both flips: order reversed, positions mirrored, offsets negated, the
  // pivot mirrored too.
  k.knobSize = 100;
  k.pointU[0] = 0.1f;
  k.pointS[0] = 0.25f;
  CLayoutModel::UpdateCentre(k);
  k.flipU = 1;
  k.flipH = 1;
  CLayoutModel::GetEffectivePoints(k, u, h, s);
  EXPECT_NEAR(u[4], 0.9, 1e-7);
  EXPECT_DOUBLE_EQ(s[4], 0.25);
  EXPECT_NEAR(h[3], 0.165, 1e-7);
  k.knobSize = 40;
  CLayoutModel::GetEffectivePoints(k, u, h, s);
  f64 c = 1.0 - static_cast<f64>(k.centre);
  EXPECT_NEAR(u[4], c + 0.4 * (0.9 - c), 1e-7);

  Knife straight = {};
  straight.knobSize = 30;
  EXPECT_EQ(CLayoutModel::GetEffectivePoints(straight, u, h, s), 0u);
}

TEST(LayoutModel, KnobSizeAndThicknessOfConsideredKnives) {
  CLayoutModel m;
  u8 mixed = 1;
  EXPECT_EQ(m.spl_DoGetKnifeThickness(0, mixed), 1u);
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(m.spl_DoGetKnobSize(0, mixed), 100u);

  Grid(m, 3, 3);
  EXPECT_EQ(m.spl_DoGetKnifeThickness(0, mixed), 3u);
  EXPECT_EQ(mixed, 0);
  m.vKnives[0].thickness = 4;
  EXPECT_EQ(m.spl_DoGetKnifeThickness(0, mixed), 3u);  // mean of eleven 3s and a 4
  EXPECT_EQ(mixed, 1);

  // Only the selected knives count once one is selected.
  m.vKnives[0].selected = 1;
  EXPECT_EQ(m.spl_DoGetKnifeThickness(1, mixed), 4u);
  EXPECT_EQ(mixed, 0);
  m.spl_DoSetKnobSize(60, 1);
  EXPECT_EQ(m.vKnives[0].knobSize, 60u);
  EXPECT_EQ(m.vKnives[1].knobSize, 100u);
  EXPECT_EQ(m.spl_DoGetKnobSize(0, mixed), (60u + 11 * 100u) / 12);
  EXPECT_EQ(mixed, 1);

  // Means are brought into range: thickness 1..100, knob size up to 100.
  for (u32 i = 0; i < m.vKnifeCount; ++i) m.vKnives[i].thickness = 0;
  for (u32 i = 0; i < m.hKnifeCount; ++i) m.hKnives[i].thickness = 0;
  m.vKnives[1].thickness = 1;
  EXPECT_EQ(m.spl_DoGetKnifeThickness(0, mixed), 1u);
  for (u32 i = 0; i < m.hKnifeCount; ++i) m.hKnives[i].knobSize = 250;
  m.hKnives[0].knobSize = 240;
  m.vKnives[0].selected = 0;
  EXPECT_EQ(m.spl_DoGetKnobSize(0, mixed), 100u);

  m.spl_DoSetKnifeTh(7, 0, 0);
  EXPECT_EQ(m.thinKnives, 0);
  EXPECT_EQ(m.spl_DoGetKnifeThickness(0, mixed), 7u);
  EXPECT_EQ(mixed, 0);
}

TEST(LayoutModel, SelectionChangesReachTheCutter) {
  CLayoutModel m;
  FakeCutter cutter;
  Grid(m, 3, 2);
  AddExtra(m, 0, m.knotCount - 1);
  m.anchorIndex = 3;
  m.SetCutter(&cutter);

  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(m.anyKnifeSelected, 0);
  EXPECT_EQ(m.anchorIndex, CLayoutModel::kNoAnchor);
  EXPECT_EQ(cutter.notifications, 2);

  m.xKnives[0].selected = 1;
  m.xKnives[0].knobSize = 70;
  m.xKnives[0].thickness = 9;
  m.thinKnives = 1;
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(m.anyKnifeSelected, 1);
  EXPECT_EQ(m.onlyExtraSelected, 1);
  EXPECT_EQ(cutter.knobSize, 70);
  EXPECT_EQ(cutter.thickness, 9);
  EXPECT_EQ(cutter.lastThin, 1);
  EXPECT_EQ(cutter.lastKnobMixed, 0);

  u8 extra, hidden, shown;
  m.GetConsideredKnifeStates(extra, hidden, shown);
  EXPECT_EQ(extra, 1);
  EXPECT_EQ(hidden, 0);
  EXPECT_EQ(shown, 1);

  m.vKnives[1].selected = 1;
  m.vKnives[1].hidden = 1;
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(m.onlyExtraSelected, 0);
  EXPECT_EQ(cutter.lastKnobMixed, 1);
  EXPECT_EQ(cutter.lastThicknessMixed, 1);
  EXPECT_EQ(cutter.knobSize, 85);  // mean of 70 and 100
  m.GetConsideredKnifeStates(extra, hidden, shown);
  EXPECT_EQ(hidden, 1);

  // The pending records are a copy, dropped again by null.
  u8 rec[2 * 92];
  for (int i = 0; i < 184; ++i) rec[i] = static_cast<u8>(i);
  ASSERT_EQ(cutter.SetPendingRecords(rec, 2), 1);
  rec[100] = 0;
  EXPECT_EQ(cutter.pendingRecordCount, 2u);
  EXPECT_EQ(cutter.pendingRecords[100], 100);
  cutter.SetPendingRecords(nullptr, 5);
  EXPECT_EQ(cutter.pendingRecordCount, 0u);
  EXPECT_EQ(cutter.pendingRecords, nullptr);
}

TEST(LayoutModel, KnotClicksAndExtraKnifeEnds) {
  CLayoutModel m;
  Grid(m, 4, 4);  // 5 x 5 knots
  const u32 n = m.knotColumns;

  m.i_cmop_KnotClickToSelect(6);
  m.i_cmop_KnotClickToSelect(6);
  EXPECT_EQ(m.selectedKnotCount, 0);

  // Neighbours in a row or a column: only the second stays.
  m.i_cmop_KnotClickToSelect(6);
  m.i_cmop_KnotClickToSelect(7);
  EXPECT_EQ(m.selectedKnotCount, 1);
  EXPECT_EQ(m.selectedKnots[0], 7u);
  m.i_cmop_KnotClickToSelect(7 + n);
  EXPECT_EQ(m.selectedKnotCount, 1);
  EXPECT_EQ(m.selectedKnots[0], 7 + n);

  // A diagonal pair may be joined.
  m.i_cmop_KnotClickToSelect(8 + 2 * n);
  ASSERT_EQ(m.selectedKnotCount, 2);
  EXPECT_EQ(m.CanAddExtraKnife(), 1);
  // Clicking the first leaves the second; a third knot follows the second.
  m.i_cmop_KnotClickToSelect(7 + n);
  EXPECT_EQ(m.selectedKnotCount, 1);
  EXPECT_EQ(m.selectedKnots[0], 8 + 2 * n);
  m.i_cmop_KnotClickToSelect(0);
  m.i_cmop_KnotClickToSelect(24);
  ASSERT_EQ(m.selectedKnotCount, 2);
  EXPECT_EQ(m.selectedKnots[0], 0u);
  EXPECT_EQ(m.selectedKnots[1], 24u);
  m.i_cmop_KnotClickToSelect(23);  // neighbour of 24: 23 alone
  EXPECT_EQ(m.selectedKnotCount, 1);
  EXPECT_EQ(m.selectedKnots[0], 23u);

  // Ids that differ by 1 across a row end count as neighbours; ids out of
  // range and pairs already joined (either way round) are refused.
  EXPECT_EQ(m.i_cmop_IsPossibleKnotsForAuxKnife(n - 1, n), 0);
  EXPECT_EQ(m.i_cmop_IsPossibleKnotsForAuxKnife(0, m.knotCount), 0);
  EXPECT_EQ(m.i_cmop_IsPossibleKnotsForAuxKnife(0, 12), 1);
  AddExtra(m, 12, 0);
  EXPECT_EQ(m.i_cmop_IsPossibleKnotsForAuxKnife(0, 12), 0);
  EXPECT_EQ(m.i_cmop_IsPossibleKnotsForAuxKnife(12, 0), 0);
}

TEST(LayoutModel, KnifeIdsNameTheThreeLists) {
  CLayoutModel m;
  Grid(m, 3, 2);  // 4 vertical, 3 horizontal knives
  AddExtra(m, 0, 7);
  AddExtra(m, 2, 9);
  EXPECT_EQ(m.GetKnife(0), &m.vKnives[0]);
  EXPECT_EQ(m.GetKnife(3), &m.vKnives[3]);
  EXPECT_EQ(m.GetKnife(4), nullptr);
  EXPECT_EQ(m.GetKnife(CLayoutModel::kHorizontalIdBase - 1), nullptr);
  EXPECT_EQ(m.GetKnife(1000000), &m.hKnives[0]);
  EXPECT_EQ(m.GetKnife(1000002), &m.hKnives[2]);
  EXPECT_EQ(m.GetKnife(1000003), nullptr);
  EXPECT_EQ(m.GetKnife(2000000), static_cast<Knife*>(&m.xKnives[0]));
  EXPECT_EQ(m.GetKnife(2000001), static_cast<Knife*>(&m.xKnives[1]));
  EXPECT_EQ(m.GetKnife(2000002), nullptr);
  EXPECT_EQ(m.GetKnife(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(m.TotalKnifeCount(), 9u);
}

TEST(LayoutModel, ExtraKnifeStoreGrowsAndZeroes) {
  CLayoutModel m;
  EXPECT_EQ(m.spl_InitAuxKnivesMem(0), 1);
  EXPECT_EQ(m.xKnivesMem.GetSize(), 0u);
  ASSERT_EQ(m.spl_InitAuxKnivesMem(3), 1);
  EXPECT_EQ(m.xKnivesMem.GetSize(), 103 * sizeof(CLayoutModel::AUXKNIFESTRUCT));
  m.xKnives[0].knotA = 77;
  m.xKnives[1].knotA = 88;
  m.xKnifeCount = 1;
  ASSERT_EQ(m.spl_InitAuxKnivesMem(2000), 1);
  EXPECT_EQ(m.xKnivesMem.GetSize(), 2200 * sizeof(CLayoutModel::AUXKNIFESTRUCT));
  EXPECT_EQ(m.xKnives[0].knotA, 77u);  // kept
  EXPECT_EQ(m.xKnives[1].knotA, 0u);   // past the count: zeroed
  EXPECT_EQ(m.xKnifeCount, 1u);        // the count is the caller's
}

TEST(LayoutModel, EvenGridLaysLinesKnotsAndKnives) {
  CLayoutModel m;
  Grid(m, 4, 3);
  EXPECT_EQ(m.verticalLineCount, 3);
  EXPECT_EQ(m.horizontalLineCount, 2);
  EXPECT_EQ(m.knotCount, 20u);
  EXPECT_EQ(m.vKnifeCount, 9u);
  EXPECT_EQ(m.hKnifeCount, 8u);
  EXPECT_EQ(m.vKnivesPerBand, 3);
  EXPECT_EQ(m.vBands, 3);
  EXPECT_EQ(m.hKnivesPerLine, 4);
  EXPECT_EQ(m.hLines, 2);
  f32 step = 1.0f / 4.0f, p = step;
  for (int k = 0; k < 3; ++k, p += step) EXPECT_EQ(m.verticalLines[k], p);
  // Single-precision accumulation, not k / (n + 1).
  CLayoutModel seven;
  Grid(seven, 8, 1);
  f32 s7 = 1.0f / 8.0f, acc = s7;
  for (int k = 0; k < 7; ++k, acc += s7) EXPECT_EQ(seven.verticalLines[k], acc);
  for (u32 i = 0; i < m.vKnifeCount; ++i) {
    EXPECT_EQ(m.vKnives[i].pointCount, 0u);
    EXPECT_EQ(m.vKnives[i].knobSize, 100u);
    EXPECT_EQ(m.vKnives[i].thickness, 3u);
  }

  // Unchanged counts without force keep everything.
  m.vKnives[2].pointCount = 5;
  m.knots[7].dx = 0.25f;
  AddExtra(m, 0, 19);
  ASSERT_EQ(m.spl_SplitEvenParts(4, 3, 0, 1), 1);
  EXPECT_EQ(m.vKnives[2].pointCount, 5u);
  EXPECT_EQ(m.knots[7].dx, 0.25f);
  EXPECT_EQ(m.xKnifeCount, 1u);

  // Changing only the rows keeps the vertical positions.
  m.verticalLines[0] = 0.1f;
  ASSERT_EQ(m.spl_SplitEvenParts(4, 5, 0, 0), 1);
  EXPECT_EQ(m.verticalLines[0], 0.1f);
  EXPECT_EQ(m.horizontalLineCount, 4);
  EXPECT_EQ(m.vKnives[2].pointCount, 0u);
  EXPECT_EQ(m.knots[7].dx, 0.0f);
  EXPECT_EQ(m.xKnifeCount, 1u);  // kept without clearExtra
  ASSERT_EQ(m.spl_SplitEvenParts(4, 4, 0, 1), 1);
  EXPECT_EQ(m.xKnifeCount, 0u);

  // More than 101 columns are cut to 100 lines.
  ASSERT_EQ(m.spl_SplitEvenParts(150, 0, 0, 1), 1);
  EXPECT_EQ(m.verticalLineCount, 100);
  EXPECT_EQ(m.horizontalLineCount, 0);
  EXPECT_EQ(m.knotCount, 102u * 2u);
}

TEST(LayoutModel, RandomKnotOffsets) {
  CLayoutModel m;
  Grid(m, 4, 4);
  m.knotRandomAmount = 0.001f;
  m.knots[3].dx = 0.7f;
  m.spl_AutoFillKnots(1);
  for (u32 i = 0; i < m.knotCount; ++i) {
    EXPECT_EQ(m.knots[i].dx, 0.0f);
    EXPECT_EQ(m.knots[i].dy, 0.0f);
  }

  std::srand(11);
  m.knotRandomAmount = 0.5f;
  m.spl_AutoFillKnots(1);
  int nonZero = 0;
  for (u32 i = 0; i < m.knotCount; ++i) {
    EXPECT_LE(std::fabs(m.knots[i].dx), 0.5f);
    EXPECT_LE(std::fabs(m.knots[i].dy), 0.5f);
    nonZero += m.knots[i].dx != 0.0f;
  }
  EXPECT_GT(nonZero, 20);

  // With a selected knife only the knots it touches are dealt again.
  for (u32 i = 0; i < m.knotCount; ++i) m.knots[i].dx = m.knots[i].dy = 9.0f;
  const u32 n = m.knotColumns;
  m.vKnives[1 + 2 * 3].selected = 1;  // vertical line 1, band 2: knots (2,2)-(2,3)
  m.spl_AutoFillKnots(0);
  for (u32 id = 0; id < m.knotCount; ++id) {
    bool touched = id == 2 + 2 * n || id == 2 + 3 * n;
    EXPECT_EQ(m.knots[id].dx != 9.0f, touched) << id;
  }
  m.vKnives[1 + 2 * 3].selected = 0;
  for (u32 i = 0; i < m.knotCount; ++i) m.knots[i].dx = 9.0f;
  m.hKnives[0 + 2 * 4].selected = 1;  // horizontal line 2, column 0: knots (0,3)-(1,3)
  AddExtra(m, 0, 13);
  m.xKnives[0].selected = 1;
  m.spl_AutoFillKnots(0);
  for (u32 id = 0; id < m.knotCount; ++id) {
    bool touched = id == 0 + 3 * n || id == 1 + 3 * n || id == 0 || id == 13;
    EXPECT_EQ(m.knots[id].dx != 9.0f, touched) << id;
  }
}

TEST(LayoutModel, RandomKnotOffsetsOfSelectedKnivesMatchAReference) {
  // Oracle from the knives' side: a knot is dealt again when a selected
  // knife of any list ends on it (every end of a grid knife lies on an inner
  // column or row), in knot-id order, two draws a knot; with nothing
  // selected every knot is.
  std::mt19937 rng(31);
  for (int round = 0; round < 60; ++round) {
    CLayoutModel m;
    Grid(m, static_cast<u16>(1 + rng() % 7), static_cast<u16>(1 + rng() % 7));
    const u32 extras = rng() % 12;
    for (u32 i = 0; i < extras; ++i) AddExtra(m, rng() % m.knotCount, rng() % m.knotCount);
    for (u32 i = 0; i < m.vKnifeCount; ++i) m.vKnives[i].selected = rng() % 5 == 0;
    for (u32 i = 0; i < m.hKnifeCount; ++i) m.hKnives[i].selected = rng() % 5 == 0;
    for (u32 i = 0; i < m.xKnifeCount; ++i) m.xKnives[i].selected = rng() % 3 == 0;

    const u32 n = m.knotColumns;
    std::vector<bool> touched(m.knotCount, false);
    bool any = false;
    for (u32 i = 0; i < m.vKnifeCount; ++i) {
      if (!m.vKnives[i].selected) continue;
      any = true;
      u32 line = i % m.vKnivesPerBand, band = i / m.vKnivesPerBand;
      touched[line + 1 + band * n] = touched[line + 1 + (band + 1) * n] = true;
    }
    for (u32 i = 0; i < m.hKnifeCount; ++i) {
      if (!m.hKnives[i].selected) continue;
      any = true;
      u32 column = i % m.hKnivesPerLine, line = i / m.hKnivesPerLine;
      touched[column + (line + 1) * n] = touched[column + 1 + (line + 1) * n] = true;
    }
    for (u32 i = 0; i < m.xKnifeCount; ++i) {
      if (!m.xKnives[i].selected) continue;
      any = true;
      touched[m.xKnives[i].knotA] = touched[m.xKnives[i].knotB] = true;
    }
    if (!any) touched.assign(m.knotCount, true);

    const f32 A = 0.3f;
    m.knotRandomAmount = A;
    for (u32 i = 0; i < m.knotCount; ++i) m.knots[i].dx = m.knots[i].dy = 9.0f;
    const unsigned seed = 100 + round;
    std::srand(seed);
    m.spl_AutoFillKnots(0);
    std::srand(seed);
    for (u32 id = 0; id < m.knotCount; ++id) {
      if (!touched[id]) {
        EXPECT_EQ(m.knots[id].dx, 9.0f) << round << " " << id;
        continue;
      }
      f64 a = A;
      f32 dx = static_cast<f32>(a * (2.0 * std::rand() / 2147483647.0) - a);
      f32 dy = static_cast<f32>(a * (2.0 * std::rand() / 2147483647.0) - a);
      EXPECT_EQ(m.knots[id].dx, dx) << round << " " << id;
      EXPECT_EQ(m.knots[id].dy, dy) << round << " " << id;
    }
  }
}

TEST(LayoutModel, IdealCountsAndDefaults) {
  CLayoutModel m;
  m.SetImageSize(400, 300);
  EXPECT_EQ(m.icGetIdealRowsForColumns(4), 3u);
  EXPECT_EQ(m.icGetIdealColumnsForRows(3), 4u);
  EXPECT_EQ(m.icGetIdealColumnsForRows(0), 1u);     // rows brought into 1..100
  EXPECT_EQ(m.icGetIdealColumnsForRows(500), 100u);
  m.SetImageSize(4000, 10);
  EXPECT_EQ(m.icGetIdealRowsForColumns(2), 1u);
  m.SetImageSize(0, 0);
  EXPECT_EQ(m.icGetIdealColumnsForRows(5), 1u);
  EXPECT_EQ(m.icGetIdealRowsForColumns(5), 1u);

  m.SetImageSize(1200, 600);
  m.thinKnives = 0;
  ASSERT_EQ(m.settings_LoadDefaults(), 1);
  EXPECT_EQ(m.horizontalLineCount, 1);  // two rows
  EXPECT_EQ(m.verticalLineCount, 3);    // four columns
  EXPECT_EQ(m.xKnifeCount, 0u);
  EXPECT_EQ(m.thinKnives, 0);  // left as it was
  for (u32 i = 0; i < m.vKnifeCount; ++i) {
    EXPECT_EQ(m.vKnives[i].pointCount, 5u);
    EXPECT_EQ(m.vKnives[i].pointH[2], -0.297f);
  }
  m.SetImageSize(300, 900);
  ASSERT_EQ(m.settings_LoadDefaults(), 1);
  EXPECT_EQ(m.verticalLineCount, 1);    // two columns
  EXPECT_EQ(m.horizontalLineCount, 5);  // six rows
  EXPECT_EQ(m.hKnives[0].pointU[1], 0.3515f);
}
