// Quick rasterisers of the surface renderer: the flat-shaded z-buffer fill
// of 100,000 triangles into 2048 x 2048 (two jittered grids of 50,000
// triangles at random depths, so every pixel is tested twice), and draft
// texture mapping of a 2-megapixel texture, translated (the simple path)
// and turned and zoomed (per-pixel mapping). Also the vertex normals of a
// 1-million-triangle mesh. Rates are pixels tested or mapped per second.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <random>

#include "CKLF_3D_Surface.h"

namespace {

const int kSide = 2048, kTex = 1448;  // 1448^2 = 2.1 megapixels

// Appends a grid of cols x rows cells (two triangles each) over w x h at
// (x, y), inner knots jittered by up to a third of a cell, random depths.
void AddGrid(std::vector<klt3D_VERTEX>& v, std::vector<CKLF_3D_SurfaceBase::TRIMESH>& t, int cols, int rows, f32 x,
             f32 y, f32 w, f32 h, f32 zBase, std::mt19937& rng) {
  std::uniform_real_distribution<f32> jit(-0.33f, 0.33f), dz(0.0f, 10.0f);
  const u32 base = static_cast<u32>(v.size());
  for (int r = 0; r <= rows; ++r)
    for (int c = 0; c <= cols; ++c) {
      const bool inner = r > 0 && r < rows && c > 0 && c < cols;
      v.push_back({x + (c + (inner ? jit(rng) : 0.0f)) * w / cols, y + (r + (inner ? jit(rng) : 0.0f)) * h / rows,
                   zBase + dz(rng)});
    }
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const u32 k = base + r * (cols + 1) + c;
      t.push_back({{k, k + 1, k + cols + 1}, 4});
      t.push_back({{k + 1, k + cols + 2, k + cols + 1}, 4});
    }
}

void Load(CKLF_3D_SurfaceBase& s, const std::vector<klt3D_VERTEX>& v,
          const std::vector<CKLF_3D_SurfaceBase::TRIMESH>& t) {
  s.Create(static_cast<u32>(v.size()), static_cast<u32>(t.size()));
  for (u32 i = 0; i < v.size(); ++i) *s.GetVertex(i) = v[i];
  for (u32 i = 0; i < t.size(); ++i) *s.GetTriMesh(i) = t[i];
}

void BM_FlatFill100kTriangles(benchmark::State& state) {
  std::mt19937 rng(1);
  std::vector<klt3D_VERTEX> v;
  std::vector<CKLF_3D_SurfaceBase::TRIMESH> t;
  AddGrid(v, t, 158, 158, 0, 0, kSide, kSide, 0, rng);
  AddGrid(v, t, 158, 158, 0, 0, kSide, kSide, 5, rng);
  CKLF_3D_Surface s;
  Load(s, v, t);
  CKLF_Image im;
  EXPECT_TRUE(im.Create(kSide, kSide, 2));
  const kltRGBA8 none = {0, 0, 0, 0}, front = {200, 150, 100, 255}, back = {50, 60, 70, 255};
  for (auto _ : state) benchmark::DoNotOptimize(s.RenderFlatShadedSurface(&im, 0, 0, klNullRect, 0, none, front, back));
  state.counters["triangles"] = static_cast<f64>(t.size());
  state.counters["MP/s"] = benchmark::Counter(2.0 * kSide * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FlatFill100kTriangles)->Unit(benchmark::kMillisecond)->UseRealTime();

// arg 0: translated texture (simple path), 1: turned and zoomed by 1.4.
void BM_DraftMapping2MP(benchmark::State& state) {
  std::mt19937 rng(2);
  std::vector<klt3D_VERTEX> v;
  std::vector<CKLF_3D_SurfaceBase::TRIMESH> t;
  AddGrid(v, t, 64, 64, 0, 0, kTex, kTex, 0, rng);
  for (auto& p : v) p.z = 0;
  CKLF_3D_Surface s;
  Load(s, v, t);
  s.RecreateMappingArrayFromCurrentValues();
  if (state.range(0)) {
    const klt3D_VERTEX c = {kTex / 2.0f, kTex / 2.0f, 0};
    s.Rotate(0.2f, 0.1f, 0.3f, c);
    s.Zoom(1.4f, 1.4f, 1.4f, c);
    s.OffsetByCenterXY(kSide / 2.0f, kSide / 2.0f);
  }
  CKLF_Image tex, im;
  EXPECT_TRUE(tex.Create(kTex, kTex, 2));
  u8* p = tex.GetMemObj()->GetPtr();
  for (u32 i = 0; i < tex.GetMemObj()->GetSize(); ++i) p[i] = static_cast<u8>(rng() | 1);
  EXPECT_TRUE(im.Create(kSide, kSide, 2));
  u64 drawn = 0;
  for (auto _ : state) {
    im.Set(kltRGBA8{0, 0, 0, 0}, 8);
    benchmark::DoNotOptimize(s.RenderDraftTexturedSurface(&im, 0, 0, &tex, &tex, klNullRect));
  }
  const u8* a = im.GetMemObj()->GetPtr() + 3u * kSide * kSide;
  for (u32 i = 0; i < static_cast<u32>(kSide) * kSide; ++i) drawn += a[i] != 0;
  state.counters["MP/s"] = benchmark::Counter(drawn / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DraftMapping2MP)->ArgName("turned")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_VertexNormals1MTriangles(benchmark::State& state) {
  std::mt19937 rng(3);
  std::vector<klt3D_VERTEX> v;
  std::vector<CKLF_3D_SurfaceBase::TRIMESH> t;
  AddGrid(v, t, 708, 708, 0, 0, 2000, 2000, 0, rng);
  CKLF_3D_Surface s;
  Load(s, v, t);
  for (auto _ : state) benchmark::DoNotOptimize(s.PrepareVertexNormalsArray());
  state.counters["Mtri/s"] = benchmark::Counter(t.size() / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VertexNormals1MTriangles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
