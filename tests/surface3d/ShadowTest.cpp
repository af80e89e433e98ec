#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CKLF_3D_Surface2.h"
#include "KLF_3D_Shadow.h"
#include "SurfaceTestUtil.h"

using s3dtest::Quad;
using s3dtest::SetMesh;
using s3dtest::Tri;
using s3dtest::WhiteLight;

namespace {

typedef CKLF_3D_SurfaceBase Base;

// A plane of 8 x 8 cells over 64 x 64 at depth 0 mapped to its texels, and
// 16 x 16 squares over (24, 24) at depths z, each mapped 48 texels right
// and dv down, of opacity op. Maps are 96 x 64.
struct Scene {
  struct Square {
    f32 z, dv;
    u8 op;
  };
  std::vector<Square> squares;
  std::vector<u8> opacity = std::vector<u8>(96 * 64, 255);

  void Load(Base& s) {
    std::vector<klt3D_VERTEX> v;
    std::vector<Tri> t;
    for (u32 r = 0; r <= 8; ++r)
      for (u32 c = 0; c <= 8; ++c) v.push_back({f32(8 * c), f32(8 * r), 0});
    for (u32 r = 0; r < 8; ++r)
      for (u32 c = 0; c < 8; ++c) {
        const u32 k = r * 9 + c;
        t.push_back({k + 9, k + 1, k, 0});
        t.push_back({k + 9, k + 10, k + 1, 0});
      }
    for (const Square& q : squares) Quad(v, t, 24, 24, 16, 16, q.z, true);
    SetMesh(s, v, t);
    for (u32 k = 0; k < squares.size(); ++k)
      for (u32 i = 81 + 4 * k; i < 85 + 4 * k; ++i) s.GetVertex(i)->x += 48, s.GetVertex(i)->y += squares[k].dv;
    ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
    for (u32 k = 0; k < squares.size(); ++k) {
      for (u32 i = 81 + 4 * k; i < 85 + 4 * k; ++i) s.GetVertex(i)->x -= 48, s.GetVertex(i)->y -= squares[k].dv;
      for (int y = 24; y < 40; ++y)
        for (int x = 72; x < 88; ++x) opacity[size_t(y + int(squares[k].dv)) * 96 + x] = squares[k].op;
    }
  }
};

// The plane's texels against the square's shadow moved ox along x: at most
// `dark` inside, at least `lit` outside, away from its edge by more than tol.
void ExpectShadow(const u8* map, f32 ox, f32 tol, u8 dark, u8 lit, const char* what) {
  int checked = 0;
  for (int v = 0; v < 64; ++v)
    for (int u = 0; u < 64; ++u) {
      const f32 x = u - ox, y = f32(v);
      const bool in = x >= 24 && x < 40 && y >= 24 && y < 40;
      const bool core = x >= 24 + tol && x < 40 - tol && y >= 24 + tol && y < 40 - tol;
      const bool far = x < 24 - tol || x >= 40 + tol || y < 24 - tol || y >= 40 + tol;
      if (!core && !far) continue;
      ++checked;
      const u8 m = map[v * 96 + u];
      if (in)
        ASSERT_LE(m, dark) << what << " " << u << "," << v;
      else
        ASSERT_GE(m, lit) << what << " " << u << "," << v;
    }
  EXPECT_GT(checked, 3000);
}

CKLF_3D_Surface2::LIGHT_SOURCE Light2(const char* name, klt3D_VECTOR dir) {
  CKLF_3D_Surface2::LIGHT_SOURCE l = {};
  l.name = name;
  l.direction = dir;
  l.front = 1;
  l.castsShadow = 1;
  l.shadowValue2 = 1;
  return l;
}

// The varying blur's spread, texel by texel in row order: a texel of
// radius sigma > 0 takes the weighted mean of src over its kernel (a square
// for kx = ky = 1, else a row or a column) and lowers dst there; with mark
// the texels it lowers take its radius.
void SlowSpread(const std::vector<u8>& src, std::vector<u8>& dst, u32 w, u32 h, std::vector<f32>& dist, int kx,
                int ky, bool mark) {
  for (i64 y = 0; y < h; ++y)
    for (i64 x = 0; x < w; ++x) {
      const f32 sigma = dist[size_t(y * w + x)];
      if (!(sigma > 0.0f)) continue;
      const i64 r = Base::int_BlurReach(sigma);
      std::vector<std::pair<size_t, u32>> taps;
      for (i64 v = std::max<i64>(0, y - r * ky); v <= std::min<i64>(h - 1, y + r * ky); ++v)
        for (i64 u = std::max<i64>(0, x - r * kx); u <= std::min<i64>(w - 1, x + r * kx); ++u)
          taps.push_back({size_t(v * w + u), Base::int_BlurWeight(sigma, u32((u - x) * (u - x) + (v - y) * (v - y)))});
      u64 sum = 0, weights = 0;
      for (auto& t : taps) sum += t.second * src[t.first], weights += t.second;
      const u32 mean = u32(std::min<u64>(255, weights ? sum / weights : 255));
      const u32 strength = ((255 - mean) * (255u - src[size_t(y * w + x)])) >> 8;
      for (auto& t : taps) {
        const u32 cand = 255 - ((strength * t.second) >> 8);
        if (cand >= dst[t.first]) continue;
        dst[t.first] = u8(cand);
        if (mark && dist[t.first] == 0.0f) dist[t.first] = sigma;
      }
    }
}

struct Recorder : CKLF_Progress {
  std::vector<int> seen;
  int cancelAt = -1, asked = 0;
  i32 Progress(u8 p, void*) override {
    seen.push_back(p);
    return 0;
  }
  u8 IsCanceled() override { return ++asked == cancelAt; }
};

}  // namespace

