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

// Blurs a W x H field in place, rows then columns, through the single-line
// filter with a border of 0.
template <class T>
void Blur2D(std::vector<T>& m, u32 W, u32 H, f64 sigma) {
  CKLF_ImageFX fx;
  CKLF_Mem pad;
  BlurRec r;
  fx.Blur_PrepareBlurData(sigma, &r, &pad, 1, 0);
  std::vector<f64> line(std::max(W, H));
  for (int pass = 0; pass < 2; ++pass)
    for (u32 n = 0; n < (pass ? W : H); ++n) {
      const u32 len = pass ? H : W;
      auto at = [&](u32 i) -> T& { return pass ? m[i * W + n] : m[n * W + i]; };
      for (u32 i = 0; i < len; ++i) line[i] = at(i);
      r.length = len;
      r.vector = line.data();
      ASSERT_TRUE(fx.Blur_BlurVector(&r));
      for (u32 i = 0; i < len; ++i) at(i) = static_cast<T>(line[i]);
    }
}

// The bevel written line by line through the single-line filter: the
// oracle of the lane-wise blurs the effect runs on (the speed path); the
// bevel's own behaviour is asserted by the cases below. The highlight is
// limited to its opacity.
Pic RefBevel(const Pic& src, const Params& q) {
  Pic dst = src.Blank();
  const u32 W = src.w, H = src.h, MW = W + 2;
  const u8 last = static_cast<u8>(src.count - 1);
  std::vector<f32> hm(MW * (H + 2), 0.0f);
  for (u32 j = 0; j < H; ++j)
    for (u32 i = 0; i < W; ++i) hm[(j + 1) * MW + i + 1] = src.alpha ? src.At(last, i, j) : 255;
  if (q.size > 0) Blur2D(hm, MW, H + 2, q.size / 3.32);
  const f32 x = q.light.x, y = q.light.y, z = q.light.z;
  const f32 len = std::sqrt(x * x + y * y + z * z), k = q.depth / 100.0f, flat = std::max(z / len, 1e-6f);
  std::vector<u8> hl(W * H), sh(W * H);
  for (u32 j = 0; j < H; ++j)
    for (u32 i = 0; i < W; ++i) {
      const f32 a = k * (hm[(j + 1) * MW + i + 1] - hm[j * MW + i + 1]), b = k * (hm[j * MW + i + 1] - hm[j * MW + i]);
      const f32 lit = std::max(((-x) * b + y * a + z) / (len * std::sqrt(a * a + b * b + 1.0f)), 0.0f);
      if (lit <= flat)
        sh[j * W + i] = static_cast<u8>(q.so - static_cast<i32>(lit * q.so / flat));
      else
        hl[j * W + i] = static_cast<u8>(std::min<f32>(1.0f - flat > 0 ? q.ho / (1.0f - flat) * (lit - flat) : 0.0f, q.ho));
    }
  if (q.soften > 0) Blur2D(hl, W, H, q.soften), Blur2D(sh, W, H, q.soften);
  for (u8 p = 0; p < src.count - src.alpha; ++p)
    for (u32 j = 0; j < H; ++j)
      for (u32 i = 0; i < W; ++i) {
        const i32 e = hl[j * W + i] - sh[j * W + i], s = src.At(p, i, j);
        dst.At(p, i, j) = static_cast<u8>(e > 0 ? s + ((e * (q.hc[p] - s)) >> 8) : s + ((-e * (q.sc[p] - s)) >> 8));
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

}  // namespace

TEST(ImageFXBevel, SpeedPathEqualsLineByLineForm) {
  std::mt19937 rng(31);
  for (int round = 0; round < 24; ++round) {
    const u8 alpha = round % 4 != 3;
    Pic src(1 + rng() % 45, 1 + rng() % 45, alpha ? 4 : 3, alpha, rng() % 2);
    src.Randomise(rng);
    if (alpha) fxtest::BlobAlpha(src, rng, 2);
    Params q;
    q.size = static_cast<u16>(rng() % 16);
    q.depth = static_cast<u16>(rng() % 400);
    const f64 softens[] = {0.0, 0.05, 0.7, 1.3, 2.0, 4.5};
    q.soften = softens[rng() % 6];
    auto coord = [&](int shift) { return static_cast<f32>(static_cast<int>(rng() % 200) - shift) / 50.0f; };
    q.light = {coord(100), coord(100), coord(60)};
    if (q.light.x == 0 && q.light.y == 0 && q.light.z == 0) q.light.z = 1;
    for (u8* c : {q.hc, q.sc, q.hc + 1, q.sc + 1, q.hc + 2, q.sc + 2, &q.ho, &q.so}) *c = static_cast<u8>(rng());
    ASSERT_TRUE(Bevel(src, q).SameAs(RefBevel(src, q))) << "round " << round;
  }
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

// A raised tile: an opaque square on transparent ground, mid-grey,
// highlight white, shadow black, both at full opacity.
TEST(ImageFXBevel, ShadesTheSlopesAsTheLightFalls) {
  Pic tile(60, 60, 4, 1, 0, 128);
  for (u32 y = 0; y < 60; ++y)
    for (u32 x = 0; x < 60; ++x) tile.At(3, x, y) = x >= 15 && x < 45 && y >= 15 && y < 45 ? 255 : 0;
  const klt3D_VECTOR topLeft = {-0.5f, 0.8f, 0.5f};  // the engine's default light
  auto run = [&](u16 size, f64 soften, klt3D_VECTOR light, u8 ho, u8 so) {
    Params q = {size, 100, soften, light, {255, 255, 255}, ho, {0, 0, 0}, so};
    return Bevel(tile, q);
  };
  // Lit from the upper left: the top and left slopes brighten, the bottom
  // and right ones darken; level ground inside and outside keeps its grey.
  const Pic lit = run(4, 0.0, topLeft, 255, 255);
  EXPECT_GT(lit.At(0, 30, 15), 128);
  EXPECT_GT(lit.At(0, 15, 30), 128);
  EXPECT_LT(lit.At(0, 30, 44), 128);
  EXPECT_LT(lit.At(0, 44, 30), 128);
  for (u32 p : {30u, 2u}) EXPECT_EQ(lit.At(0, p, p), 128) << p;
  EXPECT_TRUE(lit.PlaneSame(tile, 3));
  // The slope is about one size wide: size 0 shades the edge pixels alone.
  auto shaded = [&](const Pic& out) {
    u32 n = 0;
    for (u32 x = 0; x < 60; ++x) n += out.At(0, x, 30) != 128;
    return n;
  };
  EXPECT_LE(shaded(run(0, 0.0, topLeft, 255, 255)), 4u);
  EXPECT_GT(shaded(run(8, 0.0, topLeft, 255, 255)), shaded(lit));
  // Softening spreads the shading further.
  EXPECT_GT(shaded(run(4, 3.0, topLeft, 255, 255)), shaded(lit));
  // A light from straight above never highlights: slopes only darken.
  const Pic overhead = run(4, 0.0, {0, 0, 1}, 255, 255);
  for (u32 y = 0; y < 60; ++y)
    for (u32 x = 0; x < 60; ++x) ASSERT_LE(overhead.At(0, x, y), 128) << x << "," << y;
  EXPECT_LT(overhead.At(0, 30, 15), 128);
  // No opacity, no change.
  EXPECT_TRUE(run(4, 2.0, topLeft, 0, 0).SameAs(tile));
}
