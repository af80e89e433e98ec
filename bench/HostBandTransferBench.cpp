// Plane transfers between the plug-in and a host in bands: reading and
// writing a whole 8-bit plane through advanceState with a realistic and a
// small memory limit. Reports megapixels per second.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <vector>

#include "CKLT_FilterHost.h"
#include "CPluginMain.h"

namespace {

void Transfer(benchmark::State& state, bool write) {
  const int32_t w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
  CKLT_FilterHost host;
  EXPECT_TRUE(host.SetDocument(klpModeRGB, w, h, false));
  host.SetMaxSpace(static_cast<int32_t>(state.range(2)));
  CPluginMain plugin;
  int16_t result = 0;
  plugin.SetHostPointers(&host.Record(), nullptr, &result);
  std::vector<u8> buf(static_cast<size_t>(w) * h, 7);
  kltRECT_s r = {0, 0, w, h};
  for (auto _ : state) {
    u8 ok = write ? plugin.HostPutChanel(1, r, buf.data(), static_cast<u32>(w))
                  : plugin.HostGetChanel(1, r, buf.data(), static_cast<u32>(w));
    if (write) host.CommitPending();
    benchmark::DoNotOptimize(ok);
  }
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(w) * h / 1e6 * state.iterations(),
                                              benchmark::Counter::kIsRate);
}

void BM_HostGetChanel(benchmark::State& state) { Transfer(state, false); }
void BM_HostPutChanel(benchmark::State& state) { Transfer(state, true); }

}  // namespace

BENCHMARK(BM_HostGetChanel)->Args({6000, 4000, 8 << 20})->Args({6000, 4000, 64 << 10})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostPutChanel)->Args({6000, 4000, 8 << 20})->Args({6000, 4000, 64 << 10})->Unit(benchmark::kMillisecond);