TEST(SurfaceShadow, PlaneGeometry) {
  const klt2D_VERTEX seg[][4] = {{{0, 0}, {4, 4}, {0, 4}, {4, 0}},
                                 {{0, 0}, {2, 0}, {2, 0}, {2, 3}},
                                 {{0, 0}, {1, 0}, {2, 0}, {3, 0}},
                                 {{0, 0}, {1, 0}, {0, 1}, {1, 1}},
                                 {{0, 0}, {1, 1}, {3, 0}, {2, 1}}};
  const u8 segWant[] = {1, 1, 3, 0, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Base::geom2D_TestLineSegIntersection(seg[i], seg[i] + 2), segWant[i]) << i;
  const klt2D_VERTEX tri[3] = {{0, 0}, {4, 0}, {0, 4}};
  EXPECT_TRUE(Base::geom2D_TestPointInTriange(tri, {1, 1}));
  EXPECT_FALSE(Base::geom2D_TestPointInTriange(tri, {2, 2}));  // on the right edge
  EXPECT_TRUE(Base::geom2D_TestPointInTriange(tri, {0, 2}));   // on the left edge
  const klt2D_VERTEX corner[3] = {{4, 0}, {8, 0}, {8, 4}}, far[3] = {{9, 9}, {12, 9}, {9, 12}},
                     inner[3] = {{1, 1}, {1.5f, 1}, {1, 1.5f}};
  EXPECT_TRUE(Base::geom2D_TestTriangeTriangleIntersection(tri, corner));
  EXPECT_FALSE(Base::geom2D_TestTriangeTriangleIntersection(tri, far));
  EXPECT_TRUE(Base::geom2D_TestTriangeTriangleIntersection(tri, inner));

  std::mt19937 rng(21);
  std::uniform_real_distribution<f32> c(0.0f, 100.0f), b(0.05f, 0.9f);
  // Two triangles sharing an edge hold each point of it once (no light
  // leaks between them), and a triangle that holds a point finds its depth
  // there, also on the rows of its corners.
  for (int i = 0; i < 2000; ++i) {
    const klt2D_VERTEX a = {c(rng), c(rng)}, e = {c(rng), c(rng)};
    klt2D_VERTEX l[3] = {a, e, {c(rng), c(rng)}}, r[3] = {e, a, {c(rng), c(rng)}};
    const f32 side = [&](const klt2D_VERTEX& q) { return (e.x - a.x) * (q.y - a.y) - (e.y - a.y) * (q.x - a.x); }(r[2]);
    if (side * ((e.x - a.x) * (l[2].y - a.y) - (e.y - a.y) * (l[2].x - a.x)) >= 0) continue;  // same side
    const f32 f = b(rng);
    klt2D_VERTEX q = {a.x + f * (e.x - a.x), a.y + f * (e.y - a.y)};
    if (i % 2) q.y = l[2].y;  // on a corner's row
    const u8 inL = Base::geom2D_TestPointInTriange(l, q), inR = Base::geom2D_TestPointInTriange(r, q);
    if (i % 2 == 0) {
      EXPECT_EQ(inL + inR, 1) << i;
    }
    const klt3D_VERTEX p3[3] = {{l[0].x, l[0].y, 1}, {l[1].x, l[1].y, 1}, {l[2].x, l[2].y, 1}};
    Base::SHADOW_MAP_ZVAL z;
    EXPECT_EQ(Base::int_ShadowMapTriangleCalc(&z, q.x, q.y, p3, p3 + 1, p3 + 2, p3, p3 + 1, p3 + 2), inL) << i;
  }

  // Depth and attributes of a plane at points inside random triangles.
  auto z = [](f32 x, f32 y) { return 0.5f * x - 0.25f * y + 3.0f; };
  for (int i = 0; i < 200; ++i) {
    klt3D_VERTEX p[3], a[3];
    for (int k = 0; k < 3; ++k) {
      p[k] = {c(rng), c(rng), 0};
      p[k].z = z(p[k].x, p[k].y);
      a[k] = {2 * p[k].x, p[k].y + 1, 0};
    }
    const f32 l0 = b(rng), l1 = (1 - l0) * b(rng);
    const f32 x = l0 * p[0].x + l1 * p[1].x + (1 - l0 - l1) * p[2].x,
              y = l0 * p[0].y + l1 * p[1].y + (1 - l0 - l1) * p[2].y;
    Base::SHADOW_MAP_ZVAL out;
    if (!Base::int_ShadowMapTriangleCalc(&out, x, y, p, p + 1, p + 2, a, a + 1, a + 2)) continue;  // a sliver
    EXPECT_NEAR(out.z, z(x, y), 2e-2) << i;
    EXPECT_NEAR(out.a, 2 * x, 2e-2) << i;
    EXPECT_NEAR(out.b, y + 1, 2e-2) << i;
    EXPECT_EQ(Base::int_ShadowMapTriangleCalc(&out, 200, y, p, p + 1, p + 2, a, a + 1, a + 2), 0);
  }

  // The index: for any point of a target, every triangle that covers it and
  // counts as a candidate comes out, in triangle order, and nothing else
  // that is not a candidate.
  Base mesh;
  std::vector<klt3D_VERTEX> v;
  std::vector<Tri> t;
  for (u32 i = 0; i < 300; ++i) {
    const f32 x = c(rng), y = c(rng), r = i % 50 ? 6.0f : 60.0f;
    for (int k = 0; k < 3; ++k) v.push_back({x + r * b(rng), y + r * b(rng), c(rng)});
    t.push_back({3 * i, 3 * i + 1, 3 * i + 2, 0});
  }
  SetMesh(mesh, v, t);
  KLF_3D_TriangleIndex index;
  ASSERT_EQ(index.Build(mesh), 1);
  std::vector<u32> out(300);
  for (u32 i = 0; i < 300; ++i) {
    const klt3D_VERTEX* p[3] = {&v[3 * i], &v[3 * i + 1], &v[3 * i + 2]};
    const u32 n = index.Candidates(p, i, out.data());
    const klt2D_VERTEX ti[3] = {{p[0]->x, p[0]->y}, {p[1]->x, p[1]->y}, {p[2]->x, p[2]->y}};
    const f32 zmax = std::max({p[0]->z, p[1]->z, p[2]->z});
    auto candidate = [&](u32 j) {
      const klt2D_VERTEX tj[3] = {
          {v[3 * j].x, v[3 * j].y}, {v[3 * j + 1].x, v[3 * j + 1].y}, {v[3 * j + 2].x, v[3 * j + 2].y}};
      return j != i && std::min({v[3 * j].z, v[3 * j + 1].z, v[3 * j + 2].z}) <= zmax &&
             Base::geom2D_TestTriangeTriangleIntersection(ti, tj);
    };
    for (u32 k = 0; k < n; ++k) {
      ASSERT_TRUE(candidate(out[k]));
      if (k) {
        ASSERT_LT(out[k - 1], out[k]);
      }
    }
    for (int s = 0; s < 20; ++s) {
      const f32 l0 = b(rng), l1 = (1 - l0) * b(rng);
      const klt2D_VERTEX q = {l0 * ti[0].x + l1 * ti[1].x + (1 - l0 - l1) * ti[2].x,
                              l0 * ti[0].y + l1 * ti[1].y + (1 - l0 - l1) * ti[2].y};
      for (u32 j = 0; j < 300; ++j) {
        const klt2D_VERTEX tj[3] = {
            {v[3 * j].x, v[3 * j].y}, {v[3 * j + 1].x, v[3 * j + 1].y}, {v[3 * j + 2].x, v[3 * j + 2].y}};
        if (candidate(j) && Base::geom2D_TestPointInTriange(tj, q)) {
          ASSERT_TRUE(std::binary_search(out.begin(), out.begin() + n, j)) << i << " " << j;
        }
      }
    }
  }
}

