// The main window's drags and a click through the plug-in's entry on the
// headless platform, one mouse move (or click) an iteration (the event
// posted, dispatched and everything it redraws copied to the screen):
//  - "KnotDrag30x20": a knot of a 30 x 20 grid of knob knives over a
//    1000 x 700 picture shown 1:1; "FullRedraw30x20" is what a move would
//    cost if it redrew the whole layout and preview;
//  - "ShiftClickThickKnives100x100": a Shift-click on some 20,000 knives
//    that all lie under the pointer;
//  - "RectangleOutline" and "LassoOutline": the drag selection's outline
//    over the pieces of a 6000 x 4000 photograph cut 8 x 6 (a lasso of up
//    to 300 points).
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "CApp.h"
#include "CKLF_Array.h"
#include "CCutterServices.h"
#include "CKLP_HeadlessUI.h"
#include "CKLT_FilterHost.h"
#include "CTessarette.h"
#include "KLF_PluginAssembly.h"
#include "KLF_PluginEntry.h"

namespace {

// A plain window standing for the Cutter: it cuts as the Cutter does and
// closes.
class BenchCutter : public CCutterServices, public CKLF_Window {
 public:
  u8 CreateCutterWindow(kltSIZE_s, CKLF_Window* parent) override {
    return Create("Cutter", 20, 20, 160, 90, 1, parent, 0, 1);
  }
  void opSetShapeFromData(SPLINE_STRUCT*, u8) override {}
  i32 ExtSetRows(u16 r) override { return rows = BringInto1to100(r), 0; }
  i32 ExtSetColumns(u16 c) override { return columns = BringInto1to100(c), 0; }
  void NotifiedByMain_NewThickness(u16 t, u8, u8) override { thickness = BringInto1to100(t); }
  void NotifiedByMain_NewKnobSize(u16 s, u8) override { knobSize = CapAt100(s); }
  void SetInitialStatesToControls() override {}
  void settings_SaveWindowPosition() override {}
  u8 settings_SaveLastKnife() override { return 1; }

  u8 CutAndClose() {
    CTessarette* e = mainWindow->GetEngine();
    CKLF_Image* image = mainWindow->GetWorkingImage();
    u8* planes[5];
    u32 stride = 0, alphaStride = 0;
    if (!image->GetImageChannels(planes, stride) || !mainWindow->engine_PutLayoutToPuzzleEngine()) return 0;
    e->FreeSpliting();
    u8* alpha = mainWindow->GetCompositeAlpha(alphaStride);
    if (!e->SplitCells(image->GetImageWidth(), image->GetImageHeight(), alpha, alphaStride, planes, stride, 3, 0, 80, 0))
      return 0;
    for (u32 i = 0; i < e->GetPieceCount(); ++i)
      if (!e->RenderPiece(i)) return 0;
    mainWindow->SetCutDone(1);
    Close();
    mainWindow->OnCutterClose();
    return 1;
  }
};

CCutterServices* NewBenchCutter() { return new BenchCutter(); }

// The dialog on a smooth picture with some texture.
struct Dialog {
  std::filesystem::path folder;
  CKLP_HeadlessUI ui;
  CKLT_FilterHost host;

