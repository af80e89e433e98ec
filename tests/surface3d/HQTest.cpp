#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CKLF_3D_Surface2.h"
#include "CKLF_Image.h"
#include "SurfaceTestUtil.h"

using s3dtest::MakeImage;
using s3dtest::MapShifted;
using s3dtest::Quad;
using s3dtest::SetMesh;
using s3dtest::Tri;
using s3dtest::WhiteLight;

namespace {

typedef CKLF_3D_SurfaceBase Base;

// Planes of w x h at a stride: 0 alpha, 1 to 4 colour.
struct Planes {
  u32 w, h, stride;
  std::vector<u8> p[5];
  Planes(u32 w_, u32 h_, u8 fill, u32 pad = 0) : w(w_), h(h_), stride(w_ + pad) {
    for (auto& q : p) q.assign(size_t(stride) * h, fill);
  }
  u8 At(int plane, u32 x, u32 y) const { return p[plane][size_t(y) * stride + x]; }
  void Random(std::mt19937& rng) {
    for (int i = 1; i < 5; ++i)
      for (auto& b : p[i]) b = u8(rng());
  }
  Base::HQ_DESTINATION Dest() {
    return {{p[1].data(), p[2].data(), p[3].data(), p[4].data()}, p[0].data(), stride, w, h};
  }
  Base::HQ_TEXTURE Texture() const {
    const Base::HQ_SIDE side = {0, nullptr, {p[1].data(), p[2].data(), p[3].data(), p[4].data()}};
    return {side, side, p[0].data(), stride, w, h};
  }
  bool operator==(const Planes& o) const {
    for (int i = 0; i < 5; ++i)
      if (p[i] != o.p[i]) return false;
    return true;
  }
};

const Base::HQ_BUMP kNoBump = {nullptr, nullptr, 0, 0.0f, 0.0f};
const klt3D_VERTEX kEye = {0, 0, 0};

// A mesh of nx x ny cells over w x h at depth z, heights jittered by dz.
void Field(std::vector<klt3D_VERTEX>& v, std::vector<Tri>& t, int nx, int ny, f32 w, f32 h, f32 z, f32 dz,
           std::mt19937& rng) {
  const u32 b = u32(v.size());
  for (int r = 0; r <= ny; ++r)
    for (int c = 0; c <= nx; ++c) v.push_back({c * w / nx, r * h / ny, z + dz * f32(rng() % 100) / 100});
  for (int r = 0; r < ny; ++r)
    for (int c = 0; c < nx; ++c) {
      const u32 k = b + r * (nx + 1) + c;
      t.push_back({k + nx + 1, k + 1, k, 0});
      t.push_back({k + nx + 1, k + nx + 2, k + 1, 0});
    }
}

// Cancels at its nth question.
struct CancelAt : CKLF_Progress {
  int n, asked = 0;
  explicit CancelAt(int at) : n(at) {}
  u8 IsCanceled() override { return ++asked >= n; }
};

}  // namespace

