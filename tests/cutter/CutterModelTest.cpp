#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <new>

#include "CutterTestUtil.h"
#include "support/TestSupport.h"

using cuttest::Model;
using cuttest::PixelH;
using cuttest::PixelU;

namespace {

// Nothrow allocations fail while this is set (the undo snapshots use them).
bool g_failNothrowNew = false;

void ExpectNode(const CCutterModel& m, u32 i, f64 h, f64 u) {
  EXPECT_NEAR(m.nodes[i].H, h, 1e-12) << "node " << i;
  EXPECT_NEAR(m.nodes[i].U, u, 1e-12) << "node " << i;
}

f64 PixelX(f64 h) { return 100 - 200 * h; }
f64 PixelY(f64 u) { return 12.5 + 200 * u; }

}  // namespace

void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (g_failNothrowNew) return nullptr;
  try {
    return ::operator new(n);
  } catch (...) {
    return nullptr;
  }
}

TEST(CutterModel, PreviewGeometryByZoomAndRefusedSizes) {
  // 225 high: the base line is 200 / scale long and centred; Hmax lets a
  // node reach 12.5 pixels from the side (87.5 pixels out at 1x1).
  struct Case {
    u8 zoom;
    f64 y0, y1, hMax;
  } cases[] = {{0, 12.5, 212.5, 0.4375}, {1, 62.5, 162.5, 0.875}, {2, 87.5, 137.5, 1.75}};
  Model t;
  for (const Case& c : cases) {
    t.m.SetZoom(c.zoom);
    EXPECT_EQ(t.m.GetP0().x, 100);
    EXPECT_EQ(t.m.GetP0().y, c.y0);
    EXPECT_EQ(t.m.GetP1().y, c.y1);
    EXPECT_EQ(t.m.GetHmax(), c.hMax);
  }
  // A preview of 25 pixels or less either way has no base line.
  for (auto wh : {std::make_pair(200, 25), std::make_pair(25, 200), std::make_pair(26, 26)}) {
    CCutterModel m;
    EXPECT_EQ(m.OnCreate(static_cast<u16>(wh.first), static_cast<u16>(wh.second)), wh.second > 25 && wh.first > 25);
    EXPECT_TRUE(m.GetError() == 0 || m.GetError() == klErrBadArg);
  }
}

TEST(CutterModel, DrawsTheStraightKnifeGuidesAndNodeMarks) {
  // Node 0 at (100, 62) unselected: a 7 x 7 outline; node 1 at (150, 112)
  // selected: filled; one selected node draws no box.
  Model t({{0, 0.25}, {-0.25, 0.5}});
  t.Click(100, 62, CCutterModel::kCommand);
  CKLF_Image& x = t.m.GetExtrasLayer();
  auto is = [&](i32 px, i32 py, kltRGBA8 c) {
    kltRGBA8 p = x.GetPixel(static_cast<u16>(px), static_cast<u16>(py));
    return p.red == c.red && p.green == c.green && p.blue == c.blue && p.alpha == c.alpha;
  };
  const kltRGBA8 node = {4, 58, 138, 255}, none = {0, 0, 0, 0}, guide = {0, 0, 180, 200};
  EXPECT_TRUE(is(97, 59, node) && is(103, 65, node) && is(100, 62, none));
  EXPECT_TRUE(is(147, 109, node) && is(150, 112, node) && is(153, 115, node) && is(154, 116, none));
  kltRECT_s r;
  EXPECT_EQ(t.m.GetHandle(0, r), 0);

  // Without nodes: the base line alone, at 1x4 a quarter as long with
  // guide lines at its ends.
  t.m.opSelectAllNodes();
  t.m.opDelSelectedNodes();
  t.m.SetZoom(2);
  CKLF_Image& s = t.m.GetSplineLayer();
  auto across = [&](i32 py) {
    int sum = 0;
    for (u16 px = 90; px < 110; ++px) sum += s.GetPixel(px, static_cast<u16>(py)).alpha;
    return sum;
  };
  EXPECT_GT(across(112), 200);
  EXPECT_EQ(across(80) + across(145), 0);
  EXPECT_TRUE(is(5, 87, guide) && is(190, 137, guide) && is(5, 100, none));
}

TEST(CutterModel, NodeEditingAgainstHandWorkedValues) {
  // Nodes at pixels (100, 62), (150, 112), (100, 162).
  Model t({{0, 0.25}, {-0.25, 0.5}, {0, 0.75}});
  t.m.opUnSelectAllNodes();

  // Node 1 alone dragged by (+10, +10).
  t.Drag(150, 112, 160, 122);
  ExpectNode(t.m, 1, PixelH(160), PixelU(122));
  EXPECT_EQ(t.m.GetSelectedNodesCount(), 1u);

  // Nodes 0 and 1 dragged left by 80 pixels: node 1 meets the border
  // (Hmax 0.4375) and the pair stops together, 0.1375 across from node 0's
  // start; U follows the pointer.
  t.m.opSelectAllNodes();
  t.Click(100, 162, CCutterModel::kCommand);
  t.Drag(100, 62, 180, 72);
  ExpectNode(t.m, 1, -0.4375, PixelU(122) + 0.0475);
  ExpectNode(t.m, 0, -0.4375 + 0.3, PixelU(72));
  ExpectNode(t.m, 2, 0, 0.75);

  // Align left (largest H) and distribute vertically over three nodes.
  t.m.opSelectAllNodes();
  t.m.opAlign(3);
  for (u32 i = 0; i < 3; ++i) EXPECT_EQ(t.m.nodes[i].H, 0);
  t.m.opDistribute(0);
  ExpectNode(t.m, 1, 0, (0.2975 + 0.75) / 2);

  // Flip along: U becomes 1 - U and the order turns round.
  t.m.opFlipU();
  ExpectNode(t.m, 0, 0, 0.25);
  ExpectNode(t.m, 2, 0, 0.7025);
  EXPECT_EQ(t.main.shapeCalls.back(), 10);

  // A click on the path between nodes 1 and 2 inserts node 2 there, alone
  // selected; with Command the others stay selected.
  t.Click(100, 140);
  EXPECT_EQ(t.m.nodeCount, 4);
  ExpectNode(t.m, 2, PixelH(100), PixelU(140));
  EXPECT_EQ(t.m.GetSelectedNodesCount(), 1u);
  t.Click(100, 40, CCutterModel::kCommand);
  EXPECT_EQ(t.m.nodeCount, 5);
  ExpectNode(t.m, 0, 0, PixelU(40));
  EXPECT_EQ(t.m.GetSelectedNodesCount(), 2u);

  // Deleting every node leaves a straight knife; a click near the base line
  // adds node 0 there.
  t.m.opSelectAllNodes();
  t.m.opDelSelectedNodes();
  EXPECT_EQ(t.m.nodeCount, 0);
  t.Click(102, 50);
  ASSERT_EQ(t.m.nodeCount, 1);
  ExpectNode(t.m, 0, PixelH(102), PixelU(50));
}

TEST(CutterModel, AddedNodeIsClampedAndA65thRefused) {
  // A node added by the program outside the preview is brought into range.
  Model t;
  t.m.opUnSelectAllNodes();
  ASSERT_EQ(t.m.opAddNode(kltFPOS{-300, 900}, 0, 99), 1);
  EXPECT_EQ(t.m.nodes[5].H, t.m.GetHmax());
  EXPECT_EQ(t.m.nodes[5].U, 1);

  // A zigzag of 64 nodes crosses the base line between nodes 31 and 32.
  std::vector<std::pair<f64, f64>> many;
  for (int i = 0; i < 64; ++i) many.push_back({i % 2 ? 0.3 : -0.3, (i + 0.5) / 64});
  t.Set(many);
  t.m.opUnSelectAllNodes();
  t.m.OnLMouseDown(100, 112, 0, 0);
  EXPECT_EQ(t.m.nodeCount, 64);
  EXPECT_EQ(t.window.beeps, 1);
  EXPECT_FALSE(t.m.GetDrag().node);
}

