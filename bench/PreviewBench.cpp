// Preview redraws of a 6000 x 4000 RGBA document into a 1000 x 700 view at
// every zoom index (0 = 1:16 .. 4 = 1:1 .. 8 = 16:1), in frames a second:
// "Fast" as while panning (nearest samples, straight to the screen, the
// offset moving every frame), "Refined" the full redraw that follows (the
// averaged view below 1:1, the window recomposed). Headless platform; one
// thread.
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <memory>

#include "CKLF_CtrlPreview.h"
#include "CKLF_Window.h"
#include "CKLP_HeadlessUI.h"

namespace {

const u16 kDocW = 6000, kDocH = 4000;
const kltRECT_s kView = {20, 20, 1020, 720};

struct Scene {
  CKLP_HeadlessUI ui;
  CKLF_Image doc;
  CKLF_Layer background;
  std::unique_ptr<CKLF_Window> window;
  CKLF_CtrlPreview preview;

  Scene() {
    KLP_SetUI(&ui);
    // A smooth picture with a transparent band, so every blend path runs.
    EXPECT_TRUE(doc.Create(kDocW, kDocH, 2));
    u8* p[5];
    u32 s;
    doc.GetImageChannels(p, s);
    for (u32 y = 0; y < kDocH; ++y)
      for (u32 x = 0; x < kDocW; ++x) {
        const u64 at = static_cast<u64>(y) * s + x;
        p[0][at] = static_cast<u8>(x * 255 / kDocW);
        p[1][at] = static_cast<u8>(y * 255 / kDocH);
        p[2][at] = static_cast<u8>((x ^ y) >> 4);
        p[3][at] = x % 1500 < 300 ? static_cast<u8>(y % 256) : 255;
      }
    window = std::make_unique<CKLF_Window>();
    EXPECT_TRUE(window->Create("Bench", 0, 0, 1040, 740, 1, nullptr, 0, 0));
    EXPECT_TRUE(background.Create(0, 0, 1040, 740, 1));
    background.Set(kltRGBA8{40, 40, 44, 255}, 7);
    EXPECT_GE(window->LSAddLayer(&background), 0);
    EXPECT_GE(window->AddControl_External(&preview), 0);
    EXPECT_TRUE(preview.SetData(kView, &doc, nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  ~Scene() {
    window.reset();
    KLP_SetUI(nullptr);
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void Redraw(benchmark::State& state, u8 full) {
  Scene& s = TheScene();
  const u8 zoom = static_cast<u8>(state.range(0));
  s.preview.SetZoom(zoom, -1, -1, 0, 1);
  const kltRECT_s range = s.preview.GetOffsetRange();
  const kltPOS centre = {(range.left + range.right) / 2, (range.top + range.bottom) / 2};
  i32 step = 0;
  for (auto _ : state) {
    step = (step + 1) % 16;
    s.preview.SetOffset(centre.x + step * 7, centre.y + step * 5, 0);
    s.preview.DoRedraw(full, full);
  }
  state.counters["fps"] = benchmark::Counter(static_cast<f64>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MP/s"] = benchmark::Counter(1000.0 * 700 * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BM_PreviewFast(benchmark::State& state) { Redraw(state, 0); }
void BM_PreviewRefined(benchmark::State& state) { Redraw(state, 1); }

BENCHMARK(BM_PreviewFast)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewRefined)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

}  // namespace
