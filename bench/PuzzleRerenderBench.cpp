// Puzzle mode's live re-render after an effect change: a 6000 x 4000 RGB
// document laid out 30 x 20 with the default knob knives (through the
// settings block, as a stored layout reaches the engine), cut and every
// piece rendered with the default bevel; then the bevel's depth changed on
// one piece and on 100 selected pieces (a 10 x 10 block), on one thread and
// on all. Only those pieces are rendered and only the union of their
// rectangles is recombined into the result image. The recombination of that union and of the whole image
// are measured alone for comparison. Rates: megapixels of the changed
// pieces' rectangles, or of the recombined area, per second.
#include <benchmark/benchmark.h>

#include "app/PuzzleTestUtil.h"

namespace {

const i32 kW = 6000, kH = 4000;

puzzletest::Puzzle& Scene() {
  static puzzletest::Puzzle scene(puzzletest::KnobGridBlock(kW, kH, 30, 20), kW, kH);
  return scene;
}

// The pieces of a block of cells around the middle, by the piece at each
// cell's centre; false without memory for the list.
bool Block(CKLF_DWordArray& list, u32 side, kltRECT_s& area) {
  puzzletest::Puzzle& s = Scene();
  list.Empty();
  area = klNullRect;
  for (u32 r = 10 - side / 2; r < 10 - side / 2 + side; ++r)
    for (u32 c = 15 - side / 2; c < 15 - side / 2 + side; ++c) {
      const i32 piece = s.model.GetPieceByXY({static_cast<i32>(c * kW / 30 + kW / 60), static_cast<i32>(r * kH / 20 + kH / 40)});
      if (list.Add(static_cast<u32>(piece)) < 0) return false;
      const kltRECT_s p = s.Piece(static_cast<u32>(piece)).rect;
      if (klIsNullRect(area)) area = p;
      area = {std::min(area.left, p.left), std::min(area.top, p.top), std::max(area.right, p.right),
              std::max(area.bottom, p.bottom)};
    }
  return true;
}

f64 Area(kltRECT_s r) { return static_cast<f64>(r.right - r.left) * (r.bottom - r.top); }

void BM_RerenderPieces(benchmark::State& state) {
  puzzletest::Puzzle& s = Scene();
  s.engine.SetThreads(static_cast<u32>(state.range(1)));
  // With an effect window open the pieces go in batches of one a thread,
  // events pumped between them (nothing to pump here).
  s.model.effectWindowOpen = static_cast<u8>(state.range(2));
  CKLF_DWordArray list;
  kltRECT_s area;
  if (!Block(list, static_cast<u32>(state.range(0)), area)) return state.SkipWithError("no memory for the list");
  f64 pixels = 0;
  for (u32 i = 0; i < list.GetSize(); ++i) {
    const kltRECT_s r = s.Piece(list[i]).rect;
    pixels += Area(r);
  }
  s.model.renders = 0;
  for (auto _ : state) {
    for (u32 i = 0; i < list.GetSize(); ++i) s.Piece(list[i]).bevel[CTessarette::FX_WORKING].depth ^= 1;
    if (!s.model.pmop_RerenderPieces(&list, 1, 1)) state.SkipWithError("render failed");
  }
  state.counters["pieces"] = list.GetSize();
  state.counters["renders/iter"] = static_cast<f64>(s.model.renders) / state.iterations();
  state.counters["union_MP"] = Area(area) / 1e6;
  state.counters["MP/s"] = benchmark::Counter(pixels / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
// threads 0: the machine's; the pieces of a re-render are rendered side by side.
BENCHMARK(BM_RerenderPieces)
    ->ArgNames({"side", "threads", "window"})
    ->Args({1, 0, 0})
    ->Args({10, 1, 0})
    ->Args({10, 0, 0})
    ->Args({10, 0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Recombine(benchmark::State& state) {
  puzzletest::Puzzle& s = Scene();
  CKLF_DWordArray list;
  kltRECT_s area = klNullRect;
  if (state.range(0) && !Block(list, static_cast<u32>(state.range(0)), area))
    return state.SkipWithError("no memory for the list");
  s.engine.SetThreads(0);
  for (auto _ : state) s.model.pmop_DoRerenderRect(area, 1, 0, 100);
  const f64 pixels = klIsNullRect(area) ? static_cast<f64>(kW) * kH : Area(area);
  state.counters["MP/s"] = benchmark::Counter(pixels / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
// side 0: the whole image.
BENCHMARK(BM_Recombine)->ArgName("side")->Arg(10)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