TEST(CutterModel, BoxHandlesScaleAndRotateTheSelection) {
  // Two nodes in one column keep only the top and bottom handles; the top
  // handle dragged below the bottom flattens the box within 14 pixels and
  // mirrors it beyond.
  Model t({{0, 0.25}, {0, 0.75}});
  kltRECT_s r;
  for (u32 h = 0; h < 8; ++h) EXPECT_EQ(t.m.GetHandle(h, r), h == 1 || h == 5) << h;
  t.Drag(100, 55, 100, 165);
  ExpectNode(t.m, 0, 0, PixelU(162));
  t.Set({{0, 0.25}, {0, 0.75}});
  t.Drag(100, 55, 100, 185);
  ExpectNode(t.m, 0, 0, PixelU(192 - 14));
  ExpectNode(t.m, 1, 0, PixelU(162));

  // A row (100, 112)-(140, 112) keeps the side handles; Command on the left
  // one rotates about (120, 112). Shift turns in steps of 15 degrees, with
  // Option of 45; the pointer goes up-left by phi.
  struct Case {
    f64 phi;
    u8 mods, keys;
    f64 degrees;
  } cases[] = {{20, CCutterModel::kShift, 0, 15},
               {20, CCutterModel::kShift, CCutterModel::kOption, 0},
               {50, CCutterModel::kShift, 0, 45},
               {50, CCutterModel::kShift, CCutterModel::kOption, 45}};
  for (const Case& c : cases) {
    t.Set({{0, 0.4975}, {-0.2, 0.4975}});
    for (u32 h = 0; h < 8; ++h) EXPECT_EQ(t.m.GetHandle(h, r), h == 3 || h == 7) << h;
    // Cursors: the side handle sizes, or rotates with Command; a node
    // moves; the space bar drags the selection box; elsewhere a node adds.
    const i32 cursors[] = {t.m.GetCursorId(93, 112, 0), t.m.GetCursorId(93, 112, CCutterModel::kCommand),
                           t.m.GetCursorId(140, 112, 0), t.m.GetCursorId(120, 112, CCutterModel::kSpace),
                           t.m.GetCursorId(60, 30, CCutterModel::kSpace), t.m.GetCursorId(-1, 30, 0)};
    EXPECT_EQ(std::vector<i32>(cursors, cursors + 6), (std::vector<i32>{138, 144, 143, 143, 136, 0}));
    const f64 a = c.phi * M_PI / 180;
    t.m.OnLMouseDown(93, 112, CCutterModel::kCommand, 0);
    t.m.OnMouseMove(static_cast<i32>(std::lround(120 - 27 * std::cos(a))), static_cast<i32>(std::lround(112 - 27 * std::sin(a))),
                    c.mods | CCutterModel::kCommand, c.keys);
    EXPECT_EQ(t.m.GetDrag().radius, 28);
    EXPECT_EQ(t.m.GetCursorId(10, 10, 0), CCutterModel::kCursorRotate);
    t.m.OnLMouseUp();
    const f64 dx = PixelX(t.m.nodes[1].H) - PixelX(t.m.nodes[0].H), dy = PixelY(t.m.nodes[1].U) - PixelY(t.m.nodes[0].U);
    EXPECT_NEAR(std::atan2(dy, dx) * 180 / M_PI, c.degrees, 1e-9) << c.phi;
    EXPECT_NEAR(std::hypot(dx, dy), 40, 1e-9);
  }
}

