#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "CKLF_ImageFX_BlurIsa.h"
#include "imaging/FXTestImage.h"
#include "support/TestSupport.h"

using fxtest::Bind;
using fxtest::Pic;
typedef CKLF_ImageFX::STRUCT_Blur_VectorData BlurRec;

namespace {

u8 Trunc(f64 v) { return v <= 0.0 ? 0 : (v >= 255.0 ? 255 : static_cast<u8>(v)); }

// One blur direction written plainly: every line is gathered, run through
// the single-line filter and written back, mixing into the previous line by
// the shear. angle lies in 0..180: 0 runs along rows, 90 along columns.
Pic RefLines(Pic src, f64 angle, f64 sigma, u8 blurAlpha, u8 recovery) {
  Pic dst = src.Blank();
  const u8 last = static_cast<u8>(src.count - 1);
  const bool mirrored = angle > 90.0;
  if (mirrored) angle = 180.0 - angle;
  const bool alongX = angle <= 45.0;
  const i64 L = alongX ? src.w : src.h, C = alongX ? src.h : src.w;
  const f64 t = angle == 45.0 ? 1.0 : std::tan((alongX ? angle : 90.0 - angle) * 3.14159265358979323846 / 180.0);
  std::vector<i64> off(L);
  std::vector<f32> frac(L);
  for (i64 i = 0; i < L; ++i) off[i] = static_cast<i64>(t * i), frac[i] = static_cast<f32>(t * i - off[i]);
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(sigma, &r, &pad, 0, 0);
  auto at = [&](Pic& p, u8 plane, i64 i, i64 c) -> u8& {
    return alongX ? p.At(plane, static_cast<u32>(i), static_cast<u32>(c))
                  : p.At(plane, static_cast<u32>(c), static_cast<u32>(i));
  };
  for (u8 p = 0; p < src.count; ++p) {
    const bool isAlpha = src.alpha && p == last;
    if (isAlpha && !blurAlpha) {
      for (u32 y = 0; y < src.h; ++y) std::memcpy(dst.Row(p, y), src.Row(p, y), src.w);
      break;
    }
    for (i64 k = 0; k < off[L - 1] + C; ++k) {
      std::vector<i64> is, cs;  // the line's pixels: along, across (before mirroring)
      for (i64 i = 0; i < L; ++i)
        if (k - off[i] >= 0 && k - off[i] < C) is.push_back(i), cs.push_back(k - off[i]);
      const u32 n = static_cast<u32>(is.size());
      std::vector<u8> v(n), a(n);
      std::vector<f64> line(n);
      for (u32 q = 0; q < n; ++q) {
        const i64 c = mirrored ? C - 1 - cs[q] : cs[q];
        v[q] = line[q] = at(src, p, is[q], c);
        a[q] = src.alpha ? at(src, last, is[q], c) : 255;
      }
      if (recovery && src.alpha && !isAlpha)
        CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(v.data(), line.data(), n, a.data());
      r.length = n;
      r.vector = line.data();
      EXPECT_EQ(fx.Blur_BlurVector(&r), 1);
      for (u32 q = 0; q < n; ++q) {
        const i64 c = mirrored ? C - 1 - cs[q] : cs[q];
        if (cs[q] > 0) {
          u8& nb = at(dst, p, is[q], mirrored ? c + 1 : c - 1);
          nb = Trunc(static_cast<f64>(frac[is[q]]) * line[q] + static_cast<f64>((1.0f - frac[is[q]]) * nb));
        }
        at(dst, p, is[q], c) = Trunc(line[q]);
      }
    }
  }
  return dst;
}

Pic Blur(Pic& src, bool motion, f64 angle, f64 amount, u8 blurAlpha, u8 recovery, u32 threads = 1) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  fx.SetThreads(threads);
  Bind(fx, src, dst);
  const u8 ok =
      motion ? fx.MotionBlur(angle, amount, blurAlpha, recovery) : fx.GaussianBlur(amount, blurAlpha, recovery);
  EXPECT_EQ(ok, 1) << "error " << fx.GetError();
  return dst;
}

Pic RandomPic(std::mt19937& rng, u32 maxSide, u8 alpha) {
  Pic src(1 + rng() % maxSide, 1 + rng() % maxSide, alpha ? 4 : 3, alpha, rng() % 3);
  src.Randomise(rng);
  if (alpha) fxtest::BlobAlpha(src, rng, 2);
  return src;
}

// Runs f once for each instruction set the processor has, that set in use,
// and puts back the one in use before.
template <class F>
void ForEachIsa(F f) {
  const KLF_BlurIsa was = KLF_BlurIsaInUse();
  for (KLF_BlurIsa isa : {klBlurBaseline, klBlurSse, klBlurAvx2}) {
    if (!KLF_SetBlurIsa(isa)) continue;
    ASSERT_EQ(KLF_BlurIsaInUse(), isa);
    f(isa);
    if (::testing::Test::HasFatalFailure()) break;
  }
  ASSERT_TRUE(KLF_SetBlurIsa(was));
}

// Whether the single-line filter takes line through subnormal numbers
// (the underflow flag is raised where a result falls below 2^-1022).
bool Underflows(const std::vector<u8>& line, f64 sigma) {
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(sigma, &r, &pad, 0, 0);
  std::vector<f64> v(line.begin(), line.end());
  r.length = static_cast<u16>(v.size());
  r.vector = v.data();
  std::feclearexcept(FE_ALL_EXCEPT);
  EXPECT_TRUE(fx.Blur_BlurVector(&r));
  return std::fetestexcept(FE_UNDERFLOW) != 0;
}

