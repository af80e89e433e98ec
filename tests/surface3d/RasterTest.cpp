#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "SurfaceTestUtil.h"

using s3dtest::Bytes;
using s3dtest::MakeImage;
using s3dtest::Quad;
using s3dtest::Same;
using s3dtest::SetMesh;
using s3dtest::Tri;

namespace {

const kltRGBA8 kClear = {0, 0, 0, 0}, kFront = {200, 100, 50, 255}, kBack = {30, 60, 90, 255},
               kGrid = {255, 255, 0, 255}, kNoGrid = {0, 0, 0, 0};

// Pixels of one flat-shaded triangle (no grid) as a 0/1 mask.
std::vector<int> Coverage(const klt3D_VERTEX (&p)[3], u16 w, u16 h) {
  CKLF_3D_Surface s;
  SetMesh(s, {p[0], p[1], p[2]}, {{0, 1, 2, 0}});
  CKLF_Image im;
  MakeImage(im, w, h, kClear);
  EXPECT_EQ(s.RenderFlatShadedSurface(&im, 0, 0, klNullRect, 0, kNoGrid, kFront, kBack), 1);
  std::vector<int> m(w * h);
  for (int i = 0; i < w * h; ++i) m[i] = im.GetPixel(u16(i % w), u16(i / w)).alpha == 255;
  return m;
}

// A random texture with transparent holes.
void RandomTexture(CKLF_Image& t, u16 w, u16 h, std::mt19937& rng) {
  MakeImage(t, w, h, kClear);
  u8* p = t.GetMemObj()->GetPtr();
  for (u32 i = 0; i < t.GetMemObj()->GetSize(); ++i) p[i] = u8(rng());
  for (u32 i = 0; i < u32(w) * h; ++i)
    if (rng() % 5 == 0) p[3u * w * h + i] = 0;
}

}  // namespace

TEST(SurfaceRaster, CoverageIsWatertightAndFollowsTheArea) {
  // A rectangle tiled by a jittered grid of triangles, each drawn alone:
  // every pixel of it once, none outside.
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> jit(-2, 2), c(0, 63);
  const int cols = 7, rows = 5, cell = 8, x0 = 5, y0 = 3, W = 70, H = 50;
  std::vector<klt3D_VERTEX> knots;
  for (int r = 0; r <= rows; ++r)
    for (int k = 0; k <= cols; ++k) {
      const bool inner = r > 0 && r < rows && k > 0 && k < cols;
      knots.push_back({f32(x0 + k * cell + (inner ? jit(rng) : 0)), f32(y0 + r * cell + (inner ? jit(rng) : 0)), 0});
    }
  std::vector<int> hits(W * H, 0);
  for (int i = 0; i < rows * cols * 2; ++i) {
    const int k = i / 2 / cols * (cols + 1) + i / 2 % cols, q[4] = {k, k + 1, k + cols + 2, k + cols + 1};
    const int d = (i / 2) & 1, h = 2 * (i & 1);  // diagonal, half
    klt3D_VERTEX p[3] = {knots[q[d + h]], knots[q[(d + 1 + h) % 4]], knots[q[(d + 2 + h) % 4]]};
    if (rng() & 1) std::swap(p[0], p[1]);
    const std::vector<int> m = Coverage(p, W, H);
    for (int j = 0; j < W * H; ++j) hits[j] += m[j];
  }
  for (int j = 0; j < W * H; ++j) {
    const int x = j % W, y = j / W;
    ASSERT_EQ(hits[j], x >= x0 && x < x0 + cols * cell && y >= y0 && y < y0 + rows * cell) << x << "," << y;
  }
  // Random triangles: pixel counts within half the perimeter of the area;
  // all three points on one row: nothing.
  for (int i = 0; i < 60; ++i) {
    klt3D_VERTEX p[3];
    for (auto& v : p) v = {f32(c(rng)), f32(c(rng)), 0};
    if (i == 0) p[1].y = p[2].y = p[0].y;
    const f64 area = std::fabs((p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[2].x - p[0].x) * (p[1].y - p[0].y)) / 2;
    f64 perim = 0;
    for (int k = 0; k < 3; ++k) perim += std::hypot(p[(k + 1) % 3].x - p[k].x, p[(k + 1) % 3].y - p[k].y);
    const std::vector<int> m = Coverage(p, 64, 64);
    const int n = int(std::count(m.begin(), m.end(), 1));
    EXPECT_LE(std::fabs(n - area), i == 0 ? 0 : perim / 2) << i;
  }
}

