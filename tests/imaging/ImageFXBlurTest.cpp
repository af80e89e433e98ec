#include <gtest/gtest.h>

#include <algorithm>

#include "imaging/FXTestImage.h"

using fxtest::Bind;
using fxtest::Pic;
typedef CKLF_ImageFX::STRUCT_Blur_VectorData BlurRec;

namespace {

u8 Trunc(f64 v) { return v <= 0.0 ? 0 : (v >= 255.0 ? 255 : static_cast<u8>(v)); }

// The blur written plainly: one row, then one column at a time, through
// the single-line filter.
Pic RefGaussian(const Pic& src, f64 radius, u8 blurAlpha, u8 recovery) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(radius, &r, &pad, 0, 0);
  const u8 last = static_cast<u8>(src.count - 1);
  std::vector<f64> line(std::max(src.w, src.h));
  std::vector<u8> vals(src.w), alpha(src.w);
  for (u8 p = 0; p < src.count; ++p) {
    const bool isAlpha = src.alpha && p == last;
    if (isAlpha && !blurAlpha) {
      for (u32 y = 0; y < src.h; ++y) std::memcpy(dst.Row(p, y), src.Row(p, y), src.w);
      break;
    }
    for (u32 y = 0; y < src.h; ++y) {
      if (recovery && src.alpha && !isAlpha)
        CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(src.Row(p, y), line.data(), src.w, src.Row(last, y));
      else
        for (u32 x = 0; x < src.w; ++x) line[x] = src.At(p, x, y);
      r.length = src.w;
      r.vector = line.data();
      EXPECT_EQ(fx.Blur_BlurVector(&r), 1);
      for (u32 x = 0; x < src.w; ++x) dst.At(p, x, y) = Trunc(line[x]);
    }
    for (u32 x = 0; x < src.w; ++x) {
      for (u32 y = 0; y < src.h; ++y) line[y] = dst.At(p, x, y);
      r.length = src.h;
      r.vector = line.data();
      EXPECT_EQ(fx.Blur_BlurVector(&r), 1);
      for (u32 y = 0; y < src.h; ++y) dst.At(p, x, y) = Trunc(line[y]);
    }
  }
  return dst;
}

// Motion blur along rows (horizontal) or columns (vertical), plainly.
Pic RefMotionStraight(const Pic& src, f64 distance, bool horizontal, u8 recovery) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(distance, &r, &pad, 0, 0);
  const u8 last = static_cast<u8>(src.count - 1);
  const u32 lines = horizontal ? src.h : src.w, len = horizontal ? src.w : src.h;
  std::vector<f64> line(len);
  std::vector<u8> vals(len), alpha(len);
  for (u8 p = 0; p < src.count; ++p) {
    if (src.alpha && p == last) {
      for (u32 y = 0; y < src.h; ++y) std::memcpy(dst.Row(p, y), src.Row(p, y), src.w);
      break;
    }
    for (u32 n = 0; n < lines; ++n) {
      for (u32 i = 0; i < len; ++i) {
        vals[i] = horizontal ? src.At(p, i, n) : src.At(p, n, i);
        alpha[i] = src.alpha ? (horizontal ? src.At(last, i, n) : src.At(last, n, i)) : 255;
      }
      if (recovery && src.alpha)
        CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(vals.data(), line.data(), len, alpha.data());
      else
        for (u32 i = 0; i < len; ++i) line[i] = vals[i];
      r.length = len;
      r.vector = line.data();
      EXPECT_EQ(fx.Blur_BlurVector(&r), 1);
      for (u32 i = 0; i < len; ++i) (horizontal ? dst.At(p, i, n) : dst.At(p, n, i)) = Trunc(line[i]);
    }
  }
  return dst;
}

