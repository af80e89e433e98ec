// The effect windows through a real display, for their real-window test.
//
//   klt_fxwindows RESOURCES --display EFFECT   opens the window of an effect
//       (0 blur, 1 bevel, 2 hue/saturation, 3 colour overlay, 4
//       brightness/contrast, 5 motion blur, 6 opacity, 8 stroke, 9 image
//       overlay) over a 4 x 2 cut at (120, 90); once its picture is on
//       screen and its status line has faded in it prints "ready at X,Y
//       size W,H", then the window-local centres of its controls ("control
//       NAME/TYPE X,Y"), and the points of its value-2 slider ("slider2 X0,Y
//       X100,Y"). When the window closes it prints "closed" and "values V
//       ..." (each piece's rendered value of the effect's first parameter by
//       cells, -1 where the effect is off), for the colour overlay also
//       "colour R,G,B" (the first piece's rendered colour), and ends. The
//       colour swatches pick through the platform's colour chooser (the
//       scene offers no host).
//   klt_fxwindows RESOURCES --headless OUT.png EFFECT [spread]   the same
//       window on the headless platform, saved with its shape as alpha;
//       "spread": with the spread on, value 2 dragged and the direction right.
//   klt_fxwindows RESOURCES --replay-run OUT_DIR   over a two-layer PSD it
//       writes in OUT_DIR: the bevel window ("ready bevel at X,Y size W,H",
//       its controls, "disc CX,CY R"); once it is closed the image overlay
//       window ("ready iovr at X,Y size W,H", its controls); while the layer
//       picker runs "picker at X,Y size W,H", its controls and "row NAME
//       X,Y" of each row (window-local).
//       When the image overlay window is closed the pieces are applied as
//       the user interface applies them and the stored block replayed
//       without it: "replay same N" (N pixels shown) or "replay differs N";
//       the applied picture is kept as OUT_DIR/replay-output.png.
//   klt_fxwindows --compare SHOT.xwd WINDOW.png X Y CROP.png   compares an X
//       screenshot at (X, Y) with the headless picture inside its shape.
//   klt_fxwindows --crop SHOT.xwd X Y W H OUT.png   keeps a part of an X
//       screenshot.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "CApp.h"
#include "CKLT_SettingsSource.h"
#include "CWndFX_Bevel.h"
#include "CWndFX_ImageOverlay.h"
#include "CWnd_LayersList.h"
#include "KLT_FXReplay.h"
#include "effects/FXTestUtil.h"
#include "ui/display/KLT_Screenshot.h"

