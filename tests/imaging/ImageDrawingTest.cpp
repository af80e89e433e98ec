#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "CKLF_ImageDrawing.h"
#include "support/TestSupport.h"

namespace {

struct Plane {
  int w, h, stride;
  std::vector<u8> px;
  Plane(int w_, int h_, int stride_ = 0, u8 fill = 0)
      : w(w_), h(h_), stride(stride_ ? stride_ : w_), px(static_cast<size_t>(stride) * h_, fill) {}
  u8& At(int x, int y) { return px[static_cast<size_t>(y) * stride + x]; }
};

// The anti-aliased segment as plainly stated: every pixel of the bounding
// box is tested.
void ReferenceHQ(Plane& p, kltRECT_s clip, double x1, double y1, double x2, double y2, double width, bool caps,
                 bool maxBlend, bool feather, u8 value) {
  if (x1 == x2 && y1 == y2) return;
  caps = caps && width >= 2.1;
  const double h = width / 2, dx = x2 - x1, dy = y2 - y1, l2 = dx * dx + dy * dy, L = std::sqrt(l2);
  const double S = feather ? 1.414213 : L / std::max(std::fabs(dx), std::fabs(dy));
  const double rin = h - S / 2, rout = h + S / 2, e = (S / 2) / L, c = caps ? h / L : 0.0;
  int l = std::max(0, static_cast<int>(std::trunc(std::min(x1, x2) - h - 1.0)));
  int t = std::max(0, static_cast<int>(std::trunc(std::min(y1, y2) - h - 1.0)));
  int r = std::min(p.w - 1, static_cast<int>(std::trunc(std::max(x1, x2) + h + 1.0)));
  int b = std::min(p.h - 1, static_cast<int>(std::trunc(std::max(y1, y2) + h + 1.0)));
  if (!klIsNullRect(clip)) {
    l = std::max(l, clip.left), t = std::max(t, clip.top);
    r = std::min(r, clip.right - 1), b = std::min(b, clip.bottom - 1);
  }
  for (int y = t; y <= b; ++y)
    for (int x = l; x <= r; ++x) {
      const double px = x + (feather ? 0.5 : 0.0), py = y + 0.5;
      const double tt = ((px - x1) * dx + (py - y1) * dy) / l2;
      const double fx = x1 + tt * dx - px, fy = y1 + tt * dy - py;
      double dist = std::sqrt(fx * fx + fy * fy);
      int cov = -1;
      if (!(tt < -(c + e) || tt > 1 + c + e || dist > rout)) {
        bool body = true;
        if ((tt < e || tt > 1 - e) && caps) {
          dist = std::min(std::sqrt((px - x1) * (px - x1) + (py - y1) * (py - y1)),
                          std::sqrt((px - x2) * (px - x2) + (py - y2) * (py - y2)));
          body = dist <= rout;
        } else if (tt < e || tt > 1 - e) {
          double a = tt < e ? 0.5 + tt / (2 * e) : 0.5 + (1 - tt) / (2 * e);
          if (dist > rin) a = std::min(a, 0.5 - (dist - h) / S);
          cov = static_cast<int>(a * value);
          body = false;
        }
        if (body) cov = dist < rin ? value : value - static_cast<int>(value * ((dist - h) / S + 0.5));
      }
      u8& d = p.At(x, y);
      d = maxBlend ? std::max<int>(d, cov) : std::max(cov, 0);
    }
}

// Bresenham over every step.
template <class Plot>
void NaiveBresenham(long x0, long y0, long x1, long y1, Plot plot) {
  const long dx = x1 - x0, dy = y1 - y0;
  const bool xMajor = std::labs(dx) >= std::labs(dy);
  const long dU = xMajor ? std::labs(dx) : std::labs(dy), du = xMajor ? std::labs(dy) : std::labs(dx);
  const int sMaj = (xMajor ? dx : dy) < 0 ? -1 : 1, sMin = (xMajor ? dy : dx) < 0 ? -1 : 1;
  long ma = xMajor ? x0 : y0, mi = xMajor ? y0 : x0, d = 2 * du - dU;
  for (long i = 0; i <= dU; ++i, ma += sMaj, d += 2 * du) {
    xMajor ? plot(ma, mi) : plot(mi, ma);
    if (d >= 0) mi += sMin, d -= 2 * dU;
  }
}

kltRECT_s RandomClip(std::mt19937& rng, int W, int H) {
  if (rng() % 2) return klNullRect;
  const i32 l = static_cast<i32>(rng() % W) - 5, t = static_cast<i32>(rng() % H) - 5;
  return kltRECT_s{l, t, l + static_cast<i32>(rng() % W) + 1, t + static_cast<i32>(rng() % H) + 1};
}

}  // namespace

