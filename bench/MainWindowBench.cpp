// The plug-in's main window on a 6000 x 4000 photograph, through the
// plug-in's entry on the headless platform. "Start": from the Start call
// (the document already served) to the main window's first full paint:
// its creation, the document read into the window, the navigator's
// thumbnail, the first preview with its rulers and the layout's overlays.
// "IdleTick": one 30 ms tick of an idle main window (the pointer still, no
// tip fading): what it costs and how many times it paints (none expected).
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "CApp.h"
#include "CKLP_HeadlessUI.h"
#include "CKLT_FilterHost.h"
#include "KLF_PluginAssembly.h"
#include "KLF_PluginEntry.h"

namespace {

const int32_t kW = 6000, kH = 4000;

// The headless platform, counting what reaches the screen.
class CountingUI : public CKLP_HeadlessUI {
 public:
  u64 draws = 0;
  void DrawPixels(KLP_WindowID w, const uint8_t* xrgb, uint32_t rowBytes, KLP_Rect src, KLP_Point to) override {
    ++draws;
    CKLP_HeadlessUI::DrawPixels(w, xrgb, rowBytes, src, to);
  }
};

// A smooth picture with some texture, the plug-in folder with the UI
// resource file, and the plug-in assembled on the headless platform.
struct Dialog {
  std::filesystem::path folder;
  CountingUI ui;
  CKLT_FilterHost host;

  Dialog() {
    folder = std::filesystem::temp_directory_path() / ("klf-mainwindow-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(KLF_UI_RESOURCE_FILE, folder / CApp::kResourceFile,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_TRUE(host.SetDocument(klpModeRGB, kW, kH, false));
    for (int p = 0; p < 3; ++p) {
      uint8_t* v = host.Plane(p).data();
      for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x)
          v[static_cast<size_t>(y) * kW + x] = static_cast<uint8_t>((x * (p + 1) + y * 3 + (x * y >> 7)) >> 4);
    }
    KLP_SetUI(&ui);
    KLF_SetPluginFolderOverride(folder.c_str());
    KLF_AssemblePlugin();
  }
  ~Dialog() {
    KLP_SetUI(nullptr);
    KLF_SetPluginFolderOverride(nullptr);
    std::filesystem::remove_all(folder);
  }
  static CWnd_Main* Main() { return m_App ? &static_cast<CApp*>(m_App)->GetMainWindow() : nullptr; }
};

void BM_MainWindowStart(benchmark::State& state) {
  Dialog d;
  for (auto _ : state) {
    std::chrono::steady_clock::time_point painted;
    d.ui.Script([&] {
      painted = std::chrono::steady_clock::now();
      if (Dialog::Main()) Dialog::Main()->localClose();
    });
    // Parameters and Prepare first: the clock starts at Start.
    d.host.ResetRun();
    EXPECT_EQ(d.host.Call(PluginMain, klpSelectorParameters), 0);
    EXPECT_EQ(d.host.Call(PluginMain, klpSelectorPrepare), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(d.host.Call(PluginMain, klpSelectorStart), klpResUserCanceled);  // closed without applying
    EXPECT_EQ(d.host.Call(PluginMain, klpSelectorFinish), 0);
    state.SetIterationTime(std::chrono::duration<double>(painted - start).count());
  }
  state.counters["MP"] = static_cast<double>(kW) * kH / 1e6;
}
BENCHMARK(BM_MainWindowStart)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_MainWindowIdleTick(benchmark::State& state) {
  Dialog d;
  u64 ticks = 0, draws = 0;
  d.ui.Script([&] {
    // Settled first: the preview's refinement and any fading are done.
    d.ui.AdvanceClock(2000);
    const u64 before = d.ui.draws;
    for (auto _ : state) {
      d.ui.AdvanceClock(CWnd_Main::kTimerMs);
      ++ticks;
    }
    draws = d.ui.draws - before;
    if (Dialog::Main()) Dialog::Main()->localClose();
  });
  EXPECT_EQ(d.host.RunFilter(PluginMain, true), klpResUserCanceled);  // closed without applying
  state.counters["paints/tick"] = ticks ? static_cast<double>(draws) / ticks : -1;
}
BENCHMARK(BM_MainWindowIdleTick)->Unit(benchmark::kMicrosecond);

}  // namespace