namespace {

constexpr i16 kX = 120, kY = 90;
constexpr u32 kColumns = 4, kRows = 2;
// Long enough for the status line's fade and the first main-window update.
constexpr u32 kSettleMs = 700;
enum : u16 { kTimerReady = 1, kTimerClosed = 2, kTimerPoll = 3 };

// The value-2 slider of each effect's window, by effect index.
const char* const kSecondSliders[10] = {"_Radius2",  "_Size2",   "_S2",  "_Opacity2", "_Bright2",
                                        "_Radius2",  "_Opacity2", "",    "_Size2",    "_Opacity2"};

void AnnounceControls(CKLF_Window& w) {
  for (u32 i = 0; i < w.GetControlCount(); ++i) {
    CKLF_Control* c = w.GetControl(i);
    const kltRECT_s r = c->GetRenderRect();
    if (klIsNullRect(r)) continue;
    std::printf("control %s/%u %d,%d\n", c->GetName().GetStr(), c->GetType(), (r.left + r.right) / 2,
                (r.top + r.bottom) / 2);
  }
}

// A piece's rendered value of the effect's first parameter; -1 while the
// effect is off.
int Value(const CTessarette::SPLITEDCELL& c, u8 effect) {
  const u32 R = fxtest::R;
  switch (effect) {
    case fxtest::kBlur: return c.blur[R].enabled ? c.blur[R].radius : -1;
    case fxtest::kBevel: return c.bevel[R].enabled ? c.bevel[R].size : -1;
    case fxtest::kHSL: return c.hsl[R].enabled ? c.hsl[R].hue : -1;
    case fxtest::kCovr: return c.colorOverlay[R].enabled ? c.colorOverlay[R].opacity : -1;
    case fxtest::kBC: return c.bc[R].enabled ? c.bc[R].brightness : -1;
    case fxtest::kMBlur: return c.mblur[R].enabled ? c.mblur[R].radius : -1;
    case fxtest::kStroke: return c.stroke[R].enabled ? c.stroke[R].size : -1;
    case fxtest::kIovr: return c.imageOverlay[R].enabled ? c.imageOverlay[R].opacity : -1;
    default: return c.opacity[R].enabled ? c.opacity[R].opacity : -1;
  }
}

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
      if (!SetTimer(50, kTimerClosed)) std::fprintf(stderr, "the timer cannot run\n"), Close();
    } else if (id == kTimerClosed && !fx->GetWindowHandle()) {
      KillTimer(kTimerClosed);
      std::printf("closed\nvalues");
      for (u32 k = 0; k < kColumns * kRows; ++k)
        std::printf(" %d", Value(scene->Piece(scene->At(static_cast<i32>(k), kColumns)), effect));
      std::printf("\n");
      if (effect == fxtest::kCovr) {
        const u8* c = scene->Piece(0).colorOverlay[fxtest::R].color;
        std::printf("colour %u,%u,%u\n", c[1], c[2], c[3]);
      }
      std::fflush(stdout);
      Close();
    }
  }

 private:
  void Announce(CWndFX_Base& fx) {
    const kltRECT_s w = fx.GetWindowRect();
    std::printf("ready at %d,%d size %d,%d\n", w.left, w.top, w.right - w.left, w.bottom - w.top);
    AnnounceControls(fx);
    CKLF_UIResources res(m_App->GetStorage());
    CKLF_Mem mem;
    kltRECT_s s = {0, 0, 0, 0};
    const std::string slider = std::string(fx.ResName(kSecondSliders[effect]).GetStr());
    if (res.LoadImageData(("UIResources>Sliders>" + slider + ">Background_Normal").c_str(), &s, &mem))
      std::printf("slider2 %d,%d %d,%d\n", s.left + 8, (s.top + s.bottom) / 2, s.right - 9, (s.top + s.bottom) / 2);
    else
      std::printf("slider2 unreadable\n");
    std::fflush(stdout);
  }
};

// The spread on, value 2 dragged up and the direction right, on the
// headless platform.
void Spread(CKLP_HeadlessUI& ui, CWndFX_Base& fx, u8 effect) {
  for (u32 i = 0; i < fx.GetControlCount(); ++i) {
    CKLF_Control* c = fx.GetControl(i);
    const std::string name = c->GetName().GetStr();
    if (name == fx.ResName("_AAdjust").GetStr()) c->SetCheck(1, 1);
    if (name == fx.ResName(kSecondSliders[effect]).GetStr() && c->GetType() == klCtrlSlider)
      static_cast<CKLF_CtrlSlider*>(c)->SetValue(effect == fxtest::kBC ? 170 : 80, 1);
    if (name == fx.ResName("_AR").GetStr()) c->SetCheck(1, 1);
  }
  ui.AdvanceClock(kSettleMs);
  ui.Pump();
}

// Sets up the toolkit over the resources; 0 when they cannot be opened.
u8 StartApp(const char* resources, CKLP_UIPlatform* ui, CKLF_App& app) {
  KLP_SetUI(ui);
  m_App = &app;
  if (app.InitStorgaeResource(resources, 1)) return 1;
  std::fprintf(stderr, "cannot open %s (error %u)\n", resources, app.GetError());
  return 0;
}

void StopApp() {
  m_App = nullptr;
  KLP_SetUI(nullptr);
}

int Run(const char* resources, CKLP_UIPlatform* ui, u8 effect, const char* png, u8 spread) {
  CKLF_App app;
  if (!StartApp(resources, ui, app)) return 1;
  int rc = 0;
  {
    fxtest::Scene scene(kColumns, kRows);
    Host host;
    host.scene = &scene;
    host.effect = effect;
    if (!host.Create("Main", 0, 0, 64, 64, 1, nullptr, 0, 0)) return 1;
    scene.puzzle.port.mainWindow = &host;
    scene.puzzle.port.tips = [](const char* name, const char* group, u8 enabled, u8 type) {
      return CApp::GetStatusTip(name, group, enabled, type);
    };
    if (!fxtest::OpenEffect(scene.puzzle.model, effect) || !host.Fx()) {
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
      if (host.SetTimer(kSettleMs, kTimerReady))
        app.Run();
      else
        rc = 1;
    }
    scene.puzzle.model.effectWindow = nullptr;
    delete fx;
  }
  StopApp();
  return rc;
}

