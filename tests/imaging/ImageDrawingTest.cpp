#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "CKLF_ImageDrawing.h"

namespace {

struct Plane {
  int w, h, stride;
  std::vector<u8> px;
  Plane(int w_, int h_, int stride_ = 0, u8 fill = 0)
      : w(w_), h(h_), stride(stride_ ? stride_ : w_), px(static_cast<size_t>(stride) * h_, fill) {}
  u8& At(int x, int y) { return px[static_cast<size_t>(y) * stride + x]; }
  bool Bit(int x, int y) const { return (px[static_cast<size_t>(y) * stride + x / 8] >> (7 - x % 8)) & 1; }
};

// The anti-aliased segment as plainly stated: every pixel of the bounding
// box is tested.
void ReferenceHQ(Plane& p, kltRECT_s clip, double x1, double y1, double x2, double y2, double width, bool caps,
                 bool maxBlend, bool feather, u8 value) {
  if (x1 == x2 && y1 == y2) return;
  if (width < 2.1) caps = false;
  const double h = width / 2;
  int l = static_cast<int>(std::trunc(std::min(x1, x2) - h - 1.0));
  int r = static_cast<int>(std::trunc(std::max(x1, x2) + h + 1.0));
  int t = static_cast<int>(std::trunc(std::min(y1, y2) - h - 1.0));
  int b = static_cast<int>(std::trunc(std::max(y1, y2) + h + 1.0));
  int cl = 0, ct = 0, cr = p.w, cb = p.h;
  if (!klIsNullRect(clip)) {
    cl = std::max(cl, clip.left);
    ct = std::max(ct, clip.top);
    cr = std::min(cr, clip.right);
    cb = std::min(cb, clip.bottom);
  }
  l = std::max(l, cl);
  t = std::max(t, ct);
  r = std::min(r, cr - 1);
  b = std::min(b, cb - 1);
  const double dx = x2 - x1, dy = y2 - y1, l2 = dx * dx + dy * dy, L = std::sqrt(l2);
  const double S = feather ? 1.414213 : L / std::max(std::fabs(dx), std::fabs(dy));
  const double rin = h - S / 2, rout = h + S / 2, e = (S / 2) / L, c = caps ? h / L : 0.0;
  for (int y = t; y <= b; ++y)
    for (int x = l; x <= r; ++x) {
      const double px = x + (feather ? 0.5 : 0.0), py = y + 0.5;
      const double tt = ((px - x1) * dx + (py - y1) * dy) / l2;
      const double fx = x1 + tt * dx - px, fy = y1 + tt * dy - py;
      double dist = std::sqrt(fx * fx + fy * fy);
      int cov = -1;
      if (!(tt < -(c + e) || tt > 1 + c + e || dist > rout)) {
        bool body = true;
        if (tt < e || tt > 1 - e) {
          if (caps) {
            dist = std::min(std::sqrt((px - x1) * (px - x1) + (py - y1) * (py - y1)),
                            std::sqrt((px - x2) * (px - x2) + (py - y2) * (py - y2)));
            if (dist > rout) body = false;
          } else {
            double a = tt < e ? 0.5 + tt / (2 * e) : 0.5 + (1 - tt) / (2 * e);
            if (dist > rin) a = std::min(a, 0.5 - (dist - h) / S);
            cov = static_cast<int>(a * value);
            body = false;
          }
        }
        if (body) cov = dist < rin ? value : value - static_cast<int>(value * ((dist - h) / S + 0.5));
      }
      u8& d = p.At(x, y);
      if (maxBlend) {
        if (cov > d) d = static_cast<u8>(cov);
      } else {
        d = cov < 0 ? 0 : static_cast<u8>(cov);
      }
    }
}

// Bresenham over every step, each pixel tested against the clip.
template <class Plot>
void NaiveBresenham(int x0, int y0, int x1, int y1, Plot plot) {
  const long dx = x1 - x0, dy = y1 - y0;
  const bool xMajor = std::labs(dx) >= std::labs(dy);
  const long dU = xMajor ? std::labs(dx) : std::labs(dy), du = xMajor ? std::labs(dy) : std::labs(dx);
  const int sMaj = (xMajor ? dx : dy) < 0 ? -1 : 1, sMin = (xMajor ? dy : dx) < 0 ? -1 : 1;
  long ma = xMajor ? x0 : y0, mi = xMajor ? y0 : x0, d = 2 * du - dU;
  for (long i = 0; i <= dU; ++i) {
    if (xMajor)
      plot(ma, mi);
    else
      plot(mi, ma);
    if (d >= 0) {
      mi += sMin;
      d -= 2 * dU;
    }
    d += 2 * du;
    ma += sMaj;
  }
}

bool InClip(const Plane& p, kltRECT_s c, long x, long y) {
  if (x < 0 || y < 0 || x >= p.w || y >= p.h) return false;
  return klIsNullRect(c) || (x >= c.left && x < c.right && y >= c.top && y < c.bottom);
}

}  // namespace