TEST(SurfaceHQ, CoverageAgreesWithTheFlatRendererAndConvergesToTheArea) {
  // Integer vertices, edges whose slopes are binary fractions, one sample,
  // solid opaque colour: the flat renderer's pixels exactly.
  std::mt19937 rng(11);
  Planes tex(64, 64, 255);
  const u8 colour[3] = {200, 100, 50};
  for (int mesh = 0; mesh < 4; ++mesh) {
    std::vector<klt3D_VERTEX> v;
    std::vector<Tri> t;
    for (u32 i = 0; i < 15; ++i) {
      const int a = int(rng() % 4), y0 = 2 + int(rng() % 20), flat = int(rng() % 3) == 0;
      const int ys[3] = {y0, flat ? y0 : y0 + (1 << a), y0 + (2 << a)};
      for (int k = 0; k < 3; ++k) v.push_back({f32(2 + rng() % 60), f32(ys[(k + i) % 3]), f32(i)});
      t.push_back({3 * i, 3 * i + 1, 3 * i + 2, u8(rng() % 2)});
    }
    CKLF_3D_Surface s;
    SetMesh(s, v, t);
    ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
    CKLF_Image flat;
    MakeImage(flat, 64, 64, {0, 0, 0, 0});
    const kltRGBA8 c = {colour[0], colour[1], colour[2], 255};
    ASSERT_EQ(s.RenderFlatShadedSurface(&flat, 0, 0, klNullRect, 0, {0, 0, 0, 0}, c, c), 1);
    Planes hq(64, 64, 9);
    Base::HQ_TEXTURE solid = tex.Texture();
    solid.front = solid.back = {1, colour, {}};
    ASSERT_EQ(s.RenderHQ_Simple(0.0f, 1, 4, hq.Dest(), solid, klNullRect), 1);
    for (u32 y = 0; y < 64; ++y)
      for (u32 x = 0; x < 64; ++x) {
        const kltRGBA8 f = flat.GetPixel(u16(x), u16(y));
        ASSERT_EQ(hq.At(0, x, y), f.alpha) << mesh << " " << x << "," << y;
        for (int k = 0; k < 3; ++k) ASSERT_EQ(hq.At(k + 1, x, y), f.alpha ? colour[k] : 9);
      }
  }

  // An edge through the middle of a pixel at s = 2 covers two of its four
  // samples: 510 / 4.
  std::vector<klt3D_VERTEX> v;
  std::vector<Tri> t;
  Quad(v, t, 2, 2, 8.5f, 6, 0, true);
  CKLF_3D_Surface q;
  SetMesh(q, v, t);
  ASSERT_EQ(q.RecreateMappingArrayFromCurrentValues(), 1);
  Planes half(16, 12, 0);
  ASSERT_EQ(q.RenderHQ_Simple(0.0f, 2, 1, half.Dest(), tex.Texture(), klNullRect), 1);
  EXPECT_EQ(half.At(0, 10, 5), 127);
  EXPECT_EQ(half.At(0, 9, 5), 255);

  // Random triangles: the coverage sum nears the area as the samples grow.
  std::uniform_real_distribution<f32> c(1.0f, 63.0f);
  for (int i = 0; i < 12; ++i) {
    const klt3D_VERTEX p[3] = {{c(rng), c(rng), 0}, {c(rng), c(rng), 0}, {c(rng), c(rng), 0}};
    const f64 area = std::fabs((p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[2].x - p[0].x) * (p[1].y - p[0].y)) / 2;
    f64 perim = 0;
    for (int k = 0; k < 3; ++k) perim += std::hypot(p[(k + 1) % 3].x - p[k].x, p[(k + 1) % 3].y - p[k].y);
    CKLF_3D_Surface s;
    SetMesh(s, {p[0], p[1], p[2]}, {{0, 1, 2, 0}});
    ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
    for (u8 ss : {1, 4, 8}) {
      Planes out(64, 64, 0);
      ASSERT_EQ(s.RenderHQ_Simple(0.0f, ss, 1, out.Dest(), tex.Texture(), klNullRect), 1);
      f64 sum = 0;
      for (u8 a : out.p[0]) sum += a / 255.0;
      EXPECT_LE(std::fabs(sum - area), perim / ss + 0.5) << i << " s=" << int(ss);
    }
  }
}

