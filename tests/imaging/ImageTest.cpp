#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "CKLF_Image.h"

namespace {

const kltRGBA8 kRed = {255, 0, 0, 255};

bool SamePixel(kltRGBA8 a, kltRGBA8 b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.alpha == b.alpha;
}

// Fills every plane with distinct, position-dependent bytes.
void FillPattern(CKLF_Image& img, u32 seed) {
  u8* planes[5];
  u32 stride;
  const u8 n = img.GetImageChannels(planes, stride);
  std::mt19937 rng(seed);
  for (u8 k = 0; k < n; ++k)
    for (u32 i = 0; i < stride * img.GetImageHeight(); ++i) planes[k][i] = static_cast<u8>(rng());
}

// Red-plane byte at (x, y).
u8 R(CKLF_Image& img, int x, int y) { return *img.GetPixelPtr(static_cast<u16>(x), static_cast<u16>(y)); }

}  // namespace

TEST(Image, CreateModesAndRefusals) {
  CKLF_Image img;
  EXPECT_EQ(img.Create(0, 10, 1), 0);
  EXPECT_EQ(img.GetError(), 0);
  EXPECT_EQ(img.GetMemObj(), nullptr);
  EXPECT_EQ(img.GetImageMode(), 0);

  EXPECT_EQ(img.Create(10, 10, 3), 0);
  EXPECT_EQ(img.GetError(), klErrBadArg);

  // 65535 x 65535 x 3 does not fit 32 bits.
  EXPECT_EQ(img.Create(65535, 65535, 1), 0);
  EXPECT_EQ(img.GetError(), klErrNoMemory);
  EXPECT_EQ(img.GetMemObj(), nullptr);

  ASSERT_EQ(img.Create(7, 5, 2), 1);
  EXPECT_EQ(img.GetMemObj()->GetSize(), 7u * 5u * 4u);
  u8* planes[5];
  u32 stride = 0;
  EXPECT_EQ(img.GetImageChannels(planes, stride), 4);
  EXPECT_EQ(stride, 7u);
  EXPECT_EQ(planes[3] - planes[0], 3 * 35);

  EXPECT_EQ(img.GetPixelPtr(7, 0), nullptr);
  EXPECT_EQ(img.GetError(), klErrBadArg);
  CKLF_Image empty;
  EXPECT_EQ(empty.GetPixelPtr(0, 0), nullptr);
  EXPECT_EQ(empty.GetError(), klErrEmpty);
  EXPECT_EQ(empty.GetImageChannels(planes, stride), 0);
  EXPECT_EQ(CKLF_Image::PlaneCount(4), 5);
  EXPECT_EQ(CKLF_Image::PlaneCount(6), 2);
}

TEST(Image, CopyAndModeChangeKeepColourPlanes) {
  CKLF_Image rgb;
  ASSERT_EQ(rgb.Create(9, 4, 1), 1);
  FillPattern(rgb, 1);
  CKLF_Image rgba;
  ASSERT_EQ(rgba.Create(&rgb, 2), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) {
      kltRGBA8 a = rgb.GetPixel(x, y), b = rgba.GetPixel(x, y);
      ASSERT_TRUE(SamePixel(a, b));  // RGB pixels read with alpha 255
    }
  CKLF_Image back;
  ASSERT_EQ(back.Create(&rgba, 1), 1);
  EXPECT_EQ(0, memcmp(back.GetMemObj()->GetPtr(), rgb.GetMemObj()->GetPtr(), 9 * 4 * 3));

  ASSERT_EQ(rgb.ChangeImageMode(2), 1);
  EXPECT_EQ(rgb.GetMemObj()->GetSize(), 9u * 4u * 4u);
  EXPECT_EQ(rgb.GetPixel(8, 3).alpha, 255);
  EXPECT_EQ(0, memcmp(rgb.GetMemObj()->GetPtr(), rgba.GetMemObj()->GetPtr(), 9 * 4 * 4));
  EXPECT_EQ(rgb.ChangeImageMode(2), 1);
  EXPECT_EQ(rgb.ChangeImageMode(5), 0);
  EXPECT_EQ(rgb.GetError(), klErrBadArg);

  // Copying an image into itself must not destroy it.
  EXPECT_EQ(rgba.Create(&rgba, 0), 1);
  EXPECT_TRUE(SamePixel(rgba.GetPixel(3, 3), back.GetPixel(3, 3)));

  CKLF_Image empty, dst;
  EXPECT_EQ(dst.Create(nullptr, 1), 0);
  EXPECT_EQ(dst.GetError(), klErrBadArg);
  EXPECT_EQ(dst.Create(&empty, 1), 0);
  EXPECT_EQ(dst.GetError(), klErrEmpty);
}

