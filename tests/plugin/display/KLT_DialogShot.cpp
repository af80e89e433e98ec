// The dialog's main window and its Cutter on the headless platform, as the
// real-display test expects to see them: the plug-in (linked in, assembled
// as the shared library is) runs its dialog on a picture, the pointer rests
// on the main window's empty toolbar at (300, 46) for a second (the window
// active, the status tips faded in, the first timer ticks, the preview's
// refinement), then each window is saved as a PNG (alpha = its shape) and
// the dialog cancelled. With PRESETS.png the Cutter's "Cutter_Presets"
// is pressed then and the preset manager saved the same way, the pointer
// resting on its caption at (300, 12).
//   klt_dialogshot PICTURE PLUGIN_FOLDER OUT.png CUTTER.png [PRESETS.png]
//   klt_dialogshot --about PLUGIN_FOLDER OUT.png   the About window, with the
//       pointer resting on it, saved and closed by a key.
// Exit codes: 0 written, 1 the picture, the run or the writing failed,
// 2 bad command line.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CApp.h"
#include "CCutterSession.h"
#include "CWnd_Cutter.h"
#include "CWnd_PresetsManager.h"
#include "CKLP_HeadlessUI.h"
#include "CKLT_FilterHost.h"
#include "CKLT_HostDocument.h"
#include "KLF_PluginAssembly.h"
#include "KLF_PluginEntry.h"

namespace {

// The preset manager opened from the Cutter's button, saved, closed.
bool SavePresetsManager(CKLP_HeadlessUI& ui, CWnd_Cutter& cutter, const char* path) {
  bool saved = false;
  ui.Script([&] {
    auto* manager = dynamic_cast<CWnd_PresetsManager*>(ui.GetWindowClient(ui.GetActiveWindow()));
    if (!manager) return;
    const kltRECT_s at = manager->GetWindowRect();
    ui.PostMouse(klpMouseMoved, at.left + 300, at.top + 12);
    ui.Pump();
    ui.AdvanceClock(1000);
    saved = ui.SavePNG(manager->GetWindowHandle(), path);
    manager->EndModal(0);
  });
  const kltRECT_s c = cutter.GetWindowRect(), b = cutter.GetCtrl(CWnd_Cutter::kPresets)->GetRenderRect();
  ui.SelectWindow(cutter.GetWindowHandle());
  ui.PostClick(c.left + (b.left + b.right) / 2, c.top + (b.top + b.bottom) / 2);
  ui.Pump();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  const bool about = argc == 4 && std::string(argv[1]) == "--about";
  if (about ? argc != 4 : argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: klt_dialogshot PICTURE PLUGIN_FOLDER OUT.png CUTTER.png [PRESETS.png]\n");
    return 2;
  }
  const char* presets = !about && argc == 6 ? argv[5] : nullptr;
  CKLT_HostDocument doc;
  std::string error;
  if (about) {
    doc.mode = klpModeRGB;
    doc.width = doc.height = 1;
    doc.layers.resize(1);
    doc.layers[0].width = doc.layers[0].height = 1;
    doc.layers[0].planes.assign(3, std::vector<uint8_t>(1, 0));
  } else if (doc.ReadFile(argv[1], uint64_t(1) << 32, error) != CKLT_HostDocument::kOk || doc.layers.size() != 1 ||
      !doc.LayerCoversCanvas(doc.layers[0]) || !doc.layers[0].alpha.empty()) {
    std::fprintf(stderr, "klt_dialogshot: %s: %s\n", argv[1], error.empty() ? "not one opaque layer" : error.c_str());
    return 1;
  }
  CKLT_FilterHost host;
  if (!host.SetDocument(doc.mode, doc.width, doc.height, false, false)) {
    std::fprintf(stderr, "%s: the document cannot be served\n", "klt_dialogshot");
    return 1;
  }
  for (int c = 0; c < doc.ColourPlanes(); ++c) host.Plane(c) = doc.layers[0].planes[static_cast<size_t>(c)];
  host.SetResolution(doc.resolution, doc.ResolutionDown());
  // The display backend puts one scroll arrow at each end.
  CKLP_HeadlessUI ui;
  ui.SetScrollArrowStyle(1);
  KLP_SetUI(&ui);
  char folder[PATH_MAX];
  if (!realpath(argv[2], folder)) {
    std::fprintf(stderr, "klt_dialogshot: no folder %s\n", argv[2]);
    return 1;
  }
  KLF_SetPluginFolderOverride(folder);
  KLF_AssemblePlugin();
  bool saved = false;
  ui.Script([&] {
    CApp* app = static_cast<CApp*>(m_App);
    if (!app) return;
    if (about) {
      saved = ui.SavePNG(app->GetAboutWindow().GetWindowHandle(), argv[3]);
      app->GetAboutWindow().localClose();
      return;
    }
    CWnd_Main& main = app->GetMainWindow();
    const kltRECT_s at = main.GetWindowRect();
    ui.PostMouse(klpMouseMoved, at.left + 300, at.top + 46);
    // A display without a window manager gives the focus to the window
    // under the pointer.
    ui.SelectWindow(main.GetWindowHandle());
    ui.Pump();
    ui.AdvanceClock(1000);
    const auto* cutter = dynamic_cast<const CCutterSession*>(main.GetCutter());
    saved = cutter && cutter->GetWindow() && ui.SavePNG(main.GetWindowHandle(), argv[3]) &&
            ui.SavePNG(cutter->GetWindow()->GetWindowHandle(), argv[4]);
    if (saved && presets) saved = SavePresetsManager(ui, *cutter->GetWindow(), presets);
    main.localClose();
  });
  const int16_t result = about ? host.Call(PluginMain, klpSelectorAbout) : host.RunFilter(PluginMain, true);
  KLP_SetUI(nullptr);
  if (!saved || result != (about ? klpResNoErr : klpResUserCanceled)) {
    std::fprintf(stderr, "klt_dialogshot: the dialog did not open (result %d)\n", result);
    return 1;
  }
  return 0;
}