// The flush modes of the running thread, and of the workers of a parallel
// loop on 3 threads.
u32 FlushModes() {
#if defined(__SSE2__)
  std::atomic<u32> modes{_mm_getcsr() & 0x8040u};
  KLF_Parallel::ForEach(3, 48, [&](u32, u32) noexcept { modes |= _mm_getcsr() & 0x8040u; });
  return modes;
#else
  return 0;
#endif
}

}  // namespace

// The line filter against the Gaussian it stands for: below sigma 1.5 a
// sampled kernel of s = 1.5 sigma + 0.1 (8 taps at sigma 1), from 1.5 on
// the recursive filter of sigma itself. Its impulse response has unit
// gain and is centred; the sigma read off its peak (a unit Gaussian peaks
// at 1 / (sqrt(2 pi) sigma)) lies within 6 % of the intended one, the sigma
// read off its half width at half maximum within 10 %, and every tap lies
// within 8 % of the peak from the directly sampled Gaussian. A constant
// line stays constant; a border of 0 pulls the ends down.
TEST(ImageFXBlur, LineFilterIsTheGaussianOfItsSigma) {
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(1.0, &r, &pad, 0, 0);
  EXPECT_EQ(r.kernelLength * r.smallSigma, 8);
  for (f64 sigma : {0.4, 1.0, 1.5, 2.0, 3.0, 6.0, 12.0, 30.0}) {
    fx.Blur_PrepareBlurData(sigma, &r, &pad, 0, 0);
    EXPECT_EQ(r.smallSigma, sigma < 1.5 ? 1 : 0);
    const f64 want = sigma < 1.5 ? 1.5 * sigma + 0.1 : sigma;
    const int n = 1001, c = n / 2;
    std::vector<f64> v(n, 0.0);
    v[c] = 1.0;
    r.length = n;
    r.vector = v.data();
    ASSERT_EQ(fx.Blur_BlurVector(&r), 1);
    f64 sum = 0, mean = 0, gauss = 0;
    for (int i = 0; i < n; ++i)
      sum += v[i], mean += v[i] * (i - c), gauss += std::exp(-(i - c) * (i - c) / (2 * want * want));
    EXPECT_NEAR(sum, 1.0, 1e-6) << sigma;
    EXPECT_NEAR(mean, 0.0, 1e-6) << sigma;
    int h = c;
    while (v[h + 1] > v[c] / 2) ++h;
    const f64 half = h - c + (v[h] - v[c] / 2) / (v[h] - v[h + 1]);
    EXPECT_NEAR(1.0 / (std::sqrt(2 * 3.14159265358979323846) * v[c]) / want, 1.0, 0.06) << sigma;
    EXPECT_NEAR(half / std::sqrt(2 * std::log(2.0)) / want, 1.0, 0.10) << sigma;
    for (int i = 0; i < n; ++i)
      ASSERT_NEAR(v[i], std::exp(-(i - c) * (i - c) / (2 * want * want)) / gauss, 0.08 / gauss) << sigma << " at " << i;

    std::vector<f64> flat(50, 100.0);
    r.length = 50;
    r.vector = flat.data();
    ASSERT_EQ(fx.Blur_BlurVector(&r), 1);
    for (f64 x : flat) ASSERT_NEAR(x, 100.0, 1e-6) << sigma;
    fx.Blur_PrepareBlurData(sigma, &r, &pad, 1, 0);
    std::vector<f64> bordered(200, 100.0);
    r.length = 200;
    r.vector = bordered.data();
    ASSERT_EQ(fx.Blur_BlurVector(&r), 1);
    EXPECT_LT(bordered[0] + bordered[199], 160.0) << sigma;
    EXPECT_NEAR(bordered[100], 100.0, sigma < 10 ? 1e-3 : 1.0) << sigma;
  }
}

// The whole effect against a Gaussian kernel convolved directly, away from
// the borders: within 7 levels (3 % of full scale) at every pixel, on
// average 1 below it (the rows and the columns each truncate).
TEST(ImageFXBlur, GaussianBlurMatchesDirectConvolution) {
  std::mt19937 rng(3);
  for (f64 sigma : {1.0, 1.5, 2.0, 3.0, 6.0}) {
    const f64 want = sigma < 1.5 ? 1.5 * sigma + 0.1 : sigma;
    const int R = static_cast<int>(4 * want) + 1;
    Pic src(2 * R + 24, 2 * R + 20, 1, 0);
    src.Randomise(rng);
    const Pic out = Blur(src, false, 0, sigma, 0, 0);
    std::vector<f64> k(2 * R + 1);
    f64 ks = 0;
    for (int i = -R; i <= R; ++i) ks += k[i + R] = std::exp(-i * i / (2 * want * want));
    f64 bias = 0;
    int count = 0;
    for (u32 y = R; y + R < src.h; ++y)
      for (u32 x = R; x + R < src.w; ++x, ++count) {
        f64 direct = 0;
        for (int j = -R; j <= R; ++j)
          for (int i = -R; i <= R; ++i) direct += k[j + R] * k[i + R] / (ks * ks) * src.At(0, x + i, y + j);
        bias += out.At(0, x, y) - direct;
        ASSERT_NEAR(out.At(0, x, y), direct, 7.0) << sigma << " at " << x << "," << y;
      }
    EXPECT_NEAR(bias / count, -1.0, 0.5) << sigma;
  }
}