TEST(Image, PixelAccessAndErrors) {
  CKLF_Image img;
  kltRGBA8 z = img.GetPixel(0, 0);
  EXPECT_EQ(img.GetError(), klErrEmpty);
  EXPECT_TRUE(SamePixel(z, kltRGBA8{0, 0, 0, 0}));
  ASSERT_EQ(img.Create(4, 3, 1), 1);
  img.Set(kltRGBA8{1, 2, 3, 4}, 0x0F);
  kltRGBA8 old = img.SetPixel(2, 1, kltRGBA8{10, 20, 30, 40});
  EXPECT_TRUE(SamePixel(old, kltRGBA8{1, 2, 3, 255}));
  EXPECT_TRUE(SamePixel(img.GetPixel(kltPOS{2, 1}), kltRGBA8{10, 20, 30, 255}));
  z = img.GetPixel(kltPOS{-1, 0});
  EXPECT_EQ(img.GetError(), klErrBadArg);
  EXPECT_TRUE(SamePixel(z, kltRGBA8{0, 0, 0, 0}));
  img.SetPixel(kltPOS{4, 0}, kRed);  // outside: nothing written
  EXPECT_EQ(img.GetError(), klErrBadArg);
}

TEST(Image, FillsClipAndSkipMissingPlanes) {
  CKLF_Image img;
  ASSERT_EQ(img.Create(6, 5, 1), 1);
  ASSERT_EQ(img.Set(kltRGBA8{9, 8, 7, 6}, 0x0F, klNullRect), 1);
  EXPECT_TRUE(SamePixel(img.GetPixel(5, 4), kltRGBA8{9, 8, 7, 255}));
  EXPECT_EQ(img.GetMemObj()->GetSize(), 6u * 5u * 3u);  // no alpha written past the block

  EXPECT_EQ(img.Set(kRed, 0x0F, kltRECT_s{10, 10, 20, 20}), 1);  // entirely outside
  EXPECT_EQ(img.GetError(), 0);
  EXPECT_TRUE(SamePixel(img.GetPixel(5, 4), kltRGBA8{9, 8, 7, 255}));

  // Only green, clipped from (-3, 3) to (2, 100).
  ASSERT_EQ(img.Set(kltRGBA8{1, 50, 1, 1}, 0x02, kltRECT_s{-3, 3, 2, 100}), 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      kltRGBA8 p = img.GetPixel(x, y);
      const bool in = x < 2 && y >= 3;
      EXPECT_EQ(p.green, in ? 50 : 8) << x << "," << y;
      EXPECT_EQ(p.red, 9);
    }
  CKLF_Image empty;
  EXPECT_EQ(empty.Set(kRed, 0xFF), 0);
  EXPECT_EQ(empty.GetError(), klErrEmpty);
}

TEST(Image, CheckerboardAnchoredAtRectangle) {
  CKLF_Image img;
  ASSERT_EQ(img.Create(10, 7, 2), 1);
  const kltRGBA8 c1 = {10, 10, 10, 100}, c2 = {200, 200, 200, 50};
  img.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  ASSERT_EQ(img.Set(2, 3, c1, c2, kltRECT_s{1, 1, 10, 7}), 1);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 10; ++x) {
      kltRGBA8 p = img.GetPixel(x, y);
      if (x < 1 || y < 1) {
        EXPECT_EQ(p.red, 0);
        continue;
      }
      const bool second = (((x - 1) / 2) + ((y - 1) / 3)) % 2 == 0;
      EXPECT_TRUE(SamePixel(p, second ? c2 : c1)) << x << "," << y;
    }
  EXPECT_EQ(img.Set(0, 3, c1, c2, klNullRect), 0);
  EXPECT_EQ(img.GetError(), klErrBadArg);
}

