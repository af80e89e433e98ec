// The Cutter's dialogs through a real display, for their real-window test.
//
//   klt_cutterdialogs RESOURCES --display NAME FOLDER   opens the dialog NAME
//       ("PresMng", "ShapeName", "AutoLayout" or "CMuts") at (60, 40) over a
//       stand-in for the Cutter's window, beside the real Cutter model and
//       layout model; the presets file lies in FOLDER. Prints "ready window
//       N at X,Y size W,H" once its first picture is on screen, "shape N
//       nodes" each time a shape reaches the Cutter, and when the dialog
//       ends "closed R" and what it gave: "name TEXT", "layout triangles
//       RxC [regular]", "mutations S U H" (per cent).
//   klt_cutterdialogs RESOURCES --headless NAME FOLDER OUT.png   the same
//       dialog as it opens on the headless platform, saved with its shape
//       as alpha.
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "CCutterModel.h"
#include "CKLF_App.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CKLP_HeadlessUI.h"
#include "CLayoutEditor.h"
#include "CPluginFolderFiles.h"
#include "CWnd_AutoLayout.h"
#include "CWnd_CustomMutations.h"
#include "CWnd_PresetsManager.h"
#include "CWnd_ShapeName.h"

namespace {

constexpr i16 kX = 60, kY = 40;
constexpr u32 kAnnounceMs = 800;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// The main window as the dialogs see it: a layout over a 600 x 400
// document whose knives follow the Cutter, tips a person can read.
struct DemoMain : CCutterMainPort {
  DemoMain() {
    e.model.SetImageSize(600, 400);
    e.model.settings_LoadDefaults();
  }
  void OnCutterUpdateShape(f32 s, f32 h, f32 u, u8 refill, u8 undo) override {
    e.shapes.OnCutterUpdateShape(s, h, u, refill, undo);
    if (cutter) Say("shape " + std::to_string(cutter->nodeCount) + " nodes");
  }
  void AutoLayout_Triangles(u32 r, u32 c, u8 regular) override {
    if (!e.autoLayout.AutoLayout_Triangles(r, c, regular)) Say("layout failed");
    Say("layout triangles " + std::to_string(r) + "x" + std::to_string(c) + (regular ? " regular" : ""));
  }
  void AutoLayout_Hexagons(u32 r, u32 c, u8 regular) override {
    if (!e.autoLayout.AutoLayout_Hexagons(r, c, regular)) Say("layout failed");
    Say("layout hexagons " + std::to_string(r) + "x" + std::to_string(c) + (regular ? " regular" : ""));
  }
  u8 GetWindowPosition(const char*, const char*, kltSIZE_s& at) override {
    at = {kX, kY};
    return 1;
  }
  void GetStatusTip(const char* control, const char* group, u8, u8, CKLF_String& tip) override {
    // A failure stays in tip.
    if (!control || !*control) (void)tip.Format("%s: point at a control to read what it does.", group);
    else (void)tip.Format("%s", std::strchr(control, '_') ? std::strchr(control, '_') + 1 : control);
  }
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu, u8) override { menu->AddItem("Help...", 900, 0, 0); }
  CLayoutEditor e;
  CCutterModel* cutter = nullptr;
};

// The Cutter's own window: announces the dialog once it is on screen.
struct CutterWindow : CKLF_Window {
  std::function<void()> announce;
  // Tries again until the dialog is on the screen.
  void OnTimer(u16 id) override {
    CKLF_Window* dialog = id == 1 ? CKLF_Window::WindowFromPoint({kX + 8, kY + 40}) : nullptr;
    if (!dialog || dialog == this) return;
    KillTimer(1);
    dialog->ForceRedrawRect(klNullRect);
    const kltRECT_s w = dialog->GetWindowRect();
    Say("ready window " + std::to_string(dialog->GetWindowHandle()) + " at " + std::to_string(w.left) + "," +
        std::to_string(w.top) + " size " + std::to_string(w.right - w.left) + "," + std::to_string(w.bottom - w.top));
  }
};

