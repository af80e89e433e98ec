#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "CTessarette.h"
#include "EngineTestUtil.h"
#include "support/TestSupport.h"

namespace {

// Records what the engine reports; cancels on request.
class RecordingProgress : public CKLF_Progress {
 public:
  i32 Progress(u8 percent, void*) override {
    values.push_back(percent);
    return 0;
  }
  u8 IsCanceled() override { return cancel; }
  std::vector<int> values;
  u8 cancel = 0;
};

}  // namespace

TEST(Tessarette, InitLimitsAndZeroes) {
  CTessarette e;
  ASSERT_EQ(e.Init(150, 3, 0), 1);  // at most 100 inner splitters
  EXPECT_EQ(std::vector<u32>({e.m_vCount, e.m_hCount, e.m_knotCount, e.m_vKnifeCount, e.m_hKnifeCount}),
            std::vector<u32>({100, 2, 102 * 4, 100 * 3, 101 * 2}));
  e.m_vPos[0] = 0.5f;
  e.GetVerticalKnife(99, 2)->count = 7;
  e.GetKnot(101, 3)->dx = 0.25f;
  ASSERT_EQ(e.Init(150, 3, 0), 1);
  EXPECT_EQ(e.m_vPos[0], 0.0f);
  EXPECT_EQ(e.GetVerticalKnife(99, 2)->count, 0);
  EXPECT_EQ(e.GetKnot(101, 3)->dx, 0.0f);
  EXPECT_EQ(e.GetVerticalKnife(100, 0), nullptr);
  EXPECT_EQ(e.GetHorizontalKnife(0, 2), nullptr);
  EXPECT_EQ(e.Init(5, 5, 20000), 1);
  EXPECT_EQ(e.Init(5, 5, 20001), 0);
}

// Knots sit on their splitter crossings; an offset of -1 or +1 moves one
// onto the neighbouring splitter or edge.
TEST(Tessarette, KnotPositions) {
  CTessarette e;
  ASSERT_EQ(e.Init(3, 2, 0), 1);
  e.m_vPos[0] = 0.25f;
  e.m_vPos[1] = 0.75f;
  e.m_hPos[0] = 0.5f;
  struct Case {
    u32 column, row;
    f32 dx, dy;
    f64 x, y;
  };
  for (const Case& k : {Case{0, 0, 0, 0, 0, 0}, Case{3, 2, 0, 0, 400, 200}, Case{1, 1, 0, 0, 100, 100},
                        Case{1, 1, -1, 0, 0, 100}, Case{1, 1, 1, -0.5f, 300, 50}, Case{2, 1, 0.5f, 0, 350, 100},
                        Case{2, 1, -0.5f, 1, 200, 200}}) {
    *e.GetKnot(k.column, k.row) = {k.dx, k.dy};
    const kltFPOS p = e.i_ConvertKnot(k.column, k.row, 400, 200);
    EXPECT_EQ(std::vector<f64>({p.x, p.y}), std::vector<f64>({k.x, k.y})) << k.column << "," << k.row;
  }
  EXPECT_EQ(e.i_ConvertKnot(1u * 4u + 2u, 400, 200).x, 200.0);  // index: row x columns + column
}

// Progress is reported on change only (10.5 -> 10 is none); alert texts
// are cut to the alert's 250 characters.
TEST(Tessarette, ProgressReportedOnlyOnChangeAndAlertsCut) {
  CTessarette e;
  RecordingProgress p;
  e.SetProgress(&p);
  for (f64 percent : {0.0, 5.0, 50.0, 99.0}) e.SetLocalProgress(percent, 10, 20);
  EXPECT_EQ(p.values, (std::vector<int>{10, 15, 19}));
  std::string seen;
  e.SetAlertProc([](const char* text, const char* title, void* user) {
    *static_cast<std::string*>(user) = std::string(title) + "|" + text;
  }, &seen);
  e.PlatformMessageBox(std::string(400, 'x').c_str(), "Error!");
  EXPECT_EQ(seen, "Error!|" + std::string(250, 'x'));
}

