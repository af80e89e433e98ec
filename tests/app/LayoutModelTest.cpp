#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "CLayoutModel.h"
#include "LayoutTestSupport.h"

namespace {

typedef CLayoutModel::KNIFESTRUCT Knife;
using laytest::FakeCutter;
using laytest::Values;

void Grid(CLayoutModel& m, u32 columns, u32 rows) {
  ASSERT_EQ(m.spl_SplitEvenParts(static_cast<u16>(columns), static_cast<u16>(rows), 1, 1), 1);
}

void AddExtra(CLayoutModel& m, u32 a, u32 b) {
  ASSERT_EQ(m.spl_InitAuxKnivesMem(m.xKnifeCount + 1), 1);
  CLayoutModel::AUXKNIFESTRUCT& x = m.xKnives[m.xKnifeCount++];
  x.knobSize = 100;
  x.thickness = 3;
  x.knotA = a;
  x.knotB = b;
}

}  // namespace

TEST(LayoutModel, KnotIdsAfterInsertOrDeleteKeepTheirPlace) {
  // Oracle: a remapped knot id converts to the same point in the grid with
  // the line inserted (between its neighbours) or deleted.
  std::mt19937 rng(7);
  for (int round = 0; round < 30; ++round) {
    u32 V = rng() % 6, H = rng() % 6;
    bool column = rng() & 1, insert = (rng() & 1) || (column ? V == 0 : H == 0);
    CLayoutModel a, b;
    Grid(a, V + 1, H + 1);
    u32 count = column ? V : H, L = insert ? rng() % (count + 1) : rng() % count;
    f32* lines = column ? a.verticalLines : a.horizontalLines;
    std::vector<f32> nw(lines, lines + count);
    if (insert)
      nw.insert(nw.begin() + L, ((L == 0 ? 0.0f : lines[L - 1]) + (L == count ? 1.0f : lines[L])) / 2);
    else
      nw.erase(nw.begin() + L);
    u32 n = static_cast<u32>(nw.size() + 1);
    Grid(b, column ? n : V + 1, column ? H + 1 : n);
    std::copy(nw.begin(), nw.end(), column ? b.verticalLines : b.horizontalLines);
    for (u32 id = 0; id <= a.knotCount; ++id) {
      i32 to = a.i_CovertKnotID(id, insert, column, static_cast<u16>(L));
      if (id == a.knotCount || (!insert && (column ? id % a.knotColumns : id / a.knotColumns) == L + 1)) {
        EXPECT_EQ(to, -1);
        continue;
      }
      kltFPOS pa = a.i_spl_ConvertKnot(id, 640.0, 480.0, kltFPOS{0, 0});
      kltFPOS pb = b.i_spl_ConvertKnot(static_cast<u32>(to), 640.0, 480.0, kltFPOS{0, 0});
      EXPECT_EQ(std::make_pair(pa.x, pa.y), std::make_pair(pb.x, pb.y)) << "round " << round << " id " << id;
    }
  }
}

TEST(LayoutModel, SelectedKnivesSizeTheCutter) {
  // The Cutter hears the knob size and thickness of the selected knives, or
  // of all when none is: the common value, or the mean (thickness 1..100,
  // knob size at most 100) flagged as mixed.
  CLayoutModel m;
  FakeCutter cutter;
  m.SetCutter(&cutter);
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(Values({cutter.knob[0], cutter.knob[1], cutter.thick[0]}), Values({100, 0, 1}));  // no knives
  Grid(m, 3, 3);  // 12 grid knives
  AddExtra(m, 0, 15);
  m.vKnives[0].thickness = 4;
  m.anchorIndex = 3;
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(Values({m.anyKnifeSelected, m.anchorIndex}), Values({0, CLayoutModel::kNoAnchor}));
  EXPECT_EQ(cutter.thick, Values({3, 1, 1}));  // mean of twelve 3s and a 4

  m.xKnives[0].selected = 1;
  m.xKnives[0].knobSize = 70;
  m.xKnives[0].thickness = 9;
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(Values({m.onlyExtraSelected, cutter.knob[0], cutter.knob[1], cutter.thick[0]}), Values({1, 70, 0, 9}));
  m.vKnives[1].selected = m.vKnives[1].hidden = 1;
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(Values({m.onlyExtraSelected, cutter.knob[0], cutter.knob[1]}), Values({0, 85, 1}));
  u8 extra, hidden, shown;
  m.GetConsideredKnifeStates(extra, hidden, shown);
  EXPECT_EQ(Values({extra, hidden, shown}), Values({1, 1, 1}));
  m.spl_DoSetKnifeTh(0, 0, 1);
  m.xKnives[0].thickness = 1;
  m.spl_DoSetKnobSize(240, 0);
  m.xKnives[0].knobSize = 250;
  m.spl_OnKnifeSelChanged();
  EXPECT_EQ(cutter.knob, Values({100, 1}));
  EXPECT_EQ(cutter.thick, Values({1, 1, 0}));
  EXPECT_EQ(m.vKnives[0].thickness, 4u);  // not selected
}