// The angled motion blur as literally described: for every line, scan all
// length positions for the run, filter it with the single-line filter,
// then write back with the shear mix toward the previous line.
Pic RefMotionAngle(const Pic& src, f64 angle, f64 distance, u8 recovery) {
  Pic dst = src.Blank();
  const u8 last = static_cast<u8>(src.count - 1);
  const bool mirrored = angle > 90.0;
  if (mirrored) angle = 180.0 - angle;
  const bool alongX = angle <= 45.0;
  const i64 L = alongX ? src.w : src.h, C = alongX ? src.h : src.w;
  const f64 pi = 3.14159265358979323846;
  const f64 t = angle == 45.0 ? 1.0
                : alongX      ? std::tan(angle * pi / 180.0)
                              : std::tan((90.0 - angle) * pi / 180.0);
  std::vector<i64> off(L);
  std::vector<f32> frac(L);
  for (i64 i = 0; i < L; ++i) {
    off[i] = static_cast<i64>(t * i);
    frac[i] = static_cast<f32>(t * i - off[i]);
  }
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(distance, &r, &pad, 0, 0);
  auto px = [&](const Pic& p, u8 plane, i64 i, i64 c) -> u8 {
    return alongX ? p.At(plane, static_cast<u32>(i), static_cast<u32>(c)) : p.At(plane, static_cast<u32>(c), static_cast<u32>(i));
  };
  auto set = [&](u8 plane, i64 i, i64 c, u8 v) {
    (alongX ? dst.At(plane, static_cast<u32>(i), static_cast<u32>(c)) : dst.At(plane, static_cast<u32>(c), static_cast<u32>(i))) = v;
  };
  for (u8 p = 0; p < src.count; ++p) {
    if (src.alpha && p == last) {
      for (u32 y = 0; y < src.h; ++y) std::memcpy(dst.Row(p, y), src.Row(p, y), src.w);
      break;
    }
    for (i64 k = 0; k < off[L - 1] + C; ++k) {
      std::vector<i64> is, cs, c0s;
      for (i64 i = 0; i < L; ++i) {
        const i64 c0 = k - off[i];
        if (c0 < 0 || c0 >= C) {
          if (!is.empty()) break;
          continue;
        }
        is.push_back(i);
        c0s.push_back(c0);
        cs.push_back(mirrored ? C - 1 - c0 : c0);
      }
      if (is.empty()) continue;
      const u32 n = static_cast<u32>(is.size());
      std::vector<u8> v(n), a(n);
      std::vector<f64> line(n);
      for (u32 q = 0; q < n; ++q) {
        v[q] = px(src, p, is[q], cs[q]);
        a[q] = src.alpha ? px(src, last, is[q], cs[q]) : 255;
      }
      if (recovery && src.alpha)
        CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(v.data(), line.data(), n, a.data());
      else
        for (u32 q = 0; q < n; ++q) line[q] = v[q];
      r.length = n;
      r.vector = line.data();
      EXPECT_EQ(fx.Blur_BlurVector(&r), 1);
      for (u32 q = 0; q < n; ++q) {
        if (c0s[q] > 0) {
          const i64 cn = mirrored ? cs[q] + 1 : cs[q] - 1;
          const u8 old = px(dst, p, is[q], cn);
          set(p, is[q], cn, Trunc(static_cast<f64>(frac[is[q]]) * line[q] + static_cast<f64>((1.0f - frac[is[q]]) * old)));
        }
        set(p, is[q], cs[q], Trunc(line[q]));
      }
    }
  }
  return dst;
}

Pic Blur(Pic& src, bool motion, f64 angle, f64 amount, u8 blurAlpha, u8 recovery, u8 expectOk = 1) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  const u8 ok = motion ? fx.MotionBlur(angle, amount, blurAlpha, recovery) : fx.GaussianBlur(amount, blurAlpha, recovery);
  EXPECT_EQ(ok, expectOk) << "error " << fx.GetError();
  return dst;
}

Pic Flip(const Pic& src, bool vertical) {
  Pic out = src.Blank();
  for (u8 p = 0; p < src.count; ++p)
    for (u32 y = 0; y < src.h; ++y)
      for (u32 x = 0; x < src.w; ++x)
        out.At(p, x, y) = vertical ? src.At(p, x, src.h - 1 - y) : src.At(p, src.w - 1 - x, y);
  return out;
}

}  // namespace

TEST(ImageFXBlur, PrepareChoosesKernelOrRecursivePath) {
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(1.0, &r, &pad, 0, 0);
  EXPECT_EQ(r.smallSigma, 1);  // s = 1.6, n = trunc(6.08) + 2
  EXPECT_EQ(r.kernelLength, 8);
  EXPECT_DOUBLE_EQ(r.kernel[0], 1000.0);
  EXPECT_NEAR(r.kernel[1], 1000.0 * std::exp(-1.0 / (2 * 1.6 * 1.6)), 1e-9);
  fx.Blur_PrepareBlurData(1.5, &r, &pad, 0, 0);
  EXPECT_EQ(r.smallSigma, 0);
  // The recursive filter's gains sum to one.
  EXPECT_NEAR(r.B + r.b1 + r.b2 + r.b3, 1.0, 1e-12);
  fx.Blur_PrepareBlurData(0.05, &r, &pad, 0, 0);
  EXPECT_EQ(r.kernelLength, 2);  // s = 0.1
}

