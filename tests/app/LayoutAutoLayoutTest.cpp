#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "CTessarette.h"
#include "LayoutTestSupport.h"

using namespace laytest;

namespace {

struct Shapes : Editor {
  Shapes(u32 width, u32 height) {
    cutter.nodeCount = 0;  // straight knives: knobs would not change the pieces
    model.SetImageSize(width, height);
  }
  // Cuts the image through the hand-over with plain thick knives (the
  // knives make the first piece): the piece count, and whether every pixel
  // is shared out whole.
  std::pair<u32, bool> Cut() {
    CTessarette e;
    model.thinKnives = model.antiAliasing = 0;
    EXPECT_EQ(model.engine_PutLayoutToPuzzleEngine(e), 1);
    const i32 w = static_cast<i32>(model.imageWidth), h = static_cast<i32>(model.imageHeight);
    std::vector<u8> plane(static_cast<size_t>(w) * h, 90);
    u8* planes[1] = {plane.data()};
    EXPECT_EQ(e.SplitCells(w, h, nullptr, 0, planes, static_cast<u32>(w), 1, 0, 100, 0), 1);
    std::vector<int> sum(plane.size(), 0);
    for (u32 i = 0; i < e.GetPieceCount(); ++i) {
      const CTessarette::SPLITEDCELL* c = e.GetPiece(i);
      const i32 rw = c->rect.right - c->rect.left;
      for (i32 y = c->rect.top; y < c->rect.bottom; ++y)
        for (i32 x = c->rect.left; x < c->rect.right; ++x)
          sum[static_cast<size_t>(y) * w + x] += c->maskBlock->GetPtr()[(y - c->rect.top) * rw + x - c->rect.left];
    }
    bool whole = true;
    for (int v : sum) whole = whole && v == 255;
    return {e.GetPieceCount(), whole};
  }
  Values Lines(bool vertical) {
    const f32* P = vertical ? model.verticalLines : model.horizontalLines;
    Values v;
    for (u32 i = 0; i < (vertical ? model.verticalLineCount : model.horizontalLineCount); ++i)
      v.push_back(static_cast<u32>(P[i] * 1000 + 0.5f));
    return v;
  }
  Values Shown() {
    Values v;
    for (u32 i = 0; i < model.TotalKnifeCount(); ++i)
      if (!model.NthKnife(i)->hidden) v.push_back(model.NthKnifeId(i));
    return v;
  }
};

}  // namespace