TEST(LayoutModel, KnotClicksAndExtraKnifeEnds) {
  CLayoutModel m;
  Grid(m, 4, 4);  // 5 x 5 knots
  // A neighbour in a row or column replaces the first knot, a click on a
  // selected knot drops it, a third knot pairs with the second when it may.
  const std::pair<u32, Values> clicks[] = {{6, {6}},      {6, {}},        {6, {6}},     {7, {7}},
                                           {12, {12}},    {18, {12, 18}}, {12, {18}},   {0, {18, 0}},
                                           {24, {0, 24}}, {23, {23}},     {11, {23, 11}}, {11, {23}}};
  for (const auto& c : clicks) {
    m.i_cmop_KnotClickToSelect(c.first);
    EXPECT_EQ(Values(m.selectedKnots, m.selectedKnots + m.selectedKnotCount), c.second) << c.first;
    EXPECT_EQ(m.CanAddExtraKnife(), c.second.size() == 2 ? 1 : 0) << c.first;
  }
  // Ids that differ by 1 across a row end count as neighbours; ids out of
  // range and pairs already joined (either way round) are refused.
  AddExtra(m, 12, 0);
  EXPECT_EQ(Values({m.i_cmop_IsPossibleKnotsForAuxKnife(4, 5), m.i_cmop_IsPossibleKnotsForAuxKnife(0, 25),
                    m.i_cmop_IsPossibleKnotsForAuxKnife(0, 12), m.i_cmop_IsPossibleKnotsForAuxKnife(12, 0),
                    m.i_cmop_IsPossibleKnotsForAuxKnife(0, 18)}),
            Values({0, 0, 0, 0, 1}));
}

TEST(LayoutModel, KnifeIdsAndExtraKnifeStore) {
  CLayoutModel m;
  Grid(m, 3, 2);  // 4 vertical, 3 horizontal knives
  AddExtra(m, 0, 7);
  AddExtra(m, 2, 9);
  const std::pair<u32, Knife*> ids[] = {{0, &m.vKnives[0]},       {3, &m.vKnives[3]},       {4, nullptr},
                                        {1000000, &m.hKnives[0]}, {1000002, &m.hKnives[2]}, {1000003, nullptr},
                                        {2000001, &m.xKnives[1]}, {2000002, nullptr},       {0xFFFFFFFF, nullptr}};
  for (const auto& c : ids) EXPECT_EQ(m.GetKnife(c.first), c.second) << c.first;
  // Growing keeps the records below the count and zeroes those past it.
  m.xKnives[1].selected = 1;
  m.xKnifeCount = 1;
  ASSERT_EQ(m.spl_InitAuxKnivesMem(2000), 1);
  EXPECT_EQ(Values({m.xKnives[0].knotB, m.xKnives[1].knotA, m.xKnives[1].selected, m.xKnifeCount}),
            Values({7, 0, 0, 1}));
}

TEST(LayoutModel, EvenGridLaysLinesKnotsAndKnives) {
  CLayoutModel m;
  Grid(m, 10, 3);
  EXPECT_EQ(Values({m.knotCount, m.vKnifeCount, m.hKnifeCount, m.vKnivesPerBand, m.vBands, m.hKnivesPerLine, m.hLines,
                    m.vKnives[26].knobSize, m.vKnives[26].thickness, m.vKnives[26].pointCount}),
            Values({44, 27, 20, 9, 3, 10, 2, 100, 3, 0}));
  f32 step = 1.0f / 10.0f, p = step;  // accumulated in single precision, not k / (n + 1)
  for (int k = 0; k < 9; ++k, p += step) EXPECT_EQ(m.verticalLines[k], p);

  // Unchanged counts without force keep everything; new rows keep the
  // vertical positions, and the extra knives without clearExtra; force
  // lays the grid again.
  m.vKnives[2].pointCount = 5;
  m.knots[7].dx = m.verticalLines[0] = 0.5f;
  AddExtra(m, 0, 19);
  ASSERT_EQ(m.spl_SplitEvenParts(10, 3, 0, 1), 1);
  EXPECT_EQ(Values({m.vKnives[2].pointCount, m.knots[7].dx == 0.5f, m.verticalLines[0] == 0.5f, m.xKnifeCount}),
            Values({5, 1, 1, 1}));
  ASSERT_EQ(m.spl_SplitEvenParts(10, 5, 0, 0), 1);
  EXPECT_EQ(Values({m.verticalLines[0] == 0.5f, m.horizontalLineCount, m.vKnives[2].pointCount, m.knots[7].dx == 0.0f,
                    m.xKnifeCount}),
            Values({1, 4, 0, 1, 1}));
  ASSERT_EQ(m.spl_SplitEvenParts(10, 5, 1, 1), 1);
  EXPECT_EQ(Values({m.verticalLines[0] == 0.1f, m.xKnifeCount}), Values({1, 0}));
  ASSERT_EQ(m.spl_SplitEvenParts(150, 0, 0, 1), 1);  // cut to 100 lines
  EXPECT_EQ(m.knotCount, 102u * 2u);
}