TEST(ImageDrawing, FastRowRangesEqualReferenceOnRandomLines) {
  std::mt19937 rng(1234);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  CKLF_ImageDrawing d;
  for (int round = 0; round < 1000; ++round) {
    const int W = 20 + static_cast<int>(rng() % 100), H = 20 + static_cast<int>(rng() % 80);
    Plane fast(W, H, W + static_cast<int>(rng() % 5));
    // Some planes mostly full already (a wide polyline's later joints).
    const bool full = round % 7 == 0;
    for (auto& v : fast.px) v = static_cast<u8>(rng() % 4 == 0 ? rng() : full ? 255 : 0);
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
    const kltRECT_s clip = RandomClip(rng, W, H);
    ASSERT_EQ(d.SetDestination(fast.px.data(), W, fast.stride, H), 1);
    d.SetClipRect(clip);
    d.SetValue(value);
    ASSERT_EQ(d.DrawHQLine(x1, y1, x2, y2, width, caps, maxBlend, feather), 1);
    ReferenceHQ(ref, clip, x1, y1, x2, y2, width, caps, maxBlend, feather, value);
    ASSERT_EQ(fast.px, ref.px) << "round " << round << ": (" << x1 << "," << y1 << ")-(" << x2 << "," << y2
                               << ") w " << width << " caps " << caps << " max " << maxBlend << " feather " << feather;
  }
}

TEST(ImageDrawing, PlainLinesMatchBresenhamEverywhere) {
  std::mt19937 rng(77);
  CKLF_ImageDrawing d;
  d.SetAntiAlias(0);
  for (int round = 0; round < 900; ++round) {
    const int W = 1 + static_cast<int>(rng() % 90), H = 1 + static_cast<int>(rng() % 70);
    const int variant = round % 3;  // 1-pixel, disc, one-bit
    const int stride = (variant == 2 ? (W + 7) / 8 : W) + static_cast<int>(rng() % 3);
    Plane fast(W, H, stride);
    const double span = round % 10 == 0 ? 200000.0 : 200.0;  // far-away ends now and then
    std::uniform_real_distribution<double> c(-span / 2, span / 2);
    const double x1 = c(rng), y1 = c(rng), x2 = c(rng), y2 = c(rng);
    const kltRECT_s clip = RandomClip(rng, W, H);
    // Below 2 the disc brush gives way to the 1-pixel line: the same pixels.
    // Now and then a brush wider than the plane.
    const double width = variant == 1 ? 1.0 + (rng() % (round % 30 == 1 ? 160 : 11)) + (rng() % 2) * 0.9 : 1.5;
    const u8 value = static_cast<u8>(100 + rng() % 150);
    for (auto& v : fast.px) v = static_cast<u8>(rng() % 200);
    Plane ref = fast;
    d.SetDestination(fast.px.data(), W, stride, H);
    d.SetClipRect(clip);
    d.SetValue(value);
    d.SetOneBit(variant == 2);
    ASSERT_EQ(d.DrawHQLine(x1, y1, x2, y2, width, 1, 0, 1), 1);

    auto plot = [&](long x, long y) {
      if (x < 0 || y < 0 || x >= W || y >= H) return;
      if (!klIsNullRect(clip) && (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom)) return;
      if (variant == 2)
        ref.px[static_cast<size_t>(y) * stride + x / 8] |= static_cast<u8>(0x80 >> (x % 8));
      else
        ref.At(x, y) = std::max(ref.At(x, y), value);
    };
    const long n = static_cast<long>(width), n2 = n / 2;
    NaiveBresenham(static_cast<long>(x1), static_cast<long>(y1), static_cast<long>(x2), static_cast<long>(y2),
                   [&](long x, long y) {
                     if (variant != 1) return plot(x, y);
                     if (x + n < 0 || y + n < 0 || x - n >= W || y - n >= H) return;
                     for (long py = y - n2; py < y - n2 + n; ++py)
                       for (long px = x - n2; px < x - n2 + n; ++px)
                         if (4 * ((x - px) * (x - px) + (y - py) * (y - py)) <= n * n) plot(px, py);
                   });
    ASSERT_EQ(fast.px, ref.px) << "round " << round << " variant " << variant;
  }
}