TEST(ImageFXBlur, ZeroAlphaRecoverySplitsTransparentRuns) {
  const u8 v[8] = {10, 20, 30, 40, 50, 60, 70, 80};
  const u8 a[8] = {0, 0, 255, 0, 0, 0, 9, 0};
  f64 out[8];
  CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(v, out, 8, a);
  const f64 want[8] = {30, 30, 30, 30, 70, 70, 70, 70};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], want[i]) << i;

  const u8 none[4] = {0, 0, 0, 0};
  CKLF_ImageFX::Blur_ZeroAlphaRecoveryData(v, out, 4, none);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], 128.0);
}

TEST(ImageFXBlur, LineFilterKeepsConstantsAndHandlesBorders) {
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  for (f64 sigma : {0.4, 1.0, 1.5, 4.0, 30.0}) {
    fx.Blur_PrepareBlurData(sigma, &r, &pad, 0, 0);
    std::vector<f64> line(50, 100.0);
    r.length = 50;
    r.vector = line.data();
    ASSERT_EQ(fx.Blur_BlurVector(&r), 1);
    for (f64 v : line) EXPECT_NEAR(v, 100.0, 1e-6) << sigma;
    // A constant border of 0 pulls the ends down, the middle stays.
    fx.Blur_PrepareBlurData(sigma, &r, &pad, 1, 0);
    std::vector<f64> bordered(200, 100.0);
    r.length = 200;
    r.vector = bordered.data();
    ASSERT_EQ(fx.Blur_BlurVector(&r), 1);
    EXPECT_LT(bordered[0], 80.0) << sigma;
    EXPECT_LT(bordered[199], 80.0) << sigma;
    if (sigma < 20) {
      EXPECT_NEAR(bordered[100], 100.0, 1e-3) << sigma;
    }
  }
}

TEST(ImageFXBlur, FailedPaddingIsReportedAndChangesNothing) {
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(1.0e8, &r, &pad, 0, 0);
  std::vector<f64> line = {1, 2, 3, 4, 5};
  r.length = 5;
  r.vector = line.data();
  EXPECT_EQ(fx.Blur_BlurVector(&r), 0);
  EXPECT_EQ(fx.GetError(), klErrNoMemory);
  EXPECT_EQ(line, (std::vector<f64>{1, 2, 3, 4, 5}));

  std::mt19937 rng(3);
  Pic src(9, 7, 4, 1);
  src.Randomise(rng);
  for (bool motion : {false, true}) {
    Pic dst = src.Blank();
    const Pic before = dst;
    CKLF_ImageFX big;
    Bind(big, src, dst);
    EXPECT_EQ(motion ? big.MotionBlur(0.0, 4.0e8, 0, 1) : big.GaussianBlur(4.0e8, 0, 1), 0);
    EXPECT_EQ(big.GetError(), klErrNoMemory);
    EXPECT_TRUE(dst.SameAs(before));
  }
}

TEST(ImageFXBlur, GaussianEqualsLineByLineForm) {
  std::mt19937 rng(11);
  const u32 sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {5, 3}, {16, 16}, {17, 33}, {40, 21}, {70, 45}};
  const f64 radii[] = {0.3, 0.7, 1.0, 1.49, 1.5, 2.0, 3.3, 7.5, 20.0};
  for (const auto& sz : sizes)
    for (f64 radius : radii)
      for (u8 layout = 0; layout < 3; ++layout) {
        const u8 count = layout == 0 ? 3 : 4;
        const u8 alpha = layout != 0;
        Pic src(sz[0], sz[1], count, alpha, rng() % 3);
        src.Randomise(rng);
        if (alpha) fxtest::BlobAlpha(src, rng, 2);
        const u8 blurAlpha = layout == 2, recovery = static_cast<u8>(rng() & 1);
        Pic got = Blur(src, false, 0, radius, blurAlpha, recovery);
        Pic want = RefGaussian(src, radius, blurAlpha, recovery);
        ASSERT_TRUE(got.SameAs(want)) << sz[0] << "x" << sz[1] << " radius " << radius << " layout " << int(layout)
                                      << " recovery " << int(recovery);
        EXPECT_TRUE(got.GapsIntact());
      }
}