TEST(SurfaceShadow, Blurs) {
  EXPECT_EQ(Base::int_BlurReach(0.5f), 2u);
  EXPECT_EQ(Base::int_BlurReach(1.0f), 4u);
  const u8 w05[] = {255, 34, 0}, w10[] = {255, 154, 34, 2, 0};
  for (u32 d = 0; d < 3; ++d) EXPECT_EQ(Base::int_BlurWeight(0.5f, d * d), w05[d]);
  for (u32 d = 0; d < 5; ++d) EXPECT_EQ(Base::int_BlurWeight(1.0f, d * d), w10[d]);

  std::mt19937 rng(22);
  Base s;
  // Below 0.5 nothing; constant planes stay constant; a radius past any
  // plane is a mean over the whole plane.
  std::vector<u8> p(37 * 23), q;
  for (u8& b : p) b = u8(rng());
  q = p;
  ASSERT_EQ(s.int_Blur_Const(q.data(), 37, 23, 0.49f), 1);
  EXPECT_EQ(q, p);
  for (f32 sigma : {0.5f, 1.0f, 3.7f, 40.0f}) {
    std::vector<u8> c(37 * 23, u8(rng()));
    ASSERT_EQ(s.int_Blur_Const(c.data(), 37, 23, sigma), 1);
    EXPECT_EQ(c, std::vector<u8>(37 * 23, c[0])) << sigma;
  }
  ASSERT_EQ(s.int_Blur_Const(q.data(), 37, 23, 1e30f), 1);
  EXPECT_EQ(std::count(q.begin(), q.end(), q[0]), 37 * 23);

  // The varying blur: without distances, or with far not above near, it is
  // the constant blur with the far radius.
  std::vector<f32> none(37 * 23, 0.0f), some(37 * 23, 0.0f);
  for (size_t i = 0; i < some.size(); i += 7) some[i] = f32(1 + rng() % 9);
  for (int sep : {0, 1}) {
    std::vector<u8> a = p, b = p, c = p;
    ASSERT_EQ(s.int_Blur_Perspective(u8(sep), a.data(), 37, 23, 1.0f, 2.5f, none.data()), 1);
    std::vector<f32> d = some;
    ASSERT_EQ(s.int_Blur_Perspective(u8(sep), b.data(), 37, 23, 2.5f, 2.5f, d.data()), 1);
    ASSERT_EQ(s.int_Blur_Const(c.data(), 37, 23, 2.5f), 1);
    EXPECT_EQ(a, c);
    EXPECT_EQ(b, c);
  }
  // The varying blur against its spread rule read texel by texel, on
  // random shadows with radii past small planes and, in rows, past the 499
  // a table of 1000 weights would hold.
  for (int i = 0; i < 24; ++i) {
    const bool sep = i % 2, wide = i == 1;
    const u32 w = wide ? 1601 : 3 + rng() % 30, h = wide ? 3 : 3 + rng() % 30;
    std::vector<u8> m(w * h);
    std::vector<f32> d(w * h, 0.0f);
    for (u32 k = 0; k < w * h; ++k) {
      m[k] = rng() % 3 ? 255 : u8(rng());
      if (rng() % 2) d[k] = f32(1 + rng() % 50);  // lit texels among them
    }
    d[0] = 1.0f, d[1] = 50.0f;
    const f32 nearR = 0.5f + f32(rng() % 10), farR = wide ? 200.0f : nearR + 1.0f + f32(rng() % 30);
    std::vector<f32> r = d;
    for (f32& x : r)
      if (x > 0.0f) x = (x - 1.0f) / 49.0f * (farR - nearR) + nearR;
    std::vector<u8> work(w * h, 255), want(w * h, 255);
    if (sep) {
      SlowSpread(m, work, w, h, r, 1, 0, true);
      SlowSpread(work, want, w, h, r, 0, 1, false);
    } else {
      SlowSpread(m, want, w, h, r, 1, 1, true);
    }
    ASSERT_EQ(s.int_Blur_Perspective(u8(sep), m.data(), w, h, nearR, farR, d.data()), 1);
    ASSERT_EQ(m, want) << i << ": " << w << " x " << h << ", radii " << nearR << " to " << farR;
  }
}