TEST(ImageFXBlur, ZeroAlphaRecoverySplitsTransparentRuns) {
  const u8 v[8] = {10, 20, 30, 40, 50, 60, 70, 80};
  const u8 a[8] = {0, 0, 255, 0, 0, 0, 9, 0}, none[4] = {};
  f64 out[8];
  CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(v, out, 8, a);
  EXPECT_EQ(std::vector<f64>(out, out + 8), (std::vector<f64>{30, 30, 30, 30, 70, 70, 70, 70}));
  CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(v, out, 4, none);
  EXPECT_EQ(std::vector<f64>(out, out + 4), std::vector<f64>(4, 128.0));
}

TEST(ImageFXBlur, FailedPaddingIsReportedAndChangesNothing) {
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(1.0e8, &r, &pad, 0, 0);
  std::vector<f64> line = {1, 2, 3, 4, 5};
  r.length = 5;
  r.vector = line.data();
  EXPECT_FAILS(fx, fx.Blur_BlurVector(&r), klErrNoMemory);
  EXPECT_EQ(line, (std::vector<f64>{1, 2, 3, 4, 5}));
  Pic src(9, 7, 4, 1);
  for (f64 angle : {-1.0, 0.0, 30.0}) {  // Gaussian, straight and angled motion
    Pic dst = src.Blank();
    const Pic before = dst;
    CKLF_ImageFX big;
    Bind(big, src, dst);
    EXPECT_EQ(angle < 0 ? big.GaussianBlur(4.0e8, 0, 1) : big.MotionBlur(angle, 4.0e8, 0, 1), 0);
    EXPECT_EQ(big.GetError(), klErrNoMemory) << angle;
    EXPECT_TRUE(dst.SameAs(before));
  }
}

TEST(ImageFXBlur, GaussianEqualsRowsThenColumns) {
  std::mt19937 rng(11);
  const f64 radii[] = {0.05, 0.3, 0.7, 1.0, 1.49, 1.5, 2.0, 3.3, 7.5, 20.0};
  for (int round = 0; round < 60; ++round) {
    const u8 layout = round % 3, blurAlpha = layout == 2, recovery = static_cast<u8>(rng() & 1);
    Pic src = RandomPic(rng, 70, layout != 0);
    const f64 radius = radii[round % 10];
    Pic want = RefLines(RefLines(src, 0, radius, blurAlpha, recovery), 90, radius, blurAlpha, 0);
    ASSERT_TRUE(Blur(src, false, 0, radius, blurAlpha, recovery).SameAs(want))
        << src.w << "x" << src.h << " radius " << radius << " layout " << int(layout) << " recovery " << int(recovery);
  }
}

TEST(ImageFXBlur, MotionEqualsLineByLineForm) {
  std::mt19937 rng(27);
  // Angles that fold onto rows (0) or columns (90), whole turns away, or any.
  const f64 straight[][2] = {{0, 0}, {180, 0}, {-360, 0}, {0.05, 0}, {90, 90}, {270, 90}, {-90, 90}, {90.08, 90}};
  for (int round = 0; round < 80; ++round) {
    const u8 alpha = round % 3 != 2, blurAlpha = rng() % 4 == 0, recovery = static_cast<u8>(rng() & 1);
    Pic src = RandomPic(rng, 70, alpha);
    f64 angle = round < 3 ? 45.0 * (1 + round) : 0.2 + (rng() % 17950) / 100.0, folded = angle;
    if (round % 4 == 3) angle = straight[round / 4 % 8][0], folded = straight[round / 4 % 8][1];
    if (round % 4 == 1) folded = angle = 1 + rng() % 179, angle += round % 8 == 1 ? -360.0 : 1800000000.0;
    if (folded > 89.9 && folded < 90.1) folded = 90;
    const f64 dist = round % 5 == 0 ? 0.3 + (rng() % 12) / 10.0 : 1.5 + (rng() % 300) / 10.0;
    ASSERT_TRUE(
        Blur(src, true, angle, dist, blurAlpha, recovery).SameAs(RefLines(src, folded, dist, blurAlpha, recovery)))
        << src.w << "x" << src.h << " angle " << angle << " distance " << dist << " recovery " << int(recovery);
  }
}

TEST(ImageFXBlur, BelowATenthOfAPixelCopies) {
  std::mt19937 rng(5);
  Pic src = RandomPic(rng, 30, 1);
  EXPECT_TRUE(Blur(src, false, 0, 0.05, 1, 1).SameAs(src));
  EXPECT_TRUE(Blur(src, true, 33, 0.05, 1, 1).SameAs(src));
}

// Lines filtered on several threads give the bytes of one thread: blurs,
// straight motion blurs and the bevel, whose blurs share the line passes.
TEST(ImageFXBlur, ThreadsGiveTheBytesOfOneThread) {
  std::mt19937 rng(3);
  // Blobs on transparent ground: recovery works on every line.
  Pic src(203, 150, 4, 1, 3);
  src.Randomise(rng);
  fxtest::BlobAlpha(src, rng, 5);
  for (int which = 0; which < 5; ++which) {
    Pic one = src.Blank(), many = src.Blank();
    for (Pic* out : {&one, &many}) {
      CKLF_ImageFX fx;
      fx.SetThreads(out == &one ? 1 : 4);
      Bind(fx, src, *out);
      const u8 white[3] = {255, 255, 255}, black[3] = {0, 0, 0};
      const u8 ok = which == 0   ? fx.GaussianBlur(1.2, 0, 1)
                    : which == 1 ? fx.GaussianBlur(7.5, 1, 1)
                    : which == 2 ? fx.MotionBlur(0, 6, 0, 1)
                    : which == 3 ? fx.MotionBlur(90, 3, 1, 0)
                                 : fx.Bevel(9, 120, 2.0, {-1.0f, -1.0f, 1.0f}, white, 200, black, 200);
      ASSERT_EQ(ok, 1);
    }
    ASSERT_TRUE(one.SameAs(many)) << which;
  }
}