TEST(ImageDrawing, FastRowRangesEqualReferenceOnRandomLines) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  CKLF_ImageDrawing d;
  for (int round = 0; round < 3000; ++round) {
    const int W = 20 + static_cast<int>(rng() % 100), H = 20 + static_cast<int>(rng() % 80);
    Plane fast(W, H, W + static_cast<int>(rng() % 5));
    for (auto& v : fast.px) v = static_cast<u8>(rng() % 4 == 0 ? rng() : 0);
    Plane ref = fast;
    // End points partly outside, some axis-parallel, some very short.
    double x1 = u01(rng) * (W + 40) - 20, y1 = u01(rng) * (H + 40) - 20;
    double x2 = u01(rng) * (W + 40) - 20, y2 = u01(rng) * (H + 40) - 20;
    const int kind = round % 6;
    if (kind == 1) y2 = y1;
    if (kind == 2) x2 = x1;
    if (kind == 3) x2 = x1 + u01(rng) * 0.8, y2 = y1 + u01(rng) * 0.8;
    if (kind == 4) x1 = std::floor(x1), y1 = std::floor(y1) + 0.5, x2 = std::floor(x2), y2 = std::floor(y2) + 0.5;
    const double width = kind == 5 ? u01(rng) * 2.5 : 0.3 + u01(rng) * 14;
    const bool caps = rng() & 1, maxBlend = rng() & 1, feather = rng() & 1;
    const u8 value = static_cast<u8>(rng() % 3 == 0 ? rng() : 255);
    kltRECT_s clip = klNullRect;
    if (rng() % 3 == 0) {
      clip.left = static_cast<int>(rng() % W) - 5;
      clip.top = static_cast<int>(rng() % H) - 5;
      clip.right = clip.left + static_cast<int>(rng() % W) + 1;
      clip.bottom = clip.top + static_cast<int>(rng() % H) + 1;
    }
    ASSERT_EQ(d.SetDestination(fast.px.data(), W, fast.stride, H), 1);
    d.SetClipRect(clip);
    d.SetValue(value);
    ASSERT_EQ(d.DrawHQLine(x1, y1, x2, y2, width, caps, maxBlend, feather), 1);
    ReferenceHQ(ref, clip, x1, y1, x2, y2, width, caps, maxBlend, feather, value);
    ASSERT_EQ(fast.px, ref.px) << "round " << round << ": (" << x1 << "," << y1 << ")-(" << x2 << "," << y2
                               << ") w " << width << " caps " << caps << " max " << maxBlend << " feather "
                               << feather;
  }
}

TEST(ImageDrawing, WideLineInnerAndOuterRadii) {
  // Horizontal, width 4, through y = 10: S = 1, inner radius 1.5, outer
  // 2.5. Samples at y + 0.5.
  Plane p(40, 20, 0, 77);
  CKLF_ImageDrawing d;
  ASSERT_EQ(d.SetDestination(p.px.data(), 40, 40, 20), 1);
  ASSERT_EQ(d.DrawHQLine(5.0, 10.0, 30.0, 10.0, 4.0, 0, 0, 0), 1);
  for (int y = 0; y < 20; ++y) {
    const u8 want = (y >= 8 && y <= 11) ? 255 : 0;
    EXPECT_EQ(p.At(15, y), (y >= 7 && y <= 13) ? want : 77) << y;  // the box: h + 1 each way
  }
  // Moved by 0.3: one ramp pixel on each side.
  Plane q(40, 20);
  d.SetDestination(q.px.data(), 40, 40, 20);
  ASSERT_EQ(d.DrawHQLine(5.0, 10.3, 30.0, 10.3, 4.0, 0, 0, 0), 1);
  EXPECT_EQ(q.At(15, 7), 0);
  EXPECT_EQ(q.At(15, 8), 255 - static_cast<int>(255 * 0.3));  // dist 1.8
  EXPECT_EQ(q.At(15, 9), 255);
  EXPECT_EQ(q.At(15, 11), 255);
  EXPECT_EQ(q.At(15, 12), 255 - static_cast<int>(255 * 0.7));  // dist 2.2
  EXPECT_EQ(q.At(15, 13), 0);

  // A diagonal: the edge width is L / max(|dx|, |dy|) = sqrt 2.
  Plane g(40, 40);
  d.SetDestination(g.px.data(), 40, 40, 40);
  ASSERT_EQ(d.DrawHQLine(0.0, 0.5, 39.0, 39.5, 4.0, 0, 0, 0), 1);
  // Sample (x, 20.5) lies (x - 20) / sqrt 2 from the line; the inner
  // radius is 2 - 0.707, the outer 2 + 0.707.
  EXPECT_EQ(g.At(20, 20), 255);
  EXPECT_EQ(g.At(21, 20), 255);
  const double s2 = std::sqrt(2.0);
  EXPECT_EQ(g.At(22, 20), 255 - static_cast<int>(255 * ((2 / s2 - 2.0) / s2 + 0.5)));  // 234
  EXPECT_EQ(g.At(23, 20), 255 - static_cast<int>(255 * ((3 / s2 - 2.0) / s2 + 0.5)));  // 106
  EXPECT_EQ(g.At(22, 20), 234);
  EXPECT_EQ(g.At(24, 20), 0);
}

TEST(ImageDrawing, EndRampsAndRoundCaps) {
  CKLF_ImageDrawing d;
  // Without caps: half coverage at the end points, nothing before them.
  Plane p(40, 20);
  d.SetDestination(p.px.data(), 40, 40, 20);
  ASSERT_EQ(d.DrawHQLine(10.0, 10.5, 30.0, 10.5, 3.0, 0, 1, 0), 1);
  EXPECT_EQ(p.At(9, 10), 0);
  EXPECT_EQ(p.At(10, 10), 127);
  EXPECT_EQ(p.At(11, 10), 255);
  EXPECT_EQ(p.At(30, 10), 127);
  EXPECT_EQ(p.At(31, 10), 0);
  // Feathered: samples at pixel centres and an edge of sqrt 2, so the ramp
  // runs over e = 0.7071 / 20 of the segment on both sides of each end.
  Plane f(40, 20);
  d.SetDestination(f.px.data(), 40, 40, 20);
  ASSERT_EQ(d.DrawHQLine(10.0, 10.5, 30.0, 10.5, 3.0, 0, 1, 1), 1);
  const double e = (1.414213 / 2) / 20;
  EXPECT_EQ(f.At(9, 10), static_cast<int>((0.5 - 0.025 / (2 * e)) * 255));
  EXPECT_EQ(f.At(10, 10), static_cast<int>((0.5 + 0.025 / (2 * e)) * 255));
  EXPECT_EQ(f.At(8, 10), 0);

  // Round caps of width 8: a pixel 3 before the start, on the axis, is inside
  // the cap (distance to the end 3.04 < inner radius 3.5); without caps it
  // is outside. Width 2.0 switches caps off.
  Plane c(60, 40), n(60, 40), w2(60, 40), w2n(60, 40);
  d.SetDestination(c.px.data(), 60, 60, 40);
  ASSERT_EQ(d.DrawHQLine(20.0, 20.0, 40.0, 20.0, 8.0, 1, 1, 0), 1);
  d.SetDestination(n.px.data(), 60, 60, 40);
  ASSERT_EQ(d.DrawHQLine(20.0, 20.0, 40.0, 20.0, 8.0, 0, 1, 0), 1);
  EXPECT_EQ(c.At(17, 20), 255);
  EXPECT_EQ(n.At(17, 20), 0);
  EXPECT_EQ(c.At(43, 19), 255);
  // The cap is round: (16, 16) is 4.5 + away from the end point.
  EXPECT_EQ(c.At(16, 16), 0);
  EXPECT_EQ(c.At(30, 16), 255);
  d.SetDestination(w2.px.data(), 60, 60, 40);
  d.DrawHQLine(20.0, 20.0, 40.0, 20.0, 2.0, 1, 1, 0);
  d.SetDestination(w2n.px.data(), 60, 60, 40);
  d.DrawHQLine(20.0, 20.0, 40.0, 20.0, 2.0, 0, 1, 0);
  EXPECT_EQ(w2.px, w2n.px);
}

