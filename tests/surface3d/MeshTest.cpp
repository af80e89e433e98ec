#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CKLF_3D_Surface2.h"
#include "KLF_BigEndian.h"
#include "SurfaceTestUtil.h"

using s3dtest::SetMesh;
using s3dtest::Tri;

namespace {

void Put32(std::vector<u8>& b, u32 v) {
  b.resize(b.size() + 4);
  KLF_PutBE32(b.data() + b.size() - 4, v);
}

bool Same(const klt3D_VERTEX& a, const klt3D_VERTEX& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

f64 Dist(const klt3D_VERTEX& a, const klt3D_VERTEX& b) {
  return std::hypot(f64(a.x) - b.x, f64(a.y) - b.y, f64(a.z) - b.z);
}

void RandomMesh(CKLF_3D_SurfaceBase& s, std::mt19937& rng, u32 nv, u32 nt) {
  std::uniform_real_distribution<f32> c(-50.0f, 50.0f);
  std::vector<klt3D_VERTEX> v(nv);
  for (auto& p : v) p = {c(rng), c(rng), c(rng)};
  std::vector<Tri> t(nt);
  for (auto& x : t) x = {u32(rng() % nv), u32(rng() % nv), u32(rng() % nv), u8(rng() & 7)};
  SetMesh(s, v, t);
}

}  // namespace

TEST(SurfaceMesh, RecordReadsBigEndianFieldsAndRefusesBadRecordsUnchanged) {
  std::vector<u8> r;  // 3 vertices of (mantissa, exponent) triples, 1 triangle
  Put32(r, 3);
  Put32(r, 1);
  const i32 m[9] = {-12345, 7, 0, 100, 0, 5, 0, 250, -1};
  for (int i = 0; i < 9; ++i) {
    Put32(r, u32(m[i]));
    r.push_back(u8(i % 3 == 0 ? 2 : i % 3 == 1 ? 0 : 1));
  }
  for (u32 i : {2u, 0u, 1u}) Put32(r, i);
  r.push_back(5);
  CKLF_3D_Surface s;
  ASSERT_EQ(s.Create(r.data(), r.size()), 1);
  EXPECT_EQ(s.GetVertex(0)->x, -123.45f);
  EXPECT_EQ(s.GetVertex(0)->y, 7.0f);
  EXPECT_EQ(s.GetVertex(2)->z, -0.1f);
  EXPECT_EQ(s.GetTriMesh(0)->v[0], 2u);
  EXPECT_EQ(s.GetTriMesh(0)->flags, 5);
  EXPECT_EQ(s.GetTriMesh(1), nullptr);

  // Short by a byte, an index equal to V, counts beyond any block, the
  // flags 255 that GetMeshVertex answers for a bad triangle: refused, the
  // mesh as it was.
  std::vector<u8> badIndex = r, badFlags = r, huge;
  KLF_PutBE32(badIndex.data() + 8 + 45 + 4, 3);
  badFlags.back() = 255;
  Put32(huge, 0xFFFFFFFFu);
  Put32(huge, 0xFFFFFFFFu);
  const std::vector<std::pair<const u8*, u64>> refused = {{r.data(), r.size() - 1},
                                                          {r.data(), 7},
                                                          {badIndex.data(), badIndex.size()},
                                                          {badFlags.data(), badFlags.size()},
                                                          {huge.data(), 8}};
  for (auto& x : refused) {
    EXPECT_FAILS(s, s.Create(x.first, x.second), klErrNotFormat);
    EXPECT_EQ(s.GetVertexCount(), 3u);
    EXPECT_EQ(s.GetVertex(0)->x, -123.45f);
  }
  const u8 empty[8] = {};
  EXPECT_EQ(s.Create(empty, 8), 1);
  EXPECT_EQ(s.GetVertexCount(), 0u);
  // Random records with small counts: taken whole with every index below V,
  // or refused.
  std::mt19937 rng(1);
  int taken = 0;
  for (int i = 0; i < 300; ++i) {
    std::vector<u8> b;
    Put32(b, rng() % 4);
    Put32(b, rng() % 4);
    b.resize(rng() % 100);
    for (size_t k = 8; k < b.size(); ++k) b[k] = u8(rng() % 4);
    if (s.Create(b.data(), b.size()) == 0) continue;
    ++taken;
    klt3D_VERTEX p, q, o;
    for (u32 t = 0; t < s.GetTriMeshCount(); ++t) {
      for (u32 v : s.GetTriMesh(t)->v) ASSERT_LT(v, s.GetVertexCount());
      EXPECT_NE(s.GetMeshVertex(t, p, q, o), 255);
    }
  }
  EXPECT_GT(taken, 20);
}

TEST(SurfaceMesh, CountsCopiesAndOutOfRangeIndices) {
  std::mt19937 rng(3);
  CKLF_3D_Surface a, b;
  RandomMesh(a, rng, 10, 8);
  const klt3D_VERTEX v3 = *a.GetVertex(3);
  ASSERT_EQ(a.Create(5u, 12u), 1);
  ASSERT_EQ(a.Create(7u, 12u), 1);
  EXPECT_TRUE(Same(*a.GetVertex(3), v3));                     // kept
  EXPECT_TRUE(Same(*a.GetVertex(6), klt3D_VERTEX{0, 0, 0}));  // new slots zero, not old vertices
  // The vertex block grows, then the triangles cannot: counts stay.
  EXPECT_FAILS(a, a.Create(9u, 0x20000000u), klErrNoMemory);
  EXPECT_EQ(a.GetVertexCount(), 7u);
  EXPECT_EQ(a.GetTriMeshCount(), 12u);

  ASSERT_EQ(a.RecreateMappingArrayFromCurrentValues(), 1);
  ASSERT_EQ(b.Create(&a), 1);
  EXPECT_EQ(std::memcmp(b.GetVertex(0), a.GetVertex(0), 7 * sizeof(klt3D_VERTEX)), 0);
  ASSERT_EQ(a.Create(8u, 12u), 1);
  EXPECT_EQ(a.GetMapping(0), nullptr);  // no longer an entry for every vertex
  EXPECT_FAILS(b, b.Create(static_cast<CKLF_3D_Surface*>(nullptr)), klErrBadArg);

  // A triangle naming a vertex past the count is out of every reader's way.
  a.GetTriMesh(0)->v[1] = 99;
  klt3D_VERTEX p, q, r;
  EXPECT_EQ(a.GetMeshVertex(0, p, q, r), 255);
  EXPECT_EQ(a.GetMeshNormal(0).z, 0.0f);
  EXPECT_EQ(a.PrepareVertexNormalsArray(), 1);
}

TEST(SurfaceMesh, NormalsFlagsAndTheSearchOverAllTriangles) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<f32> c(-10.0f, 10.0f);
  for (int i = 0; i < 50; ++i) {
    klt3D_VERTEX p[3];
    for (auto& v : p) v = {c(rng), c(rng), c(rng)};
    const klt3D_VECTOR n0 = CKLF_3D_SurfaceBase::GetMeshNormal(p, p + 1, p + 2, 0),
                       n6 = CKLF_3D_SurfaceBase::GetMeshNormal(p, p + 1, p + 2, 6),
                       n1 = CKLF_3D_SurfaceBase::GetMeshNormal(p, p + 1, p + 2, 1);
    EXPECT_TRUE(n0.x == n6.x && n0.y == n6.y && n0.z == n6.z);
    EXPECT_TRUE(n0.x == -n1.x && n0.y == -n1.y && n0.z == -n1.z);
    EXPECT_NEAR(std::hypot(n0.x, n0.y, n0.z), 1.0, 1e-6);
  }
  const klt3D_VERTEX ccw[3] = {{0, 10, 0}, {10, 0, 0}, {0, 0, 0}}, line[3] = {{1, 1, 1}, {2, 2, 2}, {4, 4, 4}};
  EXPECT_EQ(CKLF_3D_SurfaceBase::GetMeshNormal(ccw, ccw + 1, ccw + 2, 0).z, 1.0f);  // faces the viewer
  const klt3D_VECTOR z = CKLF_3D_SurfaceBase::GetMeshNormal(line, line + 1, line + 2, 0);
  EXPECT_TRUE(z.x == 0.0f && z.y == 0.0f && z.z == 0.0f);  // degenerate: zero, no NaN

