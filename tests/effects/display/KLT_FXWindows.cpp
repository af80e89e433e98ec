// The effect windows through a real display, for their real-window test.
//
//   klt_fxwindows RESOURCES --display EFFECT   opens the window of an effect
//       (0 blur, 4 brightness/contrast, 6 opacity) over a 4 x 2 cut at
//       (120, 90); once its picture is on screen and its status line has
//       faded in it prints "ready at X,Y size W,H", then the window-local
//       centres of its controls ("control NAME X,Y"), and the points of its
//       value-2 slider ("slider2 X0,Y X100,Y"). When the window closes it
//       prints "closed" and "values V ..." (each piece's rendered value of
//       the effect's first parameter by cells, -1 where the effect is off)
//       and ends.
//   klt_fxwindows RESOURCES --headless OUT.png EFFECT [spread]   the same
//       window on the headless platform, saved with its shape as alpha;
//       "spread": with the spread on, value 2 dragged and the direction right.
//   klt_fxwindows --compare SHOT.xwd WINDOW.png X Y CROP.png   compares an X
//       screenshot at (X, Y) with the headless picture inside its shape.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "effects/FXTestUtil.h"
#include "ui/display/KLT_Screenshot.h"

namespace {

constexpr i16 kX = 120, kY = 90;
constexpr u32 kColumns = 4, kRows = 2;
// Long enough for the status line's fade and the first main-window update.
constexpr u32 kSettleMs = 700;
enum : u16 { kTimerReady = 1, kTimerClosed = 2 };

// The hidden main window: it announces the effect window and ends the run
// once that one has closed.
class Host : public CKLT_RecordingWindow {
 public:
  fxtest::Scene* scene = nullptr;
  u8 effect = 0;

  CWndFX_Base* Fx() const { return dynamic_cast<CWndFX_Base*>(scene->puzzle.model.effectWindow); }
  void OnTimer(u16 id) override {
    CWndFX_Base* fx = Fx();
    if (id == kTimerReady) {
      KillTimer(kTimerReady);
      fx->ForceRedrawRect(klNullRect);
      Announce(*fx);
      SetTimer(50, kTimerClosed);
    } else if (id == kTimerClosed && !fx->GetWindowHandle()) {
      KillTimer(kTimerClosed);
      std::printf("closed\nvalues");
      for (u32 k = 0; k < kColumns * kRows; ++k) std::printf(" %d", Value(scene->At(static_cast<i32>(k), kColumns)));
      std::printf("\n");
      std::fflush(stdout);
      Close();
    }
  }