TEST(SurfaceRaster, NearerTriangleWinsWhateverTheOrder) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<f32> c(-10.0f, 70.0f);
  std::vector<klt3D_VERTEX> v;
  std::vector<Tri> t;
  const u32 n = 40;
  for (u32 i = 0; i < n; ++i) {
    const f32 z = f32(rng() % 1000) + f32(i) / n;  // distinct depths
    for (int k = 0; k < 3; ++k) v.push_back({c(rng), c(rng), z});
    t.push_back({3 * i, 3 * i + 1, 3 * i + 2, 0});
  }
  std::vector<Tri> rev(t.rbegin(), t.rend());
  CKLF_3D_Surface a, b;
  SetMesh(a, v, t);
  SetMesh(b, v, rev);
  CKLF_Image ia, ib;
  MakeImage(ia, 60, 50, kClear);
  MakeImage(ib, 60, 50, kClear);
  const kltRECT_s clip = {4, 3, 57, 48};
  ASSERT_EQ(a.RenderFlatShadedSurface(&ia, 0, 0, clip, 0, kNoGrid, kFront, kBack), 1);
  ASSERT_EQ(b.RenderFlatShadedSurface(&ib, 0, 0, clip, 0, kNoGrid, kFront, kBack), 1);
  EXPECT_EQ(Bytes(ia), Bytes(ib));
  const u32 size = a.GetZBufferWidth() * a.GetZBufferHeight();
  ASSERT_EQ(size, 53u * 45u);
  int owned = 0;
  for (u32 i = 0; i < size; ++i) {
    const i32 oa = a.GetZBuffer()[i].owner, ob = b.GetZBuffer()[i].owner;
    EXPECT_EQ(oa, ob < 0 ? -1 : i32(n - 1) - ob);
    owned += oa >= 0;
  }
  EXPECT_GT(owned, 1000);
  EXPECT_EQ(ia.GetPixel(20, 2).alpha, 0);  // outside the clip

  // Equal depths: the first drawn keeps the pixel.
  CKLF_3D_Surface e;
  SetMesh(e, {{0, 0, 1}, {0, 30, 1}, {30, 0, 1}}, {{0, 1, 2, 0}, {2, 1, 0, 0}});
  ASSERT_EQ(e.RenderFlatShadedSurface(&ia, 0, 0, klNullRect, 0, kNoGrid, kFront, kBack), 1);
  EXPECT_EQ(e.GetZBuffer()[60 * 5 + 5].owner, 0);
}

TEST(SurfaceRaster, FlatColoursFarPointsAndRefusals) {
  // Seen straight on a face keeps its colour exactly, front or back; spans
  // leave out their right end and triangles their bottom row.
  for (bool front : {true, false}) {
    std::vector<klt3D_VERTEX> v;
    std::vector<Tri> t;
    Quad(v, t, 2, 2, 20, 10, 0, front);
    CKLF_3D_Surface s;
    SetMesh(s, v, t);
    CKLF_Image im;
    MakeImage(im, 30, 20, kClear);
    ASSERT_EQ(s.RenderFlatShadedSurface(&im, 3, 4, klNullRect, 0, kNoGrid, kFront, kBack), 1);
    for (int i = 0; i < 30 * 20; ++i) {
      const bool in = i % 30 >= 5 && i % 30 < 25 && i / 30 >= 6 && i / 30 < 16;
      ASSERT_TRUE(Same(im.GetPixel(u16(i % 30), u16(i / 30)), in ? (front ? kFront : kBack) : kClear)) << i;
    }
  }
  CKLF_3D_Surface s;
  CKLF_Image im;
  // Far points saturate instead of wrapping back into the image.
  SetMesh(s, {{10, 10, 0}, {3e9f, 10, 0}, {10, 3e9f, 0}}, {{0, 1, 2, 0}});
  MakeImage(im, 40, 40, kClear);
  ASSERT_EQ(s.RenderFlatShadedSurface(&im, 0, 0, klNullRect, 0, kNoGrid, kFront, kBack), 1);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(im.GetPixel(u16(x), u16(y)).alpha, x >= 10 && y >= 10 ? 255 : 0);

  // Error 1: null image, an RGB image, a clip outside the image.
  CKLF_Image rgb;
  ASSERT_TRUE(rgb.Create(8, 8, 1));
  CKLF_Image* images[] = {nullptr, &rgb, &im};
  const kltRECT_s clips[] = {klNullRect, klNullRect, {40, 0, 50, 10}};
  for (int i = 0; i < 3; ++i) {
    s.ResetError();
    EXPECT_FAILS(s, s.RenderFlatShadedSurface(images[i], 0, 0, clips[i], 0, kNoGrid, kFront, kBack), klErrBadArg);
    EXPECT_EQ(s.RenderMeshGrid(images[i], 0, 0, clips[i], 0, kGrid), i == 1 ? 1 : 0);  // the grid draws on RGB too
  }
}

TEST(SurfaceRaster, MeshLinesDrawLikeTheFrameworkLineAndHideBehindOthers) {
  // A triangle (a, b, a) fills nothing, so its flags-4 edge is the mesh line
  // a-b over an empty z-buffer; the grid draws the same line with the
  // framework's DrawLine (its third edge a-a is the pixel a).
  std::mt19937 rng(4);
  std::uniform_int_distribution<int> c(-20, 80);
  for (int i = 0; i < 100; ++i) {
    const klt3D_VERTEX a = {f32(c(rng)), f32(c(rng)), 0}, b = {f32(c(rng)), f32(c(rng)), 0};
    CKLF_3D_Surface s;
    SetMesh(s, {a, b}, {{0, 1, 0, 4}});
    CKLF_Image mine, ref;
    MakeImage(mine, 64, 56, kClear);
    MakeImage(ref, 64, 56, kClear);
    ASSERT_EQ(s.RenderFlatShadedSurface(&mine, 0, 0, {2, 1, 62, 55}, 0, kGrid, kFront, kBack), 1);
    ref.DrawLine(i16(a.x), i16(a.y), i16(b.x), i16(b.y), kGrid, {2, 1, 62, 55});
    if ((a.x >= 2 && a.x < 62 && a.y >= 1 && a.y < 55) || (b.x >= 2 && b.x < 62 && b.y >= 1 && b.y < 55)) {
      ASSERT_EQ(Bytes(mine), Bytes(ref)) << i;
    }
  }

  // The line (0,0)-(4,2) plots y 0, 1, 1, 2, 2 and nothing else.
  CKLF_3D_Surface s;
  SetMesh(s, {{0, 0, 0}, {4, 2, 0}}, {{0, 1, 0, 4}});
  CKLF_Image im;
  MakeImage(im, 8, 4, kClear);
  ASSERT_EQ(s.RenderFlatShadedSurface(&im, 0, 0, klNullRect, 0, kGrid, kFront, kBack), 1);
  const int ys[8] = {0, 1, 1, 2, 2, -1, -1, -1};
  for (int i = 0; i < 32; ++i) EXPECT_EQ(im.GetPixel(u16(i % 8), u16(i / 8)).alpha != 0, ys[i % 8] == i / 8) << i;

  // Over triangle A: the edge of a neighbour sharing A's edge shows, the
  // edge of one sharing a single vertex with A is hidden.
  for (bool sharesEdge : {true, false}) {
    // A covers x + y >= 40, its left ends on the diagonal.
    SetMesh(s, {{0, 0, 5}, {40, 0, 0}, {0, 40, 0}, {40, 40, 0}, {20, 40, 5}},
            {{1, 3, 2, 0}, sharesEdge ? Tri{1, 2, 0, 4} : Tri{1, 4, 0, 4}});
    MakeImage(im, 48, 48, kClear);
    ASSERT_EQ(s.RenderFlatShadedSurface(&im, 0, 0, klNullRect, 0, kGrid, kFront, kBack), 1);
    int overA = 0, total = 0;
    for (int i = 0; i < 48 * 48; ++i) {
      const bool grid = Same(im.GetPixel(u16(i % 48), u16(i / 48)), kGrid);
      total += grid;
      overA += grid && s.GetZBuffer()[i].owner == 0;
    }
    EXPECT_GT(total, 0);
    EXPECT_EQ(overA > 0, sharesEdge);
  }
}