  // Vertex normals, bit for bit, against the search of every triangle per vertex.
  CKLF_3D_Surface s;
  RandomMesh(s, rng, 40, 120);
  *s.GetTriMesh(3) = CKLF_3D_SurfaceBase::TRIMESH{{5, 5, 9}, 0};  // names vertex 5 twice
  ASSERT_EQ(s.PrepareVertexNormalsArray(), 1);
  for (u32 v = 0; v < s.GetVertexCount(); ++v) {
    f64 sum[3] = {0, 0, 0};
    u32 n = 0;
    for (u32 t = 0; t < s.GetTriMeshCount(); ++t) {
      const auto* tri = s.GetTriMesh(t);
      if (tri->v[0] != v && tri->v[1] != v && tri->v[2] != v) continue;
      const klt3D_VECTOR f = s.GetMeshNormal(t);
      sum[0] += f.x, sum[1] += f.y, sum[2] += f.z, ++n;
    }
    if (!n) continue;
    f32 m[3] = {f32(sum[0] / n), f32(sum[1] / n), f32(sum[2] / n)};
    const f32 len = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
    for (f32& x : m) x = len > 0 ? x / len : x;
    const klt3D_VECTOR* got = s.GetVertexNormal(v);
    EXPECT_TRUE(got->x == m[0] && got->y == m[1] && got->z == m[2]) << v;
  }
}

