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

TEST(Math2D, SegmentIntersection) {
  CKLF_2DMath g;
  u8 col = 9;
  kltFPOS p = {-1, -1};
  // Plain crossing with its point.
  EXPECT_EQ(g.IntersectLineSegments_RetPoint(Seg{0, 0, 4, 4}, Seg{0, 4, 4, 0}, &col, &p), 1);
  EXPECT_EQ(col, 0);
  EXPECT_DOUBLE_EQ(p.x, 2.0);
  EXPECT_DOUBLE_EQ(p.y, 2.0);
  // Meeting at end points counts; so does a T.
  EXPECT_EQ(g.IntersectLineSegments(Seg{0, 0, 2, 2}, Seg{2, 2, 5, 0}), 1);
  EXPECT_EQ(g.IntersectLineSegments(Seg{0, 0, 4, 0}, Seg{2, 0, 2, 3}), 1);
  // Lines that cross outside the segments do not.
  p = kltFPOS{-1, -1};
  EXPECT_EQ(g.IntersectLineSegments_RetPoint(Seg{0, 0, 1, 1}, Seg{0, 4, 4, 3.5}, &col, &p), 0);
  EXPECT_EQ(col, 0);
  EXPECT_EQ(p.x, -1.0);
  // Parallel apart: no; on one line, even far apart: yes, point untouched.
  EXPECT_EQ(g.IntersectLineSegments(Seg{0, 0, 4, 0}, Seg{0, 1, 4, 1}), 0);
  EXPECT_EQ(g.IntersectLineSegments_RetPoint(Seg{0, 0, 1, 1}, Seg{5, 5, 7, 7}, &col, &p), 1);
  EXPECT_EQ(col, 1);
  EXPECT_EQ(p.x, -1.0);
  // A zero-length segment is parallel to anything: it meets only a line
  // through it, without dividing by zero.
  EXPECT_EQ(g.IntersectLineSegments_RetPoint(Seg{1, 1, 1, 1}, Seg{0, 0, 3, 3}, &col, nullptr), 1);
  EXPECT_EQ(col, 1);
  EXPECT_EQ(g.IntersectLineSegments(Seg{1, 2, 1, 2}, Seg{0, 0, 3, 3}), 0);
}

TEST(Math2D, PointToSegmentDistance) {
  CKLF_2DMath g;
  double d = -1, t = -1;
  EXPECT_EQ(g.PointToLineDistance(0, 0, 10, 0, 3, 4, d, t), 1);
  EXPECT_DOUBLE_EQ(d, 4.0);
  EXPECT_DOUBLE_EQ(t, 0.3);
  // Beyond the end: the foot is on the line, t not clamped.
  EXPECT_EQ(g.PointToLineDistance(kltFPOS{0, 0}, kltFPOS{0, 10}, kltFPOS{-3, 15}, d, t), 0);
  EXPECT_DOUBLE_EQ(d, 3.0);
  EXPECT_DOUBLE_EQ(t, 1.5);
  EXPECT_EQ(g.PointToLineDistance(kltFPOS{2, 2}, kltFPOS{2, 2}, kltFPOS{5, 5}, d, t), 0);
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(t, 0.0);
}