  Dialog(int32_t w, int32_t h) {
    folder = std::filesystem::temp_directory_path() / ("klf-drag-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(KLF_UI_RESOURCE_FILE, folder / CApp::kResourceFile,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_TRUE(host.SetDocument(klpModeRGB, w, h, false));
    for (int p = 0; p < 3; ++p) {
      uint8_t* v = host.Plane(p).data();
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
          v[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>((x * (p + 1) + y * 3 + (x * y >> 7)) >> 4);
    }
    KLP_SetUI(&ui);
    KLF_SetPluginFolderOverride(folder.c_str());
    KLF_AssemblePlugin();
    CCutterServices::SetFactory(NewBenchCutter);
  }
  ~Dialog() {
    CCutterServices::SetFactory(nullptr);
    KLP_SetUI(nullptr);
    KLF_SetPluginFolderOverride(nullptr);
    std::filesystem::remove_all(folder);
  }
  static CWnd_Main& Main() { return static_cast<CApp*>(m_App)->GetMainWindow(); }
  // A mouse event at a window point, dispatched at once.
  void Mouse(uint16_t kind, i32 x, i32 y, uint32_t mods = 0) {
    const kltRECT_s r = Main().GetWindowRect();
    ui.SelectWindow(Main().GetWindowHandle());
    ui.PostMouse(kind, r.left + x, r.top + y, 1, mods);
    ui.Pump();
  }
};

// A 30 x 20 grid of knob knives, drawn.
void LayGrid(CWnd_Main& w) {
  CLayoutModel& m = w.Editor().model;
  m.spl_SplitEvenParts(30, 20, 1, 1);
  for (u32 i = 0; i < m.TotalKnifeCount(); ++i) CLayoutModel::settings_SetDefaultKnife(m.NthKnife(i));
  w.RunAccelerator(12);
  w.RedrawLayout();
}

void BM_KnotDrag30x20(benchmark::State& state) {
  Dialog d(1000, 700);
  d.ui.Script([&] {
    CWnd_Main& w = Dialog::Main();
    LayGrid(w);
    const CLayoutModel::KNOT& k = w.Editor().model.knots[8 * 32 + 10];
    const kltRECT_s v = w.GetPreviewRect();
    const i32 x = v.left + static_cast<i32>(k.x + 0.5), y = v.top + static_cast<i32>(k.y + 0.5);
    d.Mouse(klpMouseDown, x, y);
    u64 area = 0, moves = 0;
    for (auto _ : state) {
      const i32 step = static_cast<i32>(moves++ % 16);
      d.Mouse(klpMouseDragged, x + step - 8, y + (step & 7) - 4);
      area += w.GetLastKnotRenderArea();
    }
    d.Mouse(klpMouseUp, x, y);
    state.counters["px/move"] = moves ? static_cast<double>(area) / moves : 0;
    w.localClose();
  });
  EXPECT_EQ(d.host.RunFilter(PluginMain, true), klpResUserCanceled);  // closed without applying
}
BENCHMARK(BM_KnotDrag30x20)->Unit(benchmark::kMillisecond);

void BM_FullRedraw30x20(benchmark::State& state) {
  Dialog d(1000, 700);
  d.ui.Script([&] {
    CWnd_Main& w = Dialog::Main();
    LayGrid(w);
    for (auto _ : state) w.RedrawSplitting();
    w.localClose();
  });
  EXPECT_EQ(d.host.RunFilter(PluginMain, true), klpResUserCanceled);  // closed without applying
}
BENCHMARK(BM_FullRedraw30x20)->Unit(benchmark::kMillisecond);

// A Shift-click (or Shift-Option-click, arg 1) on knives drawn wider than
// the view: a 100 x 100 grid of knob knives 100 pixels thick on a 56 x 40
// picture at the highest zoom (1,600 pixels wide), knots hidden, pressed
// and released in the middle, where nearly every knife lies under the
// pointer. Each iteration is the whole click: the hit test, the selection,
// its undo and the redraw copied to the screen.
void BM_ShiftClickThickKnives100x100(benchmark::State& state) {
  Dialog d(56, 40);
  d.ui.Script([&] {
    CWnd_Main& w = Dialog::Main();
    CLayoutModel& m = w.Editor().model;
    m.spl_SplitEvenParts(100, 100, 1, 1);
    for (u32 i = 0; i < m.TotalKnifeCount(); ++i) CLayoutModel::settings_SetDefaultKnife(m.NthKnife(i));
    m.spl_DoSetKnifeTh(100, 0, 0);
    w.cmop_Extras(0, 0);
    while (w.GetZoom() < 8 && w.RunAccelerator(14)) {
    }
    w.RedrawLayout();
    const kltRECT_s v = w.GetPreviewRect();
    const i32 x = (v.left + v.right) / 2, y = (v.top + v.bottom) / 2;
    CKLF_DWordArray hits;
    w.Editor().drawing.spl_GetKnifeByXY(x - v.left, y - v.top, &hits);
    const uint32_t mods = state.range(0) ? klpShiftKey | klpOptionKey : klpShiftKey;
    for (auto _ : state) {
      d.Mouse(klpMouseDown, x, y, mods);
      d.Mouse(klpMouseUp, x, y, mods);
    }
    u32 selected = 0;
    for (u32 i = 0; i < m.TotalKnifeCount(); ++i) selected += m.NthKnife(i)->selected;
    state.counters["zoom"] = w.GetZoom();
    state.counters["selected"] = selected;
    state.SetLabel(std::to_string(hits.GetSize()) + " of " + std::to_string(m.TotalKnifeCount()) + " knives hit");
    w.localClose();
  });
  EXPECT_EQ(d.host.RunFilter(PluginMain, true), klpResUserCanceled);  // closed without applying
}
BENCHMARK(BM_ShiftClickThickKnives100x100)->ArgName("option")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The outline of a drag selection over the cut photograph: a rectangle
// whose corner circles the press point, or a lasso that winds outwards.
void Outline(benchmark::State& state, u8 lasso) {
  Dialog d(6000, 4000);
  d.ui.Script([&] {
    CWnd_Main& w = Dialog::Main();
    CLayoutModel& m = w.Editor().model;
    m.spl_SplitEvenParts(8, 6, 1, 1);
    dynamic_cast<BenchCutter*>(w.GetCutter())->CutAndClose();
    const kltRECT_s v = w.GetPreviewRect();
    const i32 cx = (v.left + v.right) / 2, cy = (v.top + v.bottom) / 2;
    const uint32_t mods = lasso ? klpCmdKey | klpShiftKey : 0;
    d.Mouse(klpMouseDown, cx, cy, mods);
    d.Mouse(klpMouseDragged, cx + 20, cy + 20, mods);
    f64 angle = 0;
    for (auto _ : state) {
      angle += 0.05;
      const f64 radius = lasso ? 30 + angle * 8 : 200;
      d.Mouse(klpMouseDragged, cx + static_cast<i32>(radius * std::cos(angle)),
              cy + static_cast<i32>(std::fmin(radius, 240) * std::sin(angle)), mods);
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["points"] = w.GetLassoPoints().GetSize();
    d.Mouse(klpMouseUp, cx, cy + 1, mods);
    w.localClose();
  });
  EXPECT_EQ(d.host.RunFilter(PluginMain, true), klpResUserCanceled);  // closed without applying
}

void BM_RectangleOutline(benchmark::State& state) { Outline(state, 0); }
BENCHMARK(BM_RectangleOutline)->Unit(benchmark::kMillisecond);

void BM_LassoOutline(benchmark::State& state) { Outline(state, 1); }
BENCHMARK(BM_LassoOutline)->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace
