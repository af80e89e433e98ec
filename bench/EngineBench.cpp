// The puzzle engine on a 6000 x 4000 RGB image cut into 30 x 20 pieces with
// the default knob knife: the cut with the thin anti-aliased knife (one-bit
// mask at four times the size) and with the plain thin knife, the count of
// its pieces without cutting them, then every
// piece rendered with the default bevel, then the recombination. Reports
// megapixels per second and the peak resident memory of each step.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "CTessarette.h"

namespace {

const i32 kW = 6000, kH = 4000;

// Peak resident size in MiB since the last reset (Linux).
f64 PeakMiB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0.0;
}

void ResetPeak() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return;
  std::fputs("5", f);
  std::fclose(f);
}

struct Image {
  std::vector<u8> data;
  u8* planes[3];
  Image() : data(static_cast<size_t>(kW) * kH * 3) {
    // A smooth picture with some noise, so effects have work to do.
    std::mt19937 rng(1);
    for (int p = 0; p < 3; p++) {
      planes[p] = data.data() + static_cast<size_t>(p) * kW * kH;
      for (i32 y = 0; y < kH; y++)
        for (i32 x = 0; x < kW; x++)
          planes[p][static_cast<size_t>(y) * kW + x] = static_cast<u8>((x * (p + 1) + y * 2) / 40 + (rng() & 15));
    }
  }
};

Image& Picture() {
  static Image img;
  return img;
}

// The knob a new knife gets; neighbouring knobs point opposite ways.
void SetLayout(CTessarette& e, u32 columns = 30, u32 rows = 20) {
  static const f32 pts[5][3] = {{0.434f, 0.0f, 0.5f},
                                {0.3515f, -0.165f, 0.5f},
                                {0.5f, -0.297f, 0.5f},
                                {0.6485f, -0.165f, 0.5f},
                                {0.566f, 0.0f, 0.5f}};
  EXPECT_TRUE(e.Init(columns, rows, 0));
  for (u32 i = 0; i < e.m_vCount; i++) e.m_vPos[i] = static_cast<f32>(i + 1) / columns;
  for (u32 i = 0; i < e.m_hCount; i++) e.m_hPos[i] = static_cast<f32>(i + 1) / rows;
  auto knob = [&](CTessarette::KNIFESTRUCT_RENDERER* k, u32 n) {
    std::memset(k, 0, sizeof(*k));
    k->thickness = 3;
    k->count = 5;
    for (int i = 0; i < 5; i++) {
      k->position[i] = pts[i][0];
      k->offset[i] = pts[i][1] * (n % 2 ? 1.0f : -1.0f);
      k->smoothness[i] = pts[i][2];
    }
  };
  for (u32 i = 0; i < e.m_vKnifeCount; i++) knob(e.m_vKnives + i, i);
  for (u32 i = 0; i < e.m_hKnifeCount; i++) knob(e.m_hKnives + i, i + 1);
}

void Report(benchmark::State& state, f64 peak) {
  state.counters["MP/s"] = benchmark::Counter(static_cast<f64>(kW) * kH / 1e6 * state.iterations(),
                                                benchmark::Counter::kIsRate);
  state.counters["peak_MiB"] = peak;
}

