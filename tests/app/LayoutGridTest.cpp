#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "LayoutTestSupport.h"

using namespace laytest;

namespace {

typedef std::vector<f64> Sig;

const u32 kFresh = 7;  // the Cutter's thickness: a knife made from its shape

Sig KnifeSig(const Knife& k) {
  if (k.thickness == kFresh) return {-1};
  Sig s = {static_cast<f64>(k.flipH), static_cast<f64>(k.flipU), static_cast<f64>(k.hidden),
           static_cast<f64>(k.selected), static_cast<f64>(k.knobSize), static_cast<f64>(k.thickness), k.centre};
  for (u32 j = 0; j < k.pointCount; ++j) s.insert(s.end(), {k.pointU[j], k.pointH[j], k.pointS[j]});
  return s;
}

// The whole layout: positions, knot offsets, the knives of the three lists.
std::vector<Sig> Layout(const CLayoutModel& m) {
  std::vector<Sig> out = {Sig(m.verticalLines, m.verticalLines + m.verticalLineCount),
                          Sig(m.horizontalLines, m.horizontalLines + m.horizontalLineCount)};
  for (u32 i = 0; i < m.knotCount; ++i) out.push_back({m.knots[i].dx, m.knots[i].dy});
  for (u32 i = 0; i < m.vKnifeCount; ++i) out.push_back(KnifeSig(m.vKnives[i]));
  for (u32 i = 0; i < m.hKnifeCount; ++i) out.push_back(KnifeSig(m.hKnives[i]));
  for (u32 i = 0; i < m.xKnifeCount; ++i) {
    out.push_back(KnifeSig(m.xKnives[i]));
    out.push_back({static_cast<f64>(m.xKnives[i].knotA), static_cast<f64>(m.xKnives[i].knotB)});
  }
  return out;
}

// Where index x along the changed axis goes: -1 when it goes away.
i64 NewAlong(i64 x, i64 at, bool insert) {
  if (insert) return x < at ? x : x + 1;
  return x == at ? -1 : (x < at ? x : x - 1);
}

// The layout expected after a line of the direction was inserted at k (at
// position p) or line k deleted, built from the old one.
std::vector<Sig> Expected(const CLayoutModel& m, bool column, bool insert, u32 k, f32 p) {
  const i64 V = m.verticalLineCount, H = m.horizontalLineCount, d = insert ? 1 : -1;
  const i64 nV = V + (column ? d : 0), nH = H + (column ? 0 : d);
  Sig lines[2] = {Sig(m.verticalLines, m.verticalLines + V), Sig(m.horizontalLines, m.horizontalLines + H)};
  Sig& changed = lines[column ? 0 : 1];
  if (insert) changed.insert(changed.begin() + k, p);
  else changed.erase(changed.begin() + k);
  std::vector<Sig> out = {lines[0], lines[1]};
  std::vector<Sig> knots((nV + 2) * (nH + 2), Sig{0, 0}), vk(nV * (nH + 1), Sig{-1}), hk((nV + 1) * nH, Sig{-1});
  // Each old record to its new place (x along a row of nx, y down).
  auto move = [&](std::vector<Sig>& to, i64 nx, i64 x, i64 y, i64 at, const Sig& s) {
    const i64 nx2 = column ? NewAlong(x, at, insert) : x, ny2 = column ? y : NewAlong(y, at, insert);
    if (nx2 >= 0 && ny2 >= 0) to[nx2 + ny2 * nx] = s;
  };
  for (u32 i = 0; i < m.knotCount; ++i)
    move(knots, nV + 2, i % (V + 2), i / (V + 2), k + 1, Sig{m.knots[i].dx, m.knots[i].dy});
  for (u32 i = 0; i < m.vKnifeCount; ++i) move(vk, nV, i % V, i / V, k, KnifeSig(m.vKnives[i]));
  for (u32 i = 0; i < m.hKnifeCount; ++i) move(hk, nV + 1, i % (V + 1), i / (V + 1), k, KnifeSig(m.hKnives[i]));
  for (auto* part : {&knots, &vk, &hk}) out.insert(out.end(), part->begin(), part->end());
  // Extra knives keep their order; those that lose a knot or now join
  // neighbours go.
  for (u32 i = 0; i < m.xKnifeCount; ++i) {
    i64 ends[2] = {m.xKnives[i].knotA, m.xKnives[i].knotB};
    for (i64& e : ends) {
      const i64 x = e % (V + 2), y = e / (V + 2);
      const i64 x2 = column ? NewAlong(x, k + 1, insert) : x, y2 = column ? y : NewAlong(y, k + 1, insert);
      e = x2 < 0 || y2 < 0 ? -1 : x2 + y2 * (nV + 2);
    }
    const i64 gap = std::abs(ends[0] - ends[1]);
    if (ends[0] < 0 || ends[1] < 0 || gap == 1 || gap == nV + 2) continue;
    out.push_back(KnifeSig(m.xKnives[i]));
    out.push_back({static_cast<f64>(ends[0]), static_cast<f64>(ends[1])});
  }
  return out;
}

// Random grid, offsets and knives, each knife told apart by its thickness.
void RandomLayout(std::mt19937& rng, Editor& e) {
  CLayoutModel& m = e.model;
  e.cutter.thickness = kFresh;
  ASSERT_EQ(m.spl_SplitEvenParts(static_cast<u16>(1 + rng() % 6), static_cast<u16>(1 + rng() % 6), 1, 1), 1);
  std::uniform_real_distribution<f32> unit(0.0f, 1.0f);
  for (u32 i = 0; i < m.knotCount; ++i) m.knots[i].dx = unit(rng) - 0.5f, m.knots[i].dy = unit(rng) - 0.5f;
  for (u32 i = 0, tries = rng() % 12; i < tries; ++i) e.knives.i_op_AddAuxKnifeToKnots(rng() % m.knotCount, rng() % m.knotCount);
  for (u32 i = 0; i < m.TotalKnifeCount(); ++i) {
    Knife& k = *m.NthKnife(i);
    k.thickness = 10 + i;
    k.flipH = rng() & 1, k.selected = rng() & 1, k.hidden = rng() % 4 == 0;
    k.pointCount = rng() % 4;
    for (u32 j = 0; j < k.pointCount; ++j) k.pointU[j] = unit(rng), k.pointH[j] = unit(rng), k.pointS[j] = unit(rng);
    CLayoutModel::UpdateCentre(k);
  }
}

}  // namespace