TEST(ImageDrawing, MaxBlendKeepsTheLargerValue) {
  CKLF_ImageDrawing d;
  Plane p(50, 30, 0, 0);
  for (int x = 0; x < 50; ++x) p.At(x, 15) = 200, p.At(x, 14) = 10;
  d.SetDestination(p.px.data(), 50, 50, 30);
  d.SetValue(120);
  ASSERT_EQ(d.DrawHQLine(5.0, 15.0, 45.0, 15.0, 3.0, 1, 1, 0), 1);
  EXPECT_EQ(p.At(20, 15), 200);  // larger value kept
  EXPECT_EQ(p.At(20, 14), 120);  // smaller raised
  EXPECT_EQ(p.At(20, 5), 0);
  // The same line again changes nothing.
  Plane before = p;
  ASSERT_EQ(d.DrawHQLine(5.0, 15.0, 45.0, 15.0, 3.0, 1, 1, 0), 1);
  EXPECT_EQ(p.px, before.px);
  // Overwriting instead: the box is cleared, the line takes value 120.
  ASSERT_EQ(d.DrawHQLine(5.0, 15.0, 45.0, 15.0, 3.0, 1, 0, 0), 1);
  EXPECT_EQ(p.At(20, 15), 120);
  EXPECT_EQ(p.At(20, 14), 120);
  EXPECT_EQ(p.At(20, 12), 0);
}

TEST(ImageDrawing, PlainLinesMatchBresenhamEverywhere) {
  std::mt19937 rng(77);
  CKLF_ImageDrawing d;
  d.SetAntiAlias(0);
  for (int round = 0; round < 1500; ++round) {
    const int W = 1 + static_cast<int>(rng() % 90), H = 1 + static_cast<int>(rng() % 70);
    const int variant = round % 3;  // 1-pixel, disc, one-bit
    const int stride = variant == 2 ? (W + 7) / 8 + static_cast<int>(rng() % 3) : W + static_cast<int>(rng() % 3);
    Plane fast(W, H, stride), ref(W, H, stride);
    const double span = round % 10 == 0 ? 200000.0 : 200.0;  // far-away ends now and then
    std::uniform_real_distribution<double> c(-span / 2, span / 2);
    const double x1 = c(rng), y1 = c(rng), x2 = c(rng), y2 = c(rng);
    kltRECT_s clip = klNullRect;
    if (rng() % 2) clip = kltRECT_s{static_cast<i32>(rng() % W) - 3, static_cast<i32>(rng() % H) - 3,
                                    static_cast<i32>(rng() % (W + 5)), static_cast<i32>(rng() % (H + 5))};
    const double width = variant == 1 ? 2.0 + (rng() % 9) + 0.7 : 1.5;
    const u8 value = static_cast<u8>(100 + rng() % 150);
    for (auto& v : fast.px) v = static_cast<u8>(rng() % 200);
    ref.px = fast.px;
    d.SetDestination(fast.px.data(), W, stride, H);
    d.SetClipRect(clip);
    d.SetValue(value);
    d.SetOneBit(variant == 2);
    ASSERT_EQ(d.DrawHQLine(x1, y1, x2, y2, width, 1, 0, 1), 1);

    const int n = static_cast<int>(width), n2 = n / 2;
    NaiveBresenham(static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2), static_cast<int>(y2),
                   [&](long x, long y) {
                     if (variant == 1) {
                       if (x + n < 0 || y + n < 0 || x - n >= W || y - n >= H) return;
                       for (long py = y - n2; py < y - n2 + n; ++py)
                         for (long px = x - n2; px < x - n2 + n; ++px)
                           if (InClip(ref, clip, px, py) &&
                               4 * (x - px) * (x - px) + 4 * (y - py) * (y - py) <= n * n)
                             ref.At(px, py) = std::max(ref.At(px, py), value);
                       return;
                     }
                     if (!InClip(ref, clip, x, y)) return;
                     if (variant == 2)
                       ref.px[static_cast<size_t>(y) * stride + x / 8] |= static_cast<u8>(0x80 >> (x % 8));
                     else
                       ref.At(x, y) = std::max(ref.At(x, y), value);
                   });
    ASSERT_EQ(fast.px, ref.px) << "round " << round << " variant " << variant;
  }
}

TEST(ImageDrawing, PlainVariantsSmallCases) {
  CKLF_ImageDrawing d;
  // One-bit plane: (0, 0) to (9, 0) gives 0xFF 0xC0, even with the
  // anti-aliasing flag on.
  Plane b(16, 2, 2);
  d.SetDestination(b.px.data(), 16, 2, 2);
  d.SetOneBit(1);
  ASSERT_EQ(d.DrawHQLine(0.0, 0.0, 9.0, 0.0, 3.0, 1, 1, 1), 1);
  EXPECT_EQ(b.px[0], 0xFF);
  EXPECT_EQ(b.px[1], 0xC0);
  EXPECT_EQ(b.px[2], 0x00);
  EXPECT_TRUE(b.Bit(9, 0));
  EXPECT_FALSE(b.Bit(10, 0));

  // Width 1.9 without anti-aliasing: the 1-pixel line, ends cut toward zero.
  d.SetOneBit(0);
  d.SetAntiAlias(0);
  Plane p(10, 10);
  d.SetDestination(p.px.data(), 10, 10, 10);
  ASSERT_EQ(d.DrawHQLine(-0.7, 0.9, 4.9, 2.2, 1.9, 0, 0, 0), 1);
  int count = 0;
  for (u8 v : p.px) count += v != 0;
  EXPECT_EQ(count, 5);
  const int ys[5] = {0, 1, 1, 2, 2};  // Bresenham from (0, 0) to (4, 2)
  for (int x = 0; x < 5; ++x) EXPECT_EQ(p.At(x, ys[x]), 255) << x;

  // Width 2.0: discs of diameter 2 are three pixels, (x, y - 1), (x - 1, y)
  // and (x, y).
  Plane q(10, 10);
  d.SetDestination(q.px.data(), 10, 10, 10);
  ASSERT_EQ(d.DrawHQLineNAAnPix(5, 5, 5, 5, 2.0), 1);
  count = 0;
  for (u8 v : q.px) count += v != 0;
  EXPECT_EQ(count, 3);
  EXPECT_EQ(q.At(5, 4), 255);
  EXPECT_EQ(q.At(4, 5), 255);
  EXPECT_EQ(q.At(5, 5), 255);
  ASSERT_EQ(d.DrawHQLine(1.0, 8.0, 6.0, 8.0, 2.0, 0, 0, 0), 1);
  for (int x = 0; x <= 6; ++x) EXPECT_EQ(q.At(x, 8), 255) << x;
  for (int x = 1; x <= 6; ++x) EXPECT_EQ(q.At(x, 7), 255) << x;
  EXPECT_EQ(q.At(0, 7), 0);
}

TEST(ImageDrawing, PolylinesSkipClosePoints) {
  CKLF_ImageDrawing d;
  const kltFPOS close[4] = {{10, 10}, {10.5, 10.2}, {10.2, 10.6}, {30, 25}};
  Plane a(40, 40), b(40, 40);
  d.SetDestination(a.px.data(), 40, 40, 40);
  ASSERT_EQ(d.DrawHQPolyLine(close, 4, 3.0, 1, 0, 0, 1.0), 1);
  d.SetDestination(b.px.data(), 40, 40, 40);
  ASSERT_EQ(d.DrawHQLine(close[0], close[3], 3.0, 1, 0, 0), 1);
  EXPECT_EQ(a.px, b.px);

  // Points beyond minDist2 each start a segment.
  const kltFPOS zig[5] = {{5, 5}, {5.5, 5}, {20, 5}, {20, 5.4}, {20, 30}};
  Plane c(40, 40), e(40, 40);
  d.SetDestination(c.px.data(), 40, 40, 40);
  ASSERT_EQ(d.DrawHQPolyLine(zig, 5, 2.5, 1, 1, 0, 1.0), 1);
  d.SetDestination(e.px.data(), 40, 40, 40);
  d.DrawHQLine(zig[0], zig[2], 2.5, 1, 1, 0);
  d.DrawHQLine(zig[2], zig[4], 2.5, 1, 1, 0);
  EXPECT_EQ(c.px, e.px);

  EXPECT_EQ(d.DrawHQPolyLine(zig, 1, 2.5, 1, 1, 0, 1.0), 0);
  EXPECT_EQ(d.GetError(), klErrBadArg);
  EXPECT_EQ(d.DrawHQPolyLine(nullptr, 5, 2.5, 1, 1, 0, 1.0), 0);
}