TEST(SurfaceHQ, TilingDrawOrderAndTransparency) {
  // Three tiles of a lit, bumped, half-transparent relief over an opaque
  // ground: rendered whole or as two clipped halves whose tiles start
  // elsewhere, and with the triangles in reverse order, the same bytes.
  std::mt19937 rng(12);
  std::vector<klt3D_VERTEX> v;
  std::vector<Tri> t;
  Field(v, t, 1, 1, 520, 40, 20, 0, rng);
  Field(v, t, 26, 2, 520, 40, 2, 3, rng);
  Planes tex(520, 80, 255), bumps(520, 80, 0);
  tex.Random(rng);
  for (u32 i = 520 * 40; i < tex.p[0].size(); ++i) tex.p[0][i] = u8(100 + rng() % 100);
  for (u8& b : bumps.p[0]) b = u8(rng() % 8);
  const Base::HQ_BUMP bump = {bumps.p[0].data(), bumps.p[0].data(), 520, 0.05f, 0.05f};
  std::vector<Tri> rev(t.rbegin(), t.rend());
  auto render = [&](const std::vector<Tri>& order, kltRECT_s clip, Planes& out, bool all) {
    CKLF_3D_Surface s;
    SetMesh(s, v, order);
    MapShifted(s, 4, u32(v.size()), 0, 40);  // the relief on the texture's lower half
    const CKLF_3D_Surface::LIGHT_SOURCE l = WhiteLight("sun", {0.3f, -0.2f, 1.0f});
    ASSERT_EQ(s.Light_Add(&l), 1);
    s.Light_SetAmbientLight(0.2f, 0.2f, 0.2f, 0.2f);
    const u8 ok = all ? s.RenderHQ(0, 4, 5, 0, out.Dest(), tex.Texture(), bump, clip)
                      : s.RenderHQ_Opt(0, kEye, 0, 0, 4, 5, out.Dest(), tex.Texture(), bump, clip, -100.0f);
    ASSERT_EQ(ok, 1);
  };
  for (bool all : {false, true}) {
    Planes whole(520, 40, 7), halves(520, 40, 7), reversed(520, 40, 7);
    render(t, klNullRect, whole, all);
    render(t, {0, 0, 300, 40}, halves, all);
    render(t, {300, 0, 520, 40}, halves, all);
    render(rev, klNullRect, reversed, all);
    EXPECT_TRUE(whole == halves) << all;
    EXPECT_TRUE(whole == reversed) << all;
    EXPECT_EQ(whole.At(0, 10, 10), 255);
  }

  // Two layers of alpha 128 give 192 in either order; a front layer of
  // alpha 255 shows alone.
  for (u8 front : {128, 255})
    for (bool swap : {false, true}) {
      std::vector<klt3D_VERTEX> qv;
      std::vector<Tri> qt;
      Quad(qv, qt, 0, 0, 8, 8, swap ? 5.0f : 1.0f, true);
      Quad(qv, qt, 0, 0, 8, 8, swap ? 1.0f : 5.0f, true);
      CKLF_3D_Surface s;
      SetMesh(s, qv, qt);
      MapShifted(s, swap ? 4 : 0, swap ? 8 : 4, 8, 0);  // the nearer layer on the texture's right half
      Planes layers(16, 8, 128), out(8, 8, 0);
      for (u32 y = 0; y < 8; ++y)
        for (u32 x = 0; x < 16; ++x) {
          layers.p[0][y * 16 + x] = x >= 8 ? front : 128;
          layers.p[1][y * 16 + x] = x >= 8 ? 250 : 10;  // the nearer layer bright
        }
      ASSERT_EQ(s.RenderHQ_Simple(0.0f, 1, 2, out.Dest(), layers.Texture(), klNullRect), 1);
      EXPECT_EQ(out.At(0, 3, 3), front == 255 ? 255 : 192);
      EXPECT_EQ(out.At(1, 3, 3), front == 255 ? 250 : (255 * (128 * 250 + 128 * 10) - 128 * 128 * 10) / 48896);
    }
}