// ---------------------------------------------------------------------------
// The replay run: a bevel, then an image overlay from the PSD's second
// layer, through the windows; then the applied pieces against the replay.

class ReplayHost : public CKLT_RecordingWindow {
 public:
  std::unique_ptr<fxtest::Scene> scene;
  std::string out;
  klt_fxreplay::Bytes layout;
  int rc = 1;

  CWndFX_Base* Fx() const { return dynamic_cast<CWndFX_Base*>(scene->puzzle.model.effectWindow); }
  u8 Open(u8 effect) {
    if (!fxtest::OpenEffect(scene->puzzle.model, effect) || !Fx()) return 0;
    Fx()->MoveWindow(kX, kY);
    Fx()->SetFocus();
    m_effect = effect;
    m_announced = 0;
    return SetTimer(kSettleMs, kTimerReady);
  }
  void OnTimer(u16 id) override {
    CWndFX_Base* fx = Fx();
    if (id == kTimerReady) {
      KillTimer(kTimerReady);
      fx->ForceRedrawRect(klNullRect);
      i_AnnounceWindow(*fx);
      if (!SetTimer(50, kTimerPoll)) std::fprintf(stderr, "the timer cannot run\n"), Close();
    } else if (id == kTimerPoll) {
      if (auto* iovr = dynamic_cast<CWndFX_ImageOverlay*>(fx)) i_WatchPicker(iovr->RunningPicker());
      if (fx->GetWindowHandle()) return;
      KillTimer(kTimerPoll);
      if (m_effect == fxtest::kBevel && Open(fxtest::kIovr)) return;
      i_Finish();
      Close();
    }
  }

 private:
  void i_AnnounceWindow(CWndFX_Base& fx) {
    const kltRECT_s w = fx.GetWindowRect();
    std::printf("ready %s at %d,%d size %d,%d\n", m_effect == fxtest::kBevel ? "bevel" : "iovr", w.left, w.top,
                w.right - w.left, w.bottom - w.top);
    AnnounceControls(fx);
    if (auto* bevel = dynamic_cast<CWndFX_Bevel*>(&fx)) {
      const CFXLight::DISC& d = bevel->Disc();
      std::printf("disc %d,%d %d\n", static_cast<int>(d.cx), static_cast<int>(d.cy), static_cast<int>(d.r));
    }
    std::fflush(stdout);
  }
  void i_WatchPicker(CWnd_LayersList* picker) {
    if (!picker || m_announced) return;
    m_announced = 1;
    picker->ForceRedrawRect(klNullRect);
    const kltRECT_s w = picker->GetWindowRect(), list = picker->List()->GetRenderRect();
    std::printf("picker at %d,%d size %d,%d\n", w.left, w.top, w.right - w.left, w.bottom - w.top);
    AnnounceControls(*picker);
    for (u32 row = 0; row < picker->List()->GetItemsCount(); ++row) {
      CKLF_String text;
      picker->List()->GetItem(row, &text, nullptr, nullptr);
      // Rows of 16 pixels below a margin of 2; the name after "+\t| ".
      std::printf("row %s %d,%d\n", text.GetStr() + 4, (list.left + list.right) / 2,
                  list.top + 2 + 16 * static_cast<i32>(row) + 8);
    }
    std::fflush(stdout);
  }
  void i_Finish() {
    fxtest::Scene& s = *scene;
    CKLF_Image shown;
    klt_fxreplay::Bytes block;
    CKLT_FilterHost replay;
    std::string error;
    if (!shown.Create(&s.puzzle.model.resultImage) || !s.plugin.Apply_SplittingUI(&shown) ||
        !klt_fxreplay::BlockWithRecords(layout, s.puzzle.doc.w, s.puzzle.doc.h, s.Engine(), block) ||
        !klt_fxreplay::ServePSD(out + "/two-layers.psd", replay, error) ||
        klt_fxreplay::Replay(replay, block, s.dir.Path()) != 0) {
      std::fprintf(stderr, "the replay could not run %s\n", error.c_str());
      return;
    }
    s.host.CommitPending();
    size_t visible = 0, differing = 0;
    klt_screenshot::Picture pic;
    pic.width = static_cast<u32>(s.puzzle.doc.w);
    pic.height = static_cast<u32>(s.puzzle.doc.h);
    for (size_t i = 0; i < replay.Plane(3).size(); ++i) {
      differing += replay.Plane(3)[i] != s.host.Plane(3)[i] ? 1 : 0;
      for (int p = 0; p < 4; ++p) pic.rgba.push_back(s.host.Plane(p)[i]);
      if (!replay.Plane(3)[i]) continue;
      ++visible;
      for (int p = 0; p < 3; ++p) differing += replay.Plane(p)[i] != s.host.Plane(p)[i] ? 1 : 0;
    }
    klt_screenshot::WritePNG((out + "/replay-output.png").c_str(), pic);
    std::printf("replay %s %zu\n", differing ? "differs" : "same", differing ? differing : visible);
    std::fflush(stdout);
    rc = differing ? 1 : 0;
  }

