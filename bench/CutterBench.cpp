// The Cutter window on the headless platform beside the layout model.
// NodeDrag: one mouse move of a node drag, as the platform delivers it: the
// knife redrawn, the two preview layers shown and the preview composed (in
// megapixels of preview a second). CutFromWindow: a 6000 x 4000 photograph
// cut into 30 x 20 pieces by pressing "Cutter_Cut" (cover, progress bar and
// abort button live, the windows' events pumped at every cancel test, the
// pieces rendered), paired with the engine's own cut and render of the same
// layout, on one thread and on all (0).
#include <benchmark/benchmark.h>
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "CCutterSession.h"
#include "CKLF_App.h"
#include "CKLP_HeadlessUI.h"
#include "CWnd_Cutter.h"
#include "cutter/CutterLayoutMain.h"

namespace {

const u16 kW = 6000, kH = 4000;
const i32 kX = 100, kY = 50;

// A smooth picture with some noise.
const CKLF_Image& Photo() {
  static CKLF_Image img;
  if (img.GetImageWidth() == 0) {
    EXPECT_TRUE(img.Create(kW, kH, 1));
    std::mt19937 rng(1);
    u8* p = img.GetMemObj()->GetPtr();
    for (u32 c = 0; c < 3; ++c)
      for (u32 y = 0; y < kH; ++y)
        for (u32 x = 0; x < kW; ++x) *p++ = static_cast<u8>((x * (c + 1) + y * 2) / 40 + (rng() & 15));
  }
  return img;
}

// The toolkit, a parent window and the layout main window with its Cutter.
struct Session {
  CKLP_HeadlessUI ui;
  CKLF_App app;
  CKLF_Window parent;
  CCutterLayoutMain main;
  CWnd_Cutter* w = nullptr;

  explicit Session(const CKLF_Image& picture, u16 columns, u16 rows) {
    KLP_SetUI(&ui);
    m_App = &app;
    CCutterServices::SetFactory(KLF_NewCutterWindow);
    EXPECT_TRUE(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1));
    EXPECT_TRUE(parent.Create("Main", 0, 0, 100, 100, 1, nullptr, 0, 1));
    main.SetImage(picture);
    main.e.model.spl_SplitEvenParts(columns, rows, 1, 1);
  }
  ~Session() {
    main.CloseCutter();
    CCutterServices::SetFactory(nullptr);
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }
  bool Open() {
    CCutterServices* c = main.OpenCutter({kX, kY}, &parent);
    w = c ? static_cast<CCutterSession*>(c)->GetWindow() : nullptr;
    if (w) w->SetFocus();
    ui.Pump();
    return w != nullptr;
  }
  void Mouse(u16 kind, i32 x, i32 y) {
    ui.PostMouse(kind, kX + x, kY + y, 1, 0);
    ui.Pump();
  }
};

void BM_NodeDrag(benchmark::State& state) {
  CKLF_Image small;
  EXPECT_TRUE(small.Create(300, 200, 1));
  Session s(small, 3, 2);
  if (!s.Open()) return state.SkipWithError("no Cutter");
  const kltRECT_s node = s.w->GetModel().GetNodeRect(2), preview = s.w->GetPreviewRect();
  const i32 x = preview.left + node.left + 3, y = preview.top + node.top + 3;
  s.Mouse(klpMouseDown, x, y);
  i32 step = 0;
  for (auto _ : state) {
    s.Mouse(klpMouseDragged, x - 30 + (step % 60), y + (step % 20));
    ++step;
  }
  s.Mouse(klpMouseUp, x, y);
  const f64 area = static_cast<f64>(preview.right - preview.left) * (preview.bottom - preview.top);
  state.counters["MP/s"] = benchmark::Counter(area * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_NodeDrag)->Unit(benchmark::kMillisecond)->MinTime(0.5);

// The engine's own road: the layout handed over, cut and rendered.
struct EngineRoad {
  CCutterLayoutMain main;
  u8* planes[5] = {};
  u32 stride = 0;
  explicit EngineRoad(u32 threads) {
    main.SetImage(Photo());
    main.e.model.spl_SplitEvenParts(30, 20, 1, 1);
    main.engine.SetThreads(threads);
    main.image.GetImageChannels(planes, stride);
  }
  bool Cut() {
    return main.engine_PutLayoutToPuzzleEngine() && main.engine.SplitCells(kW, kH, nullptr, 0, planes, stride, 3, 0, 100, 1);
  }
};

// One press of "Cutter_Cut" in a freshly opened Cutter (the old pieces cut
// away again, as a second cut from Layout mode does); its time in ms, or a
// negative one when it did not cut.
f64 PressCut(Session& s) {
  if (!s.Open()) return -1;
  const kltRECT_s cut = s.w->GetCtrl(CWnd_Cutter::kCut)->GetRenderRect();
  s.ui.PostClick(kX + (cut.left + cut.right) / 2, kY + (cut.top + cut.bottom) / 2);
  s.main.cutDone = 0;
  const auto t0 = std::chrono::steady_clock::now();
  s.ui.Pump();
  const f64 ms = std::chrono::duration<f64, std::milli>(std::chrono::steady_clock::now() - t0).count();
  return s.main.cutDone ? ms : -1;
}

// The window's press and the engine's cut one after the other, so that both
// see the same load of the machine; each road cuts once untimed first, so
// that neither pays for the first touch of the cut's buffers. The time is
// the window's; counters: the engine's time and the ratio of the two.
void BM_CutFromWindow(benchmark::State& state) {
  const u32 threads = static_cast<u32>(state.range(0));
  Session s(Photo(), 30, 20);
  s.main.engine.SetThreads(threads);
  EngineRoad engine(threads);
  if (PressCut(s) < 0 || !engine.Cut()) return state.SkipWithError("the cut failed");
  f64 window = 0, own = 0;
  for (auto _ : state) {
    const f64 ms = PressCut(s);
    const auto t0 = std::chrono::steady_clock::now();
    if (ms < 0 || !engine.Cut()) return state.SkipWithError("the cut failed");
    own += std::chrono::duration<f64, std::milli>(std::chrono::steady_clock::now() - t0).count();
    window += ms;
    state.SetIterationTime(ms / 1000);
  }
  state.counters["pieces"] = s.main.engine.GetPieceCount();
  state.counters["engine_ms"] = own / state.iterations();
  state.counters["window/engine"] = window / own;
  state.counters["MP/s"] = benchmark::Counter(static_cast<f64>(kW) * kH * state.iterations() / 1e6,
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CutFromWindow)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(5)->UseManualTime();

}  // namespace