// Every plane width from 1 to 67 (odd ones, single pixels, rows shorter and
// longer than the 16-sample blocks moved between rows and lanes), over small
// and large sigmas, on one and on three threads, with and without recovery:
// the same bytes as the single-line filter run line by line.
TEST(ImageFXBlur, GaussianEqualsRowsThenColumnsAtEveryWidth) {
  std::mt19937 rng(41);
  const f64 radii[] = {0.5, 0.8, 1.0, 1.2, 1.49, 1.5, 2.0, 3.0, 5.5, 10.0};
  for (u32 w = 1; w <= 67; ++w) {
    const u8 alpha = w % 3 != 0, recovery = w % 2;
    const u32 h = w % 5 == 0 ? 1 : 1 + rng() % 40;
    Pic src(w, h, alpha ? 4 : 3, alpha, rng() % 3);
    src.Randomise(rng);
    if (alpha) fxtest::BlobAlpha(src, rng, 2);
    const f64 radius = radii[w % 10];
    const Pic want = RefLines(RefLines(src, 0, radius, 0, recovery), 90, radius, 0, 0);
    for (u32 threads : {1u, 3u})
      ASSERT_TRUE(Blur(src, false, 0, radius, 0, recovery, threads).SameAs(want))
          << w << "x" << h << " radius " << radius << " threads " << threads;
  }
  // Long rows ending in a partial block, a last group of fewer lines.
  for (u32 w : {128u, 129u, 300u}) {
    Pic src(w, 23, 3, 0, 5);
    src.Randomise(rng);
    const Pic want = RefLines(RefLines(src, 0, 1.0, 0, 0), 90, 1.0, 0, 0);
    for (u32 threads : {1u, 4u})
      ASSERT_TRUE(Blur(src, false, 0, 1.0, 0, 0, threads).SameAs(want)) << w << " threads " << threads;
  }
}

// Small sigmas on pictures made of flat patches, even slopes and hard 0/255
// edges, where the weighted means fall on (or a hair beside) whole values:
// the bytes are those of the line filter there too. Widths and heights
// around the kernel's length, the blocks of 8 and 32 samples and the strips
// of columns; in-place columns; one and three threads.
TEST(ImageFXBlur, SmallSigmaKeepsItsBytesWhereMeansAreWhole) {
  std::mt19937 rng(59);
  const f64 radii[] = {0.1, 0.3, 0.5, 0.8, 1.0, 1.2, 1.49};
  const u32 sides[][2] = {{15, 15}, {16, 40}, {31, 17}, {33, 70}, {257, 19}, {300, 33}, {529, 24}, {40, 300}};
  int round = 0;
  for (const auto& side : sides) {
    for (f64 radius : radii) {
      const u8 alpha = round % 2, recovery = round % 3 == 0;
      Pic src(side[0], side[1], alpha ? 4 : 3, alpha, round % 3);
      for (u8 p = 0; p < 3; ++p) {
        const u32 kind = (round + p) % 4, flat = static_cast<u8>(rng());
        for (u32 y = 0; y < src.h; ++y)
          for (u32 x = 0; x < src.w; ++x) {
            const u32 patch = (x / 23 + y / 17) % 3;
            u32 v = kind == 0   ? flat
                    : kind == 1 ? (x * (1 + p) + y * 2)
                    : kind == 2 ? ((x / 9 + y / 7) % 2) * 255
                                : rng() % 256;
            if (patch == 0) v = kind == 3 ? 255 : flat;
            src.At(p, x, y) = static_cast<u8>(v);
          }
      }
      if (alpha) fxtest::BlobAlpha(src, rng, 3);
      const Pic want = RefLines(RefLines(src, 0, radius, 0, recovery), 90, radius, 0, 0);
      for (u32 threads : {1u, 3u})
        ASSERT_TRUE(Blur(src, false, 0, radius, 0, recovery, threads).SameAs(want))
            << side[0] << "x" << side[1] << " radius " << radius << " threads " << threads;
      ++round;
    }
  }
}

// Lines of one and of several 64-sample chunks (the last one short or not a
// whole 16-sample block), groups of fewer than 16 lines, pads far longer
// than the lines, stripes that the filter overshoots and the clamp cuts,
// with and without recovery: the same bytes as the single-line filter.
TEST(ImageFXBlur, GaussianEqualsRowsThenColumnsOnLongAndShortLines) {
  std::mt19937 rng(53);
  const u32 sizes[][2] = {{64, 16}, {65, 33}, {130, 17}, {16, 64}, {33, 129}, {200, 48}, {3, 2}, {1, 9}, {20, 1}};
  for (u32 k = 0; k < 9; ++k)
    for (f64 radius : {1.5, 2.0, 7.5, 20.0, 50.0}) {
      const u8 alpha = k % 2, recovery = alpha;
      Pic src(sizes[k][0], sizes[k][1], alpha ? 4 : 3, alpha, rng() % 3);
      src.Randomise(rng);
      for (u32 y = 0; y < src.h; ++y)
        for (u32 x = 0; x < src.w; ++x) src.At(1, x, y) = (x / 2 + y / 3) % 2 ? 255 : 0;
      if (alpha) fxtest::BlobAlpha(src, rng, 2);
      const Pic want = RefLines(RefLines(src, 0, radius, 0, recovery), 90, radius, 0, 0);
      ASSERT_TRUE(Blur(src, false, 0, radius, 0, recovery).SameAs(want))
          << src.w << "x" << src.h << " radius " << radius << " recovery " << int(recovery);
    }
}

