// An effect window's sample preview while a slider is dragged: each mouse
// move through the headless platform reaches the slider, which sends the
// window its value; the window updates the edit line and the range bar,
// renders the sample (blur, brightness/contrast, or the opacity of the
// picture itself) and recomposes the preview. The same for the bevel's
// light dragged on its disc (the thumb, the angle and altitude, the bevel
// of the sample) and the motion blur's direction dial (its line and the
// blur of the sample). The window stands over a small real cut, opened by
// the Puzzle-mode model. Rates: moves a second and the sample's megapixels
// a second; a move is to take at most 16 ms.
#include <benchmark/benchmark.h>

#include <cmath>

#include "CWndFX_Bevel.h"
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
    window = fxtest::OpenEffect(m, effect) ? dynamic_cast<CWndFX_Base*>(m.effectWindow) : nullptr;
    if (window) window->SetFocus(), ui.Pump();
  }
  ~Stage() {
    scene.reset();
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }
  // The slider's track (its picture's rectangle); false when it cannot be read.
  bool Track(const char* name) {
    CKLF_UIResources res(app.GetStorage());
    CKLF_Mem mem;
    return res.LoadImageData((std::string("UIResources>Sliders>") + name + ">Background_Normal").c_str(), &track,
                             &mem) != nullptr;
  }
  // The global point at t (0..1) along the track.
  KLP_Point At(f64 t) const {
    const kltRECT_s w = window->GetWindowRect(), r = track;
    return {w.left + r.left + 8 + static_cast<i32>(t * (r.right - r.left - 17)), w.top + (r.top + r.bottom) / 2};
  }
  kltRECT_s track = {0, 0, 0, 0};
};

// A press at at(0), then one move an iteration through at(1) ... at(period
// - 1) round and round, then the release; the rates of the moves.
template <class At>
void DragRound(benchmark::State& state, Stage& s, At at, int period) {
  const KLP_Point start = at(0);
  s.ui.PostMouse(klpMouseDown, start.x, start.y);
  s.ui.Pump();
  int k = 0;
  for (auto _ : state) {
    const KLP_Point p = at(++k % period);
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

void BM_SliderDrag(benchmark::State& state) {
  const u8 effect = static_cast<u8>(state.range(0));
  const char* slider = effect == fxtest::kBlur ? "FXblur_Radius"
                       : effect == fxtest::kBC ? "FXbc_Bright1"
                                               : "FXopac_Opacity";
  Stage s(effect);
  if (!s.window) return state.SkipWithError("the window did not open");
  if (!s.Track(slider)) return state.SkipWithError("the slider's picture cannot be read");
  DragRound(
      state, s, [&](int k) { return s.At(0.3 + 0.05 * k); }, 8);
}
// 0 blur, 4 brightness/contrast, 6 opacity.
BENCHMARK(BM_SliderDrag)->ArgName("effect")->Arg(0)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond);

// The light dragged round the disc at half its radius, bevel size 10 and
// depth 20 on the sample.
void BM_BevelLightDrag(benchmark::State& state) {
  Stage s(fxtest::kBevel);
  auto* bevel = dynamic_cast<CWndFX_Bevel*>(s.window);
  if (!bevel) return state.SkipWithError("the window did not open");
  auto* v1 = reinterpret_cast<CTessarette::SFX_BEVEL*>(bevel->Records().GetValue(0));
  v1->size = 10;
  v1->depth = 20;
  const CFXLight::DISC d = bevel->Disc();
  const kltRECT_s w = bevel->GetWindowRect();
  auto at = [&](int k) {
    const f64 a = k * 0.3;
    return KLP_Point{w.left + static_cast<i32>(d.cx + d.r / 2 * std::cos(a)),
                     w.top + static_cast<i32>(d.cy + d.r / 2 * std::sin(a))};
  };
  DragRound(state, s, at, 20);
}
BENCHMARK(BM_BevelLightDrag)->Unit(benchmark::kMillisecond);

// The first direction dial dragged round, a blur of 30 on the sample.
void BM_DirectionDialDrag(benchmark::State& state) {
  Stage s(fxtest::kMBlur);
  if (!s.window) return state.SkipWithError("the window did not open");
  reinterpret_cast<CTessarette::SFX_MBLUR*>(s.window->Records().GetValue(0))->radius = 30;
  CKLF_UIResources res(s.app.GetStorage());
  CKLF_Mem mem;
  kltRECT_s r = {0, 0, 0, 0};
  if (!res.LoadImageData("UIResources>Sliders>FXmblur_Dir1>Background_Normal", &r, &mem))
    return state.SkipWithError("the dial's picture cannot be read");
  const kltRECT_s w = s.window->GetWindowRect();
  const f64 cx = w.left + (r.left + r.right) / 2.0, cy = w.top + (r.top + r.bottom) / 2.0;
  const f64 radius = (r.right - r.left) / 2.0 - 8;
  auto at = [&](int k) {
    const f64 a = k * 0.15;
    return KLP_Point{static_cast<i32>(cx + radius * std::cos(a)), static_cast<i32>(cy - radius * std::sin(a))};
  };
  DragRound(state, s, at, 40);
}
BENCHMARK(BM_DirectionDialDrag)->Unit(benchmark::kMillisecond);

}  // namespace