// 30 x 20 and 6 x 4 pieces, and 100 x 60 with the anti-aliased knife, on 1
// and on all threads (0).
void BM_Cut(benchmark::State& state) {
  Image& img = Picture();
  CTessarette e;
  SetLayout(e, static_cast<u32>(state.range(1)), static_cast<u32>(state.range(2)));
  e.m_antiAlias = static_cast<u8>(state.range(0));
  e.SetThreads(static_cast<u32>(state.range(3)));
  ResetPeak();
  for (auto _ : state) {
    if (!e.SplitCells(kW, kH, nullptr, 0, img.planes, kW, 3, 0, 100, 0)) state.SkipWithError("cut failed");
    benchmark::DoNotOptimize(e.GetPieceCount());
  }
  state.counters["pieces"] = e.GetPieceCount();
  Report(state, PeakMiB());
}
BENCHMARK(BM_Cut)
    ->ArgNames({"antialias", "columns", "rows", "threads"})
    ->ArgsProduct({{1, 0}, {30}, {20}, {1, 0}})
    ->ArgsProduct({{1, 0}, {6}, {4}, {1, 0}})
    ->ArgsProduct({{1}, {100}, {60}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// The pieces of the same layouts counted without cutting them, as the host
// program counts them against its cells.
void BM_CountPieces(benchmark::State& state) {
  CTessarette e;
  SetLayout(e, static_cast<u32>(state.range(1)), static_cast<u32>(state.range(2)));
  e.m_antiAlias = static_cast<u8>(state.range(0));
  e.SetThreads(static_cast<u32>(state.range(3)));
  ResetPeak();
  u32 count = 0;
  for (auto _ : state) {
    if (!e.CountPieces(kW, kH, count)) state.SkipWithError("count failed");
    benchmark::DoNotOptimize(count);
  }
  state.counters["pieces"] = count;
  Report(state, PeakMiB());
}
BENCHMARK(BM_CountPieces)
    ->ArgNames({"antialias", "columns", "rows", "threads"})
    ->ArgsProduct({{1, 0}, {30}, {20}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

// Pieces one by one, and side by side on 1 and on all threads (0).
void BM_RenderBevel(benchmark::State& state) {
  Image& img = Picture();
  CTessarette e;
  SetLayout(e);
  EXPECT_TRUE(e.SplitCells(kW, kH, nullptr, 0, img.planes, kW, 3, 0, 100, 0));
  e.SetThreads(static_cast<u32>(state.range(1)));
  ResetPeak();
  for (auto _ : state) {
    if (state.range(0)) {
      EXPECT_TRUE(e.RenderAllPieces(0, 100));
    } else {
      for (u32 i = 0; i < e.GetPieceCount(); i++) {
        EXPECT_TRUE(e.RenderPiece(i));
      }
    }
  }
  Report(state, PeakMiB());
}
BENCHMARK(BM_RenderBevel)
    ->ArgNames({"all", "threads"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

void BM_Combine(benchmark::State& state) {
  Image& img = Picture();
  CTessarette e;
  SetLayout(e);
  EXPECT_TRUE(e.SplitCells(kW, kH, nullptr, 0, img.planes, kW, 3, 0, 100, 1));
  std::vector<u8> out(static_cast<size_t>(kW) * kH * 4);
  u8* planes[4];
  for (int p = 0; p < 4; p++) planes[p] = out.data() + static_cast<size_t>(p) * kW * kH;
  e.SetThreads(static_cast<u32>(state.range(0)));
  ResetPeak();
  for (auto _ : state) {
    EXPECT_TRUE(e.CombineSplitedCells(kW, kH, planes, kW, 4, nullptr, 0, klNullRect, 0, 0, 100));
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, PeakMiB());
}
BENCHMARK(BM_Combine)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The whole road once: cut, render every piece, recombine (all threads).
void BM_CutRenderCombine(benchmark::State& state) {
  Image& img = Picture();
  std::vector<u8> out(static_cast<size_t>(kW) * kH * 4);
  u8* planes[4];
  for (int p = 0; p < 4; p++) planes[p] = out.data() + static_cast<size_t>(p) * kW * kH;
  ResetPeak();
  for (auto _ : state) {
    CTessarette e;
    SetLayout(e);
    e.m_antiAlias = static_cast<u8>(state.range(0));
    EXPECT_TRUE(e.SplitCells(kW, kH, nullptr, 0, img.planes, kW, 3, 0, 100, 1));
    EXPECT_TRUE(e.CombineSplitedCells(kW, kH, planes, kW, 4, nullptr, 0, klNullRect, 0, 0, 100));
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, PeakMiB());
}
BENCHMARK(BM_CutRenderCombine)->ArgName("antialias")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