TEST(Math2D, KnifeFrameSignsAndRoundTrip) {
  CKLF_2DMath g;
  double H = 99, U = 99;
  ASSERT_EQ(g.Coors2HU(kltFPOS{0, 0}, kltFPOS{0, 10}, kltFPOS{-2, 5}, H, U), 1);
  EXPECT_DOUBLE_EQ(U, 0.5);
  EXPECT_DOUBLE_EQ(H, 0.2);
  ASSERT_EQ(g.Coors2HU(kltFPOS{0, 0}, kltFPOS{0, 10}, kltFPOS{2, 5}, H, U), 1);
  EXPECT_DOUBLE_EQ(H, -0.2);
  ASSERT_EQ(g.Coors2HU(kltFPOS{1, 1}, kltFPOS{7, 4}, kltFPOS{9, 5}, H, U), 1);
  EXPECT_DOUBLE_EQ(H, 0.0);  // on the base line
  EXPECT_NEAR(U, 4.0 / 3.0, 1e-15);
  H = U = 99;
  EXPECT_EQ(g.Coors2HU(kltFPOS{3, 3}, kltFPOS{3, 3}, kltFPOS{2, 5}, H, U), 0);
  EXPECT_EQ(H, 99);
  EXPECT_EQ(U, 99);
  kltFPOS p = {7, 7};
  EXPECT_EQ(g.HU2Coors(kltFPOS{3, 3}, kltFPOS{3, 3}, 1, 1, p), 0);
  EXPECT_EQ(p.x, 7);

  // Every direction of base, points on both sides: back and forth gives the
  // same point, and H's sign follows the side.
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> c(-500, 500);
  for (int i = 0; i < 2000; ++i) {
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

TEST(Math2D, SplineSamplesMatchHandComputedPoints) {
  CKLF_2DMath g;
  const Knot k[3] = {{0, 0, 0.0f, 0}, {6, 0, 0.5f, 0}, {6, 6, 0.0f, 0}};
  CKLF_Mem pts, spans;
  u32 n = 0;
  ASSERT_EQ(g.CalcPointSpline(k, 3, 6.0, &pts, n, &spans), 1);
  // Both spans quadratic with 3 samples: control (4.5, -1.5), then
  // (7.5, 1.5); plus the last knot.
  const double want[7][2] = {{0, 0}, {8.0 / 3, -2.0 / 3}, {14.0 / 3, -2.0 / 3}, {6, 0},
                             {20.0 / 3, 4.0 / 3}, {20.0 / 3, 10.0 / 3}, {6, 6}};
  const u32 wantSpan[7] = {0, 0, 0, 1, 1, 1, 1};
  ASSERT_EQ(n, 7u);
  EXPECT_GE(pts.GetSize(), (6u + 4u) * 16u);
  for (u32 i = 0; i < n; ++i) {
    EXPECT_NEAR(Points(pts)[i].x, want[i][0], 1e-12) << i;
    EXPECT_NEAR(Points(pts)[i].y, want[i][1], 1e-12) << i;
    EXPECT_EQ(Spans(spans)[i], wantSpan[i]) << i;
  }

  // Four knots: the middle span is cubic. Span 1 from (6, 0) to (6, 6) with
  // C1 = (7.5, 1.5) and C2 = (7.5, 4.5) at t = 0.5: (7.125, 3).
  const Knot k4[4] = {{0, 0, 0.0f, 0}, {6, 0, 0.5f, 0}, {6, 6, 0.5f, 0}, {0, 6, 0.0f, 0}};
  ASSERT_EQ(g.CalcPointSpline(k4, 4, 12.0, &pts, n, nullptr), 1);
  ASSERT_EQ(n, 10u);  // 3 + 3 + 3 + 1
  const double t = 1.0 / 3.0, u = 1 - t;
  EXPECT_NEAR(Points(pts)[4].x, u * u * u * 6 + 3 * t * u * u * 7.5 + 3 * t * t * u * 7.5 + t * t * t * 6, 1e-12);
  EXPECT_NEAR(Points(pts)[4].y, 3 * t * u * u * 1.5 + 3 * t * t * u * 4.5 + t * t * t * 6, 1e-12);
  EXPECT_EQ(Points(pts)[9].x, 0.0);
  EXPECT_EQ(Points(pts)[9].y, 6.0);
}

TEST(Math2D, SplineSampleCountsAndLimits) {
  CKLF_2DMath g;
  CKLF_Mem pts, spans;
  u32 n = 0;
  // Collinear knots with smoothness 1 stay on the line; a span of length 2
  // at step 10 still gets 3 samples.
  const Knot line[3] = {{0, 0, 1.0f, 0}, {2, 1, 1.0f, 0}, {10, 5, 1.0f, 0}};
  ASSERT_EQ(g.CalcPointSpline(line, 3, 10.0, &pts, n, &spans), 1);
  ASSERT_EQ(n, 3u + 3u + 1u);
  for (u32 i = 0; i < n; ++i) EXPECT_NEAR(Points(pts)[i].y, Points(pts)[i].x / 2, 1e-12) << i;
  EXPECT_EQ(Points(pts)[n - 1].x, 10.0);
  EXPECT_EQ(Spans(spans)[n - 1], 1u);

  // t accumulates in double: ten steps of 0.1 stay below 1, so a span of
  // m = 10 makes 11 samples.
  const Knot ten[3] = {{0, 0, 0.0f, 0}, {10, 0, 0.0f, 0}, {10, 1, 0.0f, 0}};
  ASSERT_EQ(g.CalcPointSpline(ten, 3, 3.0, &pts, n, &spans), 1);
  EXPECT_EQ(n, 11u + 3u + 1u);
  EXPECT_EQ(Spans(spans)[10], 0u);
  EXPECT_EQ(Spans(spans)[11], 1u);

  // The block is grown, never shrunk.
  CKLF_Mem big(100000);
  ASSERT_EQ(g.CalcPointSpline(line, 3, 10.0, &big, n, nullptr), 1);
  EXPECT_EQ(big.GetSize(), 100000u);

  // Coinciding knots: r = 0, no division by zero, all points finite.
  const Knot same[4] = {{3, 3, 1.0f, 0}, {3, 3, 1.0f, 0}, {3, 3, 1.0f, 0}, {5, 3, 1.0f, 0}};
  ASSERT_EQ(g.CalcPointSpline(same, 4, 1.0, &pts, n, nullptr), 1);
  for (u32 i = 0; i < n; ++i) ASSERT_TRUE(std::isfinite(Points(pts)[i].x) && std::isfinite(Points(pts)[i].y));
  EXPECT_EQ(Points(pts)[n - 1].x, 5.0);

  EXPECT_EQ(g.CalcPointSpline(nullptr, 3, 1.0, &pts, n, nullptr), 0);
  EXPECT_EQ(g.GetError(), klErrBadArg);
  g.ResetError();
  EXPECT_EQ(g.CalcPointSpline(line, 2, 1.0, &pts, n, nullptr), 0);
  EXPECT_EQ(g.GetError(), klErrBadArg);
  EXPECT_EQ(g.CalcPointSpline(line, 3, 1.0, nullptr, n, nullptr), 0);
  EXPECT_EQ(g.CalcPointSpline(line, 3, 0.0, &pts, n, nullptr), 0);
  EXPECT_EQ(g.CalcPointSpline(line, 3, NAN, &pts, n, nullptr), 0);
  // A step so small that the points could not be held: refused, not wrapped.
  g.ResetError();
  EXPECT_EQ(g.CalcPointSpline(line, 3, 1e-9, &pts, n, nullptr), 0);
  EXPECT_EQ(g.GetError(), klErrNoMemory);

  // Control points only.
  const Knot k[3] = {{0, 0, 0.5f, 0}, {6, 0, 0.5f, 0}, {6, 6, 1.0f, 0}};
  ASSERT_EQ(g.CalcBezierPointSpline(k, 3, &pts, n), 1);
  ASSERT_EQ(n, 4u);
  const double want[4][2] = {{1.5, 0}, {4.5, -1.5}, {7.5, 1.5}, {6, 3}};
  for (u32 i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(Points(pts)[i].x, want[i][0]) << i;
    EXPECT_DOUBLE_EQ(Points(pts)[i].y, want[i][1]) << i;
  }
}

TEST(Math2D, SeedFillSpiralAndHoles) {
  // A square spiral wall: its corridor is one region and is filled whole
  // from its centre.
  const int N = 41;
  Mask m(N, N);
  {
    std::vector<int> legs = {N - 1, N - 1, N - 1};
    for (int len = N - 3; len > 0; len -= 2) legs.insert(legs.end(), {len, len});
    int x = 0, y = 0, dx = 1, dy = 0;
    m.At(0, 0) = 1;
    for (int len : legs) {
      for (int i = 0; i < len; ++i) {
        x += dx;
        y += dy;
        m.At(x, y) = 1;
      }
      const int t = dx;  // turn clockwise
      dx = -dy;
      dy = t;
    }
  }
  size_t open = 0;
  for (u8 v : m.px) open += v == 0;
  // Seed at the first open pixel; everything open must become filled.
  int sx = -1, sy = -1;
  for (int i = 0; i < N * N && sx < 0; ++i)
    if (m.px[i] == 0) sx = i % N, sy = i / N;
  Mask ref = m;
  CKLF_2DMath g;
  g.SetFillCallbacks(TestCb, FillCb);
  ASSERT_EQ(g.FillBounds(&m, kltPOS{sx, sy}), 1);
  ReferenceFill(ref, sx, sy);
  size_t filled = 0, left = 0;
  for (u8 v : m.px) filled += v == 2, left += v == 0;
  EXPECT_GT(open, 300u);
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(filled, open);
  EXPECT_EQ(m.runs, ref.runs);

  // Single-pixel walls and holes: a one-pixel island of wall inside a region
  // stays wall, an open pixel walled on four sides stays open.
  Mask h(9, 9);
  h.At(4, 4) = 1;
  h.At(1, 1) = 1;  // open pixel (1, 2) walled in by (1,1), (0,2), (2,2), (1,3)
  h.At(0, 2) = 1;
  h.At(2, 2) = 1;
  h.At(1, 3) = 1;
  ASSERT_EQ(g.FillBounds(&h, kltPOS{6, 6}), 1);
  EXPECT_EQ(h.At(4, 4), 1);
  EXPECT_EQ(h.At(1, 2), 0);
  EXPECT_EQ(h.At(0, 0), 2);
  EXPECT_EQ(h.At(3, 4), 2);
  EXPECT_EQ(h.At(5, 4), 2);
  ASSERT_EQ(g.FillBounds(&h, kltPOS{1, 2}), 1);
  EXPECT_EQ(h.At(1, 2), 2);
  EXPECT_EQ(h.At(1, 1), 1);

  // A boundary seed or a missing callback does nothing.
  const size_t before = h.runs.size();
  EXPECT_EQ(g.FillBounds(&h, kltPOS{4, 4}), 1);
  EXPECT_EQ(g.FillBounds(&h, kltPOS{-1, 0}), 1);
  CKLF_2DMath none;
  EXPECT_EQ(none.FillBounds(&h, kltPOS{0, 0}), 1);
  EXPECT_EQ(h.runs.size(), before);
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
}
