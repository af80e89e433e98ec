#include <gtest/gtest.h>

#include "imaging/FXTestImage.h"
#include "support/TestSupport.h"

using fxtest::Bind;
using fxtest::Pic;

namespace {

class Recorder : public CKLF_Progress {
 public:
  explicit Recorder(int cancelAfter = -1) : m_cancelAfter(cancelAfter) {}
  i32 Progress(u8 percent, void*) override {
    seen.push_back(percent);
    if (m_cancelAfter >= 0 && static_cast<int>(seen.size()) > m_cancelAfter) Cancel();
    return 0;
  }
  std::vector<u8> seen;

 private:
  int m_cancelAfter;
};

}  // namespace

TEST(ImageFXResize, KeepAspectCentresAndFills) {
  Pic src(100, 50, 3, 0);
  for (u8 p = 0; p < 3; ++p)
    for (u32 y = 0; y < 50; ++y)
      for (u32 x = 0; x < 100; ++x) src.At(p, x, y) = static_cast<u8>(2 * x);
  Pic dst(50, 50, 3, 0, 2);
  CKLF_ImageFX fx;
  fx.SetFillValue(77);
  Bind(fx, src, dst);
  ASSERT_EQ(fx.Resize(1), 1);
  for (u32 y = 0; y < 50; ++y)
    for (u32 x = 0; x < 50; ++x) {
      const bool inside = y >= 12 && y <= 36;
      ASSERT_EQ(dst.At(1, x, y), inside ? 4 * x + 1 : 77) << x << "," << y;
    }
  EXPECT_TRUE(dst.GapsIntact());

  // Wider than the picture: columns left and right are filled.
  Pic tall(10, 40, 1, 0, 0, 9), wide(40, 20, 1, 0);
  Bind(fx, tall, wide);
  ASSERT_EQ(fx.Resize(1), 1);  // picture 5 x 20 at column 17
  EXPECT_EQ(wide.At(0, 16, 5), 77);
  EXPECT_EQ(wide.At(0, 22, 5), 77);
  EXPECT_NEAR(wide.At(0, 17, 5), 9, 1);
  EXPECT_NEAR(wide.At(0, 21, 5), 9, 1);
}

TEST(ImageFXResize, DoublingInterpolatesNeighbours) {
  Pic src(6, 1, 1, 0);
  const u8 v[6] = {10, 21, 200, 0, 255, 7};
  for (u32 x = 0; x < 6; ++x) src.At(0, x, 0) = v[x];
  Pic dst(12, 1, 1, 0);
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  ASSERT_EQ(fx.Resize(0), 1);
  for (u32 k = 0; k < 6; ++k) {
    EXPECT_EQ(dst.At(0, 2 * k, 0), v[k]);
    EXPECT_EQ(dst.At(0, 2 * k + 1, 0), k < 5 ? (v[k] + v[k + 1]) / 2 : v[5]);
  }
}

TEST(ImageFXResize, ShrinkKeepsLevelsAndReportsProgress) {
  std::mt19937 rng(6);
  Pic src(146, 73, 4, 1, 1, 0);
  src.Randomise(rng);
  for (u32 y = 0; y < 73; ++y) std::memset(src.Row(2, y), 180, 146);
  Pic dst(20, 10, 4, 1);
  CKLF_ImageFX fx;
  Recorder rec;
  fx.SetProgress(&rec);
  Bind(fx, src, dst);
  ASSERT_EQ(fx.Resize(0), 1);  // by 7.3 both ways
  for (u32 y = 0; y < 10; ++y)
    for (u32 x = 0; x < 20; ++x) {
      ASSERT_GE(dst.At(2, x, y), 179);
      ASSERT_LE(dst.At(2, x, y), 180);
      ASSERT_GT(dst.At(0, x, y), 60);  // the mean of random bytes
      ASSERT_LT(dst.At(0, x, y), 195);
    }
  ASSERT_FALSE(rec.seen.empty());
  EXPECT_EQ(rec.seen.front(), 0);
  EXPECT_EQ(rec.seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(rec.seen.begin(), rec.seen.end()));

  // A cancel stops the work without an error code.
  Recorder stop(3);
  fx.SetProgress(&stop);
  EXPECT_FAILS(fx, fx.Resize(0), 0);
  // The same size copies.
  Pic same = src.Blank();
  fx.SetProgress(nullptr);
  Bind(fx, src, same);
  ASSERT_EQ(fx.Resize(1), 1);
  EXPECT_TRUE(same.SameAs(src));
}