  u8 m_effect = 0;
  u8 m_announced = 0;
};

int ReplayRun(const char* resources, const char* out) {
  std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
  if (!ui) return std::fprintf(stderr, "no display\n"), 2;
  CKLF_App app;
  if (!StartApp(resources, ui.get(), app)) return 1;
  int rc = 1;
  {
    ReplayHost host;
    host.out = out;
    std::string error;
    const i32 w = 16 * kColumns, h = 16 * kRows;
    if (!CKLT_SettingsSource::DefaultBlock(w, h, kColumns, kRows, false, host.layout, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    host.scene = std::make_unique<fxtest::Scene>(host.layout, w, h);
    fxtest::Scene& s = *host.scene;
    const std::string psd = std::string(out) + "/two-layers.psd";
    if (!klt_fxreplay::WritePSD(psd, w, h, s.puzzle.doc.planes, s.puzzle.alpha, error) ||
        !klt_fxreplay::ServePSD(psd, s.host, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    s.Serve();
    if (!host.Create("Main", 0, 0, 64, 64, 1, nullptr, 0, 0)) return 1;
    s.puzzle.port.mainWindow = &host;
    app.SetMainWindow(&host);
    if (!host.Open(fxtest::kBevel)) return std::fprintf(stderr, "cannot open the bevel window\n"), 1;
    app.Run();
    rc = host.rc;
  }
  StopApp();
  return rc;
}

int Crop(const char* shotPath, int x, int y, int w, int h, const char* outPath) {
  klt_screenshot::Picture shot, crop;
  if (!klt_screenshot::ReadXWD(shotPath, shot) || x < 0 || y < 0 || w <= 0 || h <= 0 ||
      static_cast<u32>(x + w) > shot.width || static_cast<u32>(y + h) > shot.height)
    return std::fprintf(stderr, "cannot crop %s\n", shotPath), 1;
  crop.width = static_cast<u32>(w);
  crop.height = static_cast<u32>(h);
  for (int r = 0; r < h; ++r) {
    const u8* row = &shot.rgba[((static_cast<size_t>(y) + r) * shot.width + x) * 4];
    crop.rgba.insert(crop.rgba.end(), row, row + 4 * w);
  }
  return klt_screenshot::WritePNG(outPath, crop) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "--compare") == 0)
    return klt_screenshot::Compare(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
  if (argc == 8 && std::strcmp(argv[1], "--crop") == 0)
    return Crop(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]), argv[7]);
  if ((argc == 5 || argc == 6) && std::strcmp(argv[2], "--headless") == 0) {
    CKLP_HeadlessUI ui;
    return Run(argv[1], &ui, static_cast<u8>(std::atoi(argv[4])), argv[3], argc == 6);
  }
  if (argc == 4 && std::strcmp(argv[2], "--replay-run") == 0) return ReplayRun(argv[1], argv[3]);
  if (argc == 4 && std::strcmp(argv[2], "--display") == 0) {
    std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
    if (!ui) {
      std::fprintf(stderr, "no display\n");
      return 2;
    }
    return Run(argv[1], ui.get(), static_cast<u8>(std::atoi(argv[3])), nullptr, 0);
  }
  std::fprintf(stderr,
               "usage: klt_fxwindows RESOURCES --display EFFECT | RESOURCES --headless OUT.png EFFECT [spread] |\n"
               "       RESOURCES --replay-run OUT_DIR | --compare SHOT.xwd WINDOW.png X Y CROP.png |\n"
               "       --crop SHOT.xwd X Y W H OUT.png\n");
  return 2;
}
