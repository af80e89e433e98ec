// The models behind the Cutter's dialogs, without a window: the auto
// layout's and the custom mutations' values and records, and the preset
// manager's page of cells.
#include <gtest/gtest.h>

#include <cmath>

#include "CAutoLayoutSettings.h"
#include "CCustomMutationsSettings.h"
#include "CPresetsPreview.h"
#include "CShapeSetFile.h"
#include "CutterTestUtil.h"

namespace {

const u32 R = CShapeSetFile::kRecordSize;

struct Store {
  klftest::TempDir dir;
  CKLF_Storage s;
  Store() { EXPECT_EQ(s.Open(dir.File("plugin.conf").c_str(), 2), 1); }
};

struct Layouts : CCutterMainPort {
  void AutoLayout_Triangles(u32 r, u32 c, u8 regular) override { calls.push_back({0, r, c, regular}); }
  void AutoLayout_Hexagons(u32 r, u32 c, u8 regular) override { calls.push_back({1, r, c, regular}); }
  std::vector<std::vector<u32>> calls;
};

// A library record of one name and (H, U) nodes, S 0.5.
std::vector<u8> Record(const std::vector<std::pair<f64, f64>>& hu) {
  std::vector<u8> rec(R);
  CCutterServices::SPLINE_STRUCT s = {};
  s.nodeCount = static_cast<u8>(hu.size());
  for (size_t i = 0; i < hu.size(); ++i) {
    s.nodes[i] = {hu[i].first, hu[i].second};
    s.S[i] = 0.5;
  }
  CShapeSetFile::PutRecord(rec.data(), "r", s);
  return rec;
}

u8 Alpha(CKLF_Image& img, i32 x, i32 y) { return img.GetPixel(static_cast<u16>(x), static_cast<u16>(y)).alpha; }

// The columns of row y where the image's alpha is set.
std::vector<i32> Inked(CKLF_Image& img, i32 y) {
  std::vector<i32> xs;
  for (i32 x = 0; x < static_cast<i32>(img.GetImageWidth()); ++x)
    if (Alpha(img, x, y) > 0) xs.push_back(x);
  return xs;
}

}  // namespace

TEST(CutterDialogModels, AutoLayoutAndMutationValues) {
  // Defaults; typed counts as the dialog reads them.
  CAutoLayoutSettings v;
  ASSERT_TRUE(v.Load(nullptr));
  EXPECT_EQ(std::vector<u32>({v.rows, v.columns, v.shape, v.regular, v.RowLimit(), v.ColumnLimit()}),
            std::vector<u32>({2, 2, 0, 0, 98, 97}));
  for (const auto& c : std::vector<std::pair<const char*, u32>>{
           {"150", 98}, {"0", 1}, {"", 1}, {"-5", 1}, {"12abc", 12}, {" 7", 7}, {"98", 98}, {"x3", 1}})
    EXPECT_EQ(CAutoLayoutSettings::CountOfText(c.first, 98), c.second) << c.first;

  // Stored counts past the hexagons' limits come in; any regular but 0 is
  // 1; a count of 0 is 1.
  Store st;
  ASSERT_TRUE(st.s.AddFolder("Auto Layout Settings"));
  ASSERT_TRUE(st.s.SetRecord("Auto Layout Settings>Rows", u32{500}));
  ASSERT_TRUE(st.s.SetRecord("Auto Layout Settings>Cols", u32{60}));
  ASSERT_TRUE(st.s.SetRecord("Auto Layout Settings>Shape", u8{1}));
  ASSERT_TRUE(st.s.SetRecord("Auto Layout Settings>Regular", u8{5}));
  ASSERT_TRUE(v.Load(&st.s));
  EXPECT_EQ(std::vector<u32>({v.rows, v.columns, v.shape, v.regular}), std::vector<u32>({97, 48, 1, 1}));
  Layouts main;
  v.rows = 0;
  v.Clamp();
  v.Apply(&main);
  EXPECT_EQ(main.calls, (std::vector<std::vector<u32>>{{1, 1, 48, 1}}));
  EXPECT_EQ(v.Save(nullptr), 0);

  // Per cent of a fraction, rounded half up in single precision; typed.
  for (const auto& c : std::vector<std::pair<f32, u32>>{
           {0.35f, 35}, {0.354f, 35}, {0.356f, 36}, {1.5f, 100}, {-0.3f, 0}, {NAN, 0}, {1.0f, 100}, {0, 0}})
    EXPECT_EQ(CCustomMutationsSettings::Percent(c.first), c.second) << c.first;
  for (const auto& c : std::vector<std::pair<const char*, u32>>{{"250", 100}, {"", 0}, {"-4", 0}, {"40", 40}})
    EXPECT_EQ(CCustomMutationsSettings::PercentOfText(c.first), c.second) << c.first;
  CCustomMutationsSettings none;
  ASSERT_TRUE(none.Load(nullptr));
  EXPECT_EQ(std::vector<f32>(none.amount, none.amount + 3), std::vector<f32>({0, 0, 0}));
  EXPECT_EQ(none.Save(nullptr), 0);
}