// Every byte value in and out of the recursive filter: runs of each value
// 0..255 between hard 0/255 edges (the filter overshoots below 0 and above
// 255 there), along rows and along columns, at heights around the rows
// fetched ahead (64 a chunk), on one and on four threads.
TEST(ImageFXBlur, RecursiveBlurKeepsEveryByteValueAndCutsOvershoot) {
  for (u32 h : {63u, 64u, 65u, 127u, 129u, 300u}) {
    Pic src(48, h, 3, 0, 0);
    for (u32 y = 0; y < h; ++y)
      for (u32 x = 0; x < src.w; ++x) {
        src.At(0, x, y) = static_cast<u8>((x / 3 + 16 * (y / 5)) % 256);
        src.At(1, x, y) = static_cast<u8>((y + 7 * x) % 256);
        src.At(2, x, y) = (x / 4 + y / 2) % 2 ? 255 : 0;
      }
    for (f64 radius : {1.5, 2.0, 6.0}) {
      const Pic want = RefLines(RefLines(src, 0, radius, 0, 0), 90, radius, 0, 0);
      for (u32 threads : {1u, 4u})
        ASSERT_TRUE(Blur(src, false, 0, radius, 0, 0, threads).SameAs(want))
            << "height " << h << " radius " << radius << " threads " << threads;
    }
  }
}

// Random sizes, sigmas below 1.5 (every kernel length), picture kinds
// mixed plane by plane, straight motion blurs too, on 1 to 4 threads: the
// same bytes as the line-by-line filter.
TEST(ImageFXBlur, SmallSigmaOnRandomPicturesAndStraightMotion) {
  std::mt19937 rng(71);
  for (int round = 0; round < 36; ++round) {
    const u8 alpha = rng() % 2, recovery = rng() % 2;
    Pic src(1 + rng() % 260, 1 + rng() % 140, alpha ? 4 : 3, alpha, rng() % 3);
    for (u8 p = 0; p < 3; ++p) {
      const u32 kind = rng() % 4, base = rng() % 256, slope = rng() % 4;
      for (u32 y = 0; y < src.h; ++y)
        for (u32 x = 0; x < src.w; ++x)
          src.At(p, x, y) = static_cast<u8>(kind == 0   ? rng()
                                            : kind == 1 ? base + slope * (x + y)
                                            : kind == 2 ? (rng() % 7 == 0 ? rng() : base)
                                                        : (rng() % 3) * 127);
    }
    if (alpha) fxtest::BlobAlpha(src, rng, 3);
    const f64 amount = 0.1 + (rng() % 1400) / 1000.0;
    const int which = round % 3;  // Gaussian, motion along rows, along columns
    const Pic want = which == 0 ? RefLines(RefLines(src, 0, amount, 0, recovery), 90, amount, 0, 0)
                                : RefLines(src, which == 1 ? 0 : 90, amount, 0, recovery);
    const Pic dst = Blur(src, which != 0, which == 1 ? 0 : 90, amount, 0, recovery, 1 + round % 4);
    ASSERT_TRUE(dst.SameAs(want)) << src.w << "x" << src.h << " amount " << amount << " which " << which;
  }
}

// Lines just below and above 32 samples (where the ends go eight at a
// time), every kernel length, ends holding hard 0/255 edges.
TEST(ImageFXBlur, SmallSigmaLineEndsAroundThirtyTwo) {
  std::mt19937 rng(5);
  const u32 sides[] = {19, 31, 32, 33, 47, 48};
  const f64 amounts[] = {0.3, 0.7, 1.0, 1.2, 1.35, 1.49};
  int round = 0;
  for (u32 w : sides)
    for (u32 h : sides) {
      const u8 recovery = round % 2;
      Pic src(w, h, 4, 1, 0);
      for (u8 p = 0; p < 3; ++p)
        for (u32 y = 0; y < h; ++y)
          for (u32 x = 0; x < w; ++x) {
            const bool end = x < 3 || y < 3 || x + 3 >= w || y + 3 >= h;
            src.At(p, x, y) = static_cast<u8>(end ? (x + y + p) % 2 * 255 : rng());
          }
      fxtest::BlobAlpha(src, rng, 2);
      const f64 amount = amounts[round % 6];
      const int which = round % 3;  // Gaussian, motion along rows, along columns
      const Pic want = which == 0 ? RefLines(RefLines(src, 0, amount, 0, recovery), 90, amount, 0, 0)
                                  : RefLines(src, which == 1 ? 0 : 90, amount, 0, recovery);
      const Pic dst = Blur(src, which != 0, which == 1 ? 0 : 90, amount, 0, recovery, 1 + round % 3);
      ASSERT_TRUE(dst.SameAs(want)) << w << "x" << h << " amount " << amount << " which " << which;
      ++round;
    }
}