// The scene's map under one light: the first class by texels (with the
// plane's cell under the square drawn twice if asked), the second by
// fragments or by texels.
std::vector<u8> Map1(Scene& sc, const CKLF_3D_Surface::LIGHT_SOURCE& l, bool twice = false) {
  CKLF_3D_Surface s;
  sc.Load(s);
  if (twice) {
    const u32 n = s.GetTriMeshCount();
    EXPECT_EQ(s.Create(s.GetVertexCount(), n + 2), 1);
    for (u32 k = 0; k < 2; ++k) *s.GetTriMesh(n + k) = *s.GetTriMesh(2 * 8 * 4 + 8 + k);
  }
  EXPECT_EQ(s.Light_Add(&l), 1);
  EXPECT_EQ(s.Light_UseShadowMap(l.name, 1), 1);
  EXPECT_EQ(s.Light_GenerateAllInnerShadowMaps(sc.opacity.data(), 96, 96, 64, 0), 1);
  const u8* m = s.Light_GetShadowMap(l.name);
  return m ? std::vector<u8>(m, m + 96 * 64) : std::vector<u8>();
}

std::vector<u8> Map2(Scene& sc, klt3D_VECTOR lightingVector, bool texels = false) {
  CKLF_3D_Surface2 s;
  sc.Load(s);
  const CKLF_3D_Surface2::LIGHT_SOURCE l = Light2("sun", {-lightingVector.x, lightingVector.y, lightingVector.z});
  EXPECT_EQ(s.Light_Add(&l), 1);
  EXPECT_EQ(s.Light_PrecalculateLights(1), 1);
  EXPECT_EQ(s.Light_GenerateAllInnerShadowMaps(sc.opacity.data(), 96, 96, 64, 1.0f), 1);
  if (texels) {
    EXPECT_EQ(s.int_GenerateInternalLightShadowMap(s.Light_GetRecord(0), sc.opacity.data(), 96, 96, 64, 0, 0, 100), 1);
  }
  const u8* m = s.Light_GetShadowMap("sun");
  return m ? std::vector<u8>(m, m + 96 * 64) : std::vector<u8>();
}