TEST(SurfaceHQ, LightingLaws) {
  std::mt19937 rng(13);
  std::vector<klt3D_VERTEX> v;
  std::vector<Tri> t;
  Field(v, t, 6, 4, 48, 32, 0, 0, rng);
  Planes tex(48, 32, 255, 7);  // texture rows longer than its width
  tex.Random(rng);
  auto surface = [&](CKLF_3D_Surface& s) {
    SetMesh(s, v, t);
    ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
    const CKLF_3D_Surface::LIGHT_SOURCE l = WhiteLight("sun", {0.0f, 0.0f, 1.0f});
    ASSERT_EQ(s.Light_Add(&l), 1);
  };
  auto opt = [&](CKLF_3D_Surface& s, const Base::HQ_BUMP& b, u8 shadows, u8 persp = 0) {
    Planes out(48, 32, 0);
    EXPECT_EQ(s.RenderHQ_Opt(persp, {24, 16, 200}, 0, shadows, 2, 4, out.Dest(), tex.Texture(), b, klNullRect, -100.0f),
              1);
    return out;
  };
  CKLF_3D_Surface s;
  surface(s);
  const Planes plain = opt(s, kNoBump, 0);
  EXPECT_EQ(plain.At(1, 5, 5), tex.At(1, 5, 5));  // straight on, light behind the eye: level 1
  // A flat height map is no bump; the vertex normals of a flat mesh light
  // as its face normal; a map of 255 is no shadow.
  std::vector<u8> flatMap(48 * 32, 77);
  EXPECT_TRUE(opt(s, {flatMap.data(), flatMap.data(), 48, 3.0f, 3.0f}, 0) == plain);
  Planes phong(48, 32, 0);
  ASSERT_EQ(s.RenderHQ_Opt_1Light_8_Phong(0, 2, 4, phong.Dest(), tex.Texture(), kNoBump, klNullRect), 1);
  EXPECT_TRUE(phong == plain);
  ASSERT_EQ(s.Light_UseShadowMap("sun", 1), 1);
  ASSERT_EQ(s.Light_CreateShadowMapStorage("sun", 48, 32), 1);
  u8* map = s.Light_GetShadowMap("sun");
  std::memset(map, 255, 48 * 32);
  EXPECT_TRUE(opt(s, kNoBump, 1) == plain);
  EXPECT_EQ(s.Light_GetRecord(0)->shadowActive, 1);
  // A dark map row at strength 100 leaves only the ambient 0: that row of
  // texels, found by the map's width, not the texture's stride.
  std::memset(map + 5 * 48, 0, 48);
  const Planes dark = opt(s, kNoBump, 1);
  for (u32 y = 0; y < 32; ++y)
    for (u32 x = 0; x < 48; ++x) ASSERT_EQ(dark.At(1, x, y), y == 5 ? 0 : tex.At(1, x, y)) << x << "," << y;

  // Bumped triangles still draw under perspective (as unbumped ones).
  const std::vector<u8> rough = [&] {
    std::vector<u8> r(48 * 32);
    for (u8& b : r) b = u8(rng());
    return r;
  }();
  EXPECT_TRUE(opt(s, {rough.data(), rough.data(), 48, 0.5f, 0.5f}, 0, 1) == opt(s, kNoBump, 0, 1));
  EXPECT_FALSE(opt(s, {rough.data(), rough.data(), 48, 0.5f, 0.5f}, 0) == plain);

  // Exponents below 1 are 1: material shading -200 lights as -100. A
  // negative level is black.
  s.SetMatShading(-100);
  const Planes e1 = opt(s, kNoBump, 0);
  s.SetMatShading(-200);
  EXPECT_TRUE(opt(s, kNoBump, 0) == e1);
  s.Light_SetAmbientLight(-5.0f, -5.0f, -5.0f, -5.0f);
  EXPECT_EQ(opt(s, kNoBump, 0).At(1, 7, 7), 0);
  s.Light_SetAmbientLight(0.0f, 0.0f, 0.0f, 0.0f);

  // RenderHQ: a disabled light adds nothing.
  Planes all(48, 32, 0), more(48, 32, 0);
  ASSERT_EQ(s.RenderHQ(0, 2, 4, 0, all.Dest(), tex.Texture(), kNoBump, klNullRect), 1);
  CKLF_3D_Surface::LIGHT_SOURCE off = WhiteLight("off", {1, 1, 1});
  off.enabled = 0;
  ASSERT_EQ(s.Light_Add(&off), 1);
  ASSERT_EQ(s.RenderHQ(0, 2, 4, 0, more.Dest(), tex.Texture(), kNoBump, klNullRect), 1);
  EXPECT_TRUE(all == more);

  // Second class: automatic ambient light and white lights keep a flat
  // front face's colours, whatever the lights.
  for (int round = 0; round < 4; ++round) {
    CKLF_3D_Surface2 s2;
    SetMesh(s2, v, t);
    ASSERT_EQ(s2.RecreateMappingArrayFromCurrentValues(), 1);
    std::uniform_real_distribution<f32> d(-1.0f, 1.0f), pct(0.0f, 60.0f);
    for (int i = 0; i < 3; ++i) {
      CKLF_3D_Surface2::LIGHT_SOURCE l = {};
      l.name = "l";
      l.direction = {d(rng), d(rng), d(rng)};
      l.front = 1;
      l.intensity1 = pct(rng), l.intensity2 = pct(rng), l.highlightSharpness = 100 * pct(rng);
      std::memset(l.colour1, 255, 8), std::memset(l.colour2, 255, 8);
      l.diffuseToAmbient1 = u8(rng() % 2), l.highlightToAmbient1 = u8(rng() % 2);
      ASSERT_EQ(s2.Light_Add(&l), 1);
    }
    ASSERT_EQ(s2.Light_SetAmbientLight(nullptr, 0, nullptr, 0, 1, 1), 1);
    ASSERT_EQ(s2.Light_PrecalculateLights(1), 1);
    Planes out(48, 32, 0);
    ASSERT_EQ(s2.RenderHQ_Opt(0, kEye, 0, 0, 1, 4, out.Dest(), tex.Texture(), kNoBump, klNullRect, -100.0f), 1);
    for (u32 y = 0; y < 32; ++y)
      for (u32 x = 0; x < 48; ++x)
        for (int k = 1; k < 4; ++k) ASSERT_EQ(out.At(k, x, y), tex.At(k, x, y)) << round << " " << x << "," << y;
  }
}

