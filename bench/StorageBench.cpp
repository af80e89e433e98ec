// Keyed storage and block processors: a 5,000-record store (the size of
// the UI resource file) created, closed and reopened; packing, unpacking
// and digesting a 4 MB block.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "CKLF_MD5Block.h"
#include "CKLF_Storage.h"
#include "CKLF_ZipBlock.h"

namespace {

std::string TempPath() {
  char buf[] = "/tmp/klfbench-XXXXXX";
  int fd = mkstemp(buf);
  if (fd >= 0) close(fd);
  return buf;
}

void BM_Storage5000CreateCloseReopen(benchmark::State& state) {
  std::string path = TempPath();
  u8 blob[64] = {};
  for (auto _ : state) {
    CKLF_Storage s;
    u8 ok = s.Open(path.c_str(), 2);
    for (int f = 0; ok && f < 50; ++f) {
      CKLF_String folder;
      ok = folder.Format("UIResources>Controls%02d", f) && (f != 0 || s.AddFolder("UIResources")) && s.AddFolder(folder);
      for (int r = 0; ok && r < 99; ++r) {
        CKLF_String key;
        ok = key.Format("%s>Item%03d", folder.GetStr(), (r * 37) % 99) &&
             (r % 3 == 0   ? s.SetRecord(key, blob, sizeof(blob))
              : r % 3 == 1 ? s.SetRecord(key, CKLF_String("Caption"))
                           : s.SetRecord(key, static_cast<u32>(r)));
      }
    }
    if (!ok || s.GetTotalRecords() != 5001 || !s.Close()) state.SkipWithError("store not made");
    CKLF_Storage t;
    if (!t.Open(path.c_str(), 1) || t.GetTotalRecords() != 5001) state.SkipWithError("store not reopened");
  }
  state.counters["records/s"] = benchmark::Counter(5001.0 * state.iterations(), benchmark::Counter::kIsRate);
  std::remove(path.c_str());
}
BENCHMARK(BM_Storage5000CreateCloseReopen)->Unit(benchmark::kMillisecond);

std::vector<u8> Sample(size_t n) {
  // Image-like bytes: smooth runs with noise, as UI pictures pack.
  std::mt19937 rng(5);
  std::vector<u8> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<u8>((i / 64) + (rng() & 7));
  return v;
}

void BM_ZipPack(benchmark::State& state) {
  std::vector<u8> src = Sample(4 << 20);
  CKLF_ZipBlock z;
  z.SetMode(static_cast<u8>(state.range(0)));
  z.SetSourceBlock(src.data(), static_cast<u32>(src.size()));
  for (auto _ : state)
    if (!z.Process()) state.SkipWithError("pack failed");
  state.SetBytesProcessed(static_cast<int64_t>(src.size()) * state.iterations());
}
BENCHMARK(BM_ZipPack)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_ZipUnpack(benchmark::State& state) {
  std::vector<u8> src = Sample(4 << 20);
  CKLF_ZipBlock z;
  z.SetSourceBlock(src.data(), static_cast<u32>(src.size()));
  if (!z.Process()) return state.SkipWithError("pack failed");
  std::vector<u8> block(z.GetDestBlock()->GetPtr(), z.GetDestBlock()->GetPtr() + z.GetDestBlock()->GetSize());
  CKLF_ZipBlock u;
  u.SetMode(0);
  u.SetSourceBlock(block.data(), static_cast<u32>(block.size()));
  for (auto _ : state)
    if (!u.Process()) state.SkipWithError("unpack failed");
  state.SetBytesProcessed(static_cast<int64_t>(src.size()) * state.iterations());
}
BENCHMARK(BM_ZipUnpack)->Unit(benchmark::kMillisecond);

void BM_MD5(benchmark::State& state) {
  std::vector<u8> src = Sample(4 << 20);
  CKLF_MD5Block m;
  m.SetSourceBlock(src.data(), static_cast<u32>(src.size()));
  for (auto _ : state)
    if (!m.Process()) state.SkipWithError("digest failed");
  state.SetBytesProcessed(static_cast<int64_t>(src.size()) * state.iterations());
}
BENCHMARK(BM_MD5)->Unit(benchmark::kMillisecond);

}  // namespace