TEST(SurfaceShadow, MapsOfAnOpaqueSquareOverAPlane) {
  // The square 12 above the plane, the light tilted by tan 0.5 each way:
  // its shadow is the square moved 6 along the tilt, by all three methods.
  for (f32 tilt : {0.5f, -0.5f}) {
    Scene sc;
    sc.squares = {{-12, 0, 255}};
    ExpectShadow(Map1(sc, WhiteLight("sun", {tilt, 0, 1})).data(), 12 * tilt, 1.0f, 0, 255, "texel");
    ExpectShadow(Map2(sc, {tilt, 0, 1}).data(), 12 * tilt, 2.5f, 40, 215, "fragment");
    ExpectShadow(Map2(sc, {tilt, 0, 1}, true).data(), 12 * tilt, 1.0f, 0, 255, "texel 2");
  }
  // Straight down, the texel walks shade exactly the square's texels, the
  // row along its top edge included.
  Scene sq;
  sq.squares = {{-12, 0, 255}};
  for (const std::vector<u8>& m : {Map1(sq, WhiteLight("sun", {0, 0, 1})), Map2(sq, {0, 0, 1}, true)})
    for (int v = 0; v < 64; ++v)
      for (int u = 0; u < 64; ++u)
        ASSERT_EQ(m[v * 96 + u], u >= 24 && u < 40 && v >= 24 && v < 40 ? 0 : 255) << u << "," << v;
  // Two squares of opacity 128 straight above: 62 by texels, 63 by
  // fragments.
  Scene sc;
  sc.squares = {{-4, 0, 128}, {-8, -20, 128}};
  CKLF_3D_Surface::LIGHT_SOURCE l1 = WhiteLight("sun", {0, 0, 1});
  const std::vector<u8> m1 = Map1(sc, l1);
  EXPECT_EQ(m1[32 * 96 + 32], 62);
  EXPECT_EQ(m1[10 * 96 + 10], 255);
  EXPECT_NEAR(Map2(sc, {0, 0, 1})[32 * 96 + 32], 63, 1);
  // Sampling levels: 1 leaves a full shadow 3; beyond 3 they are 3. A
  // texel two triangles cover stays dark (a byte would wrap to light).
  sc.squares = {{-4, 0, 255}};
  for (u8 level : {1, 3, 40}) {
    l1.shadowMap.samplingLevel = level;
    const std::vector<u8> m = Map1(sc, l1);
    const u8 full = level == 1 ? 3 : 255 - 64 * 3;
    EXPECT_EQ(m[32 * 96 + 32], full) << int(level);
    EXPECT_EQ(m[32 * 96 + 24], full);  // on the plane's grid lines too
  }
  l1.shadowMap.samplingLevel = 0;
  EXPECT_EQ(Map1(sc, l1, true)[34 * 96 + 34], 0);
}