TEST(ImageDrawing, DestinationsAndBadInput) {
  CKLF_ImageDrawing d;
  EXPECT_EQ(d.DrawHQLine(0.0, 0.0, 5.0, 5.0, 2.0, 0, 0, 0), 0);
  EXPECT_EQ(d.GetError(), klErrEmpty);
  EXPECT_EQ(d.SetDestination(nullptr, 10, 10, 10), 0);

  CKLF_Image rgb, rgba;
  ASSERT_EQ(rgb.Create(8, 6, 1), 1);
  ASSERT_EQ(rgba.Create(8, 6, 2), 1);
  rgba.Set(kltRGBA8{1, 2, 3, 0}, 0xFF);
  d.ResetError();
  EXPECT_EQ(d.SetDestination(&rgb), 0);
  EXPECT_EQ(d.GetError(), klErrBadArg);
  EXPECT_EQ(d.SetDestination(nullptr), 0);
  ASSERT_EQ(d.SetDestination(&rgba), 1);
  ASSERT_EQ(d.DrawHQLine(0.0, 3.0, 8.0, 3.0, 2.0, 0, 1, 0), 1);
  EXPECT_EQ(rgba.GetPixel(4, 3).alpha, 255);  // the alpha plane took the line
  EXPECT_EQ(rgba.GetPixel(4, 3).red, 1);      // colour planes untouched
  EXPECT_EQ(rgba.GetPixel(4, 0).alpha, 0);

  // Zero length draws nothing; non-finite or absurd values are refused.
  Plane p(10, 10, 0, 9);
  d.SetDestination(p.px.data(), 10, 10, 10);
  EXPECT_EQ(d.DrawHQLine(3.0, 3.0, 3.0, 3.0, 5.0, 0, 0, 0), 1);
  for (u8 v : p.px) ASSERT_EQ(v, 9);
  EXPECT_EQ(d.DrawHQLine(NAN, 3.0, 3.0, 4.0, 5.0, 0, 0, 0), 0);
  EXPECT_EQ(d.GetError(), klErrBadArg);
  EXPECT_EQ(d.DrawHQLine(0.0, 3.0, INFINITY, 4.0, 5.0, 0, 0, 0), 0);
  d.SetAntiAlias(0);
  EXPECT_EQ(d.DrawHQLine(0.0, 3.0, 1e12, 4.0, 1.0, 0, 0, 0), 0);
  EXPECT_EQ(d.DrawHQLineNAAnPix(0.0, 3.0, 5.0, 4.0, 1e9), 0);
  d.SetAntiAlias(1);
  // A stride narrower than the width would write into the next row.
  d.SetDestination(p.px.data(), 10, 5, 10);
  d.ResetError();
  EXPECT_EQ(d.DrawHQLine(0.0, 3.0, 5.0, 4.0, 2.0, 0, 0, 0), 0);
  EXPECT_EQ(d.GetError(), klErrBadArg);
  // A clip rectangle beyond the plane is cut to it.
  d.SetDestination(p.px.data(), 10, 10, 10);
  d.SetClipRect(kltRECT_s{-100, -100, 100, 100});
  EXPECT_EQ(d.DrawHQLine(-50.0, -50.0, 60.0, 60.0, 6.0, 1, 0, 0), 1);
  EXPECT_EQ(p.At(5, 5), 255);
}