TEST(SurfaceMesh, CosPower) {
  CKLF_3D_Surface s;
  const std::pair<i16, f32> power[] = {{20, 2.0f}, {-50, 0.5f}, {0, 1.0f}, {40, 4.0f}, {-100, 0.25f}};
  for (auto& p : power) {
    s.SetMatShading(p.first);
    EXPECT_EQ(s.GetCosPower(), p.second) << p.first;
  }
}

TEST(SurfaceMesh, TransformsKeepDistancesAndIdentitiesHold) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<f32> c(-20.0f, 20.0f);
  CKLF_3D_Surface s, ref;
  RandomMesh(s, rng, 30, 1);
  ref.Create(&s);
  const klt3D_VERTEX pivot = {c(rng), c(rng), c(rng)};
  s.Rotate(0, 0, 0, pivot);
  s.Zoom(1, 1, 1, pivot);
  s.PerspectiveZ(0, pivot);
  s.Rotate(klt3D_VECTOR{0, 0, 2}, pivot);
  s.Rotate(klt3D_VECTOR{0, 0, 0}, pivot);
  for (u32 i = 0; i < 30; ++i) EXPECT_LE(Dist(*s.GetVertex(i), *ref.GetVertex(i)), 1e-5);
  // Turns keep every distance to the pivot and between vertices.
  for (int i = 0; i < 10; ++i) {
    s.Rotate(c(rng), c(rng), c(rng), pivot);
    s.Rotate(klt3D_VECTOR{c(rng), c(rng), c(rng)}, pivot);
  }
  for (u32 i = 0; i < 30; ++i) {
    EXPECT_NEAR(Dist(*s.GetVertex(i), pivot), Dist(*ref.GetVertex(i), pivot), 1e-3);
    EXPECT_NEAR(Dist(*s.GetVertex(i), *s.GetVertex(0)), Dist(*ref.GetVertex(i), *ref.GetVertex(0)), 1e-3);
  }

  // The shadow contract: turning by (d.x, -d.y, d.z) carries d onto +z,
  // straight down -z as well.
  const klt3D_VECTOR dirs[] = {{c(rng), c(rng), c(rng)}, {1, 2, -3}, {0, 0, -4}, {0.001f, 0, -1}};
  for (const klt3D_VECTOR& d : dirs) {
    CKLF_3D_Surface2 m;
    SetMesh(m, {{d.x, d.y, d.z}}, {});
    m.Rotate(klt3D_VECTOR{d.x, -d.y, d.z}, klt3D_VERTEX{0, 0, 0});
    const f64 len = std::hypot(d.x, d.y, d.z);
    EXPECT_LE(Dist(*m.GetVertex(0), klt3D_VERTEX{0, 0, f32(len)}), 1e-4 * len);
  }

  // Zoom and perspective keep the pivot; a vertex on the eye plane stays;
  // PerspectiveZ_2 with the pivot at the nearest depth does nothing.
  const klt3D_VERTEX zp = *s.GetVertex(0);
  s.Zoom(c(rng), c(rng), c(rng), zp);
  s.PerspectiveZ(7.0f, zp);
  EXPECT_TRUE(Same(*s.GetVertex(0), zp));
  SetMesh(s, {{5, 6, -7}, {1, 1, 3}}, {});
  s.PerspectiveZ(7.0f, klt3D_VERTEX{0, 0, 0});
  EXPECT_TRUE(Same(*s.GetVertex(0), klt3D_VERTEX{5, 6, -7}));
  EXPECT_TRUE(std::isfinite(s.GetVertex(1)->x));
  s.PerspectiveZ_2(klt3D_VERTEX{9, 9, -7});
  EXPECT_TRUE(Same(*s.GetVertex(0), klt3D_VERTEX{5, 6, -7}));
}

TEST(SurfaceMesh, BoundsCentreAndCorrection) {
  CKLF_3D_Surface s;
  EXPECT_EQ(s.GetObjectBounds().minX, -1e10);
  SetMesh(s, {{10, 20, 0}, {30, 60, 5}}, {});
  s.OffsetByCenterXY(0, 0);
  EXPECT_TRUE(Same(*s.GetVertex(0), klt3D_VERTEX{-10, -20, 0}));
  // Pushed back inside 0..100 x 0..100, the out values carrying the whole
  // move; wider than the window, moved as asked.
  f32 ox, oy;
  s.OffsetWithCorrectionXY(-5, 200, 0, 0, 100, 100, &ox, &oy);
  EXPECT_TRUE(Same(*s.GetVertex(0), klt3D_VERTEX{0, 60, 0}) && ox == 10 && oy == 80);
  SetMesh(s, {{-10, 0, 0}, {150, 0, 0}}, {});
  s.OffsetWithCorrectionXY(3, 4, 0, 0, 100, 100, &ox, nullptr);
  EXPECT_TRUE(s.GetVertex(0)->x == -7 && ox == 3);
}
