#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "imaging/FXTestImage.h"

using fxtest::Bind;
using fxtest::Pic;

namespace {

// The stroke as literally described: every edge pixel stamps its whole
// window. Slow (edge pixels times (2w + 1)^2) but obviously right.
Pic RefStroke(const Pic& src, const u8* colour, u8 width, u8 opacity) {
  Pic dst = src.Blank();
  const u32 W = src.w, H = src.h;
  const u8 last = static_cast<u8>(src.count - 1);
  if (width == 0) return src;
  std::vector<u8> cov(W * H, 0);
  auto a = [&](i32 x, i32 y) -> i32 {
    if (x < 0 || y < 0 || x >= static_cast<i32>(W) || y >= static_cast<i32>(H)) return 0;
    return src.At(last, x, y);
  };
  auto border = [&](u32 x, u32 y) { return x == 0 || y == 0 || x + 1 == W || y + 1 == H; };
  if (width == 1) {
    for (u32 y = 0; y < H; ++y)
      for (u32 x = 0; x < W; ++x) {
        if (a(x, y) != 255 || border(x, y)) {
          cov[y * W + x] = 255;
          continue;
        }
        i32 mn = 255;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (dx || dy) mn = std::min(mn, a(x + dx, y + dy));
        cov[y * W + x] = static_cast<u8>(255 - mn);
      }
  } else {
    const i32 w = width, d = 2 * w + 1;
    std::vector<u8> m0(d * d), small((d - 2) * (d - 2)), m1(d * d, 0);
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, m0.data(), w);
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, small.data(), w - 1);
    for (i32 r = 0; r < d - 2; ++r)
      for (i32 c = 0; c < d - 2; ++c) m1[(r + 1) * d + c + 1] = small[r * (d - 2) + c];
    for (u32 y = 0; y < H; ++y)
      for (u32 x = 0; x < W; ++x) {
        const i32 ax = a(x, y);
        if (ax == 255 && !border(x, y)) continue;
        cov[y * W + x] = 255;
        if (a(x - 1, y) != 255 && a(x + 1, y) != 255 && a(x, y - 1) != 255 && a(x, y + 1) != 255) continue;
        for (i32 v = static_cast<i32>(y) - w; v <= static_cast<i32>(y) + w; ++v)
          for (i32 u = static_cast<i32>(x) - w; u <= static_cast<i32>(x) + w; ++u) {
            if (u < 0 || v < 0 || u >= static_cast<i32>(W) || v >= static_cast<i32>(H)) continue;
            const i32 k = (v - static_cast<i32>(y) + w) * d + (u - static_cast<i32>(x) + w);
            const i32 s = m0[k] - (ax * (m0[k] - m1[k])) / 255;
            u8& c = cov[v * W + u];
            if (s > c) c = static_cast<u8>(s);
          }
      }
  }
  for (u8 p = 0; p < last; ++p)
    for (u32 y = 0; y < H; ++y)
      for (u32 x = 0; x < W; ++x) {
        const i32 s = src.At(p, x, y), k = cov[y * W + x];
        dst.At(p, x, y) = static_cast<u8>(opacity == 255 ? s + (k * (colour[p] - s)) / 255
                                                         : s + (k * opacity * (colour[p] - s)) / 65025);
      }
  for (u32 y = 0; y < H; ++y) std::memcpy(dst.Row(last, y), src.Row(last, y), W);
  return dst;
}

// The disc matrix as plainly stated: each sample of the top-left quadrant
// adds its share to its pixel, capped at 255; then the quadrant mirrored.
std::vector<u8> RefDisc(u8 shift, i32 radius) {
  const i32 S = 1 << shift, R = radius * S, d = 2 * radius + 1, add = 256 >> (2 * shift);
  std::vector<u8> m(static_cast<size_t>(d) * d, 0);
  for (i32 sy = -R; sy < S; ++sy)
    for (i32 sx = -R; sx < S; ++sx)
      if (static_cast<i64>(sy) * sy + static_cast<i64>(sx) * sx < static_cast<i64>(R) * R) {
        u8& p = m[static_cast<size_t>((sy + R) / S) * d + (sx + R) / S];
        p = static_cast<u8>(std::min(255, p + add));
      }
  for (i32 r = 0; r <= radius; ++r)
    for (i32 c = 0; c <= radius; ++c) {
      const u8 v = m[r * d + c];
      m[r * d + d - 1 - c] = m[(d - 1 - r) * d + c] = m[(d - 1 - r) * d + d - 1 - c] = v;
    }
  return m;
}

Pic Stroke(Pic& src, const u8* colour, u8 width, u8 opacity) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  EXPECT_EQ(fx.StrokeInside(colour, width, opacity), 1) << fx.GetError();
  return dst;
}

}  // namespace