TEST(SurfaceShadow, BackgroundDensities) {
  // A 16 x 16 square at depth 0 over a 64 x 64 background 10 behind it,
  // its edges between the pixels' sample points.
  auto render = [](u8 op, f32 strength, std::vector<klt3D_VECTOR> dirs, u32 stride = 64, f32 blur = 0, f32 side = 16,
                   f32 at = 23.5f) {
    CKLF_3D_Surface s;
    std::vector<klt3D_VERTEX> v;
    std::vector<Tri> t;
    Quad(v, t, at, at, side, side, 0, true);
    SetMesh(s, v, t);
    EXPECT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
    for (const klt3D_VECTOR& d : dirs) {
      CKLF_3D_Surface::LIGHT_SOURCE l = WhiteLight("l", d);
      l.bgStrength = strength;
      l.bgShadow.blur2 = blur;
      EXPECT_EQ(s.Light_Add(&l), 1);
    }
    std::vector<u8> opacity(64 * 64, op), dst(stride * 64, 9);
    const u8 ok = s.RenderHQ_BgShadow(10, opacity.data(), 64, 64, 64, dst.data(), stride, 64, 64);
    return ok ? dst : std::vector<u8>();
  };
  auto at = [](const std::vector<u8>& d, int x, int y) { return d[size_t(y) * 64 + x]; };
  const klt3D_VECTOR down = {0, 0, 1};
  EXPECT_EQ(render(0, 100, {down}), std::vector<u8>(64 * 64, 0));
  for (auto c : {std::pair<f32, u8>{100, 255}, {50, 127}, {150, 255}}) {
    const std::vector<u8> d = render(255, c.first, {down});
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x)
        ASSERT_EQ(at(d, x, y), x >= 24 && x < 40 && y >= 24 && y < 40 ? c.second : 0) << x << "," << y;
  }
  EXPECT_EQ(at(render(127, 100, {down}), 30, 30), 128);
  EXPECT_EQ(at(render(127, 100, {down, down}), 30, 30), 192);
  // A half-transparent occluder over the whole background: one density,
  // also along the quad's diagonal.
  EXPECT_EQ(render(128, 100, {down}, 64, 0, 90, -13), std::vector<u8>(64 * 64, 129));

  // Tilted lights: the shadow moves 5 the way the light runs, as the
  // light's shadow maps do, and mirrors with it.
  const std::vector<u8> a = render(255, 100, {{0.5f, 0, 1}}), b = render(255, 100, {{-0.5f, 0, 1}}),
                        c = render(255, 100, {{0, 0.5f, 1}});
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      ASSERT_EQ(at(a, x, y), x >= 29 && x < 45 && y >= 24 && y < 40 ? 255 : 0) << x << "," << y;
      ASSERT_EQ(at(b, x, y), at(a, 63 - x, y)) << x << "," << y;
      ASSERT_EQ(at(c, x, y), at(a, y, x)) << x << "," << y;
    }

  // Rows longer than the width: refused with a blur, padding kept without.
  EXPECT_TRUE(render(255, 100, {down}, 70, 2.0f).empty());
  const std::vector<u8> padded = render(255, 100, {down}, 70);
  ASSERT_FALSE(padded.empty());
  EXPECT_EQ(padded[30 * 70 + 30], 255);
  EXPECT_EQ(padded[30 * 70 + 66], 9);
}

