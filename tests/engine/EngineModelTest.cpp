#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "CTessarette.h"

namespace {

// Records what the engine reports; cancels on request.
class RecordingProgress : public CKLF_Progress {
 public:
  i32 Progress(u8 percent, void*) override {
    values.push_back(percent);
    return 0;
  }
  u8 IsCanceled() override { return ++asked > cancelAfter ? 1 : 0; }
  std::vector<int> values;
  int asked = 0;
  int cancelAfter = 1 << 30;
};

}  // namespace

TEST(Tessarette, InitLimits) {
  CTessarette e;
  ASSERT_EQ(e.Init(1, 1, 0), 1);
  EXPECT_EQ(e.m_vCount, 0);
  EXPECT_EQ(e.m_hCount, 0);
  EXPECT_EQ(e.m_knotColumns, 2);
  EXPECT_EQ(e.m_knotRows, 2);
  EXPECT_EQ(e.m_knotCount, 4u);
  EXPECT_EQ(e.m_vKnifeCount + e.m_hKnifeCount + e.m_xKnifeCount, 0u);

  ASSERT_EQ(e.Init(150, 3, 0), 1);
  EXPECT_EQ(e.m_vCount, 100);
  EXPECT_EQ(e.m_hCount, 2);
  EXPECT_EQ(e.m_vKnifeCount, 100u * 3u);
  EXPECT_EQ(e.m_hKnifeCount, 101u * 2u);
  EXPECT_EQ(e.m_knotCount, 102u * 4u);

  ASSERT_EQ(e.Init(0, 0, 20000), 1);
  EXPECT_EQ(e.m_vCount, 0);
  EXPECT_EQ(e.m_xKnifeCount, 20000u);

  // Knives and positions written before are zeroed again.
  ASSERT_EQ(e.Init(3, 3, 1), 1);
  e.m_vPos[0] = 0.5f;
  e.GetVerticalKnife(1, 2)->count = 7;
  e.GetKnot(3, 3)->dx = 0.25f;
  ASSERT_EQ(e.Init(3, 3, 1), 1);
  EXPECT_EQ(e.m_vPos[0], 0.0f);
  EXPECT_EQ(e.GetVerticalKnife(1, 2)->count, 0);
  EXPECT_EQ(e.GetKnot(3, 3)->dx, 0.0f);
  EXPECT_EQ(e.GetVerticalKnife(2, 0), nullptr);
  EXPECT_EQ(e.GetHorizontalKnife(0, 2), nullptr);

  EXPECT_EQ(e.Init(5, 5, 20001), 0);
  EXPECT_EQ(e.m_vCount, 4);  // set before the refusal
}

TEST(Tessarette, DefaultEffects) {
  CTessarette e;
  CTessarette::SFX_ONEPIECE r;
  e.GetDefaultRecord(r);
  EXPECT_EQ(r.bevel.enabled, 1);
  const f32 n = static_cast<f32>(std::sqrt(r.bevel.light[0] * r.bevel.light[0] + r.bevel.light[1] * r.bevel.light[1] +
                                           r.bevel.light[2] * r.bevel.light[2]));
  EXPECT_NEAR(n, 1.0f, 1e-6f);
  EXPECT_NEAR(r.bevel.light[0], -0.5 / std::sqrt(1.14), 1e-7);
  EXPECT_EQ(r.bevel.size, 2);
  EXPECT_EQ(r.bevel.depth, 3);
  EXPECT_EQ(r.bevel.highlightOpacity, 191);
  EXPECT_EQ(r.bevel.shadowColor[7], 255);
  EXPECT_EQ(r.bevel.shadowColor[0], 0);
  EXPECT_EQ(r.colorOverlay.enabled, 0);
  EXPECT_EQ(r.colorOverlay.color[0], 85);
  EXPECT_EQ(r.colorOverlay.color[1], 255);
  EXPECT_EQ(r.colorOverlay.color[7], 255);
  EXPECT_EQ(r.stroke.size, 3);
  EXPECT_EQ(r.imageOverlay.layerId, -1);
  EXPECT_EQ(r.mblur.angle, 45);
  EXPECT_EQ(r.opacity.opacity, 255);
  EXPECT_EQ(e.m_thinKnife, 1);
  EXPECT_EQ(e.m_antiAlias, 1);
  EXPECT_EQ(e.GetPieceCount(), 0u);
}