// Knife-like polylines seen through a window, as the layout draws them:
// points over an area three times the plane's, zoomed 1/16 to 16 times,
// widths up to 1,600 pixels, anti-aliased or not. Drawn with a clip
// rectangle they leave the plane outside it as it was, and inside it give
// what the same polyline drawn over the whole plane gives there.
TEST(ImageDrawing, ClippedDrawingIsTheVisiblePartOfTheWhole) {
  std::mt19937 rng(4242);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  CKLF_ImageDrawing d;
  for (int round = 0; round < 160; ++round) {
    const int W = 30 + static_cast<int>(rng() % 200), H = 20 + static_cast<int>(rng() % 150);
    const double zoom = std::ldexp(1.0, static_cast<int>(rng() % 9) - 4);
    const double width = std::min(1600.0, (1 + rng() % 100) * zoom);
    std::vector<kltFPOS> pts(2 + rng() % 7);
    for (kltFPOS& p : pts) p = {u01(rng) * 3 * W - W, u01(rng) * 3 * H - H};
    Plane before(W, H);
    for (u8& v : before.px) v = static_cast<u8>(rng() % 3 == 0 ? rng() : 0);
    Plane whole = before, seen = before;
    const i32 l = static_cast<i32>(rng() % W) - 3, t = static_cast<i32>(rng() % H) - 3;
    const kltRECT_s clip = {l, t, l + 1 + static_cast<i32>(rng() % W), t + 1 + static_cast<i32>(rng() % H)};
    const bool aa = round % 2;
    d.SetAntiAlias(aa);
    d.SetValue(static_cast<u8>(rng() % 2 ? 255 : 60 + rng() % 190));
    const double minDist2 = std::max(1.0, width * 0.5);
    for (Plane* p : {&whole, &seen}) {
      d.SetDestination(p->px.data(), W, W, H);
      d.SetClipRect(p == &whole ? klNullRect : clip);
      ASSERT_EQ(d.DrawHQPolyLine(pts.data(), static_cast<u32>(pts.size()), width, 1, 1, 0, minDist2), 1);
    }
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const bool in = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
        ASSERT_EQ(seen.At(x, y), in ? whole.At(x, y) : before.At(x, y))
            << "round " << round << " at " << x << "," << y << " width " << width << " aa " << aa;
      }
  }
}