TEST(SurfaceHQ, CancelAndRefusals) {
  std::vector<klt3D_VERTEX> v;
  std::vector<Tri> t;
  std::mt19937 rng(14);
  Field(v, t, 5, 1, 300, 20, 0, 0, rng);  // 10 triangles over two 200-pixel tiles at s = 4
  CKLF_3D_Surface s;
  SetMesh(s, v, t);
  ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
  Planes tex(300, 20, 255), out(300, 20, 9);
  // Asked at the start, after set-up, then every fifth triangle: the fifth
  // question comes in the second tile.
  CancelAt cancel(5);
  s.SetProgress(&cancel);
  s.SetError(klErrBadArg);
  EXPECT_EQ(s.RenderHQ_Simple(0.0f, 4, 2, out.Dest(), tex.Texture(), klNullRect), 0);
  EXPECT_EQ(s.GetError(), 0);
  EXPECT_EQ(out.At(0, 100, 10), 255);
  EXPECT_EQ(out.At(0, 250, 10), 9);
  s.SetProgress(nullptr);

  // Error 1: s = 0, counts outside 1..5, a missing plane, short strides, an
  // empty clip, a destination too large to sample.
  struct Case {
    u8 s, count;
    int what;
  } cases[] = {{0, 2, 0}, {1, 0, 0}, {1, 6, 0}, {1, 2, 1}, {1, 2, 2}, {1, 2, 3}, {1, 2, 4}, {1, 2, 5}, {255, 2, 6}};
  for (const Case& c : cases) {
    Base::HQ_DESTINATION d = out.Dest();
    Base::HQ_TEXTURE tx = tex.Texture();
    kltRECT_s clip = klNullRect;
    if (c.what == 1) d.colour[0] = nullptr;
    if (c.what == 2) tx.back.planes[0] = nullptr;
    if (c.what == 3) d.stride = 299;
    if (c.what == 4) tx.stride = 10;
    if (c.what == 5) clip = {300, 0, 400, 20};
    if (c.what == 6) d.width = d.stride = 1u << 23;
    s.ResetError();
    EXPECT_EQ(s.RenderHQ_Simple(0.0f, c.s, c.count, d, tx, clip), 0) << c.what;
    EXPECT_EQ(s.GetError(), klErrBadArg) << c.what;
  }
  // Wide samples: 48; lit with no light at position 0: 1.
  EXPECT_FAILS(s, s.RenderHQ(0, 1, 2, 1, out.Dest(), tex.Texture(), kNoBump, klNullRect), klErrUnsupported);
  EXPECT_FAILS(s, s.RenderHQ_Opt_1Light_8_Phong(0, 1, 2, out.Dest(), tex.Texture(), kNoBump, klNullRect), klErrBadArg);
  EXPECT_EQ(s.RenderHQ_Opt(0, kEye, 0, 0, 1, 2, out.Dest(), tex.Texture(), kNoBump, klNullRect, 50.0f), 1);
}
