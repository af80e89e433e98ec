// The replay through the plug-in's entry, as a host runs it: a settings
// block of 30 x 20 (and 6 x 4) default knobs in "last.data", a 6000 x 4000 RGB document
// in the in-memory host. Puzzle mode cuts, renders every piece with the
// default bevel, recombines and writes back; Layout mode draws the knives.
// Also the engine's reading of the block alone. Reports megapixels per
// second (and blocks per second for the reading); CPU times are the calling
// thread's. And what Apply spends storing a layout's settings block in the
// scripting descriptor, on blocks as the Cutter's clone with mutation
// leaves them (small, medium, large), with the compression of those blocks
// at each level beside it.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "CKLF_8BFPluginVirtual.h"
#include "CKLF_ZipBlock.h"
#include "CKLT_FilterHost.h"
#include "CTessarette.h"
#include "KLF_PluginEntry.h"
#include "tools/MutatedSettings.h"

namespace {

typedef std::vector<u8> Bytes;

void Be16(Bytes& b, u32 v) {
  b.push_back(static_cast<u8>(v >> 8));
  b.push_back(static_cast<u8>(v));
}
void Be32(Bytes& b, u32 v) {
  Be16(b, v >> 16);
  Be16(b, v & 0xFFFF);
}
void BeF(Bytes& b, f32 f) {
  u32 v;
  std::memcpy(&v, &f, 4);
  Be32(b, v);
}

// Even grid, every knife the default knob, thin anti-aliased knives.
Bytes Block(u32 columns, u32 rows, bool puzzle) {
  const f32 u[5] = {0.434f, 0.3515f, 0.5f, 0.6485f, 0.566f};
  const f32 h[5] = {0.0f, -0.165f, -0.297f, -0.165f, 0.0f};
  const u32 V = columns - 1, H = rows - 1;
  Bytes b = {static_cast<u8>(puzzle), static_cast<u8>(puzzle)};
  Be16(b, H);
  Be16(b, V);
  Be32(b, 0);
  for (u32 i = 0; i < H; ++i) BeF(b, (i + 1.0f) / rows);
  for (u32 i = 0; i < V; ++i) BeF(b, (i + 1.0f) / columns);
  Be32(b, (V + 2) * (H + 2));
  b.resize(b.size() + 8 * (V + 2) * (H + 2), 0);
  const u32 lists[2] = {V * (H + 1), (V + 1) * H};
  for (u32 n : lists) {
    Be32(b, n);
    for (u32 i = 0; i < n; ++i) {
      b.push_back(static_cast<u8>(i & 1));
      Be16(b, 5);
      b.push_back(100);
      b.push_back(3);
      for (f32 v : u) BeF(b, v);
      for (f32 v : h) BeF(b, v);
      for (int j = 0; j < 5; ++j) BeF(b, 0.5f);
    }
  }
  Be32(b, 0);
  b.push_back(1);
  b.push_back(1);
  if (puzzle) Be32(b, 0);
  return b;
}

void Replay(benchmark::State& state, bool puzzle, u32 columns = 30, u32 rows = 20) {
  const int32_t w = 6000, h = 4000;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "klf-replay-bench";
  std::filesystem::create_directories(dir);
  Bytes block = Block(columns, rows, puzzle);
  std::ofstream(dir / "last.data", std::ios::binary).write(reinterpret_cast<const char*>(block.data()),
                                                          static_cast<std::streamsize>(block.size()));
  KLF_SetPluginFolderOverride(dir.c_str());
  CKLT_FilterHost host;
  EXPECT_TRUE(host.SetDocument(klpModeRGB, w, h, false));
  host.SetThreads(static_cast<int32_t>(state.range(0)));
  std::mt19937 rng(1);
  for (int p = 0; p < 3; ++p)
    for (size_t i = 0; i < host.Plane(p).size(); ++i) host.Plane(p)[i] = static_cast<u8>((i % w) / 24 + p * 40 + (rng() & 15));
  for (auto _ : state) {
    int16_t r = host.RunFilter(PluginMain, false);
    if (r != 0) state.SkipWithError("the replay failed");
  }
  KLF_SetPluginFolderOverride(nullptr);
  std::filesystem::remove_all(dir);
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(w) * h / 1e6 * state.iterations(),
                                              benchmark::Counter::kIsRate);
}