TEST(LayoutGrid, InsertAndDeleteKeepWhatSurvives) {
  std::mt19937 rng(5);
  for (int round = 0; round < 60; ++round) {
    Editor e;
    RandomLayout(rng, e);
    CLayoutModel& m = e.model;
    const bool column = rng() & 1;
    const u32 n = column ? m.verticalLineCount : m.horizontalLineCount;
    const bool insert = n == 0 || (rng() & 1);
    const f32* P = column ? m.verticalLines : m.horizontalLines;
    f32 p = 0.0f;
    u32 k = rng() % (n + (insert ? 1 : 0));
    if (insert) {
      p = std::uniform_real_distribution<f32>(k == 0 ? 0.0f : P[k - 1], k == n ? 1.0f : P[k])(rng);
      if (p == 0.0f || (k > 0 && p == P[k - 1])) continue;
    }
    const std::vector<Sig> want = Expected(m, column, insert, k, p);
    ASSERT_EQ(insert ? e.grid.op_InsertRC(column, p) : e.grid.op_DeleteRC(column, static_cast<u16>(k)), 1);
    EXPECT_EQ(Layout(m), want) << "round " << round;
    EXPECT_EQ(column ? e.cutter.columns : e.cutter.rows, (column ? m.verticalLineCount : m.horizontalLineCount) + 1u);
    for (u32 i = 0; i < m.vKnifeCount; ++i)
      EXPECT_TRUE(m.vKnives[i].thickness != kFresh || m.vKnives[i].pointCount == 5u) << i;
  }
}

