#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "CKLF_Image.h"
#include "support/TestSupport.h"

namespace {

const kltRGBA8 kRed = {255, 0, 0, 255}, kClear = {0, 0, 0, 0}, kWhite = {255, 255, 255, 255};

std::vector<int> Px(kltRGBA8 p) { return {p.red, p.green, p.blue, p.alpha}; }
std::vector<int> Px(int r, int g, int b, int a) { return {r, g, b, a}; }

// Fills every plane with random bytes.
void FillPattern(CKLF_Image& img, u32 seed) {
  std::mt19937 rng(seed);
  for (u32 i = 0; i < img.GetMemObj()->GetSize(); ++i) img.GetMemObj()->GetPtr()[i] = static_cast<u8>(rng());
}

bool SameBytes(CKLF_Image& a, CKLF_Image& b) {
  return a.GetMemObj()->GetSize() == b.GetMemObj()->GetSize() &&
         std::memcmp(a.GetMemObj()->GetPtr(), b.GetMemObj()->GetPtr(), a.GetMemObj()->GetSize()) == 0;
}

// Red-plane byte at (x, y).
u8 R(CKLF_Image& img, int x, int y) { return *img.GetPixelPtr(static_cast<u16>(x), static_cast<u16>(y)); }

}  // namespace

TEST(Image, CreateAccessAndRefusals) {
  CKLF_Image img, empty;
  EXPECT_FAILS(img, img.Create(0, 10, 1), 0);
  EXPECT_FAILS(img, img.Create(10, 10, 3), klErrBadArg);
  EXPECT_FAILS(img, img.Create(65535, 65535, 1), klErrNoMemory);  // does not fit 32 bits
  EXPECT_EQ(img.GetMemObj(), nullptr);
  std::vector<int> counts;
  for (u8 mode = 0; mode <= 7; ++mode) counts.push_back(CKLF_Image::PlaneCount(mode));
  EXPECT_EQ(counts, std::vector<int>({0, 3, 4, 4, 5, 1, 2, 0}));

  ASSERT_EQ(img.Create(7, 5, 2), 1);
  EXPECT_EQ(img.GetMemObj()->GetSize(), 7u * 5u * 4u);
  u8* planes[5];
  u32 stride = 0;
  EXPECT_EQ(img.GetImageChannels(planes, stride), 4);
  EXPECT_EQ(stride, 7u);
  EXPECT_EQ(planes[3] - planes[0], 3 * 35);
  EXPECT_FAILS_WITH(img, img.GetPixelPtr(7, 0), nullptr, klErrBadArg);
  EXPECT_FAILS_WITH(empty, empty.GetPixelPtr(0, 0), nullptr, klErrEmpty);
  EXPECT_EQ(empty.GetImageChannels(planes, stride), 0);
  EXPECT_EQ(Px(empty.GetPixel(0, 0)), Px(kClear));

  // RGB pixels read with alpha 255; outside pixels read as zero and are not written.
  ASSERT_EQ(img.Create(4, 3, 1), 1);
  img.Set(kltRGBA8{1, 2, 3, 4}, 0x0F);
  EXPECT_EQ(Px(img.SetPixel(2, 1, kltRGBA8{10, 20, 30, 40})), Px(1, 2, 3, 255));
  EXPECT_EQ(Px(img.GetPixel(kltPOS{2, 1})), Px(10, 20, 30, 255));
  EXPECT_EQ(Px(img.GetPixel(kltPOS{-1, 0})), Px(kClear));
  EXPECT_EQ(img.GetError(), klErrBadArg);
  img.ResetError();
  img.SetPixel(kltPOS{4, 0}, kRed);
  EXPECT_EQ(img.GetError(), klErrBadArg);
}

TEST(Image, CopyAndModeChangeKeepColourPlanes) {
  CKLF_Image rgb, rgba, back, empty, dst;
  ASSERT_EQ(rgb.Create(9, 4, 1), 1);
  FillPattern(rgb, 1);
  ASSERT_EQ(rgba.Create(&rgb, 2), 1);
  EXPECT_EQ(Px(rgba.GetPixel(8, 3)), Px(rgb.GetPixel(8, 3)));
  ASSERT_EQ(back.Create(&rgba, 1), 1);
  EXPECT_TRUE(SameBytes(back, rgb));
  ASSERT_EQ(rgb.ChangeImageMode(2), 1);
  EXPECT_TRUE(SameBytes(rgb, rgba));
  EXPECT_EQ(rgb.ChangeImageMode(2), 1);
  EXPECT_FAILS(rgb, rgb.ChangeImageMode(5), klErrBadArg);
  // Copying an image into itself must not destroy it.
  EXPECT_EQ(rgba.Create(&rgba, 0), 1);
  EXPECT_EQ(Px(rgba.GetPixel(3, 3)), Px(back.GetPixel(3, 3)));
  EXPECT_FAILS(dst, dst.Create(nullptr, 1), klErrBadArg);
  EXPECT_FAILS(dst, dst.Create(&empty, 1), klErrEmpty);
}

