// HQ renderer and shadows of the surface renderer: RenderHQ_Opt at s = 4
// with one light over 20,000 triangles and a 1-megapixel texture (rate in
// destination megapixels), the texel-method shadow map of a 5,000-triangle
// relief lit at a slant (triangles and map texels per second), and the
// distance-dependent blur at radii about 30 (plane megapixels per second).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "CKLF_3D_Surface.h"

namespace {

typedef CKLF_3D_SurfaceBase Base;

// A relief of cols x rows cells over w x h, heights up to `relief`,
// mapped to its own x, y.
void Relief(CKLF_3D_Surface& s, int cols, int rows, f32 w, f32 h, f32 relief, std::mt19937& rng) {
  std::uniform_real_distribution<f32> z(0.0f, relief);
  s.Create(static_cast<u32>((cols + 1) * (rows + 1)), static_cast<u32>(2 * cols * rows));
  for (int r = 0; r <= rows; ++r)
    for (int c = 0; c <= cols; ++c) *s.GetVertex(r * (cols + 1) + c) = {c * w / cols, r * h / rows, -z(rng)};
  u32 t = 0;
  for (u32 r = 0; r < static_cast<u32>(rows); ++r)
    for (u32 c = 0; c < static_cast<u32>(cols); ++c) {
      const u32 k = r * (cols + 1) + c;
      *s.GetTriMesh(t++) = {{k + cols + 1, k + 1, k}, 0};
      *s.GetTriMesh(t++) = {{k + cols + 1, k + cols + 2, k + 1}, 0};
    }
  s.RecreateMappingArrayFromCurrentValues();
}

CKLF_3D_Surface::LIGHT_SOURCE Sun(klt3D_VECTOR d) {
  CKLF_3D_Surface::LIGHT_SOURCE l = {};
  l.name = "sun";
  l.enabled = 1;
  l.intensity = 1.0f;
  for (f32& c : l.colour) c = 1.0f;
  l.factor = 100.0f, l.lightingMix = 70.0f, l.shadowStrength = 80.0f;
  const f32 len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  l.direction = {d.x / len, d.y / len, d.z / len};
  return l;
}

void BM_HQ_S4_20kTriangles_1MPTexture(benchmark::State& state) {
  const u32 side = 1000;
  std::mt19937 rng(1);
  CKLF_3D_Surface s;
  Relief(s, 100, 100, side, side, 8.0f, rng);
  const CKLF_3D_Surface::LIGHT_SOURCE l = Sun({0.4f, 0.3f, 1.0f});
  s.Light_Add(&l);
  s.Light_SetAmbientLight(0.3f, 0.3f, 0.3f, 0.3f);
  std::vector<u8> tex[4], dst[4];
  for (int i = 0; i < 4; ++i) {
    tex[i].resize(side * side);
    for (u8& b : tex[i]) b = static_cast<u8>(rng() | (i ? 0 : 1));
    dst[i].assign(side * side, 0);
  }
  const Base::HQ_SIDE front = {0, nullptr, {tex[1].data(), tex[2].data(), tex[3].data(), nullptr}};
  const Base::HQ_TEXTURE t = {front, front, tex[0].data(), side, side, side};
  const Base::HQ_DESTINATION d = {
      {dst[1].data(), dst[2].data(), dst[3].data(), nullptr}, dst[0].data(), side, side, side};
  const Base::HQ_BUMP none = {};
  for (auto _ : state)
    benchmark::DoNotOptimize(s.RenderHQ_Opt(0, klt3D_VERTEX{}, 0, 0, 4, 4, d, t, none, klNullRect, -100.0f));
  state.counters["MP/s"] = benchmark::Counter(side * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["Mtri/s"] =
      benchmark::Counter(s.GetTriMeshCount() / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_HQ_S4_20kTriangles_1MPTexture)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TexelShadowMap_5kTriangles(benchmark::State& state) {
  const u32 side = 512;
  std::mt19937 rng(2);
  CKLF_3D_Surface s;
  Relief(s, 50, 50, side, side, 40.0f, rng);
  CKLF_3D_Surface::LIGHT_SOURCE l = Sun({0.8f, 0.5f, 1.0f});
  l.useShadowMap = 1;
  s.Light_Add(&l);
  s.Light_UseShadowMap("sun", 1);
  std::vector<u8> opacity(side * side, 255);
  for (auto _ : state)
    benchmark::DoNotOptimize(s.Light_GenerateAllInnerShadowMaps(opacity.data(), side, side, side, 0));
  state.counters["Ktri/s"] =
      benchmark::Counter(s.GetTriMeshCount() / 1e3, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["MP/s"] = benchmark::Counter(side * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_TexelShadowMap_5kTriangles)->Unit(benchmark::kMillisecond)->UseRealTime();

// arg: 1 separable, 0 square kernel (on a smaller plane).
void BM_VaryingBlur_Sigma30(benchmark::State& state) {
  const u8 separable = static_cast<u8>(state.range(0));
  const u32 side = separable ? 1024 : 192;
  std::mt19937 rng(3);
  // A shadowed disc whose occluder distances take two values: radii 29
  // and 30.
  std::vector<u8> plane(side * side);
  std::vector<f32> dist(side * side);
  Base blur;
  for (auto _ : state) {
    state.PauseTiming();
    for (u32 y = 0; y < side; ++y)
      for (u32 x = 0; x < side; ++x) {
        const bool in = std::hypot(x - side / 2.0, y - side / 2.0) < side / 4.0;
        plane[y * side + x] = in ? 40 : 255;
        dist[y * side + x] = in ? static_cast<f32>(1 + (rng() & 1)) : 0.0f;
      }
    state.ResumeTiming();
    benchmark::DoNotOptimize(blur.int_Blur_Perspective(separable, plane.data(), side, side, 29.0f, 30.0f, dist.data()));
  }
  state.counters["MP/s"] = benchmark::Counter(side * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VaryingBlur_Sigma30)->ArgName("separable")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