TEST(ImageFXBlur, ConstantImagesStayConstant) {
  for (u8 c : {0, 1, 77, 128, 200, 255})
    for (f64 radius : {0.5, 1.0, 2.0, 10.0, 50.0}) {
      Pic src(37, 29, 3, 0, 0, c);
      Pic g = Blur(src, false, 0, radius, 0, 0);
      for (f64 angle : {0.0, 30.0, 90.0, 150.0}) {
        Pic m = Blur(src, true, angle, radius, 0, 0);
        for (u8 p = 0; p < 3; ++p)
          for (u32 y = 0; y < src.h; ++y)
            for (u32 x = 0; x < src.w; ++x) {
              // Each pass truncates: rounding noise just below c may cost
              // one unit per pass (two passes, or pass and shear mix), never
              // more, and never a gain.
              ASSERT_LE(m.At(p, x, y), c);
              ASSERT_GE(m.At(p, x, y) + 2, c) << int(c) << " angle " << angle << " radius " << radius;
              ASSERT_LE(g.At(p, x, y), c);
              ASSERT_GE(g.At(p, x, y) + 2, c) << int(c) << " radius " << radius;
            }
      }
    }
}

TEST(ImageFXBlur, ImpulseResponseIsSymmetricAndCentred) {
  for (f64 radius : {1.0, 2.5, 6.0}) {
    Pic src(41, 41, 1, 0);
    for (u32 y = 18; y <= 22; ++y)
      for (u32 x = 18; x <= 22; ++x) src.At(0, x, y) = 255;  // a symmetric spot about (20, 20)
    Pic g = Blur(src, false, 0, radius, 0, 0);
    // Mirror images agree up to the unit truncation may cost, and the
    // response is centred on the spot.
    f64 mass = 0, mx = 0, my = 0;
    for (u32 y = 0; y < 41; ++y)
      for (u32 x = 0; x < 41; ++x) {
        const int v = g.At(0, x, y);
        for (int o : {static_cast<int>(g.At(0, 40 - x, y)), static_cast<int>(g.At(0, x, 40 - y)),
                      static_cast<int>(g.At(0, y, x))})
          EXPECT_LE(std::abs(v - o), 1) << radius << " at " << x << "," << y;
        mass += v;
        mx += v * (static_cast<f64>(x) - 20.0);
        my += v * (static_cast<f64>(y) - 20.0);
      }
    EXPECT_LT(std::fabs(mx / mass), 0.02) << radius;
    EXPECT_LT(std::fabs(my / mass), 0.02) << radius;
    // The peak stays on the impulse.
    for (u32 y = 10; y <= 30; ++y)
      for (u32 x = 10; x <= 30; ++x) EXPECT_LE(g.At(0, x, y), g.At(0, 20, 20));
    EXPECT_GT(g.At(0, 20, 20), g.At(0, 23, 20));
  }
}

TEST(ImageFXBlur, SmallRadiusCopiesAndAlphaIsKept) {
  std::mt19937 rng(5);
  Pic src(23, 17, 4, 1, 2);
  src.Randomise(rng);
  Pic g = Blur(src, false, 0, 0.05, 1, 1);
  EXPECT_TRUE(g.SameAs(src));
  Pic m = Blur(src, true, 33, 0.05, 1, 1);
  EXPECT_TRUE(m.SameAs(src));

  // A fully transparent source keeps its alpha byte for byte, and its
  // colour planes blur as the constant 128 under recovery.
  Pic clear(19, 13, 4, 1);
  clear.Randomise(rng);
  for (u32 y = 0; y < clear.h; ++y) std::memset(clear.Row(3, y), 0, clear.w);
  for (bool motion : {false, true}) {
    Pic out = Blur(clear, motion, 20, 3.0, 0, 1);
    EXPECT_TRUE(out.PlaneSame(clear, 3));
    for (u32 y = 0; y < clear.h; ++y)
      for (u32 x = 0; x < clear.w; ++x) ASSERT_NEAR(out.At(0, x, y), 128, 1);
  }
}

TEST(ImageFXBlur, RecoveryKeepsTransparentColourFromBleedingIn) {
  // A white opaque band (all rows) on black transparent ground: with
  // recovery the band's edge stays white, without it the black bleeds in.
  // (Recovery works along rows; the column pass sees the row results.)
  Pic src(30, 30, 4, 1);
  for (u32 y = 0; y < 30; ++y)
    for (u32 x = 10; x < 20; ++x) {
      for (u8 p = 0; p < 3; ++p) src.At(p, x, y) = 255;
      src.At(3, x, y) = 255;
    }
  Pic with = Blur(src, false, 0, 3.0, 0, 1);
  Pic without = Blur(src, false, 0, 3.0, 0, 0);
  EXPECT_GE(with.At(0, 10, 15), 250);
  EXPECT_LT(without.At(0, 10, 15), 200);
}