TEST(Image, TileRepeatsAndCopyClips) {
  CKLF_Image src, dst;
  ASSERT_EQ(src.Create(2, 2, 1), 1);
  src.SetPixel(0, 0, kltRGBA8{1, 0, 0, 0});
  src.SetPixel(1, 0, kltRGBA8{2, 0, 0, 0});
  src.SetPixel(0, 1, kltRGBA8{3, 0, 0, 0});
  src.SetPixel(1, 1, kltRGBA8{4, 0, 0, 0});
  ASSERT_EQ(dst.Create(8, 6, 2), 1);
  dst.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  ASSERT_EQ(dst.Tile(&src, klNullRect, kltRECT_s{1, 1, 6, 4}), 1);
  const u8 want[3][5] = {{1, 2, 1, 2, 1}, {3, 4, 3, 4, 3}, {1, 2, 1, 2, 1}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(R(dst, x + 1, y + 1), want[y][x]);
      EXPECT_EQ(dst.GetPixel(x + 1, y + 1).alpha, 255);  // the source has no alpha
    }
  EXPECT_EQ(R(dst, 6, 1), 0);
  EXPECT_EQ(dst.GetPixel(0, 0).alpha, 0);
  EXPECT_EQ(dst.Tile(&dst, klNullRect, klNullRect), 0);
  EXPECT_EQ(dst.GetError(), klErrBadArg);

  // Set: a destination rectangle starting at (-1, -1) moves the source start
  // by one; the region ends where the source does.
  CKLF_Image big;
  ASSERT_EQ(big.Create(5, 5, 1), 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) big.SetPixel(x, y, kltRGBA8{static_cast<u8>(10 * y + x), 0, 0, 0});
  dst.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  ASSERT_EQ(dst.Set(&big, 2, 0, kltRECT_s{-1, -1, 8, 6}), 1);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const int sx = x + 3, sy = y + 1;
      const u8 expect = (sx < 5 && sy < 5) ? static_cast<u8>(10 * sy + sx) : 0;
      EXPECT_EQ(R(dst, x, y), expect) << x << "," << y;
    }
  EXPECT_EQ(dst.Set(&big, 5, 0, klNullRect), 1);  // start outside the source: nothing
}

TEST(Image, BlendFormulas) {
  CKLF_Image dst, src;
  ASSERT_EQ(dst.Create(3, 1, 2), 1);
  ASSERT_EQ(src.Create(3, 1, 2), 1);
  dst.Set(kltRGBA8{0, 100, 200, 200}, 0xFF);
  src.Set(kltRGBA8{100, 100, 0, 255}, 0xFF);
  src.SetPixel(1, 0, kltRGBA8{100, 100, 0, 128});
  src.SetPixel(2, 0, kltRGBA8{100, 100, 0, 0});
  ASSERT_EQ(dst.Blend(&src, 0, 0, klNullRect, 100), 1);
  // Full opacity and alpha 255: one less than the source.
  EXPECT_TRUE(SamePixel(dst.GetPixel(0, 0), kltRGBA8{99, 99, 0, 200}));
  // Alpha 128: (d * 127 + 128 * s) >> 8; alpha 200 * 128 / 255 = 100.
  EXPECT_TRUE(SamePixel(dst.GetPixel(1, 0), kltRGBA8{50, 99, 99, 100}));
  EXPECT_TRUE(SamePixel(dst.GetPixel(2, 0), kltRGBA8{0, 99, 199, 0}));

  dst.Set(kltRGBA8{0, 100, 200, 255}, 0xFF);
  ASSERT_EQ(dst.Blend(&src, 0, 0, klNullRect, 50), 1);
  // d - (d - s) * a * 50 / 25500, truncated toward zero.
  EXPECT_TRUE(SamePixel(dst.GetPixel(0, 0), kltRGBA8{50, 100, 100, 255}));
  EXPECT_TRUE(SamePixel(dst.GetPixel(1, 0), kltRGBA8{25, 100, 150, 128}));

  // Clipping moves the source start with the rectangle's corner: from
  // (-1, 0) the first visible pixel takes source pixel 1; the source ends
  // before the rectangle does.
  dst.Set(kltRGBA8{0, 100, 200, 255}, 0xFF);
  ASSERT_EQ(dst.Blend(&src, 0, 0, kltRECT_s{-1, 0, 3, 1}, 100), 1);
  EXPECT_TRUE(SamePixel(dst.GetPixel(0, 0), kltRGBA8{50, 99, 99, 128}));
  EXPECT_TRUE(SamePixel(dst.GetPixel(1, 0), kltRGBA8{0, 99, 199, 0}));
  EXPECT_TRUE(SamePixel(dst.GetPixel(2, 0), kltRGBA8{0, 100, 200, 255}));

  // A source without alpha is copied.
  CKLF_Image rgb;
  ASSERT_EQ(rgb.Create(2, 1, 1), 1);
  rgb.Set(kltRGBA8{7, 7, 7, 0}, 0xFF);
  ASSERT_EQ(dst.Blend(&rgb, 0, 0, kltRECT_s{1, 0, 3, 1}, 50), 1);
  EXPECT_TRUE(SamePixel(dst.GetPixel(2, 0), kltRGBA8{7, 7, 7, 255}));
}