TEST(Image, FillsAndCheckerboardClip) {
  CKLF_Image img, empty;
  ASSERT_EQ(img.Create(6, 5, 1), 1);
  ASSERT_EQ(img.Set(kltRGBA8{9, 8, 7, 6}, 0x0F, klNullRect), 1);
  EXPECT_EQ(img.GetMemObj()->GetSize(), 6u * 5u * 3u);  // no alpha written past the block
  EXPECT_EQ(img.Set(kRed, 0x0F, kltRECT_s{10, 10, 20, 20}), 1);  // entirely outside
  EXPECT_EQ(img.GetError(), 0);
  // Only green, clipped from (-3, 3) to (2, 100).
  ASSERT_EQ(img.Set(kltRGBA8{1, 50, 1, 1}, 0x02, kltRECT_s{-3, 3, 2, 100}), 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Px(img.GetPixel(x, y)), Px(9, x < 2 && y >= 3 ? 50 : 8, 7, 255)) << x << "," << y;
  EXPECT_FAILS(empty, empty.Set(kRed, 0xFF), klErrEmpty);

  ASSERT_EQ(img.Create(10, 7, 2), 1);
  const kltRGBA8 c1 = {10, 10, 10, 100}, c2 = {200, 200, 200, 50};
  img.Set(kClear, 0xFF);
  ASSERT_EQ(img.Set(2, 3, c1, c2, kltRECT_s{1, 1, 10, 7}), 1);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool second = (((x - 1) / 2) + ((y - 1) / 3)) % 2 == 0;
      EXPECT_EQ(Px(img.GetPixel(x, y)), Px(x < 1 || y < 1 ? kClear : second ? c2 : c1)) << x << "," << y;
    }
  EXPECT_FAILS(img, img.Set(0, 3, c1, c2, klNullRect), klErrBadArg);
}

TEST(Image, TileRepeatsAndCopyClips) {
  CKLF_Image src, dst, big;
  ASSERT_EQ(src.Create(2, 2, 1), 1);
  for (int i = 0; i < 4; ++i) src.SetPixel(i % 2, i / 2, kltRGBA8{static_cast<u8>(i + 1), 0, 0, 0});
  ASSERT_EQ(dst.Create(8, 6, 2), 1);
  dst.Set(kClear, 0xFF);
  ASSERT_EQ(dst.Tile(&src, klNullRect, kltRECT_s{1, 1, 6, 4}), 1);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool in = x >= 1 && x < 6 && y >= 1 && y < 4;
      EXPECT_EQ(R(dst, x, y), in ? 1 + (x - 1) % 2 + 2 * ((y - 1) % 2) : 0) << x << "," << y;
      EXPECT_EQ(dst.GetPixel(x, y).alpha, in ? 255 : 0);  // the source has no alpha
    }
  EXPECT_FAILS(dst, dst.Tile(&dst, klNullRect, klNullRect), klErrBadArg);

  // A destination rectangle starting at (-1, -1) moves the source start by
  // one; the region ends where the source does.
  ASSERT_EQ(big.Create(5, 5, 1), 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) big.SetPixel(x, y, kltRGBA8{static_cast<u8>(10 * y + x), 0, 0, 0});
  dst.Set(kClear, 0xFF);
  ASSERT_EQ(dst.Set(&big, 2, 0, kltRECT_s{-1, -1, 8, 6}), 1);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(R(dst, x, y), (x + 3 < 5 && y + 1 < 5) ? 10 * (y + 1) + x + 3 : 0) << x << "," << y;
  EXPECT_EQ(dst.Set(&big, 5, 0, klNullRect), 1);  // start outside the source: nothing
}