// Which alpha lines hold a 0 is found once a blur and shared by its planes:
// transparent pixels only on lines at the ends of the bands of lines that
// are scanned together, along rows and side by side, on both filters.
TEST(ImageFXBlur, RecoveryFindsTransparentLinesAcrossBands) {
  std::mt19937 rng(9);
  Pic src(300, 520, 4, 1, 0);
  src.Randomise(rng);
  for (u32 y = 0; y < src.h; ++y)
    for (u32 x = 0; x < src.w; ++x) src.At(3, x, y) = 255;
  const u32 rows[] = {0, 255, 256, 511, 519}, cols[] = {0, 255, 256, 299};
  for (u32 y : rows) src.At(3, (y * 7) % src.w, y) = 0;
  for (u32 x : cols) src.At(3, x, (x * 5) % src.h) = 0;
  for (f64 amount : {1.0, 3.0})
    for (int which = 0; which < 3; ++which) {  // Gaussian, motion along rows, along columns
      const Pic want = which == 0 ? RefLines(RefLines(src, 0, amount, 0, 1), 90, amount, 0, 0)
                                  : RefLines(src, which == 1 ? 0 : 90, amount, 0, 1);
      const Pic dst = Blur(src, which != 0, which == 1 ? 0 : 90, amount, 0, 1, 3);
      ASSERT_TRUE(dst.SameAs(want)) << "amount " << amount << " which " << which;
    }
}

// A picture blurred in place, its planes read while they are written, on
// several threads: the bytes of the blur into another picture.
TEST(ImageFXBlur, InPlaceGivesTheBytesOfAnotherDestination) {
  std::mt19937 rng(12);
  Pic src(180, 300, 4, 1, 2);
  src.Randomise(rng);
  fxtest::BlobAlpha(src, rng, 4);
  for (f64 amount : {0.8, 1.0, 3.0}) {
    const Pic want = Blur(src, false, 0, amount, 0, 1, 1);
    Pic same = src;
    CKLF_ImageFX fx;
    fx.SetThreads(3);
    Bind(fx, same, same);
    ASSERT_EQ(fx.GaussianBlur(amount, 0, 1), 1);
    EXPECT_TRUE(same.SameAs(want)) << amount;
  }
}

// Every instruction set the processor has gives the reference's bytes:
// widths 1 to 67 and long rows, small and large sigmas, Gaussian blurs and
// straight and angled motion blurs, recovery on and off, one and three
// threads. A set the processor lacks is refused and changes nothing.
TEST(ImageFXBlur, EveryInstructionSetGivesTheReferenceBytes) {
  EXPECT_TRUE(KLF_BlurIsaAvailable(klBlurBaseline));
  for (KLF_BlurIsa isa : {klBlurSse, klBlurAvx2})
    if (!KLF_BlurIsaAvailable(isa)) {
      const KLF_BlurIsa was = KLF_BlurIsaInUse();
      EXPECT_EQ(KLF_SetBlurIsa(isa), 0);
      EXPECT_EQ(KLF_BlurIsaInUse(), was);
    }
  const f64 radii[] = {0.3, 0.8, 1.0, 1.2, 1.49, 1.5, 2.0, 3.0, 5.5, 10.0};
  ForEachIsa([&](KLF_BlurIsa isa) {
    std::mt19937 rng(83);
    for (u32 w = 1; w <= 67; w += 3) {
      const u8 alpha = w % 4 != 0, recovery = w % 2;
      Pic src(w, 1 + rng() % 45, alpha ? 4 : 3, alpha, rng() % 3);
      src.Randomise(rng);
      if (alpha) fxtest::BlobAlpha(src, rng, 2);
      const f64 radius = radii[w % 10];
      const int which = w % 4;  // Gaussian, motion along rows, along columns, at 30 degrees
      const f64 angle = which == 1 ? 0.0 : which == 2 ? 90.0 : 30.0;
      const Pic want = which == 0 ? RefLines(RefLines(src, 0, radius, 0, recovery), 90, radius, 0, 0)
                                  : RefLines(src, angle, radius, 0, recovery);
      for (u32 threads : {1u, 3u})
        ASSERT_TRUE(Blur(src, which != 0, angle, radius, 0, recovery, threads).SameAs(want))
            << "isa " << int(isa) << " " << src.w << "x" << src.h << " radius " << radius << " which " << which;
    }
    for (f64 radius : {1.0, 2.0}) {
      Pic src(300, 70, 4, 1, 5);
      src.Randomise(rng);
      fxtest::BlobAlpha(src, rng, 3);
      const Pic want = RefLines(RefLines(src, 0, radius, 0, 1), 90, radius, 0, 0);
      ASSERT_TRUE(Blur(src, false, 0, radius, 0, 1, 3).SameAs(want)) << "isa " << int(isa) << " radius " << radius;
    }
  });
}