TEST(ImageFXStroke, DiscMatrices) {
  u8 m[25];
  CKLF_ImageFX::Stroke_FillCircleMatrix(3, m, 1);
  const u8 one[9] = {164, 192, 164, 192, 224, 192, 164, 192, 164};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(m[i], one[i]) << i;
  CKLF_ImageFX::Stroke_FillCircleMatrix(3, m, 2);
  const u8 two[25] = {60,  208, 216, 208, 60,  208, 255, 255, 255, 208, 216, 255, 255,
                      255, 216, 208, 255, 255, 255, 208, 60,  208, 216, 208, 60};
  for (int i = 0; i < 25; ++i) EXPECT_EQ(m[i], two[i]) << i;
}

TEST(ImageFXStroke, FastFormEqualsWindowStamping) {
  std::mt19937 rng(17);
  for (int round = 0; round < 60; ++round) {
    const u8 count = round % 3 == 0 ? 2 : 4;
    Pic src(1 + rng() % 48, 1 + rng() % 40, count, 1, rng() % 3);
    src.Randomise(rng);
    if (round % 5 != 4) fxtest::BlobAlpha(src, rng, 1 + rng() % 4);
    const u8 colour[4] = {static_cast<u8>(rng()), static_cast<u8>(rng()), static_cast<u8>(rng()), 0};
    const u8 width = static_cast<u8>(round < 50 ? 1 + round % 12 : 20 + rng() % 236);
    const u8 opacity = round % 4 == 0 ? 255 : static_cast<u8>(rng());
    Pic got = Stroke(src, colour, width, opacity);
    ASSERT_TRUE(got.SameAs(RefStroke(src, colour, width, opacity)))
        << src.w << "x" << src.h << " width " << int(width) << " opacity " << int(opacity);
  }
}

TEST(ImageFXStroke, ZeroWidthOrOpacityCopies) {
  const u8 red[3] = {255, 0, 0};
  std::mt19937 rng(3);
  Pic blob(30, 20, 4, 1, 2);
  blob.Randomise(rng);
  fxtest::BlobAlpha(blob, rng, 3);
  EXPECT_TRUE(Stroke(blob, red, 3, 0).SameAs(blob));
  EXPECT_TRUE(Stroke(blob, red, 0, 255).SameAs(blob));
}

// Every radius a stroke of a piece asks for (widths 1 to 100) and some
// wider at 8 x 8 samples, and every sample count on small discs.
TEST(ImageFXStroke, DiscMatricesEqualSampleBySample) {
  std::vector<u8> m;
  for (i32 radius : [] {
         std::vector<i32> r;
         for (i32 i = 0; i <= 100; ++i) r.push_back(i);
         for (i32 i : {101, 128, 199, 254, 255}) r.push_back(i);
         return r;
       }()) {
    m.assign(static_cast<size_t>(2 * radius + 1) * (2 * radius + 1), 77);
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, m.data(), radius);
    ASSERT_EQ(m, RefDisc(3, radius)) << "radius " << radius;
  }
  for (u8 shift = 0; shift <= 8; ++shift)
    for (i32 radius = 0; radius <= 12; ++radius) {
      m.assign(static_cast<size_t>(2 * radius + 1) * (2 * radius + 1), 77);
      CKLF_ImageFX::Stroke_FillCircleMatrix(shift, m.data(), radius);
      ASSERT_EQ(m, RefDisc(shift, radius)) << "shift " << int(shift) << " radius " << radius;
    }
}

// The kept discs asked for at every width in a random order, some twice
// running (more widths than are kept): each time the outer disc and the
// inner one centred in it.
TEST(ImageFXStroke, KeptDiscsFollowTheWidth) {
  std::vector<u8> widths;
  for (u32 w = 2; w <= 255; ++w) widths.push_back(static_cast<u8>(w));
  std::mt19937 rng(5);
  std::shuffle(widths.begin(), widths.end(), rng);
  for (size_t i = 0; i < widths.size(); i += 7) widths.insert(widths.begin() + i, widths[i]);
  CKLF_StrokeDiscs discs;
  std::vector<u8> outer, small, inner;
  for (u8 w : widths) {
    const u32 d = 2u * w + 1;
    outer.assign(d * d, 0);
    small.assign((d - 2) * (d - 2), 0);
    inner.assign(d * d, 0);
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, outer.data(), w);
    CKLF_ImageFX::Stroke_FillCircleMatrix(3, small.data(), w - 1);
    for (u32 r = 0; r + 2 < d; ++r) std::memcpy(&inner[(r + 1) * d + 1], &small[r * (d - 2)], d - 2);
    const u8* kept = discs.Use(w);
    ASSERT_NE(kept, nullptr);
    ASSERT_EQ(std::memcmp(kept, outer.data(), d * d), 0) << "width " << int(w);
    ASSERT_EQ(std::memcmp(kept + d * d, inner.data(), d * d), 0) << "width " << int(w);
  }
  EXPECT_EQ(discs.Use(1), nullptr);
  EXPECT_EQ(discs.GetError(), klErrBadArg);
}

namespace {

// The disc a width's runs stamp for an alpha value, spread back into a
// matrix, beside the one its outer and inner discs give.
void ExpectRunsOfDisc(const CKLF_StrokeDiscs& discs, const u8* kept, u8 w, u8 alpha) {
  const u32 d = 2u * w + 1;
  std::vector<u8> spread(d * d, 0), want(d * d);
  for (u32 r = 0; r < d; ++r) {
    const CKLF_StrokeDiscs::Row row = discs.Rows(alpha)[r];
    for (u32 i = 0; i < row.count; ++i) {
      const CKLF_StrokeDiscs::Run run = discs.Runs(alpha)[row.first + i];
      for (i32 c = run.c0; c <= run.c1; ++c) spread[r * d + c] = run.v;
    }
  }
  for (u32 i = 0; i < d * d; ++i) want[i] = static_cast<u8>(kept[i] - alpha * (kept[i] - kept[d * d + i]) / 255);
  ASSERT_EQ(spread, want) << "width " << int(w) << " alpha " << int(alpha);
}

}  // namespace

// Every width in turn, then wide and narrow ones back and forth, each with
// an alpha value's runs: the widths kept stay within the byte cap and
// give what discs made anew give.
TEST(ImageFXStroke, KeptDiscsStayWithinTheirBytes) {
  std::vector<u8> widths;
  for (u32 w = 1; w <= 255; ++w) widths.push_back(static_cast<u8>(w));
  const u8 turns[] = {255, 3, 254, 200, 3, 255, 120, 2, 254, 253, 252, 251, 250, 249, 248, 247, 255, 3};
  widths.insert(widths.end(), std::begin(turns), std::end(turns));
  CKLF_StrokeDiscs discs;
  u64 most = 0;
  for (size_t i = 0; i < widths.size(); ++i) {
    const u8 w = widths[i];
    const u8* kept = discs.Use(w);
    if (w < 2) {
      ASSERT_EQ(kept, nullptr);
      continue;
    }
    const u8 alpha = static_cast<u8>(i * 37 + 1);
    ASSERT_EQ(discs.MakeRuns(alpha), 1);
    kept = discs.Use(w);
    if (i % 16 == 0 || i >= 255) {
      const u32 d = 2u * w + 1;
      CKLF_StrokeDiscs anew;
      ASSERT_EQ(std::memcmp(kept, anew.Use(w), 2 * d * d), 0) << "width " << int(w);
    }
    ExpectRunsOfDisc(discs, kept, w, alpha);
    ASSERT_LE(discs.Bytes(), CKLF_StrokeDiscs::kMaxBytes) << "width " << int(w);
    most = std::max(most, discs.Bytes());
  }
  // Widths enough were kept to come near the cap.
  EXPECT_GT(most, CKLF_StrokeDiscs::kMaxBytes / 2);

  // One width over the cap on its own stays whole while in use, and goes
  // once another is.
  const u8* kept = discs.Use(255);
  u32 alpha = 0;
  while (discs.Bytes() <= CKLF_StrokeDiscs::kMaxBytes && alpha < 255) ASSERT_EQ(discs.MakeRuns(++alpha), 1);
  ASSERT_GT(discs.Bytes(), CKLF_StrokeDiscs::kMaxBytes);
  kept = discs.Use(255);
  for (u32 a : {1u, alpha / 2, alpha}) ExpectRunsOfDisc(discs, kept, 255, static_cast<u8>(a));
  ASSERT_NE(discs.Use(9), nullptr);
  EXPECT_LE(discs.Bytes(), CKLF_StrokeDiscs::kMaxBytes);
}

// One object stroking pictures one after another, as a renderer does
// with its pieces: widths that change, come back and repeat, alpha values
// that come and go, more widths than are kept; each as the literal
// stamping gives it.
TEST(ImageFXStroke, ReusedObjectEqualsWindowStamping) {
  std::mt19937 rng(29);
  CKLF_ImageFX fx;
  const u8 widths[] = {3, 7, 7, 2, 30, 7, 3, 60, 30, 2, 9, 9, 1, 9, 4, 5, 6, 11, 12, 13, 3, 60, 7};
  for (u8 width : widths) {
    Pic src(10 + rng() % 40, 10 + rng() % 40, 4, 1, rng() % 3);
    src.Randomise(rng);
    fxtest::BlobAlpha(src, rng, 1 + rng() % 3);
    Pic dst = src.Blank();
    Bind(fx, src, dst);
    const u8 colour[3] = {static_cast<u8>(rng()), static_cast<u8>(rng()), static_cast<u8>(rng())};
    ASSERT_EQ(fx.StrokeInside(colour, width, 255), 1);
    ASSERT_TRUE(dst.SameAs(RefStroke(src, colour, width, 255))) << "width " << int(width);
  }
}