TEST(CutterModel, RubberBandSmoothnessAndEscape) {
  Model t({{0, 0.25}, {-0.25, 0.5}, {0, 0.75}});
  // A band from an empty spot over nodes 0 and 1 selects them alone; Option
  // takes node 1 out again.
  t.Drag(180, 20, 40, 120);
  EXPECT_EQ(t.m.nodeSelected[0] + 2 * t.m.nodeSelected[1] + 4 * t.m.nodeSelected[2], 3);
  t.Drag(180, 100, 140, 120, 0, CCutterModel::kOption);
  EXPECT_EQ(t.m.nodeSelected[0] + 2 * t.m.nodeSelected[1] + 4 * t.m.nodeSelected[2], 1);

  // S 0.3 and 0.5 selected show " ???" and the slider at 40; a committed
  // value sets both and tells the main window.
  t.m.nodeS[0] = 0.3;
  t.m.opSelectAllNodes();
  t.Click(100, 162, CCutterModel::kCommand);
  EXPECT_TRUE(t.m.smoothMixed);
  EXPECT_EQ(t.m.smoothValue, 40u);
  size_t calls = t.main.shapeCalls.size();
  t.m.OnEditSmoothness("150");
  EXPECT_EQ(t.m.nodeS[0], 1.0);
  EXPECT_EQ(t.main.shapeCalls.size(), calls);
  t.m.OnEditSmoothnessLF("-7");
  EXPECT_EQ(t.m.nodeS[1], 0.0);
  EXPECT_EQ(t.m.nodeS[2], 0.5);
  EXPECT_EQ(t.main.shapeCalls.size(), calls + 1);
  // Three differing values show their mean, 14 for 0, 0.12 and 0.3.
  const f64 mixed[3] = {0, 0.12, 0.3};
  std::copy(mixed, mixed + 3, t.m.nodeS);
  t.m.opSelectAllNodes();
  EXPECT_EQ(t.m.smoothValue, 14u);
  // Leaving the " ???" field untouched keeps every node's own value.
  calls = t.main.shapeCalls.size();
  t.m.OnEditSmoothnessLF(" ???");
  EXPECT_EQ(std::vector<f64>(t.m.nodeS, t.m.nodeS + 3), std::vector<f64>(mixed, mixed + 3));
  EXPECT_EQ(t.main.shapeCalls.size(), calls);

  // Escape during a drag puts the shape back and leaves the window open.
  t.m.OnLMouseDown(150, 112, 0, 0);
  t.m.OnMouseMove(60, 200, 0, 0);
  t.m.DoEsc();
  ExpectNode(t.m, 1, -0.25, 0.5);
  EXPECT_EQ(t.window.closed, 0);
}

TEST(CutterModel, UndoAcrossTheLimitAndFailedSnapshots) {
  Model t;
  auto shapeOf = [](int k) { return std::vector<std::pair<f64, f64>>{{k / 1000.0, 0.5}}; };
  // Setting a shape always pushes, even an equal one.
  for (int k = 0; k < 201; ++k) t.Set(shapeOf(k));
  t.Set(shapeOf(200));
  EXPECT_EQ(t.m.GetUndo().GetCursor(), 200u);
  EXPECT_EQ(t.m.GetUndo().GetSnapshotCount(), 201u);
  for (int k = 0; k < 200; ++k) t.m.opUndo();
  EXPECT_EQ(t.window.beeps, 0);
  EXPECT_EQ(t.m.nodes[0].H, 1 / 1000.0);  // the states before were dropped
  t.m.opUndo();
  EXPECT_EQ(t.window.beeps, 1);
  t.m.opRedo();
  t.m.opRedo();
  EXPECT_EQ(t.m.nodes[0].H, 3 / 1000.0);

  // A click that moves nothing pushes nothing; a new edit ends redo.
  t.Click(100, 112);
  EXPECT_EQ(t.m.GetUndo().GetCursor(), 2u);
  t.m.opFlipH();
  EXPECT_FALSE(t.m.CanRedo());

  // A snapshot that cannot be allocated leaves the list as it was and the
  // edit standing.
  Model u({{0.007, 0.5}});
  ASSERT_EQ(u.m.GetUndo().GetCursor(), 1u);
  g_failNothrowNew = true;
  u.m.opFlipH();
  g_failNothrowNew = false;
  EXPECT_EQ(u.m.nodes[0].H, -0.007);
  EXPECT_EQ(u.m.GetUndo().GetSnapshotCount(), 2u);
  EXPECT_EQ(u.m.GetUndo().GetCursor(), 1u);
  u.m.opRedo();
  EXPECT_EQ(u.window.beeps, 1);
  u.m.opUndo();
  EXPECT_EQ(u.m.nodeCount, 5);
}