// Long flat and black areas after bright edges (a night sky with stars, a
// flat wall): the recursive filter's state decays through subnormal
// numbers there, which the line passes flush to zero; the bytes stay the
// reference's. Every width up to 40 on columns 1300 long, rows up to
// 3001 long, straight and angled motion; every instruction set. The
// threads' flush modes are theirs again afterwards.
TEST(ImageFXBlur, FlatAndBlackAreasKeepTheirBytes) {
  std::mt19937 rng(97);
  // Black or flat grey, a bright random band at the start, sparse stars.
  auto sky = [&](u32 w, u32 h, u8 flat, bool bandAcross) {
    Pic src(w, h, 4, 1, rng() % 3);
    for (u8 p = 0; p < 3; ++p)
      for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x) {
          const bool band = bandAcross ? y < 9 : x < 9;
          src.At(p, x, y) = band ? static_cast<u8>(128 + rng() % 128) : (rng() % 997 == 0 ? 255 : flat);
        }
    for (u32 y = 0; y < h; ++y)
      for (u32 x = 0; x < w; ++x) src.At(3, x, y) = rng() % 50 == 0 ? 0 : 255;
    return src;
  };
  {
    std::vector<u8> line(1300, 0);
    for (u32 i = 0; i < 9; ++i) line[i] = 200;
    ASSERT_TRUE(Underflows(line, 1.5) && Underflows(line, 2.0));
    line.assign(3001, 0);
    for (u32 i = 0; i < 9; ++i) line[i] = 250;
    ASSERT_TRUE(Underflows(line, 5.0));
  }
  const u32 modes = FlushModes();
  ForEachIsa([&](KLF_BlurIsa isa) {
    for (u32 w = 1; w <= 40; ++w) {
      const f64 sigma = w % 2 ? 1.5 : 2.0;
      const u8 recovery = w % 3 == 0;
      const Pic src = sky(w, 1300, w % 4 ? 0 : 40, true);
      const Pic want = RefLines(RefLines(src, 0, sigma, 0, recovery), 90, sigma, 0, 0);
      Pic in = src;
      ASSERT_TRUE(Blur(in, false, 0, sigma, 0, recovery, 1 + w % 3).SameAs(want))
          << "isa " << int(isa) << " width " << w << " sigma " << sigma;
    }
    for (u32 w : {2999u, 3001u})
      for (f64 sigma : {5.0, 20.0}) {
        Pic src = sky(w, 19, 0, false);
        const Pic want = RefLines(RefLines(src, 0, sigma, 0, 1), 90, sigma, 0, 0);
        ASSERT_TRUE(Blur(src, false, 0, sigma, 0, 1, 3).SameAs(want)) << "isa " << int(isa) << " width " << w;
        ASSERT_TRUE(Blur(src, true, 0, sigma, 0, 1, 2).SameAs(RefLines(src, 0, sigma, 0, 1))) << "isa " << int(isa);
      }
    Pic src = sky(1500, 40, 0, false);
    ASSERT_TRUE(Blur(src, true, 20, 20.0, 0, 1).SameAs(RefLines(src, 20, 20.0, 0, 1))) << "isa " << int(isa);
  });
  EXPECT_EQ(FlushModes(), modes);
}

// Small sigmas on upscaled pictures (runs of equal samples, steps of one
// that reach only the outer taps, even slopes), the shape of real photos
// enlarged: the reference's bytes on every instruction set, rows and
// strips of columns, one and three threads.
TEST(ImageFXBlur, SmallSigmaOnUpscaledPictures) {
  std::mt19937 rng(101);
  const f64 amounts[] = {0.3, 0.7, 1.0, 1.2, 1.49};
  ForEachIsa([&](KLF_BlurIsa isa) {
    for (u32 round = 0; round < 10; ++round) {
      const u32 sw = 3 + rng() % 9, sh = 3 + rng() % 7, scale = 5 + rng() % 12;
      std::vector<u8> small(3 * sw * sh);
      for (u8& v : small) v = static_cast<u8>(rng() % 40 + (round % 2 ? 0 : 180));
      Pic src(sw * scale, sh * scale, 3, 0, rng() % 3);
      for (u8 p = 0; p < 3; ++p)
        for (u32 y = 0; y < src.h; ++y)
          for (u32 x = 0; x < src.w; ++x) {
            // Bilinear between the small picture's samples, rounded.
            const f64 fx = (x + 0.5) / scale - 0.5, fy = (y + 0.5) / scale - 0.5;
            const u32 x0 = fx < 0 ? 0 : static_cast<u32>(fx), y0 = fy < 0 ? 0 : static_cast<u32>(fy);
            const u32 x1 = std::min(x0 + 1, sw - 1), y1 = std::min(y0 + 1, sh - 1);
            const f64 tx = fx < 0 ? 0 : fx - x0, ty = fy < 0 ? 0 : fy - y0;
            auto at = [&](u32 a, u32 b) { return static_cast<f64>(small[(p * sh + b) * sw + a]); };
            const f64 v = (at(x0, y0) * (1 - tx) + at(x1, y0) * tx) * (1 - ty) + (at(x0, y1) * (1 - tx) + at(x1, y1) * tx) * ty;
            src.At(p, x, y) = static_cast<u8>(v + 0.5);
          }
      const f64 amount = amounts[round % 5];
      const int which = round % 3;  // Gaussian, motion along rows, along columns
      const Pic want = which == 0 ? RefLines(RefLines(src, 0, amount, 0, 0), 90, amount, 0, 0)
                                  : RefLines(src, which == 1 ? 0 : 90, amount, 0, 0);
      const Pic dst = Blur(src, which != 0, which == 1 ? 0 : 90, amount, 0, 0, 1 + 2 * (round % 2));
      ASSERT_TRUE(dst.SameAs(want)) << "isa " << int(isa) << " " << src.w << "x" << src.h << " amount " << amount
                                    << " which " << which;
    }
  });
}