TEST(LayoutGrid, RefusedInsertsDeletesAndFailedMemory) {
  Editor e(3, 3);  // lines at 1/3, 2/3
  CLayoutModel& m = e.model;
  const f32 third = m.verticalLines[0];
  // A band of no width or outside the image is refused; so are NaN and a
  // 100th line.
  for (f64 p : {0.0, 1.0, -0.1, 1e-50, 0.99999999999, static_cast<f64>(third), static_cast<f64>(NAN)})
    EXPECT_EQ(e.grid.op_InsertRC(1, p), 0) << p;
  EXPECT_EQ(e.grid.op_DeleteRC(0, 2), 0);
  m.SetCutter(nullptr);
  EXPECT_EQ(e.grid.op_DeleteRC(0, 0), 0);
  m.SetCutter(&e.cutter);
  ASSERT_EQ(m.spl_SplitEvenParts(99, 2, 1, 1), 1);
  EXPECT_EQ(e.grid.op_InsertRC(1, 0.0001), 1);  // the 99th line
  EXPECT_EQ(e.grid.op_TestAllowRCInsertion(1, 0.5), 0);
  EXPECT_EQ(e.grid.op_TestAllowRCInsertion(0, 0.25), 1);

  // Memory that runs out while keeping the old layout aside, while laying
  // the new grid or while adding an extra knife leaves the layout as it was
  // and alerts.
  for (int step = 0; step < 3; ++step) {
    Editor f(4, 3);
    CLayoutModel& g = f.model;
    ASSERT_EQ(f.knives.i_op_AddAuxKnifeToKnots(0, 7), 1);
    if (step == 2) g.xKnifeCount = 101;  // the block is full
    const Bytes before = f.State();
    g.SetBlockLimit(step == 0 ? 16 : step == 1 ? static_cast<u64>(g.vKnifeCount) * sizeof(Knife) : g.xKnivesMem.GetSize());
    EXPECT_EQ(step < 2 ? f.grid.op_InsertRC(1, 0.1) : f.knives.i_op_AddAuxKnifeToKnots(0, 13), 0);
    EXPECT_EQ(f.State(), before) << step;
    EXPECT_EQ(f.view.alerts, std::vector<std::string>({"Error! Memory allocation problem..."})) << step;
  }
}

TEST(LayoutGrid, LinesAndTheCuttersCounts) {
  Editor e(5, 2);
  CLayoutModel& m = e.model;
  f32* P = m.verticalLines;
  const f32 even[4] = {P[0], P[1], P[2], P[3]};
  P[3] = 0.9f;
  // Centring between the neighbours or the border; an index out of range
  // changes nothing; spacing evenly.
  EXPECT_EQ(e.grid.op_CenterSplitingHandle(0, 3, 1) + e.grid.op_CenterSplitingHandle(0, 4, 1), 1);
  EXPECT_EQ(P[3], (even[2] + 1) / 2);
  e.grid.op_ArrangeSplitingHandles(0, 1);
  EXPECT_EQ(std::vector<f32>(P, P + 4), std::vector<f32>(even, even + 4));

  // The Cutter's counts: an unchanged grid keeps its knives and extra
  // knives but takes the shape; new counts lay a new grid. Only a change
  // leaves an undo point.
  ASSERT_EQ(e.knives.i_op_AddAuxKnifeToKnots(0, 8), 1);
  m.vKnives[0].knobSize = 40;
  ASSERT_EQ(e.grid.OnCutterUpdateRowsCols(0xFFFFFFFF, 5), 1);
  EXPECT_EQ(Values({m.xKnifeCount, m.vKnives[0].knobSize, m.vKnives[0].pointCount, e.undo.StoredKind()}),
            Values({1, 40, 5, CLayoutUndo::kLines}));
  ASSERT_EQ(e.grid.OnCutterUpdateRowsCols(3, 0xFFFFFFFF), 1);
  EXPECT_EQ(Values({m.horizontalLineCount, m.xKnifeCount, m.hKnives[0].pointCount, e.undo.StoredKind(),
                    e.undo.StoredSubKind()}),
            Values({2, 0, 5, CLayoutUndo::kGlobal, CLayoutUndo::kSubGrid}));
  EXPECT_EQ(e.cutter.knob, Values({100, 0}));
}
