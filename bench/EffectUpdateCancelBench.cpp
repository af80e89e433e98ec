// An effect window's live update of the main window, and Cancel given while
// it runs: a 6000 x 4000 RGB document laid out 60 x 40 with the default
// knob knives (2,400 pieces, each with the default bevel), the bevel's
// depth changed on every piece and the pieces rendered on all cores, one
// piece a thread a batch, the window's events run before each batch (and
// by the recombination's progress).
//   BM_LiveUpdate: the whole update; "wait_ms" is the longest stretch
//   without a look at the events, the most a click waits to be seen.
//   BM_CancelDuringUpdate/share: Cancel when share per cent of the pieces
//   are rendered (100: while they are recombined): "stop_ms" from the
//   request to the update's end, which the window's close waits for,
//   "restore_ms" the render that brings the rendered pieces back (the
//   window has gone; the events run meanwhile, "wait_ms" at most apart
//   over the whole).
//   BM_CancelBlurDuringUpdate/share: the same with every piece blurred at
//   radius 25 and the update at 26.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include "app/PuzzleTestUtil.h"

namespace {

const i32 kW = 6000, kH = 4000;
typedef std::chrono::steady_clock Clock;

f64 Ms(Clock::duration d) { return std::chrono::duration<f64, std::milli>(d).count(); }

// The scene with an effect window's live updates (events pumped), every
// piece listed.
struct Scene {
  puzzletest::Puzzle puzzle{puzzletest::KnobGridBlock(kW, kH, 60, 40), kW, kH};
  CKLF_DWordArray list;
  bool listed = true;
  Scene() {
    puzzle.engine.SetThreads(0);
    puzzle.model.effectWindowOpen = 1;
    for (u32 i = 0; i < puzzle.engine.GetPieceCount(); ++i)
      listed = listed && list.Add(i) >= 0;
  }
  // Every piece's working bevel at a depth.
  void Depth(u16 depth) {
    for (u32 i = 0; i < list.GetSize(); ++i) puzzle.Piece(list[i]).bevel[CTessarette::FX_WORKING].depth = depth;
  }
  // Every piece's working blur at a radius (0: off).
  void Blur(u8 radius) {
    for (u32 i = 0; i < list.GetSize(); ++i) {
      CTessarette::SFX_BLUR& b = puzzle.Piece(list[i]).blur[CTessarette::FX_WORKING];
      b.enabled = radius ? 1 : 0;
      b.radius = radius;
    }
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void BM_LiveUpdate(benchmark::State& state) {
  Scene& s = TheScene();
  if (!s.listed) return state.SkipWithError("no memory for the list");
  const u16 depth = s.puzzle.Piece(0).bevel[CTessarette::FX_RENDERED].depth;
  f64 wait = 0;
  u32 flip = 0;
  for (auto _ : state) {
    s.Depth(static_cast<u16>(depth + (++flip & 1)));
    Clock::time_point last = Clock::now();
    s.puzzle.port.pump = [&] {
      const Clock::time_point now = Clock::now();
      wait = std::max(wait, Ms(now - last));
      last = now;
    };
    if (!s.puzzle.model.pmop_RerenderPieces(&s.list, 1, 1)) state.SkipWithError("render failed");
    wait = std::max(wait, Ms(Clock::now() - last));
  }
  s.puzzle.port.pump = nullptr;
  s.Depth(depth);
  s.puzzle.model.pmop_RerenderPieces(&s.list, 1, 0);
  state.counters["pieces"] = s.list.GetSize();
  state.counters["wait_ms"] = wait;
}
BENCHMARK(BM_LiveUpdate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Cancel during an update from before to after (each sets the working
// records), as share per cent of the pieces are rendered.
template <class Set>
void CancelDuring(benchmark::State& state, Set set, int before, int after) {
  Scene& s = TheScene();
  if (!s.listed) return state.SkipWithError("no memory for the list");
  puzzletest::Model& m = s.puzzle.model;
  set(before);
  if (!m.pmop_RerenderPieces(&s.list, 1, 0)) state.SkipWithError("render failed");
  const int at = static_cast<int>(s.list.GetSize() * state.range(0) / 100);
  f64 stop = 0, restore = 0, wait = 0;
  for (auto _ : state) {
    set(after);
    m.renders = 0;
    Clock::time_point asked, last = Clock::now();
    s.puzzle.port.pump = [&] {
      const Clock::time_point now = Clock::now();
      wait = std::max(wait, Ms(now - last));
      last = now;
      if (m.renders < at || asked != Clock::time_point()) return;
      asked = Clock::now();
      m.StopRerender();
    };
    m.pmop_RerenderPieces(&s.list, 1, 1);
    const Clock::time_point stopped = Clock::now();
    // Cancel: the records the pieces had, rendered back.
    set(before);
    if (!m.pmop_RerenderPieces(&s.list, 1, 1)) state.SkipWithError("render failed");
    wait = std::max(wait, Ms(Clock::now() - last));
    s.puzzle.port.pump = nullptr;
    stop += Ms(stopped - asked);
    restore += Ms(Clock::now() - stopped);
  }
  state.counters["stop_ms"] = stop / static_cast<f64>(state.iterations());
  state.counters["restore_ms"] = restore / static_cast<f64>(state.iterations());
  state.counters["wait_ms"] = wait;
}

void BM_CancelDuringUpdate(benchmark::State& state) {
  Scene& s = TheScene();
  const u16 depth = s.puzzle.Piece(0).bevel[CTessarette::FX_RENDERED].depth;
  CancelDuring(state, [&s](int d) { s.Depth(static_cast<u16>(d)); }, depth, depth + 1);
}

void BM_CancelBlurDuringUpdate(benchmark::State& state) {
  Scene& s = TheScene();
  CancelDuring(state, [&s](int r) { s.Blur(static_cast<u8>(r)); }, 25, 26);
  s.Blur(0);
  s.puzzle.model.pmop_RerenderPieces(&s.list, 1, 0);
}

BENCHMARK(BM_CancelDuringUpdate)
    ->ArgName("share")
    ->Arg(10)
    ->Arg(50)
    ->Arg(90)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_CancelBlurDuringUpdate)
    ->ArgName("share")
    ->Arg(50)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace
