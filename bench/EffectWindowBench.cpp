// An effect window's sample preview while a slider is dragged: each mouse
// move through the headless platform reaches the slider, which sends the
// window its value; the window updates the edit line and the range bar,
// renders the sample (blur, brightness/contrast, or the opacity of the
// picture itself) and recomposes the preview. The window stands over a
// small real cut, opened by the Puzzle-mode model. Rates: moves a second
// and the sample's megapixels a second.
#include <benchmark/benchmark.h>

#include "effects/FXTestUtil.h"

namespace {

struct Stage {
  CKLP_HeadlessUI ui;
  CKLF_App app;
  CKLT_RecordingWindow main;
  // No plug-in object: nothing is stored, the engine gives the colour kind.
  std::unique_ptr<puzzletest::Puzzle> scene;
  CWndFX_Base* window = nullptr;

  explicit Stage(u8 effect) {
    KLP_SetUI(&ui);
    m_App = &app;
    if (!app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1) || !main.Create("Main", 0, 0, 640, 480, 1, nullptr, 0, 0))
      return;
    scene = std::make_unique<puzzletest::Puzzle>(3, 2);
    scene->port.mainWindow = &main;
    scene->port.newWindow = CFXWindowFactory::New;
    CPuzzleModel& m = scene->model;
    const u8 ok = effect == fxtest::kBlur ? m.pmfx_DoBlur() : effect == fxtest::kBC ? m.pmfx_DoBrightContrast()
                                                                                     : m.pmfx_DoOpacity();
    window = ok ? dynamic_cast<CWndFX_Base*>(m.effectWindow) : nullptr;
    if (window) window->SetFocus(), ui.Pump();
  }
  ~Stage() {
    scene.reset();
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }
  // The global point of the slider's value v (0..100 of its track).
  KLP_Point At(const char* name, f64 t) {
    CKLF_UIResources res(app.GetStorage());
    CKLF_Mem mem;
    kltRECT_s r = {0, 0, 0, 0};
    res.LoadImageData((std::string("UIResources>Sliders>") + name + ">Background_Normal").c_str(), &r, &mem);
    const kltRECT_s w = window->GetWindowRect();
    return {w.left + r.left + 8 + static_cast<i32>(t * (r.right - r.left - 17)), w.top + (r.top + r.bottom) / 2};
  }
};

void BM_SliderDrag(benchmark::State& state) {
  const u8 effect = static_cast<u8>(state.range(0));
  const char* slider = effect == fxtest::kBlur ? "FXblur_Radius" : effect == fxtest::kBC ? "FXbc_Bright1" : "FXopac_Opacity";
  Stage s(effect);
  if (!s.window) return state.SkipWithError("the window did not open");
  const KLP_Point start = s.At(slider, 0.3);
  s.ui.PostMouse(klpMouseDown, start.x, start.y);
  s.ui.Pump();
  int k = 0;
  for (auto _ : state) {
    const KLP_Point p = s.At(slider, 0.3 + 0.05 * (++k % 8));
    s.ui.PostMouse(klpMouseDragged, p.x, p.y);
    s.ui.Pump();
  }
  s.ui.PostMouse(klpMouseUp, start.x, start.y);
  s.ui.Pump();
  const kltRECT_s v = s.window->GetPreviewRect();
  const f64 pixels = static_cast<f64>(v.right - v.left) * (v.bottom - v.top);
  state.counters["moves/s"] = benchmark::Counter(static_cast<f64>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["MP/s"] = benchmark::Counter(pixels / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}
// 0 blur, 4 brightness/contrast, 6 opacity.
BENCHMARK(BM_SliderDrag)->ArgName("effect")->Arg(0)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace
