#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "CKLF_2DMath.h"

namespace {

typedef CKLF_2DMath::KLLINESEGMENT Seg;
typedef CKLF_2DMath::KLSPLINEPOINT Knot;

const kltFPOS* Points(CKLF_Mem& m) { return reinterpret_cast<const kltFPOS*>(m.GetPtr()); }
const u32* Spans(CKLF_Mem& m) { return reinterpret_cast<const u32*>(m.GetPtr()); }

// A byte mask for the seed fill: 0 open, 1 wall, 2 filled. Records every
// run handed to the fill.
struct Mask {
  int w, h;
  std::vector<u8> px;
  std::vector<std::tuple<i32, i32, i32>> runs;
  Mask(int w_, int h_) : w(w_), h(h_), px(static_cast<size_t>(w_) * h_, 0) {}
  u8& At(int x, int y) { return px[static_cast<size_t>(y) * w + x]; }
  u32 Test(i32 x, i32 y) { return (x < 0 || y < 0 || x >= w || y >= h || At(x, y) != 0) ? 1 : 0; }
  void Fill(i32 x, i32 y, i32 count) {
    runs.emplace_back(x, y, count);
    for (i32 i = 0; i < count; ++i) At(x + i, y) = 2;
  }
};

u32 TestCb(i32 x, i32 y, void* user) { return static_cast<Mask*>(user)->Test(x, y); }
void FillCb(i32 x, i32 y, i32 count, void* user) { static_cast<Mask*>(user)->Fill(x, y, count); }

// The fill as plainly stated: a stack starting at 500 seeds, point tests,
// runs, then one seed per open stretch above and below, right to left.
void ReferenceFill(Mask& m, i32 sx, i32 sy) {
  if (m.Test(sx, sy)) return;
  std::vector<kltPOS> stack;
  stack.reserve(500);
  stack.push_back(kltPOS{sx, sy});
  while (!stack.empty()) {
    kltPOS p = stack.back();
    stack.pop_back();
    if (m.Test(p.x, p.y)) continue;
    i32 l = p.x, r = p.x;
    while (!m.Test(l - 1, p.y)) --l;
    while (!m.Test(r + 1, p.y)) ++r;
    m.Fill(l, p.y, r - l + 1);
    for (i32 y : {p.y - 1, p.y + 1}) {
      bool open = false;
      for (i32 x = r; x >= l; --x) {
        if (!m.Test(x, y)) {
          if (!open) stack.push_back(kltPOS{x, y});
          open = true;
        } else {
          open = false;
        }
      }
    }
  }
}

// Fills every region of a mask in scan order with one of three methods.
void FillAll(Mask& m, int method, CKLF_2DMath& g) {
  g.SetFillCallbacks(TestCb, FillCb);
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x) {
      if (m.At(x, y) != 0) continue;
      if (method == 0) {
        ReferenceFill(m, x, y);
      } else if (method == 1) {
        ASSERT_EQ(g.FillBounds(&m, kltPOS{x, y}), 1);
      } else {
        ASSERT_EQ(g.FillBoundsWith(m, kltPOS{x, y}), 1);
      }
    }
}

}  // namespace