TEST(Image, RotationsAndFlipsRoundTrip) {
  CKLF_Image img, ref;
  ASSERT_EQ(img.Create(70, 131, 2), 1);  // larger than one 64-pixel tile
  FillPattern(img, 7);
  ASSERT_EQ(ref.Create(&img, 0), 1);

  ASSERT_EQ(img.Rotate90(), 1);
  EXPECT_EQ(img.GetImageWidth(), 131);
  EXPECT_EQ(img.GetImageHeight(), 70);
  // The old right column becomes the top row.
  for (int x = 0; x < 131; ++x) ASSERT_TRUE(SamePixel(img.GetPixel(x, 0), ref.GetPixel(69, x)));
  for (int y = 0; y < 70; ++y) ASSERT_TRUE(SamePixel(img.GetPixel(0, y), ref.GetPixel(69 - y, 0)));
  ASSERT_EQ(img.Rotate270(), 1);
  EXPECT_EQ(0, memcmp(img.GetMemObj()->GetPtr(), ref.GetMemObj()->GetPtr(), ref.GetMemObj()->GetSize()));

  ASSERT_EQ(img.Rotate270(), 1);
  // The old left column, bottom to top, becomes the top row.
  for (int x = 0; x < 131; ++x) ASSERT_TRUE(SamePixel(img.GetPixel(x, 0), ref.GetPixel(0, 130 - x)));
  ASSERT_EQ(img.Rotate90(), 1);

  ASSERT_EQ(img.Rotate180(), 1);
  EXPECT_TRUE(SamePixel(img.GetPixel(0, 0), ref.GetPixel(69, 130)));
  EXPECT_TRUE(SamePixel(img.GetPixel(5, 9), ref.GetPixel(64, 121)));
  ASSERT_EQ(img.FlipVert(), 1);
  ASSERT_EQ(img.FlipHor(), 1);
  EXPECT_EQ(0, memcmp(img.GetMemObj()->GetPtr(), ref.GetMemObj()->GetPtr(), ref.GetMemObj()->GetSize()));

  CKLF_Image empty;
  EXPECT_EQ(empty.Rotate90(), 0);
  EXPECT_EQ(empty.GetError(), klErrEmpty);
}

TEST(Image, LineRectAndCircleDrawing) {
  CKLF_Image img;
  ASSERT_EQ(img.Create(8, 8, 1), 1);
  img.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  ASSERT_EQ(img.DrawLine(0, 0, 4, 2, kRed, klNullRect), 1);
  const int ys[5] = {0, 1, 1, 2, 2};
  int count = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) count += R(img, x, y) == 255;
  EXPECT_EQ(count, 5);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(R(img, x, ys[x]), 255) << x;

  // Steep and backward lines, single points, and lines far outside.
  img.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  img.DrawLine(kltPOS{6, 7}, kltPOS{5, 0}, kRed, klNullRect);
  // Walked from y = 7 up to 0, x must still run from 6 to 5.
  for (int y = 0; y < 8; ++y) {
    EXPECT_EQ(R(img, y < 4 ? 5 : 6, y), 255) << y;
    EXPECT_EQ(R(img, y < 4 ? 6 : 5, y), 0) << y;
  }
  img.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  img.DrawLine(3, 3, 3, 3, kRed, klNullRect);
  EXPECT_EQ(R(img, 3, 3), 255);
  img.DrawLine(-32768, -32768, 32767, 32767, kRed, kltRECT_s{0, 0, 4, 100});
  for (int i = 0; i < 8; ++i) EXPECT_EQ(R(img, i, i), i < 4 ? 255 : 0);

  // Half-transparent colour blends: (a*c + (255-a)*d) >> 8.
  CKLF_Image rgba;
  ASSERT_EQ(rgba.Create(8, 8, 2), 1);
  rgba.Set(kltRGBA8{100, 100, 100, 100}, 0xFF);
  rgba.DrawLine(0, 0, 0, 0, kltRGBA8{200, 0, 0, 128}, klNullRect);
  EXPECT_TRUE(SamePixel(rgba.GetPixel(0, 0), kltRGBA8{149, 49, 49, 179}));
  rgba.DrawAlphaLine(0, 1, 7, 1, 9, klNullRect);
  EXPECT_TRUE(SamePixel(rgba.GetPixel(4, 1), kltRGBA8{100, 100, 100, 9}));

  img.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  img.DrawRect(kltRECT_s{1, 1, 5, 4}, kRed, klNullRect);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool edge = (x >= 1 && x <= 4 && (y == 1 || y == 3)) || (y >= 1 && y <= 3 && (x == 1 || x == 4));
      EXPECT_EQ(R(img, x, y), edge ? 255 : 0) << x << "," << y;
    }

  // Extreme rectangles are cut to 16-bit coordinates, without overflow.
  EXPECT_EQ(img.DrawRect(kltRECT_s{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}, kRed, klNullRect), 1);

  img.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  img.DrawCircle(4, 4, 0, kRed, klNullRect);
  EXPECT_EQ(R(img, 4, 4), 255);
  img.DrawCircle(kltPOS{4, 4}, 3, kRed, klNullRect);
  // The midpoint circle of radius 3 touches (4 +- 3, 4) and (4, 4 +- 3) and
  // its octant points (5, 7), (6, 6) and their mirrors.
  const int pts[][2] = {{7, 4}, {1, 4}, {4, 7}, {4, 1}, {5, 7}, {6, 6}, {3, 1}, {1, 5}, {2, 2}};
  for (auto& p : pts) EXPECT_EQ(R(img, p[0], p[1]), 255) << p[0] << "," << p[1];
  EXPECT_EQ(R(img, 7, 7), 0);
  EXPECT_EQ(R(img, 5, 4), 0);
}