// DrawSplitting clears the plane and draws every knife: a thin knife one
// pixel wide, a thick plain one as wide as its thickness; a knife drawn later
// never erases one drawn before where they cross; hidden knives and knives
// between coinciding knots draw nothing.
TEST(Tessarette, DrawSplitting) {
  for (u32 thickness : {1u, 4u, 6u}) {
    for (u8 thin : {1, 0}) {
      CTessarette e;
      engtest::SetGrid(e, 2, 1, false, thickness);
      engtest::SetMode(e, {thin, 0});
      std::vector<u8> plane(64 * 16, 0x5A);
      ASSERT_EQ(e.DrawSplitting(64, 16, plane.data(), 64, 0, 100), 1);
      for (i32 y = 2; y < 14; y++)
        ASSERT_EQ(static_cast<u32>(std::count(&plane[y * 64], &plane[y * 64 + 64], 255)), thin ? 1 : thickness)
            << "thickness " << thickness << " row " << y;
      EXPECT_EQ(std::count(plane.begin(), plane.end(), 0x5A), 0);
    }
  }
  CTessarette e;
  engtest::SetGrid(e, 2, 2, false, 3);
  e.m_thinKnife = 0;
  std::vector<u8> plane(64 * 64, 0);
  ASSERT_EQ(e.DrawSplitting(64, 64, plane.data(), 64, 0, 100), 1);
  for (i32 i = 0; i < 64; i++) {
    ASSERT_EQ(plane[i * 64 + 32], 255) << "row " << i;
    ASSERT_EQ(plane[32 * 64 + i], 255) << "column " << i;
  }
  e.GetVerticalKnife(0, 0)->count = -1;
  ASSERT_EQ(e.DrawSplitting(64, 64, plane.data(), 64, 0, 100), 1);
  EXPECT_EQ(plane[10 * 64 + 32], 0);
  CTessarette::KNIFESTRUCT_RENDERER k;
  engtest::SetKnob(&k);
  EXPECT_EQ(e.i_DrawKnife(&k, kltFPOS{10.0, 10.0}, kltFPOS{10.0, 10.0001}), 1);
  EXPECT_EQ(plane[10 * 64 + 10], 0);

  // A knife that cannot be drawn fails with the error of the sampling or
  // of the rasteriser.
  engtest::SetMode(e, {1, 0});
  EXPECT_FAILS(e, e.i_DrawKnife(&k, kltFPOS{0.0, 0.0}, kltFPOS{2e9, 0.0}), klErrNoMemory);
  k.count = 0;
  e.ResetError();
  EXPECT_EQ(e.i_DrawKnife(&k, kltFPOS{0.0, 0.0}, kltFPOS{2e9, 0.0}), 0);
  EXPECT_NE(e.GetError(), 0);

  EXPECT_EQ(e.DrawSplitting(10, 5, nullptr, 12, 0, 100), 0);
  EXPECT_EQ(e.DrawSplitting(0, 5, plane.data(), 12, 0, 100), 0);
  EXPECT_EQ(e.DrawSplitting(13, 5, plane.data(), 12, 0, 100), 0);  // stride below the row
  RecordingProgress p;
  p.cancel = 1;
  e.SetProgress(&p);
  EXPECT_EQ(e.DrawSplitting(10, 5, plane.data(), 12, 0, 100), 0);
}

namespace {

// The knife mask drawn in bands of rows on several threads is the mask of
// one drawing, byte for byte, in the four knife kinds: knots and knobs
// moved at random so knives cross band borders at every angle, thick knives
// of several widths, a height that leaves a short last band.
TEST(Tessarette, KnifeMaskInBandsIsTheOneThreadMask) {
  const i32 w = 203, h = 151;
  for (int trial = 0; trial < 3; trial++) {
    for (const engtest::Mode& m : engtest::kModes) {
      CTessarette e;
      std::mt19937 rng(trial);
      std::uniform_real_distribution<f32> u(-0.6f, 0.6f);
      engtest::SetGrid(e, 5 + trial, 4 + trial, trial < 2, 1 + trial * 3);
      for (u32 k = 0; trial > 0 && k < e.m_knotCount; k++) e.m_knots[k] = {u(rng), u(rng)};
      for (u32 k = 0; k < e.m_vKnifeCount; k++) e.m_vKnives[k].offset[2] *= 1.0f + u(rng);
      engtest::SetMode(e, m);
      e.SetThreads(1);
      std::vector<u8> one(static_cast<size_t>(w + 5) * h, 0x5A);
      ASSERT_EQ(e.DrawSplitting(w, h, one.data(), w + 5, 0, 100), 1);
      ASSERT_GT(one.size() - std::count(one.begin(), one.end(), 0), static_cast<size_t>(w));  // knives drawn
      for (u32 threads : {2u, 3u, 7u}) {
        e.SetThreads(threads);
        std::vector<u8> bands(one.size(), 0xA5);
        ASSERT_EQ(e.DrawSplitting(w, h, bands.data(), w + 5, 0, 100), 1);
        ASSERT_TRUE(bands == one) << "trial " << trial << " thin " << int(m.thin) << " aa " << int(m.aa)
                                  << " threads " << threads;
      }
    }
  }
}

}  // namespace