// Sets of knife-like polylines blended at once, as the layout draws a
// view: wide ones (up to 1,600 pixels, most over the whole plane) and thin
// ones, anti-aliased or plain, over planes empty, speckled, or mostly at or
// above the drawing value already, give segment by segment what the plain
// statement gives (plain lines: each segment drawn alone, checked against
// Bresenham above).
TEST(ImageDrawing, BlendedPolylinesEqualTheirSegmentsOneByOne) {
  std::mt19937 rng(9001);
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  CKLF_ImageDrawing d, single;
  for (int round = 0; round < 600; ++round) {
    const int W = 16 + static_cast<int>(rng() % 80), H = 12 + static_cast<int>(rng() % 60);
    const u8 value = round % 3 == 0 ? 255 : round % 3 == 1 ? 70 : static_cast<u8>(1 + rng() % 254);
    const int fill = round % 4;  // empty, speckled, mostly at the value, mostly full
    Plane fast(W, H);
    for (u8& v : fast.px)
      v = fill == 0 ? 0 : rng() % 4 == 0 ? static_cast<u8>(rng()) : fill == 1 ? 0 : fill == 2 ? value : 255;
    Plane ref = fast;
    const bool aa = round % 5 != 4, caps = rng() & 1, feather = aa && (rng() & 1);
    const double zoom = std::ldexp(1.0, static_cast<int>(rng() % 9) - 4);
    std::vector<std::vector<kltFPOS>> points(1 + rng() % 5);
    std::vector<CKLF_ImageDrawing::HQPOLYLINE> lines;
    for (std::vector<kltFPOS>& p : points) {
      p.resize(2 + rng() % 7);
      for (size_t i = 0; i < p.size(); ++i) {
        p[i] = {u01(rng) * 3 * W - W, u01(rng) * 3 * H - H};
        // Now and then a point on or near the last (passed over), or far.
        if (i > 0 && rng() % 6 == 0) p[i] = {p[i - 1].x + u01(rng) * (rng() % 2), p[i - 1].y};
        if (aa && rng() % 40 == 0) p[i].x = 1e7;
      }
      const double width = rng() % 4 == 0 ? u01(rng) * 12 - 3 : std::min(1600.0, (1 + rng() % 100) * zoom);
      lines.push_back({p.data(), static_cast<u32>(p.size()), width, std::max(1.0, width * 0.5)});
    }
    const kltRECT_s clip = RandomClip(rng, W, H);
    for (CKLF_ImageDrawing* x : {&d, &single}) {
      x->SetClipRect(clip);
      x->SetValue(value);
      x->SetAntiAlias(aa);
    }
    d.SetDestination(fast.px.data(), W, W, H);
    single.SetDestination(ref.px.data(), W, W, H);
    const CKLF_ImageDrawing::HQPOLYLINE& l0 = lines[0];
    ASSERT_EQ(lines.size() == 1 ? d.DrawHQPolyLine(l0.points, l0.count, l0.width, caps, 1, feather, l0.minDist2)
                                : d.DrawHQPolyLines(lines.data(), static_cast<u32>(lines.size()), caps, 1, feather),
              1);
    for (const CKLF_ImageDrawing::HQPOLYLINE& l : lines)
      for (u32 cur = 0, next; cur + 1 < l.count; cur = next) {
        for (next = cur + 1; next + 1 < l.count; ++next) {
          const double dx = l.points[next].x - l.points[cur].x, dy = l.points[next].y - l.points[cur].y;
          if (dx * dx + dy * dy > l.minDist2) break;
        }
        const kltFPOS a = l.points[cur], b = l.points[next];
        if (aa) ReferenceHQ(ref, clip, a.x, a.y, b.x, b.y, l.width, caps, true, feather, value);
        else ASSERT_EQ(single.DrawHQLine(a, b, l.width, caps, 1, feather), 1);
      }
    ASSERT_EQ(fast.px, ref.px) << "round " << round << " aa " << aa << " lines " << lines.size() << " width "
                               << lines[0].width << " value " << int(value);
  }
}

TEST(ImageDrawing, PolylinesSkipClosePoints) {
  CKLF_ImageDrawing d;
  const kltFPOS close[4] = {{10, 10}, {10.5, 10.2}, {10.2, 10.6}, {30, 25}};
  const kltFPOS zig[5] = {{5, 5}, {5.5, 5}, {20, 5}, {20, 5.4}, {20, 30}};
  Plane a(40, 40), b(40, 40), c(40, 40), e(40, 40);
  d.SetDestination(a.px.data(), 40, 40, 40);
  ASSERT_EQ(d.DrawHQPolyLine(close, 4, 3.0, 1, 0, 0, 1.0), 1);
  d.SetDestination(b.px.data(), 40, 40, 40);
  ASSERT_EQ(d.DrawHQLine(close[0], close[3], 3.0, 1, 0, 0), 1);
  EXPECT_EQ(a.px, b.px);
  // Points beyond minDist2 each start a segment.
  d.SetDestination(c.px.data(), 40, 40, 40);
  ASSERT_EQ(d.DrawHQPolyLine(zig, 5, 2.5, 1, 1, 0, 1.0), 1);
  d.SetDestination(e.px.data(), 40, 40, 40);
  ASSERT_TRUE(d.DrawHQLine(zig[0], zig[2], 2.5, 1, 1, 0));
  ASSERT_TRUE(d.DrawHQLine(zig[2], zig[4], 2.5, 1, 1, 0));
  EXPECT_EQ(c.px, e.px);
  EXPECT_FAILS(d, d.DrawHQPolyLine(zig, 1, 2.5, 1, 1, 0, 1.0), klErrBadArg);
  EXPECT_EQ(d.DrawHQPolyLine(nullptr, 5, 2.5, 1, 1, 0, 1.0), 0);
}

