// The knife export's text: 2,000 knives of 66 points (the most a knife
// exports) as EPS, the text of a fine layout.
#include <benchmark/benchmark.h>

#include <vector>

#include "CKLF_PostScriptGenerator.h"

namespace {

void BM_KnifeText(benchmark::State& state) {
  const u32 knives = static_cast<u32>(state.range(0)), n = 66;
  std::vector<kltFPOS> pts(n), ctl(2 * (n - 1));
  for (u32 i = 0; i < n; ++i) pts[i] = {i * 3.0, i * 0.5};
  for (u32 i = 0; i < ctl.size(); ++i) ctl[i] = {i * 1.5, i * 0.25 + 1};
  size_t bytes = 0;
  for (auto _ : state) {
    CKLF_PostScriptGenerator ps;
    for (u32 k = 0; k < knives; ++k)
      if (!ps.EPS_AddPath(pts.data(), ctl.data(), n)) state.SkipWithError("a path was refused");
    CKLF_String out;
    if (!ps.EPS_GetData(&out)) state.SkipWithError("no text");
    bytes = out.GetLength();
  }
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_KnifeText)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
