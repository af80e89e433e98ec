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

// A big-endian mesh record: coordinates as (mantissa, exponent) triples.
struct Record {
  std::vector<u8> b;
  void U32(u32 v) {
    b.resize(b.size() + 4);
    KLF_PutBE32(b.data() + b.size() - 4, v);
  }
  void Coord(i32 m, u8 e) {
    U32(static_cast<u32>(m));
    b.push_back(e);
  }
};

Record TwoTriangles() {
  Record r;
  r.U32(4);
  r.U32(2);
  const i32 m[4][3] = {{-12345, 7, 0}, {100, 0, 5}, {0, 250, -1}, {3, 3, 3}};
  const u8 e[3] = {2, 0, 1};
  for (auto& v : m)
    for (int k = 0; k < 3; ++k) r.Coord(v[k], e[k]);
  const u32 t[2][3] = {{0, 1, 2}, {3, 2, 1}};
  for (int i = 0; i < 2; ++i) {
    for (u32 x : t[i]) r.U32(x);
    r.b.push_back(static_cast<u8>(4 + i));
  }
  return r;
}

bool SameVertex(const klt3D_VERTEX& a, const klt3D_VERTEX& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

f64 Dist(const klt3D_VERTEX& a, const klt3D_VERTEX& b) {
  return std::sqrt(std::pow(f64(a.x) - b.x, 2) + std::pow(f64(a.y) - b.y, 2) + std::pow(f64(a.z) - b.z, 2));
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
  Record r = TwoTriangles();
  CKLF_3D_Surface s;
  ASSERT_EQ(s.Create(r.b.data(), r.b.size()), 1);
  ASSERT_EQ(s.GetVertexCount(), 4u);
  ASSERT_EQ(s.GetTriMeshCount(), 2u);
  EXPECT_EQ(s.GetVertex(0)->x, -123.45f);
  EXPECT_EQ(s.GetVertex(0)->y, 7.0f);
  EXPECT_EQ(s.GetVertex(2)->y, 250.0f);
  EXPECT_EQ(s.GetVertex(2)->z, -0.1f);
  EXPECT_EQ(s.GetTriMesh(1)->v[0], 3u);
  EXPECT_EQ(s.GetTriMesh(1)->flags, 5);
  EXPECT_EQ(s.GetTriMesh(2), nullptr);
  EXPECT_EQ(s.GetVertex(4), nullptr);

  // Short by one byte, an index equal to V, counts that overflow 32 bits:
  // refused, the mesh unchanged.
  Record badIndex = r;
  KLF_PutBE32(badIndex.b.data() + 8 + 60 + 13 + 4, 4);
  Record huge;
  huge.U32(0xFFFFFFFFu);
  huge.U32(0xFFFFFFFFu);
  const std::vector<std::pair<const u8*, u64>> refused = {
      {r.b.data(), r.b.size() - 1}, {r.b.data(), 7}, {badIndex.b.data(), badIndex.b.size()}, {huge.b.data(), 8}};
  for (auto& x : refused) {
    CKLF_3D_Surface2 t;
    ASSERT_EQ(t.Create(r.b.data(), r.b.size()), 1);
    EXPECT_EQ(t.Create(x.first, x.second), 0);
    EXPECT_EQ(t.GetError(), klErrNotFormat);
    EXPECT_EQ(t.GetVertexCount(), 4u);
    EXPECT_EQ(t.GetVertex(0)->x, -123.45f);
    EXPECT_EQ(t.GetTriMesh(1)->v[0], 3u);
  }
  Record empty;
  empty.U32(0);
  empty.U32(0);
  EXPECT_EQ(s.Create(empty.b.data(), 8), 1);
  EXPECT_EQ(s.GetVertexCount(), 0u);
}

TEST(SurfaceMesh, CreateByCountsKeepsLeadingEntriesAndCopiesOnlyTheMesh) {
  std::mt19937 rng(3);
  CKLF_3D_Surface a;
  RandomMesh(a, rng, 10, 8);
  const klt3D_VERTEX v3 = *a.GetVertex(3);
  ASSERT_EQ(a.Create(5u, 12u), 1);
  EXPECT_TRUE(SameVertex(*a.GetVertex(3), v3));
  ASSERT_EQ(a.Create(7u, 12u), 1);  // grown again: the new slots are zero, not the old vertices
  EXPECT_TRUE(SameVertex(*a.GetVertex(6), klt3D_VERTEX{0, 0, 0}));
  EXPECT_EQ(a.GetTriMesh(11)->v[0], 0u);

  // Counts too large for a block: refused whole, counts unchanged.
  EXPECT_EQ(a.Create(0x40000000u, 0x40000000u), 0);
  EXPECT_EQ(a.GetError(), klErrNoMemory);
  EXPECT_EQ(a.GetVertexCount(), 7u);
  EXPECT_EQ(a.GetTriMeshCount(), 12u);

  CKLF_3D_Surface b;
  ASSERT_EQ(a.RecreateMappingArrayFromCurrentValues(), 1);
  a.SetMatShading(20);
  ASSERT_EQ(b.Create(&a), 1);
  EXPECT_EQ(b.GetVertexCount(), 7u);
  EXPECT_EQ(std::memcmp(b.GetVertex(0), a.GetVertex(0), 7 * sizeof(klt3D_VERTEX)), 0);
  EXPECT_EQ(b.GetMapping(0), nullptr);
  EXPECT_EQ(b.GetMatShading(), 0);
  EXPECT_EQ(b.Create(static_cast<CKLF_3D_Surface*>(nullptr)), 0);
  EXPECT_EQ(b.GetError(), klErrBadArg);

  // A triangle naming a vertex past the count is out of every reader's way.
  a.GetTriMesh(0)->v[1] = 99;
  klt3D_VERTEX p, q, r;
  EXPECT_EQ(a.GetMeshVertex(0, p, q, r), 255);
  EXPECT_EQ(a.GetMeshNormal(0).z, 0.0f);
  EXPECT_EQ(a.PrepareVertexNormalsArray(), 1);
}

TEST(SurfaceMesh, FaceNormalFlagsAndDegenerateTriangles) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<f32> c(-10.0f, 10.0f);
  for (int i = 0; i < 50; ++i) {
    klt3D_VERTEX p[3];
    for (auto& v : p) v = {c(rng), c(rng), c(rng)};
    const klt3D_VECTOR n0 = CKLF_3D_SurfaceBase::GetMeshNormal(p, p + 1, p + 2, 0);
    const klt3D_VECTOR n6 = CKLF_3D_SurfaceBase::GetMeshNormal(p, p + 1, p + 2, 6);
    const klt3D_VECTOR n1 = CKLF_3D_SurfaceBase::GetMeshNormal(p, p + 1, p + 2, 1);
    EXPECT_TRUE(n0.x == n6.x && n0.y == n6.y && n0.z == n6.z);
    EXPECT_TRUE(n0.x == -n1.x && n0.y == -n1.y && n0.z == -n1.z);
    EXPECT_NEAR(std::sqrt(n0.x * n0.x + n0.y * n0.y + n0.z * n0.z), 1.0, 1e-6);
  }
  // Counter-clockwise on screen (y down) faces the viewer.
  const klt3D_VERTEX t[3] = {{0, 10, 0}, {10, 0, 0}, {0, 0, 0}};
  EXPECT_EQ(CKLF_3D_SurfaceBase::GetMeshNormal(t, t + 1, t + 2, 0).z, 1.0f);
  // Collinear or coincident points: the zero normal, no NaN.
  const klt3D_VERTEX d[3] = {{1, 1, 1}, {2, 2, 2}, {4, 4, 4}};
  const klt3D_VECTOR z = CKLF_3D_SurfaceBase::GetMeshNormal(d, d + 1, d + 2, 0);
  EXPECT_TRUE(z.x == 0.0f && z.y == 0.0f && z.z == 0.0f);
}