TEST(Image, BlendFormulas) {
  CKLF_Image dst, src, rgb;
  ASSERT_EQ(dst.Create(3, 1, 2), 1);
  ASSERT_EQ(src.Create(3, 1, 2), 1);
  dst.Set(kltRGBA8{0, 100, 200, 200}, 0xFF);
  src.Set(kltRGBA8{100, 100, 0, 255}, 0xFF);
  src.SetPixel(1, 0, kltRGBA8{100, 100, 0, 128});
  src.SetPixel(2, 0, kltRGBA8{100, 100, 0, 0});
  ASSERT_EQ(dst.Blend(&src, 0, 0, klNullRect, 100), 1);
  // Full opacity and alpha 255: one less than the source. Alpha 128:
  // (d * 127 + 128 * s) >> 8; alpha 200 * 128 / 255 = 100.
  EXPECT_EQ(Px(dst.GetPixel(0, 0)), Px(99, 99, 0, 200));
  EXPECT_EQ(Px(dst.GetPixel(1, 0)), Px(50, 99, 99, 100));
  EXPECT_EQ(Px(dst.GetPixel(2, 0)), Px(0, 99, 199, 0));
  // d - (d - s) * a * 50 / 25500, truncated toward zero.
  dst.Set(kltRGBA8{0, 100, 200, 255}, 0xFF);
  ASSERT_EQ(dst.Blend(&src, 0, 0, klNullRect, 50), 1);
  EXPECT_EQ(Px(dst.GetPixel(0, 0)), Px(50, 100, 100, 255));
  EXPECT_EQ(Px(dst.GetPixel(1, 0)), Px(25, 100, 150, 128));
  // Clipping moves the source start with the rectangle's corner.
  dst.Set(kltRGBA8{0, 100, 200, 255}, 0xFF);
  ASSERT_EQ(dst.Blend(&src, 0, 0, kltRECT_s{-1, 0, 3, 1}, 100), 1);
  EXPECT_EQ(Px(dst.GetPixel(0, 0)), Px(50, 99, 99, 128));
  EXPECT_EQ(Px(dst.GetPixel(2, 0)), Px(0, 100, 200, 255));
  // A source without alpha is copied.
  ASSERT_EQ(rgb.Create(2, 1, 1), 1);
  rgb.Set(kltRGBA8{7, 7, 7, 0}, 0xFF);
  ASSERT_EQ(dst.Blend(&rgb, 0, 0, kltRECT_s{1, 0, 3, 1}, 50), 1);
  EXPECT_EQ(Px(dst.GetPixel(2, 0)), Px(7, 7, 7, 255));
}

TEST(Image, RotationsAndFlipsRoundTrip) {
  CKLF_Image img, ref, empty;
  ASSERT_EQ(img.Create(70, 131, 2), 1);  // larger than one 64-pixel tile
  FillPattern(img, 7);
  ASSERT_EQ(ref.Create(&img, 0), 1);
  ASSERT_EQ(img.Rotate90(), 1);
  EXPECT_EQ(img.GetImageWidth(), 131);
  EXPECT_EQ(img.GetImageHeight(), 70);
  // Counter-clockwise: the old right column becomes the top row.
  for (int y = 0; y < 70; ++y)
    for (int x = 0; x < 131; ++x) ASSERT_EQ(Px(img.GetPixel(x, y)), Px(ref.GetPixel(69 - y, x))) << x << "," << y;
  ASSERT_EQ(img.Rotate270(), 1);
  EXPECT_TRUE(SameBytes(img, ref));
  ASSERT_EQ(img.Rotate270(), 1);
  // Clockwise: the old left column, bottom to top, becomes the top row.
  for (int x = 0; x < 131; ++x) ASSERT_EQ(Px(img.GetPixel(x, 0)), Px(ref.GetPixel(0, 130 - x)));
  ASSERT_EQ(img.Rotate90(), 1);
  ASSERT_EQ(img.Rotate180(), 1);
  EXPECT_EQ(Px(img.GetPixel(5, 9)), Px(ref.GetPixel(64, 121)));
  ASSERT_EQ(img.FlipVert(), 1);
  ASSERT_EQ(img.FlipHor(), 1);
  EXPECT_TRUE(SameBytes(img, ref));
  EXPECT_FAILS(empty, empty.Rotate90(), klErrEmpty);
}