// One record in a 100 x 150 cell at (10, 20) of a 200 x 200 image: the base
// line runs down x = 60; a node as wide as 0.51 base lines or less leaves
// the line 50 / 0.51 long, a wider one shortens it until it reaches the
// cell's side.
TEST(CutterDialogModels, ShapesFitTheirCells) {
  CPresetsPreview p;
  CKLF_Image shapes;
  ASSERT_EQ(shapes.Create(200, 200, 2), 1);
  const kltRECT_s cell = {10, 20, 110, 170};
  auto draw = [&](const std::vector<std::pair<f64, f64>>& hu) {
    shapes.Set(kltRGBA8{0, 0, 0, 0}, 15);
    std::vector<u8> rec = Record(hu);
    EXPECT_EQ(p.DrawSpline(shapes, cell, rec.data()), 1);
  };
  // Straight: from top + trunc((150 - 98.04) / 2) = 45 to 20 + 124 = 144.
  draw({});
  EXPECT_EQ(Inked(shapes, 100), (std::vector<i32>{59, 60}));
  EXPECT_GT(Alpha(shapes, 60, 46), 0);
  EXPECT_EQ(Alpha(shapes, 60, 42), 0);
  EXPECT_GT(Alpha(shapes, 60, 143), 0);
  EXPECT_EQ(Alpha(shapes, 60, 147), 0);
  // Nodes on the start knot add nothing: still the straight line.
  std::vector<u8> straight(shapes.GetMemObj()->GetPtr(), shapes.GetMemObj()->GetPtr() + shapes.GetMemObj()->GetSize());
  draw({{0, 0}, {0.00001, 0.00001}});
  EXPECT_EQ(std::vector<u8>(shapes.GetMemObj()->GetPtr(), shapes.GetMemObj()->GetPtr() + shapes.GetMemObj()->GetSize()),
            straight);
  // A knob of 0.3 keeps the long base line and bulges 0.3 x 98 pixels.
  draw({{0, 0.4}, {-0.3, 0.5}, {0, 0.6}});
  EXPECT_GT(Alpha(shapes, 60, 46), 0);
  EXPECT_FALSE(Inked(shapes, 20 + 75).empty());
  EXPECT_NEAR(Inked(shapes, 95).back(), 60 + 0.3 * 50 / 0.51, 2.5);
  // A knob of 2 base lines reaches the cell's side and no further; its
  // base line is 25 pixels long.
  draw({{0, 0.4}, {-2, 0.5}, {0, 0.6}});
  i32 right = 0;
  for (i32 y = 0; y < 200; ++y)
    if (!Inked(shapes, y).empty()) right = std::max(right, Inked(shapes, y).back());
  EXPECT_NEAR(right, 110, 1.5);
  EXPECT_EQ(Alpha(shapes, 60, 80), 0);
  EXPECT_GT(Alpha(shapes, 60, 83), 0);
}

TEST(CutterDialogModels, PagesFollowTheSelection) {
  CPresetsPreview p;
  CPresetsPreview::GEOMETRY g = {};
  g.preview = {100, 50, 500, 450};
  for (u32 k = 0; k < 8; ++k) g.small[k] = {110 + 50 * static_cast<i32>(k), 60, 150 + 50 * static_cast<i32>(k), 100};
  g.big[0] = {110, 60, 300, 400};
  g.big[1] = {310, 60, 490, 400};
  p.SetGeometry(g);
  u32 total = 0, visible = 0;
  p.GetScrollInfo(3, total, visible);
  EXPECT_EQ(std::vector<u32>({total, visible}), std::vector<u32>({8, 8}));
  p.GetScrollInfo(20, total, visible);
  EXPECT_EQ(std::vector<u32>({total, visible}), std::vector<u32>({20, 8}));
  // Cells hit by left <= x < right; past the library nothing.
  EXPECT_EQ(p.RecordAt(160, 60, 20), 1);
  EXPECT_EQ(p.RecordAt(150, 60, 20), -1);
  EXPECT_EQ(p.RecordAt(149, 99, 20), 0);
  EXPECT_EQ(p.RecordAt(160, 60, 1), -1);
  // The selection off the page becomes the first; on it nothing moves.
  p.FollowSelection(12, 20);
  EXPECT_EQ(p.GetFirst(), 12u);
  p.FollowSelection(19, 20);
  EXPECT_EQ(p.GetFirst(), 12u);
  p.FollowSelection(-1, 20);
  EXPECT_EQ(p.GetFirst(), 12u);
  // Two cells a page: 19 is off it.
  p.SetSmallView(0);
  p.FollowSelection(19, 20);
  EXPECT_EQ(p.GetFirst(), 19u);
  EXPECT_EQ(p.RecordAt(320, 100, 20), -1);
  EXPECT_EQ(p.RecordAt(200, 100, 20), 19);
  // The bar's value and a shorter library stop at the last record.
  p.ScrollTo(40, 20);
  EXPECT_EQ(p.GetFirst(), 19u);
  p.ClampFirst(5);
  EXPECT_EQ(p.GetFirst(), 4u);
  p.ClampFirst(0);
  EXPECT_EQ(p.GetFirst(), 4u);
}