TEST(SurfaceMesh, VertexNormalsEqualTheSearchOverAllTriangles) {
  std::mt19937 rng(7);
  CKLF_3D_Surface s;
  RandomMesh(s, rng, 40, 120);
  *s.GetTriMesh(3) = CKLF_3D_SurfaceBase::TRIMESH{{5, 5, 9}, 0};  // names vertex 5 twice
  ASSERT_EQ(s.PrepareVertexNormalsArray(), 1);
  for (u32 v = 0; v < s.GetVertexCount(); ++v) {
    f64 x = 0, y = 0, z = 0;
    u32 n = 0;
    for (u32 t = 0; t < s.GetTriMeshCount(); ++t) {
      const auto* tri = s.GetTriMesh(t);
      if (tri->v[0] != v && tri->v[1] != v && tri->v[2] != v) continue;
      const klt3D_VECTOR f = s.GetMeshNormal(t);
      x += f.x, y += f.y, z += f.z, ++n;
    }
    if (!n) continue;
    f32 m[3] = {f32(x / n), f32(y / n), f32(z / n)};
    const f32 len = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
    if (len > 0)
      for (f32& c : m) c /= len;
    const klt3D_VECTOR* got = s.GetVertexNormal(v);
    EXPECT_TRUE(got->x == m[0] && got->y == m[1] && got->z == m[2]) << v;
  }
}