TEST(SurfaceRaster, AntiAliasedMeshLineWeightsAndFarStarts) {
  // A horizontal line: centre coverage 254 (never 255), the neighbours at
  // distance 1 get trunc(255 / 9) x 255 >> 8 = 27.
  CKLF_3D_Surface s;
  SetMesh(s, {{2, 5, 0}, {12, 5, 0}}, {{0, 1, 0, 4}});
  CKLF_Image im;
  MakeImage(im, 16, 10, kClear);
  ASSERT_EQ(s.RenderFlatShadedSurface(&im, 0, 0, klNullRect, 1, kGrid, kFront, kBack), 1);
  for (int x = 2; x <= 12; ++x) {
    EXPECT_EQ(im.GetPixel(u16(x), 5).alpha, 254);
    EXPECT_EQ(im.GetPixel(u16(x), 4).alpha, 27);
    EXPECT_EQ(im.GetPixel(u16(x), 6).alpha, 27);
    EXPECT_EQ(im.GetPixel(u16(x), 3).alpha, 0);
  }
  EXPECT_EQ(im.GetPixel(13, 5).alpha, 0);

  // A line walked from far outside draws what the same line, moved into a
  // wider image, draws there: the walk resumes exactly where the clip begins.
  std::mt19937 rng(6);
  std::uniform_int_distribution<int> c(0, 39);
  for (int i = 0; i < 16; ++i) {
    const bool xMajor = i % 2 == 0;
    const int sh = 700 * (1 + i % 4);
    klt3D_VERTEX a = {f32(c(rng)), f32(c(rng)), 0}, b = {f32(c(rng) + 1000 + sh), f32(c(rng)), 0};
    if (!xMajor) std::swap(a.x, a.y), std::swap(b.x, b.y);
    if (i % 3 == 0) std::swap(a, b);
    const u16 W = u16(xMajor ? 4000 : 40), H = u16(xMajor ? 40 : 4000);
    CKLF_Image whole, part;
    MakeImage(whole, W, H, kClear);
    MakeImage(part, W, H, kClear);
    SetMesh(s, {a, b}, {{0, 1, 0, 4}});
    ASSERT_EQ(s.RenderFlatShadedSurface(&whole, 0, 0, klNullRect, 1, kGrid, kFront, kBack), 1);
    ASSERT_EQ(s.RenderFlatShadedSurface(&part, i16(xMajor ? -sh : 0), i16(xMajor ? 0 : -sh), klNullRect, 1, kGrid,
                                        kFront, kBack),
              1);
    for (int m = 0; m + sh < (xMajor ? W : H); m += 3)
      for (int k = 0; k < 40; ++k)
        ASSERT_TRUE(xMajor ? Same(part.GetPixel(u16(m), u16(k)), whole.GetPixel(u16(m + sh), u16(k)))
                           : Same(part.GetPixel(u16(k), u16(m)), whole.GetPixel(u16(k), u16(m + sh))))
            << i << " " << m << " " << k;
  }
}

TEST(SurfaceRaster, GridEdgesByFlagsAndFarEnds) {
  const std::pair<u8, std::vector<std::pair<int, int>>> cases[] = {
      {4, {{0, 1}, {2, 0}}}, {2, {{1, 2}, {2, 0}}}, {6, {{0, 1}, {1, 2}, {2, 0}}}, {1, {}}, {0, {}}};
  const klt3D_VERTEX p[3] = {{3, 4, 0}, {40, 9, 0}, {12, 30, 0}};
  for (auto& c : cases) {
    for (u8 aa : {0, 1}) {
      CKLF_3D_Surface s;
      SetMesh(s, {p[0], p[1], p[2]}, {{0, 1, 2, c.first}});
      CKLF_Image mine, ref;
      MakeImage(mine, 50, 40, kClear);
      MakeImage(ref, 50, 40, kClear);
      ASSERT_EQ(s.RenderMeshGrid(&mine, 2, 1, klNullRect, aa, kGrid), 1);
      for (auto& e : c.second) {
        const kltPOS a = {i32(p[e.first].x) + 2, i32(p[e.first].y) + 1},
                     b = {i32(p[e.second].x) + 2, i32(p[e.second].y) + 1};
        if (aa)
          ref.DrawAALine(a, b, kGrid, klNullRect, 0);
        else
          ref.DrawLine(a, b, kGrid, klNullRect);
      }
      EXPECT_EQ(Bytes(mine), Bytes(ref)) << int(c.first) << " " << int(aa);
    }
  }
  // All points outside the clip: skipped, though the edges cross it. A far
  // end is cut, not wrapped: the row from the near end to the image's edge.
  CKLF_3D_Surface s;
  CKLF_Image im;
  MakeImage(im, 50, 40, kClear);
  SetMesh(s, {{-10, 5, 0}, {60, 5, 0}, {-10, 6, 0}, {5, 7, 0}, {1e9f, 7, 0}}, {{0, 1, 2, 6}, {3, 4, 3, 4}});
  ASSERT_EQ(s.RenderMeshGrid(&im, 0, 0, klNullRect, 0, kGrid), 1);
  for (int i = 0; i < 50 * 40; ++i)
    ASSERT_EQ(im.GetPixel(u16(i % 50), u16(i / 50)).alpha, i / 50 == 7 && i % 50 >= 5 ? 255 : 0) << i;
}