// Runs the dialog over the Cutter's window; its outcome as a line.
std::string RunDialog(const std::string& name, CutterWindow& cutterWindow, CCutterModel& cutter, DemoMain& main,
                      CCutterFilesPort& files) {
  if (name == "PresMng")
    return "closed " + std::to_string(CWnd_PresetsManager::Open(&cutterWindow, &cutter, &main, &files));
  if (name == "ShapeName") {
    CKLF_String text("Classic Knob");
    const u8 ok = CWnd_ShapeName::AskName(&cutterWindow, "Cutter", &main, text);
    return "closed " + std::to_string(ok) + (ok ? std::string("\nname ") + text.GetStr() : "");
  }
  if (name == "AutoLayout") return "closed " + std::to_string(CWnd_AutoLayout::Open(&cutterWindow, &main));
  f32 s = 0, u = 0, h = 0;
  const u8 ok = CWnd_CustomMutations::Open(&cutterWindow, &main, s, u, h);
  char amounts[64];
  std::snprintf(amounts, sizeof amounts, "\nmutations %.0f %.0f %.0f", s * 100, u * 100, h * 100);
  return "closed " + std::to_string(ok) + (ok ? amounts : "");
}

int Run(const char* resources, CKLP_UIPlatform* ui, const std::string& name, const char* folder, const char* out) {
  KLP_SetUI(ui);
  CKLF_App app;
  m_App = &app;
  int rc = 1;
  {
    DemoMain main;
    CCutterModel cutter;
    CutterWindow cutterWindow;
    KLP_FileRef dir;
    if (dir.SetPath(folder) != klpNoErr) return 1;
    CPluginFolderFiles files(dir);
    cutter.SetPorts(nullptr, &main);
    if (!app.InitStorgaeResource(resources, 1) || !cutter.OnCreate(200, 225) ||
        !cutterWindow.Create("Cutter", 0, 0, 40, 30, 1, nullptr, 0, 1)) {
      std::fprintf(stderr, "cannot open %s\n", resources);
    } else {
      main.cutter = &cutter;
      main.e.model.SetCutter(&cutter);
      if (out) {
        // As on the display when it is announced: the status tip faded in.
        auto* headless = static_cast<CKLP_HeadlessUI*>(ui);
        headless->Script([&] {
          headless->AdvanceClock(kAnnounceMs);
          CKLF_Window* dialog = CKLF_Window::WindowFromPoint({kX + 8, kY + 40});
          rc = dialog && headless->SavePNG(dialog->GetWindowHandle(), out) ? 0 : 1;
          if (dialog) dialog->OnKeyDown(klKeyEscape, 0);
        });
        RunDialog(name, cutterWindow, cutter, main, files);
      } else {
        if (cutterWindow.SetTimer(kAnnounceMs, 1)) {
          Say(RunDialog(name, cutterWindow, cutter, main, files));
          rc = 0;
        } else {
          std::fprintf(stderr, "the timer cannot run\n");
        }
      }
      main.e.model.SetCutter(nullptr);
    }
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  const bool known = argc >= 5 && (std::strcmp(argv[3], "PresMng") == 0 || std::strcmp(argv[3], "ShapeName") == 0 ||
                                   std::strcmp(argv[3], "AutoLayout") == 0 || std::strcmp(argv[3], "CMuts") == 0);
  if (known && argc == 6 && std::strcmp(argv[2], "--headless") == 0) {
    CKLP_HeadlessUI ui;
    return Run(argv[1], &ui, argv[3], argv[4], argv[5]);
  }
  if (known && argc == 5 && std::strcmp(argv[2], "--display") == 0) {
    std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
    if (!ui) {
      std::fprintf(stderr, "no display\n");
      return 2;
    }
    return Run(argv[1], ui.get(), argv[3], argv[4], nullptr);
  }
  std::fprintf(stderr,
               "usage: klt_cutterdialogs RESOURCES --display NAME FOLDER | RESOURCES --headless NAME FOLDER OUT.png\n"
               "       (NAME: PresMng, ShapeName, AutoLayout or CMuts)\n");
  return 2;
}