TEST(Tessarette, KnotPositions) {
  CTessarette e;
  ASSERT_EQ(e.Init(3, 2, 0), 1);  // splitters at 0.25 and 0.75; one at 0.5
  e.m_vPos[0] = 0.25f;
  e.m_vPos[1] = 0.75f;
  e.m_hPos[0] = 0.5f;
  const i32 W = 400, H = 200;
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(0u, 0u, W, H).x, 0.0);
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(3u, 2u, W, H).x, 400.0);
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(3u, 2u, W, H).y, 200.0);
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1u, 1u, W, H).x, 100.0);
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1u, 1u, W, H).y, 100.0);
  // -1 and +1 move a knot onto the neighbouring splitter or edge.
  e.GetKnot(1, 1)->dx = -1.0f;
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1u, 1u, W, H).x, 0.0);
  e.GetKnot(1, 1)->dx = 1.0f;
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1u, 1u, W, H).x, 300.0);
  e.GetKnot(2, 1)->dx = 0.5f;  // last inner column: towards the edge
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(2u, 1u, W, H).x, 350.0);
  e.GetKnot(2, 1)->dx = -0.5f;
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(2u, 1u, W, H).x, 200.0);
  e.GetKnot(1, 1)->dy = -0.5f;
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1u, 1u, W, H).y, 50.0);
  // Index form: row x columns + column.
  EXPECT_DOUBLE_EQ(e.i_ConvertKnot(1u * 4u + 2u, W, H).x, 200.0);
}

TEST(Tessarette, ProgressReportedOnlyOnChangeAndAlertsCut) {
  CTessarette e;
  RecordingProgress p;
  e.SetProgress(&p);
  e.SetLocalProgress(0, 10, 20);
  e.SetLocalProgress(5, 10, 20);   // 10.5 -> 10, unchanged
  e.SetLocalProgress(50, 10, 20);  // 15
  e.SetLocalProgress(99, 10, 20);  // 19.9 -> 19
  EXPECT_EQ(p.values, (std::vector<int>{10, 15, 19}));

  std::string seen;
  e.SetAlertProc([](const char* text, const char* title, void* user) {
    *static_cast<std::string*>(user) = std::string(title) + "|" + text;
  }, &seen);
  std::string longText(400, 'x');
  e.PlatformMessageBox(longText.c_str(), "Error!");
  EXPECT_EQ(seen, "Error!|" + std::string(250, 'x'));
  EXPECT_STREQ(e.GetLastAlertTitle(), "Error!");
}

TEST(Tessarette, DrawSplittingWithoutKnives) {
  CTessarette e;
  ASSERT_EQ(e.Init(1, 1, 0), 1);
  RecordingProgress p;
  e.SetProgress(&p);
  std::vector<u8> plane(12 * 5, 0x5A);
  ASSERT_EQ(e.DrawSplitting(10, 5, plane.data(), 12, 0, 100), 1);
  EXPECT_EQ(plane, std::vector<u8>(60, 0));
  EXPECT_EQ(p.values, (std::vector<int>{0, 5, 100}));

  EXPECT_EQ(e.DrawSplitting(10, 5, nullptr, 12, 0, 100), 0);
  EXPECT_EQ(e.DrawSplitting(0, 5, plane.data(), 12, 0, 100), 0);
  EXPECT_EQ(e.DrawSplitting(13, 5, plane.data(), 12, 0, 100), 0);  // stride below the row

  p.cancelAfter = 0;
  EXPECT_EQ(e.DrawSplitting(10, 5, plane.data(), 12, 0, 100), 0);
}
