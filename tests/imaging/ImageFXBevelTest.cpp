#include <gtest/gtest.h>

#include "imaging/FXTestImage.h"

using fxtest::Bind;
using fxtest::Pic;
typedef CKLF_ImageFX::STRUCT_Blur_VectorData BlurRec;

namespace {

struct Params {
  u16 size, depth;
  f64 soften;
  klt3D_VECTOR light;
  u8 hc[3], ho, sc[3], so;
};

// The bevel written plainly, one line at a time through the single-line
// filter; the highlight is limited to its opacity.
Pic RefBevel(const Pic& src, const Params& q) {
  Pic dst = src.Blank();
  const u32 W = src.w, H = src.h, MW = W + 2, MH = H + 2;
  const u8 last = static_cast<u8>(src.count - 1);
  std::vector<f32> hm(MW * MH, 0.0f);
  for (u32 j = 0; j < H; ++j)
    for (u32 i = 0; i < W; ++i) hm[(j + 1) * MW + i + 1] = src.alpha ? src.At(last, i, j) : 255;
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  std::vector<f64> line(std::max(MW, MH));
  if (q.size > 0) {
    fx.Blur_PrepareBlurData(q.size / 3.32, &r, &pad, 1, 0);
    for (u32 j = 0; j < MH; ++j) {
      for (u32 i = 0; i < MW; ++i) line[i] = hm[j * MW + i];
      r.length = MW;
      r.vector = line.data();
      fx.Blur_BlurVector(&r);
      for (u32 i = 0; i < MW; ++i) hm[j * MW + i] = static_cast<f32>(line[i]);
    }
    for (u32 i = 0; i < MW; ++i) {
      for (u32 j = 0; j < MH; ++j) line[j] = hm[j * MW + i];
      r.length = MH;
      r.vector = line.data();
      fx.Blur_BlurVector(&r);
      for (u32 j = 0; j < MH; ++j) hm[j * MW + i] = static_cast<f32>(line[j]);
    }
  }
  const f32 x = q.light.x, y = q.light.y, z = q.light.z;
  const f32 len = std::sqrt(x * x + y * y + z * z);
  const f32 k = q.depth / 100.0f;
  f32 flat = z / len;
  if (flat < 1e-6f) flat = 1e-6f;
  std::vector<u8> hl(W * H), sh(W * H);
  auto P = [&](u32 c, u32 row) { return hm[row * MW + c]; };
  for (u32 j = 0; j < H; ++j)
    for (u32 i = 0; i < W; ++i) {
      const f32 a = k * (P(i + 1, j + 1) - P(i + 1, j));
      const f32 b = k * (P(i + 1, j) - P(i, j));
      const f32 n = std::sqrt(a * a + b * b + 1.0f);
      f32 lit = ((-x) * b + y * a + z) / (len * n);
      if (lit < 0) lit = 0;
      if (lit <= flat) {
        sh[j * W + i] = static_cast<u8>(q.so - static_cast<i32>(lit * q.so / flat));
        hl[j * W + i] = 0;
      } else {
        f32 h = 1.0f - flat > 0 ? q.ho / (1.0f - flat) * (lit - flat) : 0.0f;
        hl[j * W + i] = static_cast<u8>(std::min<f32>(h, q.ho));
        sh[j * W + i] = 0;
      }
    }
  if (q.soften > 0) {
    fx.Blur_PrepareBlurData(q.soften, &r, &pad, 1, 0);
    for (std::vector<u8>* m : {&hl, &sh}) {
      for (u32 j = 0; j < H; ++j) {
        for (u32 i = 0; i < W; ++i) line[i] = (*m)[j * W + i];
        r.length = W;
        r.vector = line.data();
        fx.Blur_BlurVector(&r);
        for (u32 i = 0; i < W; ++i) (*m)[j * W + i] = static_cast<u8>(line[i]);
      }
      for (u32 i = 0; i < W; ++i) {
        for (u32 j = 0; j < H; ++j) line[j] = (*m)[j * W + i];
        r.length = H;
        r.vector = line.data();
        fx.Blur_BlurVector(&r);
        for (u32 j = 0; j < H; ++j) (*m)[j * W + i] = static_cast<u8>(line[j]);
      }
    }
  }
  for (u8 p = 0; p < src.count - src.alpha; ++p)
    for (u32 j = 0; j < H; ++j)
      for (u32 i = 0; i < W; ++i) {
        const i32 e = hl[j * W + i] - sh[j * W + i], s = src.At(p, i, j);
        i32 v = s;
        if (e > 0) v = s + ((e * (q.hc[p] - s)) >> 8);
        if (e < 0) v = s + ((-e * (q.sc[p] - s)) >> 8);
        dst.At(p, i, j) = static_cast<u8>(v);
      }
  if (src.alpha)
    for (u32 j = 0; j < H; ++j) std::memcpy(dst.Row(last, j), src.Row(last, j), W);
  return dst;
}

Pic Bevel(Pic& src, const Params& q) {
  Pic dst = src.Blank();
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  EXPECT_EQ(fx.Bevel(q.size, q.depth, q.soften, q.light, q.hc, q.ho, q.sc, q.so), 1) << fx.GetError();
  return dst;
}

Pic Disc(u32 side, u8 grey) {
  Pic p(side, side, 4, 1, 0, grey);
  const f64 c = side / 2.0, r = side / 3.0;
  for (u32 y = 0; y < side; ++y)
    for (u32 x = 0; x < side; ++x) {
      const f64 d = std::hypot(x + 0.5 - c, y + 0.5 - c);
      p.At(3, x, y) = d < r ? 255 : (d > r + 1 ? 0 : static_cast<u8>((r + 1 - d) * 255));
    }
  return p;
}

}  // namespace