TEST(ImageDrawing, DestinationsAndBadInput) {
  CKLF_ImageDrawing d;
  EXPECT_FAILS(d, d.DrawHQLine(0.0, 0.0, 5.0, 5.0, 2.0, 0, 0, 0), klErrEmpty);
  EXPECT_EQ(d.SetDestination(nullptr, 10, 10, 10), 0);
  // An image's alpha plane takes the line; RGB images have none.
  CKLF_Image rgb, rgba;
  ASSERT_EQ(rgb.Create(8, 6, 1), 1);
  ASSERT_EQ(rgba.Create(8, 6, 2), 1);
  rgba.Set(kltRGBA8{1, 2, 3, 0}, 0xFF);
  EXPECT_EQ(d.SetDestination(&rgb), 0);
  ASSERT_EQ(d.SetDestination(&rgba), 1);
  ASSERT_EQ(d.DrawHQLine(0.0, 3.0, 8.0, 3.0, 2.0, 0, 1, 0), 1);
  EXPECT_EQ(std::vector<int>({rgba.GetPixel(4, 3).alpha, rgba.GetPixel(4, 3).red, rgba.GetPixel(4, 0).alpha}),
            std::vector<int>({255, 1, 0}));
  // Zero length draws nothing; non-finite or absurd values are refused.
  Plane p(10, 10, 0, 9);
  d.SetDestination(p.px.data(), 10, 10, 10);
  EXPECT_EQ(d.DrawHQLine(3.0, 3.0, 3.0, 3.0, 5.0, 0, 0, 0), 1);
  EXPECT_EQ(p.px, std::vector<u8>(100, 9));
  EXPECT_FAILS(d, d.DrawHQLine(NAN, 3.0, 3.0, 4.0, 5.0, 0, 0, 0), klErrBadArg);
  EXPECT_EQ(d.DrawHQLine(0.0, 3.0, INFINITY, 4.0, 5.0, 0, 0, 0), 0);
  d.SetAntiAlias(0);
  EXPECT_EQ(d.DrawHQLine(0.0, 3.0, 1e12, 4.0, 1.0, 0, 0, 0), 0);
  EXPECT_EQ(d.DrawHQLineNAAnPix(0.0, 3.0, 5.0, 4.0, 1e9), 0);
  d.SetAntiAlias(1);
  // A set drawn at once leaves out a polyline that cannot be drawn, and
  // draws the others.
  const kltFPOS good[2] = {{1, 1}, {8, 8}}, bad[2] = {{1, 1}, {NAN, 8}};
  const CKLF_ImageDrawing::HQPOLYLINE set[2] = {{bad, 2, 12.0, 1.0}, {good, 2, 12.0, 1.0}};
  for (const u8 aa : {1, 0}) {
    Plane both(10, 10), alone(10, 10);
    d.SetAntiAlias(aa);
    d.SetDestination(both.px.data(), 10, 10, 10);
    EXPECT_FAILS(d, d.DrawHQPolyLines(set, 2, 1, 1, 0), klErrBadArg);
    d.SetDestination(alone.px.data(), 10, 10, 10);
    ASSERT_EQ(d.DrawHQPolyLines(set + 1, 1, 1, 1, 0), 1);
    EXPECT_EQ(both.px, alone.px);
    EXPECT_EQ(both.At(5, 5), 255);
  }
  d.SetAntiAlias(1);
  // A stride narrower than the width would write into the next row.
  d.SetDestination(p.px.data(), 10, 5, 10);
  d.ResetError();
  EXPECT_FAILS(d, d.DrawHQLine(0.0, 3.0, 5.0, 4.0, 2.0, 0, 0, 0), klErrBadArg);
}