TEST(Image, LineRectAndCircleDrawing) {
  CKLF_Image img, rgba;
  ASSERT_EQ(img.Create(8, 8, 1), 1);
  auto lit = [&] {
    std::vector<std::pair<int, int>> out;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        if (R(img, x, y)) out.push_back({x, y});
    img.Set(kClear, 0xFF);
    return out;
  };
  using P = std::vector<std::pair<int, int>>;
  img.Set(kClear, 0xFF);
  ASSERT_EQ(img.DrawLine(0, 0, 4, 2, kRed, klNullRect), 1);
  EXPECT_EQ(lit(), P({{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}));
  // Walked from y = 7 up to 0, x must still run from 6 to 5.
  img.DrawLine(kltPOS{6, 7}, kltPOS{5, 0}, kRed, klNullRect);
  EXPECT_EQ(lit(), P({{5, 0}, {5, 1}, {5, 2}, {5, 3}, {6, 4}, {6, 5}, {6, 6}, {6, 7}}));
  img.DrawLine(-32768, -32768, 32767, 32767, kRed, kltRECT_s{0, 0, 4, 100});
  EXPECT_EQ(lit(), P({{0, 0}, {1, 1}, {2, 2}, {3, 3}}));
  img.DrawRect(kltRECT_s{1, 1, 5, 4}, kRed, klNullRect);
  EXPECT_EQ(lit(), P({{1, 1}, {2, 1}, {3, 1}, {4, 1}, {1, 2}, {4, 2}, {1, 3}, {2, 3}, {3, 3}, {4, 3}}));
  // The midpoint circle of radius 3 about (4, 4).
  img.DrawCircle(kltPOS{4, 4}, 3, kRed, klNullRect);
  EXPECT_EQ(lit(), P({{3, 1}, {4, 1}, {5, 1}, {2, 2}, {6, 2}, {1, 3}, {7, 3}, {1, 4}, {7, 4}, {1, 5}, {7, 5},
                      {2, 6}, {6, 6}, {3, 7}, {4, 7}, {5, 7}}));
  img.DrawCircle(4, 4, 0, kRed, klNullRect);
  EXPECT_EQ(lit(), P({{4, 4}}));
  // Extreme rectangles are cut to 16-bit coordinates, without overflow.
  EXPECT_EQ(img.DrawRect(kltRECT_s{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}, kRed, klNullRect), 1);

  // Half-transparent colour blends: (a*c + (255-a)*d) >> 8.
  ASSERT_EQ(rgba.Create(8, 8, 2), 1);
  rgba.Set(kltRGBA8{100, 100, 100, 100}, 0xFF);
  rgba.DrawLine(0, 0, 0, 0, kltRGBA8{200, 0, 0, 128}, klNullRect);
  EXPECT_EQ(Px(rgba.GetPixel(0, 0)), Px(149, 49, 49, 179));
  rgba.DrawAlphaLine(0, 1, 7, 1, 9, klNullRect);
  EXPECT_EQ(Px(rgba.GetPixel(4, 1)), Px(100, 100, 100, 9));
}

TEST(Image, AntiAliasedLineCoverage) {
  CKLF_Image img, a, b, m, t;
  ASSERT_EQ(img.Create(12, 7, 2), 1);
  img.Set(kClear, 0xFF);
  ASSERT_EQ(img.DrawAALine(1, 3, 10, 3, kWhite, klNullRect, 0), 1);
  // On the line coverage 255, e = 254; one pixel away (1 - 2/3)^2 * 255 =
  // 28, e = 27; two away nothing.
  for (int x = 0; x < 12; ++x) {
    const bool on = x >= 1 && x <= 10;
    EXPECT_EQ(Px(img.GetPixel(x, 3)), on ? Px(253, 253, 253, 254) : Px(kClear)) << x;  // (255 * 254) >> 8
    EXPECT_EQ(Px(img.GetPixel(x, 2)), on ? Px(26, 26, 26, 27) : Px(kClear)) << x;
    EXPECT_EQ(R(img, x, 1), 0);
  }
  // A one-point line draws its centre pixel only.
  img.Set(kClear, 0xFF);
  img.DrawAALine(0, 0, 0, 0, kWhite, klNullRect, 0);
  EXPECT_EQ(std::vector<int>({R(img, 0, 0), R(img, 1, 0), R(img, 0, 1)}), std::vector<int>({253, 0, 0}));

  // Drawn from either end, mirrored or transposed, a line gives the
  // correspondingly moved pixels.
  for (CKLF_Image* i : {&a, &b, &m, &t}) {
    ASSERT_EQ(i->Create(20, 20, 2), 1);
    i->Set(kClear, 0xFF);
  }
  a.DrawAALine(2, 3, 17, 9, kWhite, klNullRect, 1);
  b.DrawAALine(17, 9, 2, 3, kWhite, klNullRect, 1);
  m.DrawAALine(2, 16, 17, 10, kWhite, klNullRect, 1);
  t.DrawAALine(3, 2, 9, 17, kWhite, klNullRect, 1);
  EXPECT_TRUE(SameBytes(a, b));
  ASSERT_EQ(m.FlipVert(), 1);
  EXPECT_TRUE(SameBytes(a, m));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(R(t, x, y), R(a, y, x)) << x << "," << y;
}