TEST(ImageFXResize, IntegerZoomOutSamplesBlocks) {
  std::mt19937 rng(12);
  Pic src(1000, 1000, 1, 0);
  src.Randomise(rng);
  Pic dst(10, 10, 1, 0);
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  ASSERT_EQ(fx.Resize_Int_ZO(0), 1);
  for (u32 j = 0; j < 10; ++j)
    for (u32 i = 0; i < 10; ++i) {
      u32 sum = 0, n = 0;
      for (u32 r = 100 * j; r < 100 * j + 100; r += 4)  // ratio 100: every 4th
        for (u32 c = 100 * i; c < 100 * i + 100; c += 4) {
          sum += src.At(0, c, r);
          ++n;
        }
      ASSERT_EQ(dst.At(0, i, j), sum / n);
    }
  // Uneven blocks: 7 columns into 3 gives bounds 0, 2, 4, 7 (2.333 a block,
  // accumulated and truncated), so the last block holds three columns.
  Pic row(7, 2, 1, 0), three(3, 1, 1, 0);
  for (u32 x = 0; x < 7; ++x) row.At(0, x, 0) = row.At(0, x, 1) = static_cast<u8>(10 * x);
  Bind(fx, row, three);
  ASSERT_EQ(fx.Resize_Int_ZO(0), 1);
  EXPECT_EQ(std::vector<int>({three.At(0, 0, 0), three.At(0, 1, 0), three.At(0, 2, 0)}), std::vector<int>({5, 25, 50}));
  // Enlarging hands over to the area resize.
  Pic small(4, 4, 1, 0, 0, 50), big(8, 8, 1, 0), big2(8, 8, 1, 0);
  Bind(fx, small, big);
  ASSERT_EQ(fx.Resize_Int_ZO(1), 1);
  Bind(fx, small, big2);
  ASSERT_EQ(fx.Resize(1), 1);
  EXPECT_TRUE(big.SameAs(big2));
  // The block area has a limit.
  Pic huge(2600, 2600, 1, 0), one(1, 1, 1, 0);
  Bind(fx, huge, one);
  EXPECT_FAILS(fx, fx.Resize_Int_ZO(0), klErrBadArg);
  Pic fits(2500, 2500, 1, 0, 0, 3);
  Bind(fx, fits, one);
  fx.ResetError();
  EXPECT_EQ(fx.Resize_Int_ZO(0), 1);
  EXPECT_EQ(one.At(0, 0, 0), 3);
}

TEST(ImageFXResize, TileRepeatsRowsAndColumns) {
  Pic src(3, 2, 2, 0);
  for (u32 y = 0; y < 2; ++y)
    for (u32 x = 0; x < 3; ++x) {
      src.At(0, x, y) = static_cast<u8>(10 * y + x);
      src.At(1, x, y) = static_cast<u8>(100 + x);
    }
  Pic dst(7, 5, 2, 0, 1);
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  ASSERT_EQ(fx.Tile(), 1);
  for (u32 y = 0; y < 5; ++y)
    for (u32 x = 0; x < 7; ++x) {
      ASSERT_EQ(dst.At(0, x, y), 10 * (y % 2) + x % 3);
      ASSERT_EQ(dst.At(1, x, y), 100 + x % 3);
    }
  EXPECT_TRUE(dst.GapsIntact());
}

TEST(ImageFXResize, ConvolutionAndUnsharpMasks) {
  Pic flat(9, 7, 4, 1, 0, 100);
  Pic out = flat.Blank();
  CKLF_ImageFX fx;
  Bind(fx, flat, out);
  for (int which = 0; which < 3; ++which) {
    const u8 ok = which == 0 ? fx.filter_UnsharpenMaskDelicate(1)
                             : (which == 1 ? fx.filter_UnsharpenMaskNormal(0) : fx.filter_UnsharpenMaskMore(0));
    ASSERT_EQ(ok, 1);
    EXPECT_TRUE(out.SameAs(flat)) << which;
  }
  flat.At(0, 0, 0) = 200;
  ASSERT_EQ(fx.filter_UnsharpenMaskNormal(0), 1);
  EXPECT_EQ(out.At(0, 0, 0), 214);  // (8000 - 500) / 35
  EXPECT_EQ(out.At(0, 1, 0), 93);   // (4000 - 400 - 200 - 400) / 32
  EXPECT_EQ(out.At(0, 1, 1), 96);   // (4000 - 200 - 1100) / 28

  // Zero and negative weight sums, and the alpha flag.
  i16 zero[3] = {1, -2, 1};
  ASSERT_EQ(fx.ApplyConvolutionMask(KLFFX_CONVOLUTIONMASK{zero, 3, 1}, 1), 1);
  EXPECT_EQ(out.At(1, 4, 4), 0);     // interior: weight sum 0
  EXPECT_EQ(out.At(1, 0, 4), 100);   // left edge: (-200 + 100) / -1
  EXPECT_EQ(out.At(3, 4, 4), 0);     // alpha filtered too
  i16 neg[1] = {-3};
  ASSERT_EQ(fx.ApplyConvolutionMask(KLFFX_CONVOLUTIONMASK{neg, 1, 1}, 0), 1);
  EXPECT_EQ(out.At(1, 4, 4), 100);
  EXPECT_EQ(out.At(3, 4, 4), 100);
  EXPECT_EQ(fx.ApplyConvolutionMask(KLFFX_CONVOLUTIONMASK{nullptr, 3, 3}, 0), 0);
}