TEST(Image, AntiAliasedLineCoverage) {
  CKLF_Image img;
  ASSERT_EQ(img.Create(12, 7, 2), 1);
  img.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  ASSERT_EQ(img.DrawAALine(1, 3, 10, 3, kltRGBA8{255, 255, 255, 255}, klNullRect, 0), 1);
  // On the line: coverage 255, e = 254. One pixel away: (1 - 2/3)^2 * 255
  // = 28, e = 27. Two away: nothing.
  for (int x = 1; x <= 10; ++x) {
    EXPECT_EQ(R(img, x, 3), 253) << x;  // (255 * 254) >> 8
    EXPECT_EQ(img.GetPixel(x, 3).alpha, 254);
    EXPECT_EQ(R(img, x, 2), 26);  // (255 * 27) >> 8
    EXPECT_EQ(img.GetPixel(x, 4).alpha, 27);
    EXPECT_EQ(R(img, x, 1), 0);
  }
  EXPECT_EQ(R(img, 0, 3), 0);
  EXPECT_EQ(R(img, 11, 3), 0);

  // Diagonal: the decision term alternates the distance across the line;
  // drawing from either end gives the same pixels.
  CKLF_Image a, b;
  ASSERT_EQ(a.Create(20, 20, 2), 1);
  ASSERT_EQ(b.Create(20, 20, 2), 1);
  a.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  b.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  a.DrawAALine(2, 3, 17, 9, kltRGBA8{255, 255, 255, 255}, klNullRect, 1);
  b.DrawAALine(17, 9, 2, 3, kltRGBA8{255, 255, 255, 255}, klNullRect, 1);
  EXPECT_EQ(0, memcmp(a.GetMemObj()->GetPtr(), b.GetMemObj()->GetPtr(), a.GetMemObj()->GetSize()));
  // Mirrored in y, a line of negative slope gives mirrored pixels.
  CKLF_Image m;
  ASSERT_EQ(m.Create(20, 20, 2), 1);
  m.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  m.DrawAALine(2, 16, 17, 10, kltRGBA8{255, 255, 255, 255}, klNullRect, 1);
  ASSERT_EQ(m.FlipVert(), 1);
  EXPECT_EQ(0, memcmp(a.GetMemObj()->GetPtr(), m.GetMemObj()->GetPtr(), a.GetMemObj()->GetSize()));
  // Transposed: a steep line gives the transposed pixels.
  CKLF_Image t;
  ASSERT_EQ(t.Create(20, 20, 2), 1);
  t.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  t.DrawAALine(3, 2, 9, 17, kltRGBA8{255, 255, 255, 255}, klNullRect, 1);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(R(t, x, y), R(a, y, x)) << x << "," << y;

  // A one-point line draws its centre pixel only; neighbours skip the clip.
  img.Set(kltRGBA8{0, 0, 0, 0}, 0xFF);
  img.DrawAALine(0, 0, 0, 0, kltRGBA8{255, 255, 255, 255}, klNullRect, 0);
  EXPECT_EQ(R(img, 0, 0), 253);
  EXPECT_EQ(R(img, 1, 0), 0);
  EXPECT_EQ(R(img, 0, 1), 0);
}