void BM_ReplayPuzzle(benchmark::State& state) { Replay(state, true); }
// 6 x 4 large pieces.
void BM_ReplayPuzzleLarge(benchmark::State& state) { Replay(state, true, 6, 4); }
void BM_ReplayLayout(benchmark::State& state) { Replay(state, false); }

void BM_InitFromLastSettingsBinary(benchmark::State& state) {
  Bytes b = Block(static_cast<u32>(state.range(0)), static_cast<u32>(state.range(0)), true);
  CKLF_Mem mem(static_cast<u32>(b.size()));
  std::memcpy(mem.GetPtr(), b.data(), b.size());
  CTessarette e;
  for (auto _ : state) {
    u8 layout;
    u32 count;
    const u8* rec;
    benchmark::DoNotOptimize(e.InitFromLastSettingsBinary(&mem, layout, count, rec));
  }
  state.counters["blocks/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Layouts as the Cutter's clone with mutation leaves them (knives of 7
// points): 6 x 4 and 30 x 20 with a record a piece (5.9 KB, 163 KB), and
// 100 x 100 without, as the random user's 1.8 MB block, which does not fit
// the descriptor.
Bytes MutatedBlock(u32 layout) {
  const u32 size[3] = {6, 30, 100}, rows[3] = {4, 20, 100};
  return MutatedSettings(size[layout], rows[layout], 7, layout < 2);
}

// Level 9, 6 and 1 (mode 1, 2, 3) on each layout's block, unbounded:
// time, and the packed size as a counter.
void BM_PackSettingsBlock(benchmark::State& state) {
  const Bytes b = MutatedBlock(static_cast<u32>(state.range(1)));
  if (b.empty()) return state.SkipWithError("no block");
  CKLF_ZipBlock zip;
  zip.SetMode(static_cast<u8>(state.range(0)));
  zip.SetSourceBlock(b.data(), static_cast<u32>(b.size()));
  for (auto _ : state)
    if (!zip.Process()) return state.SkipWithError("not packed");
  state.counters["block KB"] = static_cast<double>(b.size()) / 1000;
  state.counters["packed KB"] = static_cast<double>(zip.GetDestBlock()->GetSize()) / 1000;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.size()));
}

// The settings block into the scripting descriptor, as Apply stores it
// (the plug-in's adapter on the in-memory host): "recorded" 1 when it fit.
void BM_ApplyStoresScriptSettings(benchmark::State& state) {
  const Bytes b = MutatedBlock(static_cast<u32>(state.range(0)));
  if (b.empty()) return state.SkipWithError("no block");
  CKLT_FilterHost host;
  EXPECT_TRUE(host.SetDocument(klpModeRGB, 4, 4, false));
  CKLF_8BFPluginVirtual adapter;
  int16_t result = 0;
  u8 recorded = 0;
  for (auto _ : state) {
    host.ResetRun();
    adapter.SetHostPointers(&host.Record(), nullptr, &result);
    recorded = adapter.WriteEncryptedScriptParameter_V2(b.data(), static_cast<u32>(b.size()));
  }
  state.counters["block KB"] = static_cast<double>(b.size()) / 1000;
  state.counters["recorded"] = recorded;
}

}  // namespace

// On one thread and on the machine's (0: the host leaves the choice to the
// plug-in).
BENCHMARK(BM_ReplayPuzzle)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReplayPuzzleLarge)->ArgName("threads")->Arg(1)->Arg(4)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReplayLayout)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_InitFromLastSettingsBinary)->Arg(30)->Arg(101)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PackSettingsBlock)
    ->ArgNames({"mode", "layout"})
    ->ArgsProduct({{1, 2, 3}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyStoresScriptSettings)->ArgName("layout")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