TEST(LayoutModel, RandomKnotOffsetsMatchAReference) {
  // A knot is dealt again when a selected knife of any list ends on it, in
  // knot-id order, two draws a knot; with nothing selected every knot is;
  // an amount up to 0.001 deals zeros.
  std::mt19937 rng(31);
  for (int round = 0; round < 30; ++round) {
    CLayoutModel m;
    Grid(m, 1 + rng() % 7, 1 + rng() % 7);
    const u32 extras = rng() % 12, n = m.knotColumns;
    for (u32 i = 0; i < extras; ++i) AddExtra(m, rng() % m.knotCount, rng() % m.knotCount);
    std::vector<bool> touched(m.knotCount, false);
    bool any = false;
    auto mark = [&](Knife& k, u32 a, u32 b, u32 oneIn) {
      k.selected = rng() % oneIn == 0;
      if (k.selected) touched[a] = touched[b] = any = true;
    };
    for (u32 i = 0, line, band; i < m.vKnifeCount; ++i) {
      line = i % m.vKnivesPerBand, band = i / m.vKnivesPerBand;
      mark(m.vKnives[i], line + 1 + band * n, line + 1 + (band + 1) * n, 5);
    }
    for (u32 i = 0, column, line; i < m.hKnifeCount; ++i) {
      column = i % m.hKnivesPerLine, line = i / m.hKnivesPerLine;
      mark(m.hKnives[i], column + (line + 1) * n, column + 1 + (line + 1) * n, 5);
    }
    for (u32 i = 0; i < m.xKnifeCount; ++i) mark(m.xKnives[i], m.xKnives[i].knotA, m.xKnives[i].knotB, 3);
    if (!any) touched.assign(m.knotCount, true);

    const f32 A = round % 5 == 0 ? 0.001f : 0.3f;
    const f64 a = A;
    m.knotRandomAmount = A;
    for (u32 i = 0; i < m.knotCount; ++i) m.knots[i].dx = m.knots[i].dy = 9.0f;
    std::srand(100 + round);
    m.spl_AutoFillKnots(0);
    std::srand(100 + round);
    for (u32 id = 0; id < m.knotCount; ++id) {
      f32 d[2] = {9.0f, 9.0f};
      for (f32& x : d)
        if (touched[id]) x = A > 0.001f ? static_cast<f32>(a * (2.0 * std::rand() / 2147483647.0) - a) : 0.0f;
      EXPECT_EQ(std::make_pair(m.knots[id].dx, m.knots[id].dy), std::make_pair(d[0], d[1])) << round << " " << id;
    }
  }
}

TEST(LayoutModel, IdealCountsAndDefaults) {
  CLayoutModel m;
  // Width, height; rows for 4 columns, columns for 0 and 500 rows (1..100).
  const u32 cases[][5] = {{400, 300, 3, 1, 100}, {4000, 10, 1, 100, 100}, {0, 0, 1, 1, 1}, {10, 4000, 100, 1, 1}};
  for (const auto& c : cases) {
    m.SetImageSize(c[0], c[1]);
    EXPECT_EQ(Values({m.icGetIdealRowsForColumns(4), m.icGetIdealColumnsForRows(0), m.icGetIdealColumnsForRows(500)}),
              Values(c + 2, c + 5));
  }
  // A wide image gets two rows, a tall one two columns, default knobs.
  m.SetImageSize(1200, 600);
  m.thinKnives = 0;
  AddExtra(m, 0, 0);
  ASSERT_EQ(m.settings_LoadDefaults(), 1);
  EXPECT_EQ(Values({m.horizontalLineCount, m.verticalLineCount, m.xKnifeCount, m.thinKnives}), Values({1, 3, 0, 0}));
  for (u32 i = 0; i < m.vKnifeCount; ++i) EXPECT_EQ(m.vKnives[i].pointH[2], -0.297f);
  m.SetImageSize(300, 900);
  ASSERT_EQ(m.settings_LoadDefaults(), 1);
  EXPECT_EQ(Values({m.horizontalLineCount, m.verticalLineCount, m.hKnives[0].pointCount}), Values({5, 1, 5}));
  EXPECT_EQ(m.hKnives[0].pointU[1], 0.3515f);
}