TEST(SurfaceMesh, MappingZBufferAndCosPower) {
  std::mt19937 rng(9);
  CKLF_3D_Surface s;
  RandomMesh(s, rng, 6, 2);
  ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
  EXPECT_EQ(s.GetMapping(5)->x, s.GetVertex(5)->x);
  EXPECT_EQ(s.GetMapping(5)->y, s.GetVertex(5)->y);
  ASSERT_EQ(s.Create(8u, 2u), 1);
  EXPECT_EQ(s.GetMapping(0), nullptr);  // no longer one entry per vertex

  ASSERT_EQ(s.RecreateZBuffer(20, 10), 1);
  const CKLF_3D_SurfaceBase::ZBUFFER_ELEMENT* big = s.GetZBuffer();
  ASSERT_EQ(s.RecreateZBuffer(5, 4), 1);
  EXPECT_EQ(s.GetZBuffer(), big);  // kept, not shrunk
  EXPECT_EQ(s.GetZBufferWidth(), 5);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(big[i].owner, -1);

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
  auto unchanged = [&](f64 tol) {
    for (u32 i = 0; i < s.GetVertexCount(); ++i) EXPECT_LE(Dist(*s.GetVertex(i), *ref.GetVertex(i)), tol) << i;
  };
  s.Rotate(0, 0, 0, pivot);
  s.Zoom(1, 1, 1, pivot);
  s.PerspectiveZ(0, pivot);
  s.Rotate(klt3D_VECTOR{0, 0, 2}, pivot);
  s.Rotate(klt3D_VECTOR{0, 0, 0}, pivot);
  unchanged(1e-5);

  // Turns keep every distance to the pivot and between vertices.
  for (int i = 0; i < 10; ++i) {
    s.Rotate(c(rng), c(rng), c(rng), pivot);
    s.Rotate(klt3D_VECTOR{c(rng), c(rng), c(rng)}, pivot);
  }
  for (u32 i = 0; i < s.GetVertexCount(); ++i) {
    EXPECT_NEAR(Dist(*s.GetVertex(i), pivot), Dist(*ref.GetVertex(i), pivot), 1e-3);
    EXPECT_NEAR(Dist(*s.GetVertex(i), *s.GetVertex(0)), Dist(*ref.GetVertex(i), *ref.GetVertex(0)), 1e-3);
  }

  // The shadow contract: turning by (d.x, -d.y, d.z) carries d onto +z,
  // the direction straight down -z as well.
  const klt3D_VECTOR dirs[] = {{c(rng), c(rng), c(rng)}, {1, 2, -3}, {0, 0, -4}, {0.001f, 0, -1}};
  for (const klt3D_VECTOR& d : dirs) {
    CKLF_3D_Surface2 m;
    SetMesh(m, {{d.x, d.y, d.z}}, {});
    m.Rotate(klt3D_VECTOR{d.x, -d.y, d.z}, klt3D_VERTEX{0, 0, 0});
    const f64 len = std::sqrt(f64(d.x) * d.x + f64(d.y) * d.y + f64(d.z) * d.z);
    EXPECT_NEAR(m.GetVertex(0)->x, 0.0, 1e-4 * len);
    EXPECT_NEAR(m.GetVertex(0)->y, 0.0, 1e-4 * len);
    EXPECT_NEAR(m.GetVertex(0)->z, len, 1e-4 * len);
  }

  // Zoom and perspective keep the pivot; PerspectiveZ_2 with the pivot at
  // the nearest depth does nothing; a vertex on the eye plane stays.
  ref.Create(&s);
  const klt3D_VERTEX zp = {s.GetVertex(0)->x, s.GetVertex(0)->y, s.GetVertex(0)->z};
  *s.GetVertex(1) = zp;
  s.Zoom(c(rng), c(rng), c(rng), zp);
  s.PerspectiveZ(7.0f, zp);
  EXPECT_TRUE(SameVertex(*s.GetVertex(1), zp));
  CKLF_3D_Surface e;
  SetMesh(e, {{5, 6, -7}, {1, 1, 3}}, {});
  e.PerspectiveZ(7.0f, klt3D_VERTEX{0, 0, 0});
  EXPECT_TRUE(SameVertex(*e.GetVertex(0), klt3D_VERTEX{5, 6, -7}));
  EXPECT_TRUE(std::isfinite(e.GetVertex(1)->x));
  e.PerspectiveZ_2(klt3D_VERTEX{9, 9, -7});
  EXPECT_TRUE(SameVertex(*e.GetVertex(0), klt3D_VERTEX{5, 6, -7}));
}

TEST(SurfaceMesh, BoundsCentreAndCorrection) {
  CKLF_3D_Surface s;
  EXPECT_EQ(s.GetObjectBounds().minX, -1e10);
  EXPECT_EQ(s.GetObjectBounds().maxY, -1e10);
  SetMesh(s, {{10, 20, 0}, {30, 60, 5}}, {});
  s.OffsetByCenterXY(0, 0);
  auto b = s.GetObjectBounds();
  EXPECT_EQ(b.minX, -10);
  EXPECT_EQ(b.maxY, 20);

  // Within 0..100 x 0..100: pushed back inside, the out values carry it.
  f32 ox, oy;
  s.OffsetWithCorrectionXY(-5, 200, 0, 0, 100, 100, &ox, &oy);
  b = s.GetObjectBounds();
  EXPECT_EQ(b.minX, 0);
  EXPECT_EQ(b.maxY, 100);
  EXPECT_EQ(ox, 10);
  EXPECT_EQ(oy, 80);
  // Wider than the window: moved as asked, no correction.
  SetMesh(s, {{-10, 0, 0}, {150, 0, 0}}, {});
  s.OffsetWithCorrectionXY(3, 4, 0, 0, 100, 100, &ox, nullptr);
  EXPECT_EQ(s.GetVertex(0)->x, -7);
  EXPECT_EQ(ox, 3);
}