 private:
  int Value(u32 piece) {
    const CTessarette::SPLITEDCELL& c = scene->Piece(piece);
    if (effect == fxtest::kBlur) return c.blur[fxtest::R].enabled ? c.blur[fxtest::R].radius : -1;
    if (effect == fxtest::kBC) return c.bc[fxtest::R].enabled ? c.bc[fxtest::R].brightness : -1;
    return c.opacity[fxtest::R].enabled ? c.opacity[fxtest::R].opacity : -1;
  }
  void Announce(CWndFX_Base& fx) {
    const kltRECT_s w = fx.GetWindowRect();
    std::printf("ready at %d,%d size %d,%d\n", w.left, w.top, w.right - w.left, w.bottom - w.top);
    for (u32 i = 0; i < fx.GetControlCount(); ++i) {
      CKLF_Control* c = fx.GetControl(i);
      const kltRECT_s r = c->GetRenderRect();
      if (klIsNullRect(r)) continue;
      std::printf("control %s/%u %d,%d\n", c->GetName().GetStr(), c->GetType(), (r.left + r.right) / 2,
                  (r.top + r.bottom) / 2);
    }
    CKLF_UIResources res(m_App->GetStorage());
    CKLF_Mem mem;
    kltRECT_s s = {0, 0, 0, 0};
    const std::string slider = std::string(fx.ResName(effect == fxtest::kBC ? "_Bright2" : effect == fxtest::kBlur ? "_Radius2" : "_Opacity2").GetStr());
    res.LoadImageData(("UIResources>Sliders>" + slider + ">Background_Normal").c_str(), &s, &mem);
    std::printf("slider2 %d,%d %d,%d\n", s.left + 8, (s.top + s.bottom) / 2, s.right - 9, (s.top + s.bottom) / 2);
    std::fflush(stdout);
  }
};

u8 Open(fxtest::Scene& scene, u8 effect) {
  CPuzzleModel& m = scene.puzzle.model;
  return effect == fxtest::kBlur ? m.pmfx_DoBlur() : effect == fxtest::kBC ? m.pmfx_DoBrightContrast() : m.pmfx_DoOpacity();
}

// The spread on, value 2 dragged up and the direction right, on the
// headless platform.
void Spread(CKLP_HeadlessUI& ui, CWndFX_Base& fx, u8 effect) {
  for (u32 i = 0; i < fx.GetControlCount(); ++i) {
    CKLF_Control* c = fx.GetControl(i);
    const std::string name = c->GetName().GetStr();
    if (name == fx.ResName("_AAdjust").GetStr()) c->SetCheck(1, 1);
    const char* second = effect == fxtest::kBC ? "_Bright2" : effect == fxtest::kBlur ? "_Radius2" : "_Opacity2";
    if (name == fx.ResName(second).GetStr() && c->GetType() == klCtrlSlider)
      static_cast<CKLF_CtrlSlider*>(c)->SetValue(effect == fxtest::kBC ? 170 : 80, 1);
    if (name == fx.ResName("_AR").GetStr()) c->SetCheck(1, 1);
  }
  ui.AdvanceClock(kSettleMs);
  ui.Pump();
}

int Run(const char* resources, CKLP_UIPlatform* ui, u8 effect, const char* png, u8 spread) {
  KLP_SetUI(ui);
  CKLF_App app;
  m_App = &app;
  if (!app.InitStorgaeResource(resources, 1)) {
    std::fprintf(stderr, "cannot open %s (error %u)\n", resources, app.GetError());
    return 1;
  }
  int rc = 0;
  {
    fxtest::Scene scene(kColumns, kRows);
    Host host;
    host.scene = &scene;
    host.effect = effect;
    if (!host.Create("Main", 0, 0, 64, 64, 1, nullptr, 0, 0)) return 1;
    scene.puzzle.port.mainWindow = &host;
    if (!Open(scene, effect) || !host.Fx()) {
      std::fprintf(stderr, "cannot open the effect window\n");
      return 1;
    }
    CWndFX_Base* fx = host.Fx();
    fx->MoveWindow(kX, kY);
    fx->SetFocus();
    app.SetMainWindow(&host);
    if (png) {
      auto* headless = static_cast<CKLP_HeadlessUI*>(ui);
      headless->Pump();
      headless->AdvanceClock(kSettleMs);
      headless->Pump();
      if (spread) Spread(*headless, *fx, effect);
      rc = headless->SavePNG(fx->GetWindowHandle(), png) ? 0 : 1;
    } else {
      host.SetTimer(kSettleMs, kTimerReady);
      app.Run();
    }
    scene.puzzle.model.effectWindow = nullptr;
    delete fx;
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "--compare") == 0)
    return klt_screenshot::Compare(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
  if ((argc == 5 || argc == 6) && std::strcmp(argv[2], "--headless") == 0) {
    CKLP_HeadlessUI ui;
    return Run(argv[1], &ui, static_cast<u8>(std::atoi(argv[4])), argv[3], argc == 6);
  }
  if (argc == 4 && std::strcmp(argv[2], "--display") == 0) {
    std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
    if (!ui) {
      std::fprintf(stderr, "no display\n");
      return 2;
    }
    return Run(argv[1], ui.get(), static_cast<u8>(std::atoi(argv[3])), nullptr, 0);
  }
  std::fprintf(stderr, "usage: klt_fxwindows RESOURCES --display EFFECT | RESOURCES --headless OUT.png EFFECT [spread] |\n"
                       "       --compare SHOT.xwd WINDOW.png X Y CROP.png\n");
  return 2;
}
