// The piece export of a 6000 x 4000 picture cut into 30 x 20 pieces with
// the default knob knife, every piece rendered with the default bevel (as
// the main window holds them): 600 PNG files on a canvas of the
// document's size, 600 PNG files of the pieces' own rectangles, and one
// PSD of 600 layers; and the same without the bevel, which renders every
// piece again. On one thread and on all. MP/s counts the document's
// pixels.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CExportRun.h"
#include "CTessarette.h"

namespace {

const i32 kW = 6000, kH = 4000;

struct Puzzle {
  std::vector<u8> data;
  u8* planes[3];
  CTessarette engine;
  std::string dir;

  Puzzle() : data(static_cast<size_t>(kW) * kH * 3) {
    // A smooth picture with some noise, as photographs have.
    std::mt19937 rng(1);
    for (int p = 0; p < 3; p++) {
      planes[p] = data.data() + static_cast<size_t>(p) * kW * kH;
      for (i32 y = 0; y < kH; y++)
        for (i32 x = 0; x < kW; x++)
          planes[p][static_cast<size_t>(y) * kW + x] = static_cast<u8>((x * (p + 1) + y * 2) / 40 + (rng() & 15));
    }
    static const f32 pts[5][3] = {
        {0.434f, 0.0f, 0.5f}, {0.3515f, -0.165f, 0.5f}, {0.5f, -0.297f, 0.5f}, {0.6485f, -0.165f, 0.5f},
        {0.566f, 0.0f, 0.5f}};
    EXPECT_TRUE(engine.Init(30, 20, 0));
    for (u32 i = 0; i < engine.m_vCount; i++) engine.m_vPos[i] = static_cast<f32>(i + 1) / 30;
    for (u32 i = 0; i < engine.m_hCount; i++) engine.m_hPos[i] = static_cast<f32>(i + 1) / 20;
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
    for (u32 i = 0; i < engine.m_vKnifeCount; i++) knob(engine.m_vKnives + i, i);
    for (u32 i = 0; i < engine.m_hKnifeCount; i++) knob(engine.m_hKnives + i, i + 1);
    engine.SetDocument({1, {0, 0, kW, kH}, 0, nullptr});
    EXPECT_TRUE(engine.SplitCells(kW, kH, nullptr, 0, planes, kW, 3, 0, 100, 0));
    EXPECT_TRUE(engine.RenderAllPieces(0, 100));
    char tmpl[] = "/tmp/klfexport-XXXXXX";
    dir = mkdtemp(tmpl) ? tmpl : "/tmp";
  }
  ~Puzzle() {
    std::string cmd = "rm -rf '" + dir + "'";
    if (dir != "/tmp" && std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
  }
};

Puzzle& ThePuzzle() {
  static Puzzle p;
  return p;
}

// args: 0 PNG on the canvas, 1 PNG of the pieces' rectangles, 2 PSD;
// without the bevel; threads (0: the machine's).
void BM_Export(benchmark::State& state) {
  Puzzle& p = ThePuzzle();
  if (p.engine.GetPieceCount() != 600) state.SkipWithError("the cut did not make 600 pieces");
  const int kind = static_cast<int>(state.range(0));
  const u8 psd = kind == 2;
  const CExportDialogModel::SETTINGS s = {CExportDialogModel::kAll,
                                          psd ? CExportDialogModel::kToPSD : CExportDialogModel::kToPNG,
                                          CExportDialogModel::kSimple,
                                          0,
                                          static_cast<u8>(state.range(1)),
                                          0,
                                          static_cast<u8>(kind == 0)};
  CExportRun run(p.engine);
  run.SetDocument({kW, kH, 0, 0, 72.0, 0.0, nullptr, 0});
  run.SetThreads(static_cast<u32>(state.range(2)));
  p.engine.SetThreads(static_cast<u32>(state.range(2)));
  const std::string path = p.dir + (psd ? "/pieces.psd" : "/piece.png");
  for (auto _ : state)
    if (!run.ExportPieces(s, path.c_str())) state.SkipWithError("the export failed");
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<f64>(kW) * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["files"] = run.Written().GetSize();
}
BENCHMARK(BM_Export)
    ->ArgNames({"kind", "noBevel", "threads"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

}  // namespace