TEST(ImageFXBlur, BlurredAlphaIsNotRecoveredAgainstItself) {
  // Recovery gives transparent pixels the values of visible neighbours;
  // run on the alpha plane itself it would turn clear ground opaque (and a
  // fully clear row into 128). Blurring alpha with recovery on must keep
  // clear ground clear away from the shape.
  Pic src(40, 30, 4, 1);
  for (u32 y = 12; y < 18; ++y)
    for (u32 x = 15; x < 25; ++x)
      for (u8 p = 0; p < 4; ++p) src.At(p, x, y) = 200 + p;
  for (bool motion : {false, true})
    for (f64 angle : {0.0, 90.0, 30.0}) {
      Pic out = Blur(src, motion, angle, 2.0, 1, 1);
      EXPECT_EQ(out.At(3, 1, 1), 0) << motion << " " << angle;
      EXPECT_EQ(out.At(3, 38, 28), 0) << motion << " " << angle;
      EXPECT_GT(out.At(3, 20, 15), 100) << motion << " " << angle;
      if (!motion) break;
    }
}

TEST(ImageFXBlur, MismatchedOrBadArgumentsAreRefused) {
  Pic src(8, 8, 4, 1), dst(8, 8, 3, 0);
  const Pic before = dst;
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  EXPECT_EQ(fx.GaussianBlur(2.0, 0, 1), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);
  EXPECT_EQ(fx.MotionBlur(10.0, 2.0, 0, 1), 0);
  EXPECT_TRUE(dst.SameAs(before));

  Pic ok = src.Blank();
  Bind(fx, src, ok);
  fx.ResetError();
  EXPECT_EQ(fx.GaussianBlur(std::nan(""), 0, 0), 0);
  EXPECT_EQ(fx.MotionBlur(std::nan(""), 2.0, 0, 0), 0);
  EXPECT_EQ(fx.MotionBlur(HUGE_VAL, 2.0, 0, 0), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);
}

TEST(ImageFXBlur, MotionStraightPassesEqualLineByLineForm) {
  std::mt19937 rng(21);
  for (int round = 0; round < 12; ++round) {
    const u8 alpha = round % 2;
    Pic src(1 + rng() % 40, 1 + rng() % 40, alpha ? 4 : 3, alpha, rng() % 2);
    src.Randomise(rng);
    if (alpha) fxtest::BlobAlpha(src, rng, 2);
    const f64 dist = round < 4 ? 1.2 : 2.0 + round * 1.7;
    const u8 recovery = static_cast<u8>(round / 2 % 2);
    // 0, 180 and -360 are horizontal; 90 and 270 vertical.
    for (f64 angle : {0.0, 180.0, -360.0, 0.05}) {
      Pic got = Blur(src, true, angle, dist, 0, recovery);
      ASSERT_TRUE(got.SameAs(RefMotionStraight(src, dist, true, recovery))) << angle;
    }
    for (f64 angle : {90.0, 270.0, -90.0, 90.08}) {
      Pic got = Blur(src, true, angle, dist, 0, recovery);
      ASSERT_TRUE(got.SameAs(RefMotionStraight(src, dist, false, recovery))) << angle;
    }
  }
}

TEST(ImageFXBlur, MotionAngledEqualsLineByLineForm) {
  std::mt19937 rng(27);
  for (int round = 0; round < 40; ++round) {
    const u8 alpha = round % 3 != 2;
    Pic src(1 + rng() % 70, 1 + rng() % 70, alpha ? 4 : 3, alpha, rng() % 2);
    src.Randomise(rng);
    if (alpha) fxtest::BlobAlpha(src, rng, 2);
    const f64 angle = round < 6 ? 45.0 * (1 + round % 3) : 0.2 + (rng() % 17950) / 100.0;
    if (angle > 89.9 && angle < 90.1) continue;
    const f64 dist = round % 5 == 0 ? 0.3 + (rng() % 12) / 10.0 : 1.5 + (rng() % 300) / 10.0;
    const u8 recovery = static_cast<u8>(rng() & 1);
    Pic got = Blur(src, true, angle, dist, 0, recovery);
    ASSERT_TRUE(got.SameAs(RefMotionAngle(src, angle, dist, recovery)))
        << src.w << "x" << src.h << " angle " << angle << " distance " << dist << " recovery " << int(recovery);
  }
}

TEST(ImageFXBlur, MotionAngleFoldsAndMirrors) {
  std::mt19937 rng(8);
  Pic src(31, 24, 4, 1, 1);
  src.Randomise(rng);
  fxtest::BlobAlpha(src, rng, 3);
  for (f64 a : {10.0, 30.0, 45.0, 60.0, 80.0}) {
    const Pic base = Blur(src, true, a, 3.0, 0, 1);
    EXPECT_TRUE(Blur(src, true, a + 180.0, 3.0, 0, 1).SameAs(base)) << a;
    EXPECT_TRUE(Blur(src, true, a - 360.0, 3.0, 0, 1).SameAs(base)) << a;
    EXPECT_TRUE(Blur(src, true, a + 1800000000.0, 3.0, 0, 1).SameAs(base)) << a;
    // 180 - a is a mirrored across the lines: rows flip for lines along x
    // (a <= 45), columns for lines along y.
    const bool vertical = a <= 45.0;
    Pic flipped = Flip(src, vertical);
    Pic mirrored = Flip(Blur(flipped, true, 180.0 - a, 3.0, 0, 1), vertical);
    EXPECT_TRUE(mirrored.SameAs(base)) << a;
  }
}

TEST(ImageFXBlur, MotionAt45DegreesRunsExactDiagonals) {
  // At 45 degrees the lines are the exact diagonals (shear 1, no fraction):
  // a picture that is constant along them stays in place, up to the unit
  // truncation may cost. tan(45 degrees) computes to just below 1, which
  // would give every pixel the next diagonal's value.
  for (f64 angle : {45.0, 135.0, 225.0, -135.0}) {
    const bool mirrored = angle == 135.0 || angle == -45.0 || angle == 315.0;
    Pic src(37, 23, 3, 0, 1);
    for (u8 p = 0; p < 3; ++p)
      for (u32 y = 0; y < src.h; ++y)
        for (u32 x = 0; x < src.w; ++x) {
          const int d = mirrored ? static_cast<int>(x) - static_cast<int>(y) + 22 : static_cast<int>(x + y);
          src.At(p, x, y) = static_cast<u8>(10 + 3 * d + p);
        }
    Pic out = Blur(src, true, angle, 3.0, 0, 0);
    for (u32 y = 0; y < src.h; ++y)
      for (u32 x = 0; x < src.w; ++x) {
        ASSERT_LE(out.At(1, x, y), src.At(1, x, y)) << angle << " at " << x << "," << y;
        ASSERT_GE(out.At(1, x, y) + 1, src.At(1, x, y)) << angle << " at " << x << "," << y;
      }
  }
}

TEST(ImageFXBlur, MotionSmearsAlongItsAngle) {
  // An impulse spreads along up-right for 30 degrees (y grows downward)
  // and up-left for 150, and stays dark across the line.
  for (f64 angle : {30.0, 60.0, 150.0}) {
    Pic src(61, 61, 1, 0);
    src.At(0, 30, 30) = 255;
    Pic out = Blur(src, true, angle, 5.0, 0, 0);
    const f64 rad = angle * 3.14159265358979 / 180.0;
    const int dx = static_cast<int>(std::lround(8 * std::cos(rad))), dy = static_cast<int>(std::lround(-8 * std::sin(rad)));
    EXPECT_GT(out.At(0, 30 + dx, 30 + dy) + out.At(0, 30 + dx, 30 + dy + 1) + out.At(0, 30 + dx, 30 + dy - 1), 3)
        << angle;
    EXPECT_EQ(out.At(0, 30 - dy, 30 + dx), 0) << angle;  // across the line
  }
}

TEST(ImageFXBlur, MotionAnglePassKeepsStridesAndAlpha) {
  std::mt19937 rng(13);
  for (int round = 0; round < 20; ++round) {
    Pic src(1 + rng() % 30, 1 + rng() % 30, 4, 1, rng() % 3);
    src.Randomise(rng);
    const f64 angle = 0.2 + (rng() % 17900) / 100.0;
    Pic out = Blur(src, true, angle, 0.5 + rng() % 9, 0, rng() & 1);
    EXPECT_TRUE(out.PlaneSame(src, 3));
    EXPECT_TRUE(out.GapsIntact());
  }
}