TEST(CutterModel, LastShapeAndOptionsInTheStore) {
  klftest::TempDir dir;
  CKLF_Storage conf;
  ASSERT_EQ(conf.Open(dir.File("plugin.conf").c_str(), 2), 1);
  Model t({{0.1, 0.2}, {-0.3, 0.6}});
  t.m.SetConfStore(&conf);
  t.m.linkRC = 1;
  ASSERT_EQ(t.m.settings_SaveLastKnife(), 1);
  ASSERT_EQ(t.m.settings_SaveCutterOptions(), 1);
  u8 link = 0;
  EXPECT_EQ(conf.GetRecType("LastShape>NodesCount"), CKLF_Storage::klRecU16);
  EXPECT_TRUE(conf.GetRec("Cutter Settings>LinkRC", link) && link == 1);

  auto load = [&](CCutterModel& m) {
    m.SetConfStore(&conf);
    EXPECT_EQ(m.settings_LoadLastKnife(), 1);
    EXPECT_EQ(m.settings_LoadCutterOptions(), 1);
  };
  CCutterModel back;
  load(back);
  EXPECT_EQ(back.nodeCount, 2);
  EXPECT_EQ(back.nodes[1].H, -0.3);
  EXPECT_EQ(back.nodeS[1], 0.5);
  EXPECT_EQ(back.linkRC, 1);

  // Damaged records: counts above 64 load 64 nodes; a missing or
  // non-finite record gives the default knife; values out of range clamp.
  CKLF_String key;
  for (u32 i = 0; i < 70; ++i) {
    ASSERT_TRUE(conf.SetRecord(key.Format("LastShape>H%u", i), 5.0));
    ASSERT_TRUE(conf.SetRecord(key.Format("LastShape>U%u", i), -1.0));
    ASSERT_TRUE(conf.SetRecord(key.Format("LastShape>S%u", i), 0.25));
  }
  ASSERT_TRUE(conf.SetRecord("LastShape>NodesCount", static_cast<u16>(70)));
  load(back);
  EXPECT_EQ(back.nodeCount, 64);
  EXPECT_EQ(back.nodes[63].H, 3.0);
  EXPECT_EQ(back.nodes[63].U, 0.0);
  ASSERT_TRUE(conf.SetRecord("LastShape>U30", NAN));
  load(back);
  EXPECT_EQ(back.nodeCount, 5);
  EXPECT_EQ(back.nodes[2].H, -0.297);
  ASSERT_TRUE(conf.SetRecord("LastShape>NodesCount", static_cast<u16>(5)));
  ASSERT_TRUE(conf.KillRec("LastShape>S3"));
  back.nodeCount = 0;
  load(back);
  EXPECT_EQ(back.nodeCount, 5);
  EXPECT_EQ(back.nodes[4].U, 0.566);

  // Without a store the link keeps its state and nothing is saved.
  CCutterModel none;
  none.linkRC = 1;
  EXPECT_EQ(none.settings_LoadCutterOptions(), 1);
  EXPECT_EQ(none.linkRC, 1);
  EXPECT_EQ(none.settings_SaveLastKnife(), 0);
  ASSERT_TRUE(conf.Close());

  // A store that cannot be read (its file cut short under it) fails the
  // loads; the knife and the link stay as they were.
  ASSERT_EQ(conf.Open(dir.File("plugin.conf").c_str(), 1), 1);
  ASSERT_EQ(truncate(dir.File("plugin.conf").c_str(), 40), 0);
  for (const auto loader : {&CCutterModel::settings_LoadLastKnife, &CCutterModel::settings_LoadCutterOptions}) {
    Model r({{0.1, 0.2}, {-0.3, 0.6}, {0.2, 0.7}});
    r.m.SetConfStore(&conf);
    r.m.linkRC = 1;
    EXPECT_EQ((r.m.*loader)(), 0);
    EXPECT_EQ(r.m.nodeCount * 10 + r.m.linkRC, 31);
  }
}
