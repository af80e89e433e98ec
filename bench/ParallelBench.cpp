// Calls of KLF_Parallel::Run as the engine makes them: a 1 MP plane (1000
// x 1000 bytes) box-filtered in bands of 16 rows, one call a pass, at 1
// thread and at 2, 4 and all the machine's threads; and the same pass made
// from inside each of 4 outer tasks (nested calls). Reports MP/s and the
// process's threads after the runs (at most the thread count asked).
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <vector>

#include "KLF_Parallel.h"

namespace {

const u32 kSide = 1000, kBandRows = 16;

u32 ProcessThreads() {
  DIR* d = opendir("/proc/self/task");
  if (!d) return 0;
  u32 n = 0;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

// Rows y0..y1 of out: each byte the mean of its 3 x 3 neighbours in in.
void BoxRows(const std::vector<u8>& in, std::vector<u8>& out, u32 y0, u32 y1) {
  for (u32 y = y0; y < y1; ++y) {
    const u32 up = y ? y - 1 : 0, down = y + 1 < kSide ? y + 1 : y;
    const u8 *a = &in[up * kSide], *b = &in[y * kSide], *c = &in[down * kSide];
    u8* o = &out[y * kSide];
    o[0] = b[0];
    o[kSide - 1] = b[kSide - 1];
    for (u32 x = 1; x + 1 < kSide; ++x) {
      const u32 s = a[x - 1] + a[x] + a[x + 1] + b[x - 1] + b[x] + b[x + 1] + c[x - 1] + c[x] + c[x + 1];
      o[x] = static_cast<u8>(s / 9);
    }
  }
}

void Pass(u32 threads, const std::vector<u8>& in, std::vector<u8>& out) {
  const u32 bands = (kSide + kBandRows - 1) / kBandRows;
  KLF_Parallel::ForEach(threads, bands, [&](u32 b, u32) noexcept {
    BoxRows(in, out, b * kBandRows, b * kBandRows + kBandRows < kSide ? b * kBandRows + kBandRows : kSide);
  });
}

std::vector<u8> Plane() {
  std::vector<u8> v(static_cast<size_t>(kSide) * kSide);
  u32 x = 1;
  for (u8& p : v) p = static_cast<u8>((x = x * 1103515245u + 12345u) >> 24);
  return v;
}

void BM_ParallelBands1MP(benchmark::State& state) {
  const u32 threads = static_cast<u32>(state.range(0));
  const std::vector<u8> in = Plane();
  std::vector<u8> out(in.size());
  for (auto _ : state) {
    Pass(threads, in, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] = benchmark::Counter(1.0 * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["process threads"] = ProcessThreads();
}
BENCHMARK(BM_ParallelBands1MP)->Arg(1)->Arg(2)->Arg(4)->Arg(0)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_ParallelNested4x1MP(benchmark::State& state) {
  const u32 threads = static_cast<u32>(state.range(0));
  const std::vector<u8> in = Plane();
  std::vector<std::vector<u8>> out(4, std::vector<u8>(in.size()));
  for (auto _ : state) {
    KLF_Parallel::ForEach(threads, 4, [&](u32 i, u32) noexcept { Pass(threads, in, out[i]); });
    benchmark::DoNotOptimize(out[0].data());
  }
  state.counters["MP/s"] = benchmark::Counter(4.0 * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["process threads"] = ProcessThreads();
}
BENCHMARK(BM_ParallelNested4x1MP)->Arg(1)->Arg(4)->Arg(0)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