TEST(ImageFXBevel, EqualsLineByLineForm) {
  std::mt19937 rng(31);
  for (int round = 0; round < 40; ++round) {
    const u8 alpha = round % 4 != 3;
    Pic src(1 + rng() % 45, 1 + rng() % 45, alpha ? 4 : 3, alpha, rng() % 2);
    src.Randomise(rng);
    if (alpha) fxtest::BlobAlpha(src, rng, 2);
    Params q;
    q.size = static_cast<u16>(rng() % 16);
    q.depth = static_cast<u16>(rng() % 400);
    const f64 softens[] = {0.0, 0.05, 0.7, 1.3, 2.0, 4.5};
    q.soften = softens[rng() % 6];
    q.light = {static_cast<f32>(static_cast<int>(rng() % 200) - 100) / 50.0f,
               static_cast<f32>(static_cast<int>(rng() % 200) - 100) / 50.0f,
               static_cast<f32>(static_cast<int>(rng() % 200) - 60) / 50.0f};
    if (q.light.x == 0 && q.light.y == 0 && q.light.z == 0) q.light.z = 1;
    for (int c = 0; c < 3; ++c) {
      q.hc[c] = static_cast<u8>(rng());
      q.sc[c] = static_cast<u8>(rng());
    }
    q.ho = static_cast<u8>(rng());
    q.so = static_cast<u8>(rng());
    Pic got = Bevel(src, q);
    ASSERT_TRUE(got.SameAs(RefBevel(src, q))) << "round " << round;
  }
}

TEST(ImageFXBevel, LightingCases) {
  Pic disc = Disc(48, 128);
  Params q = {6, 100, 0.0, {0, 0, 1}, {255, 255, 255}, 255, {0, 0, 0}, 255};
  // Light from straight above: level ground equals flat, slopes only darken.
  Pic top = Bevel(disc, q);
  EXPECT_TRUE(top.PlaneSame(disc, 3));
  int darker = 0;
  for (u32 y = 0; y < 48; ++y)
    for (u32 x = 0; x < 48; ++x) {
      ASSERT_LE(top.At(0, x, y), 128);
      darker += top.At(0, x, y) < 128;
    }
  EXPECT_GT(darker, 100);
  EXPECT_EQ(top.At(0, 24, 24), 128);  // level centre of the disc

  // An oblique light lights one side and shades the other.
  q.light = {-1, -1, 1};
  Pic side = Bevel(disc, q);
  const int a = side.At(0, 10, 24), b = side.At(0, 37, 24);
  EXPECT_NE(a, b);
  EXPECT_TRUE((a > 128 && b < 128) || (a < 128 && b > 128));

  // No opacity, no change; soften spreads the shading wider.
  q.ho = q.so = 0;
  EXPECT_TRUE(Bevel(disc, q).SameAs(disc));
  q.ho = q.so = 255;
  q.soften = 3.0;
  Pic soft = Bevel(disc, q);
  EXPECT_FALSE(soft.SameAs(side));
}

TEST(ImageFXBevel, NearlyOverheadLightStaysWithinHighlightOpacity) {
  // With the light almost overhead, 1 - flat is a few float steps; on the
  // faint slopes of a blurred edge the unguarded highlight overshoots its
  // opacity (and wraps past 255 at full opacity).
  Pic disc(96, 96, 4, 1, 0, 0);
  for (u32 y = 0; y < 96; ++y)
    for (u32 x = 0; x < 96; ++x) disc.At(3, x, y) = std::hypot(x + 0.5 - 48, y + 0.5 - 48) < 20 ? 255 : 0;
  Params q = {20, 1, 0.0, {0, 0, 1}, {255, 255, 255}, 100, {0, 0, 0}, 0};
  for (f32 lx = 2.4e-4f; lx < 4e-3f; lx *= 1.05f) {
    q.light.x = -lx;
    Pic out = Bevel(disc, q);
    for (u32 y = 0; y < 96; ++y)
      for (u32 x = 0; x < 96; ++x) ASSERT_LE(out.At(0, x, y), (100 * 255) >> 8) << lx;
  }
}

TEST(ImageFXBevel, RefusesZeroLightAndMissingColours) {
  Pic src = Disc(16, 50), dst = src.Blank();
  const Pic keep = dst;
  const u8 c[3] = {1, 2, 3};
  CKLF_ImageFX fx;
  Bind(fx, src, dst);
  EXPECT_EQ(fx.Bevel(4, 100, 0, klt3D_VECTOR{0, 0, 0}, c, 255, c, 255), 0);
  EXPECT_EQ(fx.GetError(), klErrBadArg);
  EXPECT_EQ(fx.Bevel(4, 100, 0, klt3D_VECTOR{0, 0, 1}, nullptr, 255, c, 255), 0);
  EXPECT_EQ(fx.Bevel(4, 100, std::nan(""), klt3D_VECTOR{0, 0, 1}, c, 255, c, 255), 0);
  EXPECT_TRUE(dst.SameAs(keep));
}