TEST(Math2D, SegmentIntersectionAndDistance) {
  CKLF_2DMath g;
  // Crossing, meeting at an end, a T, crossing outside the segments,
  // parallel apart, on one line far apart, zero length on and off a line.
  const struct {
    Seg a, b;
    u8 hit, collinear;
  } cases[] = {{{0, 0, 4, 4}, {0, 4, 4, 0}, 1, 0}, {{0, 0, 2, 2}, {2, 2, 5, 0}, 1, 0}, {{0, 0, 4, 0}, {2, 0, 2, 3}, 1, 0},
               {{0, 0, 1, 1}, {0, 4, 4, 3.5}, 0, 0}, {{0, 0, 4, 0}, {0, 1, 4, 1}, 0, 1}, {{0, 0, 1, 1}, {5, 5, 7, 7}, 1, 1},
               {{1, 1, 1, 1}, {0, 0, 3, 3}, 1, 1}, {{1, 2, 1, 2}, {0, 0, 3, 3}, 0, 1}};
  for (const auto& c : cases) {
    u8 col = 9;
    kltFPOS p = {-1, -1};
    EXPECT_EQ(g.IntersectLineSegments(c.a, c.b), c.hit) << c.a.x1 << " " << c.b.x1;
    EXPECT_EQ(g.IntersectLineSegments_RetPoint(c.a, c.b, &col, &p), c.hit);
    if (c.hit == 1 && !c.collinear) {
      EXPECT_EQ(col, 0);
    } else if (c.hit) {
      EXPECT_EQ(col, 1);
      EXPECT_EQ(p.x, -1.0) << "point untouched";
    }
  }
  kltFPOS p = {-1, -1};
  u8 col = 9;
  g.IntersectLineSegments_RetPoint(Seg{0, 0, 4, 4}, Seg{0, 4, 4, 0}, &col, &p);
  EXPECT_EQ(std::vector<f64>({p.x, p.y}), std::vector<f64>({2.0, 2.0}));

  double d = -1, t = -1;
  EXPECT_EQ(g.PointToLineDistance(0, 0, 10, 0, 3, 4, d, t), 1);
  EXPECT_EQ(std::vector<f64>({d, t}), std::vector<f64>({4.0, 0.3}));
  // Beyond the end: the foot is on the line, t not clamped.
  EXPECT_EQ(g.PointToLineDistance(kltFPOS{0, 0}, kltFPOS{0, 10}, kltFPOS{-3, 15}, d, t), 0);
  EXPECT_EQ(std::vector<f64>({d, t}), std::vector<f64>({3.0, 1.5}));
  EXPECT_EQ(g.PointToLineDistance(kltFPOS{2, 2}, kltFPOS{2, 2}, kltFPOS{5, 5}, d, t), 0);
  EXPECT_EQ(std::vector<f64>({d, t}), std::vector<f64>({0.0, 0.0}));
}

TEST(Math2D, KnifeFrameSignsAndRoundTrip) {
  CKLF_2DMath g;
  double H = 99, U = 99;
  // H is positive left of the base, in base lengths; U runs along it.
  ASSERT_EQ(g.Coors2HU(kltFPOS{0, 0}, kltFPOS{0, 10}, kltFPOS{-2, 5}, H, U), 1);
  EXPECT_EQ(std::vector<f64>({H, U}), std::vector<f64>({0.2, 0.5}));
  ASSERT_EQ(g.Coors2HU(kltFPOS{0, 0}, kltFPOS{0, 10}, kltFPOS{2, 5}, H, U), 1);
  EXPECT_DOUBLE_EQ(H, -0.2);
  ASSERT_EQ(g.Coors2HU(kltFPOS{1, 1}, kltFPOS{7, 4}, kltFPOS{9, 5}, H, U), 1);
  EXPECT_DOUBLE_EQ(H, 0.0);  // on the base line
  EXPECT_NEAR(U, 4.0 / 3.0, 1e-15);
  // A base of no length: refused, results untouched.
  H = U = 99;
  kltFPOS p = {7, 7};
  EXPECT_EQ(g.Coors2HU(kltFPOS{3, 3}, kltFPOS{3, 3}, kltFPOS{2, 5}, H, U), 0);
  EXPECT_EQ(g.HU2Coors(kltFPOS{3, 3}, kltFPOS{3, 3}, 1, 1, p), 0);
  EXPECT_EQ(std::vector<f64>({H, U, p.x}), std::vector<f64>({99, 99, 7}));
  // Every direction of base, points on both sides: back and forth gives the
  // same point, and H's sign follows the side.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> c(-500, 500);
  for (int i = 0; i < 500; ++i) {
    kltFPOS a = {c(rng), c(rng)}, b = {c(rng), c(rng)};
    if (i % 4 == 1) b.x = a.x;  // vertical bases
    if (i % 4 == 2) b.y = a.y;  // horizontal bases
    const double h = c(rng) / 250, u = c(rng) / 250;
    kltFPOS q;
    ASSERT_EQ(g.HU2Coors(a, b, h, u, q), 1);
    ASSERT_EQ(g.Coors2HU(a, b, q, H, U), 1);
    ASSERT_NEAR(H, h, 1e-9) << i;
    ASSERT_NEAR(U, u, 1e-9) << i;
  }
}