TEST(SurfaceRaster, DraftMappingBlitsUpscalesAndShowsThroughHoles) {
  std::mt19937 rng(8);
  CKLF_Image front, back;
  RandomTexture(front, 64, 64, rng);
  RandomTexture(back, 64, 64, rng);
  const kltRGBA8 sentinel = {7, 8, 9, 10};
  for (int zoom : {1, 2})
    for (bool facing : {true, false}) {
      std::vector<klt3D_VERTEX> v;
      std::vector<Tri> t;
      Quad(v, t, 0, 0, 64, 64, 0, facing);
      CKLF_3D_Surface s;
      SetMesh(s, v, t);
      ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
      s.Zoom(f32(zoom), f32(zoom), 1, klt3D_VERTEX{0, 0, 0});
      CKLF_Image im;
      MakeImage(im, u16(64 * zoom + 4), u16(64 * zoom + 3), sentinel);  // a corner of each triangle inside
      ASSERT_EQ(s.RenderDraftTexturedSurface(&im, 3, 2, &front, &back, klNullRect), 1);
      for (int y = 0; y < 64 * zoom; ++y)
        for (int x = 0; x < 64 * zoom; ++x) {
          const kltRGBA8 f = front.GetPixel(u16(x / zoom), u16(y / zoom)),
                         b = back.GetPixel(u16(x / zoom), u16(y / zoom));
          const kltRGBA8 want = f.alpha == 0 ? sentinel
                                : facing     ? kltRGBA8{f.red, f.green, f.blue, 255}
                                             : kltRGBA8{b.red, b.green, b.blue, 255};
          ASSERT_TRUE(Same(im.GetPixel(u16(x + 3), u16(y + 2)), want)) << zoom << facing << " " << x << "," << y;
          ASSERT_EQ(s.GetZBuffer()[(y + 2) * im.GetImageWidth() + x + 3].owner < 0, f.alpha == 0);
        }
    }

  // A quad behind, mapped 5 texels over (and partly off the texture), shows
  // through the front quad's holes; texels off the texture draw nothing.
  std::vector<klt3D_VERTEX> v;
  std::vector<Tri> t;
  Quad(v, t, 0, 0, 64, 64, 0, true);
  Quad(v, t, 5, 3, 64, 64, 9, true);
  CKLF_3D_Surface s;
  SetMesh(s, v, t);
  ASSERT_EQ(s.RecreateMappingArrayFromCurrentValues(), 1);
  for (u32 i = 4; i < 8; ++i) s.GetVertex(i)->x -= 5, s.GetVertex(i)->y -= 3;
  CKLF_Image im;
  MakeImage(im, 65, 65, sentinel);
  ASSERT_EQ(s.RenderDraftTexturedSurface(&im, 0, 0, &front, &back, klNullRect), 1);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      kltRGBA8 want = front.GetPixel(u16(x), u16(y));
      if (want.alpha == 0) want = x + 5 < 64 && y + 3 < 64 ? front.GetPixel(u16(x + 5), u16(y + 3)) : kltRGBA8{};
      want = want.alpha ? kltRGBA8{want.red, want.green, want.blue, 255} : sentinel;
      ASSERT_TRUE(Same(im.GetPixel(u16(x), u16(y)), want)) << x << "," << y;
    }

  // Error 1: missing, RGB or unequal textures, no mapping for every vertex.
  CKLF_Image rgb, small;
  ASSERT_TRUE(rgb.Create(64, 64, 1));
  MakeImage(small, 64, 63, sentinel);
  CKLF_Image* bad[][2] = {{nullptr, &back}, {&front, nullptr}, {&rgb, &back}, {&front, &small}, {&front, &back}};
  for (auto& b : bad) {
    if (&b == &bad[4]) {
      ASSERT_EQ(s.Create(9u, 2u), 1);  // the mapping no longer covers every vertex
    }
    s.ResetError();
    EXPECT_FAILS(s, s.RenderDraftTexturedSurface(&im, 0, 0, b[0], b[1], klNullRect), klErrBadArg);
  }
}