TEST(SurfaceShadow, GenerationFlagsProgressAndRefusals) {
  Scene sc;
  sc.squares = {{-12, 0, 255}};
  CKLF_3D_Surface s1;
  sc.Load(s1);
  CKLF_3D_Surface::LIGHT_SOURCE l1 = WhiteLight("sun", {0, 0, 1});
  ASSERT_EQ(s1.Light_Add(&l1), 1);
  ASSERT_EQ(s1.Light_UseShadowMap("sun", 1), 1);
  ASSERT_EQ(s1.Light_GenerateAllInnerShadowMaps(sc.opacity.data(), 96, 96, 64, 1), 1);
  EXPECT_EQ(s1.Light_GetChangedFlag("sun"), 0);
  u8* map = s1.Light_GetShadowMap("sun");
  map[0] = 7;  // kept while the light has not changed
  ASSERT_EQ(s1.Light_GenerateAllInnerShadowMaps(sc.opacity.data(), 96, 96, 64, 1), 1);
  EXPECT_EQ(s1.Light_GetShadowMap("sun")[0], 7);
  l1.direction = {0.1f, 0, 1};
  ASSERT_EQ(s1.Light_Change(&l1), 1);
  ASSERT_EQ(s1.Light_GenerateAllInnerShadowMaps(sc.opacity.data(), 96, 96, 64, 1), 1);
  EXPECT_EQ(s1.Light_GetShadowMap("sun")[0], 255);
  EXPECT_FAILS(s1, s1.int_GenerateInternalLightShadowMap(s1.Light_GetRecord(0), sc.opacity.data(), 95, 96, 64),
               klErrBadArg);

  // Second class: no light casting a shadow reports 0 and 100; a cancel
  // stops with 0 and no error; an opacity stride other than the width and
  // lights not precalculated are refused.
  CKLF_3D_Surface2 s2;
  sc.Load(s2);
  Recorder rec;
  s2.SetProgress(&rec);
  ASSERT_EQ(s2.Light_GenerateAllInnerShadowMaps(sc.opacity.data(), 96, 96, 64, 1.0f), 1);
  EXPECT_EQ(rec.seen, std::vector<int>({0, 100}));
  const CKLF_3D_Surface2::LIGHT_SOURCE l2 = Light2("sun", {0, 0, 1});
  ASSERT_EQ(s2.Light_Add(&l2), 1);
  rec.cancelAt = 6;
  rec.asked = 0;
  // The lighting vector is still zero.
  EXPECT_FAILS(s2, s2.Light_GenerateAllInnerShadowMaps(sc.opacity.data(), 96, 96, 64, 1.0f), klErrBadArg);
  ASSERT_EQ(s2.Light_PrecalculateLights(1), 1);
  rec.asked = 0;
  EXPECT_EQ(s2.Light_GenerateAllInnerShadowMaps(sc.opacity.data(), 96, 96, 64, 1.0f), 0);
  EXPECT_EQ(s2.GetError(), klErrNone);
  s2.SetProgress(nullptr);
  std::vector<u8> wide(320 * 64, 255);
  EXPECT_FAILS(s2, s2.int_GenerateInternalLightShadowMap_v2(s2.Light_GetRecord(0), wide.data(), 320, 96, 64, 1, 0, 100),
               klErrBadArg);
}
