// Window composition as a mouse move over a 1000 x 700 window triggers it:
// the whole canvas composed from 20 layers, in megapixels of canvas a
// second. "Window": an RGB background, a large RGB picture (a preview), and
// 18 control pictures with alpha, some at partial opacity. "Stacked": 20
// full-window RGBA layers, the worst case.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "CKLF_LayerSet.h"

namespace {

const u16 kW = 1000, kH = 700;

struct Stack {
  CKLF_LayerSet set;
  std::vector<std::unique_ptr<CKLF_Layer>> layers;

  // false when the layer or its place in the set finds no memory.
  bool Add(i16 x, i16 y, u16 w, u16 h, u8 mode, u8 opacity, std::mt19937& rng) {
    auto l = std::make_unique<CKLF_Layer>();
    if (!l->Create(x, y, w, h, mode)) return false;
    u8* p = l->GetMemObj()->GetPtr();
    for (u32 i = 0; i < l->GetMemObj()->GetSize(); ++i) p[i] = static_cast<u8>(rng());
    l->SetOpacity(opacity);
    if (set.AddLayer(l.get()) < 0) return false;
    layers.push_back(std::move(l));
    return true;
  }
};

void Run(benchmark::State& state, Stack& s) {
  for (auto _ : state) {
    s.set.Render(klNullRect);
    benchmark::DoNotOptimize(s.set.GetCanvas()->GetMemObj()->GetPtr());
  }
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(kW) * kH * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BM_ComposeWindow20Layers(benchmark::State& state) {
  std::mt19937 rng(1);
  Stack s;
  bool made = s.set.Create(kW, kH) && s.Add(0, 0, kW, kH, 1, 255, rng) && s.Add(30, 40, 760, 600, 1, 255, rng);
  for (int i = 0; made && i < 18; ++i)
    made = s.Add(static_cast<i16>(800 + (i % 2) * 90), static_cast<i16>(40 + (i / 2) * 70), 180, 60, 2,
                 i % 4 == 3 ? 200 : 255, rng);
  if (!made) return state.SkipWithError("out of memory");
  Run(state, s);
}
BENCHMARK(BM_ComposeWindow20Layers)->Unit(benchmark::kMillisecond);

void BM_ComposeStacked20FullLayers(benchmark::State& state) {
  std::mt19937 rng(2);
  Stack s;
  bool made = s.set.Create(kW, kH);
  for (int i = 0; made && i < 20; ++i) made = s.Add(0, 0, kW, kH, 2, i % 4 == 3 ? 200 : 255, rng);
  if (!made) return state.SkipWithError("out of memory");
  Run(state, s);
}
BENCHMARK(BM_ComposeStacked20FullLayers)->Unit(benchmark::kMillisecond);

}  // namespace