// Flat lines of every byte value broken by single samples and steps of one
// (up and down), spaced so that they reach one tap of a window after
// another down to the outermost: the means lie a hair above or below a
// whole value there. Every kernel length, rows and columns alone and both,
// every instruction set: the reference's bytes.
TEST(ImageFXBlur, SmallSigmaStepsOfOneAtTheOuterTaps) {
  const f64 amounts[] = {0.1, 0.3, 0.5, 0.7, 0.9, 1.0, 1.2, 1.35, 1.49};
  Pic src(331, 256, 3, 0, 0);
  for (u32 y = 0; y < src.h; ++y)
    for (u32 x = 0; x < src.w; ++x) {
      const i32 p = static_cast<i32>(y), up = y < 255 ? 1 : -1, cell = x % 41;
      src.At(0, x, y) = static_cast<u8>(cell == 20 ? p + up : p);
      src.At(1, x, y) = static_cast<u8>((x / 23) % 2 ? p - (y > 0) : p);
      src.At(2, x, src.h - 1 - y) = static_cast<u8>(cell == 7 || cell == 30 ? p + up : p);
    }
  Pic turned(src.h, src.w, 3, 0, 1);
  for (u8 p = 0; p < 3; ++p)
    for (u32 y = 0; y < src.h; ++y)
      for (u32 x = 0; x < src.w; ++x) turned.At(p, y, x) = src.At(p, x, y);
  ForEachIsa([&](KLF_BlurIsa isa) {
    for (f64 amount : amounts) {
      ASSERT_TRUE(Blur(src, true, 0, amount, 0, 0).SameAs(RefLines(src, 0, amount, 0, 0)))
          << "isa " << int(isa) << " rows, amount " << amount;
      ASSERT_TRUE(Blur(turned, true, 90, amount, 0, 0, 3).SameAs(RefLines(turned, 90, amount, 0, 0)))
          << "isa " << int(isa) << " columns, amount " << amount;
      ASSERT_TRUE(Blur(src, false, 0, amount, 0, 0, 2)
                      .SameAs(RefLines(RefLines(src, 0, amount, 0, 0), 90, amount, 0, 0)))
          << "isa " << int(isa) << " both, amount " << amount;
    }
  });
}

// Rows that repeat the row above but for one sample, placed anywhere from
// inside a window to just past it, on flat rows of every value (a flat
// window's byte may be one below its value, so one sample at an outer tap
// flips it); every fifth row transparent and recovered; runs of equal
// samples of every length from 1 to 21 along rows and down columns. Every
// kernel length, rows and columns alone and both, every instruction set:
// the reference's bytes.
TEST(ImageFXBlur, SmallSigmaRepeatedRowsAndRunsOfEqualSamples) {
  const u32 w = 203, h = 2 * 256;
  Pic src(w, h, 4, 1, 0);
  for (u32 y = 0; y < h; ++y) {
    const u32 k = y / 2;
    const u8 p = static_cast<u8>(k % 256);
    for (u32 x = 0; x < w; ++x) src.At(0, x, y) = p;
    if (y % 2) src.At(0, (k * 37) % w, y) = static_cast<u8>(p < 255 ? p + 1 : p - 1);
    for (u32 x = 0, r = y; x < w; ++r)
      for (u32 run = 1 + r % 21; run > 0 && x < w; --run, ++x) src.At(1, x, y) = static_cast<u8>(r * 13 + y / 7);
    for (u32 x = 0; x < w; ++x) src.At(3, x, y) = y % 5 == 4 ? 0 : 255;
  }
  for (u32 x = 0; x < w; ++x)
    for (u32 y = 0, r = x; y < h; ++r)
      for (u32 run = 1 + r % 21; run > 0 && y < h; --run, ++y) src.At(2, x, y) = static_cast<u8>(r * 11 + x / 5);
  const f64 amounts[] = {0.1, 0.3, 0.5, 0.8, 1.0, 1.2, 1.49};
  ForEachIsa([&](KLF_BlurIsa isa) {
    for (f64 amount : amounts) {
      ASSERT_TRUE(Blur(src, true, 0, amount, 0, 1).SameAs(RefLines(src, 0, amount, 0, 1)))
          << "isa " << int(isa) << " rows, amount " << amount;
      ASSERT_TRUE(Blur(src, true, 90, amount, 0, 0, 3).SameAs(RefLines(src, 90, amount, 0, 0)))
          << "isa " << int(isa) << " columns, amount " << amount;
      ASSERT_TRUE(Blur(src, false, 0, amount, 0, 1, 2)
                      .SameAs(RefLines(RefLines(src, 0, amount, 0, 1), 90, amount, 0, 0)))
          << "isa " << int(isa) << " both, amount " << amount;
    }
  });
}

// Even slopes on long lines: every window is symmetric, its mean a whole
// value, and every sample of a line is decided again.
TEST(ImageFXBlur, SmallSigmaEvenSlopesOnLongLines) {
  Pic rows(6007, 9, 3, 0, 0), columns(9, 6007, 3, 0, 0);
  for (u8 p = 0; p < 3; ++p)
    for (u32 i = 0; i < 6007; ++i)
      for (u32 j = 0; j < 9; ++j) {
        const u8 v = static_cast<u8>(p == 1 ? 255 - (i + j) % 256 : (i * (p + 1) + j) % 256);
        rows.At(p, i, j) = v;
        columns.At(p, j, i) = v;
      }
  ForEachIsa([&](KLF_BlurIsa isa) {
    for (f64 amount : {0.4, 1.0, 1.45}) {
      ASSERT_TRUE(Blur(rows, true, 0, amount, 0, 0, 3).SameAs(RefLines(rows, 0, amount, 0, 0)))
          << "isa " << int(isa) << " rows, amount " << amount;
      ASSERT_TRUE(Blur(columns, true, 90, amount, 0, 0).SameAs(RefLines(columns, 90, amount, 0, 0)))
          << "isa " << int(isa) << " columns, amount " << amount;
    }
  });
}