TEST(LayoutAutoLayout, TrianglesAndHexagonsCutIntoTheirShapes) {
  // Two rows of three triangles: a 4 x 2 grid, ten slanted and inner
  // extra knives, every grid knife hidden, the extra knives selected and
  // shaped; five pieces a row with the half triangles at the ends.
  Shapes t(120, 80);
  ASSERT_EQ(t.autoLayout.AutoLayout_Triangles(2, 3, 0), 1);
  EXPECT_EQ(Values({t.model.verticalLineCount, t.model.horizontalLineCount, t.model.xKnifeCount,
                    t.model.vKnives[0].hidden, t.model.xKnives[9].selected, t.model.xKnives[9].thickness,
                    t.cutter.columns, t.cutter.rows}),
            Values({3, 1, 10, 1, 1, 3, 4, 2}));
  EXPECT_EQ(t.Cut(), std::make_pair(11u, true));
  t.cutter.nodeCount = 5;
  t.cutter.thickness = 6;
  ASSERT_EQ(t.autoLayout.AutoLayout_Triangles(2, 3, 0), 1);  // now with knobs
  EXPECT_EQ(Values({t.model.xKnives[0].pointCount, t.model.xKnives[0].thickness, t.model.vKnives[0].pointCount}),
            Values({5, 6, 0}));

  // Regular triangles on a wide image: margin columns, six triangles and
  // the two margins.
  Shapes r(200, 60);
  ASSERT_EQ(r.autoLayout.AutoLayout_Triangles(2, 3, 1), 1);
  EXPECT_EQ(r.Lines(true), Values({327, 413, 500, 587, 673}));
  EXPECT_EQ(r.Cut(), std::make_pair(9u, true));

  // One hexagon: lines at a quarter and three quarters, four corners.
  Shapes h(120, 80);
  ASSERT_EQ(h.autoLayout.AutoLayout_Hexagons(1, 1, 0), 1);
  EXPECT_EQ(h.Lines(true), Values({250, 750}));
  EXPECT_EQ(h.Shown(), Values({2000000, 2000001, 2000002, 2000003}));
  EXPECT_EQ(h.Cut(), std::make_pair(6u, true));
  // Two rows of two: the flat edges inside shown again.
  ASSERT_EQ(h.autoLayout.AutoLayout_Hexagons(2, 2, 0), 1);
  EXPECT_EQ(h.Lines(true), Values({143, 429, 571, 857}));
  EXPECT_EQ(h.Shown(), Values({1000003, 1000006, 2000000, 2000001, 2000002, 2000003, 2000004, 2000005, 2000006,
                               2000007, 2000008}));
  EXPECT_EQ(h.Cut(), std::make_pair(9u, true));
  ASSERT_EQ(h.autoLayout.AutoLayout_Hexagons(1, 2, 1), 1);  // regular on a wide image
  EXPECT_EQ(h.Lines(true).front(), 1000 - h.Lines(true).back());
  EXPECT_EQ(h.Cut().second, true);

  // The counts are limited first; the largest layouts join no two knots
  // twice (the list is not searched as they are laid).
  Shapes big(100, 100);
  const auto pairs = [&big] {
    std::set<std::pair<u32, u32>> joined;
    for (u32 i = 0; i < big.model.xKnifeCount; ++i)
      joined.insert(std::minmax(big.model.xKnives[i].knotA, big.model.xKnives[i].knotB));
    return joined.size();
  };
  ASSERT_EQ(big.autoLayout.AutoLayout_Triangles(98, 500, 0), 1);
  ASSERT_EQ(big.model.verticalLineCount, 97u);
  EXPECT_EQ(pairs(), big.model.xKnifeCount);
  ASSERT_EQ(big.autoLayout.AutoLayout_Hexagons(500, 48, 0), 1);
  EXPECT_EQ(big.model.horizontalLineCount, 97u);
  EXPECT_EQ(pairs(), big.model.xKnifeCount);
}

// Memory that runs out for a triangle or hexagon layout, or for a settings
// block with extra knives, fails with error 17 and leaves the layout as it
// was: once for the extra knives alone, once for the grid too. The auto
// layouts alert; a block read lays no defaults.
TEST(LayoutAutoLayout, MemoryThatRunsOutLeavesTheLayoutAsItWas) {
  Shapes saved(300, 200);
  ASSERT_EQ(saved.autoLayout.AutoLayout_Hexagons(3, 4, 1), 1);
  const Bytes block = saved.State();
  const std::function<u8(Shapes&)> kLays[] = {
      [](Shapes& s) { return s.autoLayout.AutoLayout_Triangles(4, 7, 0); },
      [](Shapes& s) { return s.autoLayout.AutoLayout_Hexagons(3, 4, 1); },
      [&](Shapes& s) {
        CSettingsBlock codec;
        const u8* records = nullptr;
        u32 count = 0;
        u8 defaults = 0;
        const u8 read = codec.Read(s.model, block.data(), static_cast<u32>(block.size()), &records, count, &defaults);
        return static_cast<u8>(read + defaults + (codec.GetError() == klErrNoMemory ? 0 : 10));
      }};
  for (u32 k = 0; k < 3; ++k)
    for (u64 limit : {100 * sizeof(CLayoutModel::AUXKNIFESTRUCT), sizeof(Knife)}) {
      Shapes s(300, 200);
      ASSERT_EQ(s.model.spl_SplitEvenParts(3, 2, 1, 1), 1);
      const Bytes before = s.State();
      s.model.SetBlockLimit(limit);
      EXPECT_EQ(kLays[k](s), 0) << k << " " << limit;
      EXPECT_EQ(s.model.GetError(), klErrNoMemory) << k;
      EXPECT_EQ(s.State(), before) << k << " " << limit;
      EXPECT_EQ(s.view.alerts.empty(), k == 2) << k;
    }
}