TEST(Math2D, SplineSamplesCountsAndLimits) {
  CKLF_2DMath g;
  CKLF_Mem pts, spans;
  u32 n = 0;
  auto at = [&](u32 i) { return std::vector<f64>({Points(pts)[i].x, Points(pts)[i].y}); };
  // Spans of equal length: the control points alone, the outer ones too.
  const Knot k[3] = {{0, 0, 0.5f, 0}, {6, 0, 0.5f, 0}, {6, 6, 1.0f, 0}};
  ASSERT_EQ(g.CalcBezierPointSpline(k, 3, &pts, n), 1);
  ASSERT_EQ(n, 4u);
  EXPECT_EQ(std::vector<f64>({at(0)[0], at(1)[0], at(1)[1], at(2)[0], at(2)[1], at(3)[0], at(3)[1]}),
            std::vector<f64>({1.5, 4.5, -1.5, 7.5, 1.5, 6, 3}));

  // Spans of unequal length (4 then 12): a control point's pull toward the
  // far knot is scaled by the ratio of the spans, 1/3 and 3 here.
  const Knot uneven[3] = {{0, 0, 0.5f, 0}, {4, 0, 0.5f, 0}, {4, 12, 1.0f, 0}};
  ASSERT_EQ(g.CalcBezierPointSpline(uneven, 3, &pts, n), 1);
  ASSERT_EQ(n, 4u);
  EXPECT_EQ(std::vector<f64>({at(0)[0], at(0)[1], at(1)[0], at(1)[1], at(2)[0], at(2)[1], at(3)[0], at(3)[1]}),
            std::vector<f64>({1, 0, 3, -1, 7, 3, 4, 6}));
  // Sampled: the first span quadratic through (3, -1), 3 samples; the last
  // through (7, 3), steps of 1/6 (seven of them stay below 1), its middle
  // at (5.5, 4.5); then the last knot.
  ASSERT_EQ(g.CalcPointSpline(uneven, 3, 6.0, &pts, n, &spans), 1);
  ASSERT_EQ(n, 11u);
  const double unevenWant[4][3] = {{1, 16.0 / 9, -4.0 / 9}, {2, 28.0 / 9, -4.0 / 9}, {6, 5.5, 4.5}, {10, 4, 12}};
  for (const auto& w : unevenWant) {
    EXPECT_NEAR(at(static_cast<u32>(w[0]))[0], w[1], 1e-12) << w[0];
    EXPECT_NEAR(at(static_cast<u32>(w[0]))[1], w[2], 1e-12) << w[0];
  }
  EXPECT_EQ(Spans(spans)[2] + Spans(spans)[3] + Spans(spans)[10], 2u);

  // Collinear knots with smoothness 1 stay on the line; a span of length 2
  // at step 10 still gets 3 samples. The block is grown, never shrunk.
  const Knot line[3] = {{0, 0, 1.0f, 0}, {2, 1, 1.0f, 0}, {10, 5, 1.0f, 0}};
  CKLF_Mem big(100000);
  ASSERT_EQ(g.CalcPointSpline(line, 3, 10.0, &big, n, nullptr), 1);
  EXPECT_EQ(big.GetSize(), 100000u);
  ASSERT_EQ(n, 3u + 3u + 1u);
  for (u32 i = 0; i < n; ++i) EXPECT_NEAR(reinterpret_cast<kltFPOS*>(big.GetPtr())[i].y, reinterpret_cast<kltFPOS*>(big.GetPtr())[i].x / 2, 1e-12);
  // t accumulates in double: ten steps of 0.1 stay below 1, so a span of
  // m = 10 makes 11 samples.
  const Knot ten[3] = {{0, 0, 0.0f, 0}, {10, 0, 0.0f, 0}, {10, 1, 0.0f, 0}};
  ASSERT_EQ(g.CalcPointSpline(ten, 3, 3.0, &pts, n, &spans), 1);
  EXPECT_EQ(n, 11u + 3u + 1u);
  EXPECT_EQ(Spans(spans)[10] + 1, Spans(spans)[11]);
  // Coinciding knots: no division by zero, all points finite.
  const Knot same[4] = {{3, 3, 1.0f, 0}, {3, 3, 1.0f, 0}, {3, 3, 1.0f, 0}, {5, 3, 1.0f, 0}};
  ASSERT_EQ(g.CalcPointSpline(same, 4, 1.0, &pts, n, nullptr), 1);
  for (u32 i = 0; i < n; ++i) ASSERT_TRUE(std::isfinite(at(i)[0]) && std::isfinite(at(i)[1]));
  EXPECT_EQ(at(n - 1), std::vector<f64>({5, 3}));

  // Refused: no knots, fewer than three, no block, a step that is not
  // positive, and one so small that the points could not be held.
  const struct {
    const Knot* k;
    u32 n;
    CKLF_Mem* m;
    f64 step;
    u16 error;
  } bad[] = {{nullptr, 3, &pts, 1.0, klErrBadArg}, {line, 2, &pts, 1.0, klErrBadArg}, {line, 3, nullptr, 1.0, klErrBadArg},
             {line, 3, &pts, 0.0, klErrBadArg}, {line, 3, &pts, NAN, klErrBadArg},   {line, 3, &pts, 1e-9, klErrNoMemory}};
  for (const auto& c : bad) {
    g.ResetError();
    EXPECT_EQ(g.CalcPointSpline(c.k, c.n, c.step, c.m, n, nullptr), 0) << c.step;
    EXPECT_EQ(g.GetError(), c.error) << c.step;
  }
}

TEST(Math2D, SeedFillMatchesReferenceOnRandomMasks) {
  // Many seeds at once (combs, noise) push the stack past its first size;
  // all three forms must hand the same runs in the same order.
  std::mt19937 rng(11);
  CKLF_2DMath g;
  for (int round = 0; round < 60; ++round) {
    const int w = 1 + static_cast<int>(rng() % 300), h = 1 + static_cast<int>(rng() % 200);
    Mask base(w, h);
    const int density = static_cast<int>(rng() % 60);
    for (auto& v : base.px) v = (static_cast<int>(rng() % 100) < density) ? 1 : 0;
    if (round % 3 == 0)  // comb: every other column walled except the last row
      for (int x = 1; x < w; x += 2)
        for (int y = 0; y + 1 < h; ++y) base.At(x, y) = 1;
    Mask a = base, b = base, c = base;
    FillAll(a, 0, g);
    FillAll(b, 1, g);
    FillAll(c, 2, g);
    ASSERT_EQ(a.runs, b.runs) << round;
    ASSERT_EQ(a.runs, c.runs) << round;
    ASSERT_EQ(a.px, b.px);
    for (u8 v : c.px) ASSERT_NE(v, 0);
  }
  // A boundary seed or a missing callback does nothing.
  Mask m(5, 5);
  m.At(2, 2) = 1;
  CKLF_2DMath none;
  EXPECT_EQ(g.FillBounds(&m, kltPOS{2, 2}), 1);
  EXPECT_EQ(g.FillBounds(&m, kltPOS{-1, 0}), 1);
  EXPECT_EQ(none.FillBounds(&m, kltPOS{0, 0}), 1);
  EXPECT_TRUE(m.runs.empty());
}
