// The main window's dialogs through a real display, for their real-window
// test. The scene: the sample picture served by the filter host with an
// alpha channel "Circle", the plug-in object on it (its configuration
// store in OUT_DIR), its engine holding a 6 x 4 cut with the first five
// pieces selected, and the layout of that cut with three knives selected.
// The dialogs open through the same openers the main window uses, over a
// stand-in main window at the screen's corner.
//
//   klt_dialogs RESOURCES --display OUT_DIR   opens the export, knife
//       export, channel selection and preferences dialogs in turn; once
//       each is on screen prints "ready NAME at X,Y size W,H" and a line
//       "control NAME X,Y" (window point) for each of its controls, and goes
//       on when the dialog ends. Then the export dialog once more: when it
//       has exported, prints "exported N files skipped S" and ends.
//   klt_dialogs RESOURCES --headless OUT_DIR   the same dialogs on the
//       headless platform, each saved as OUT_DIR/window-NAME.png (shape as
//       alpha) as it looks when announced; then the export with "PNG
//       files" chosen into OUT_DIR/headless/lake.png.
// In both, the channel dialog shows "Circle" when announced.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "CApp.h"
#include "CKLF_App.h"
#include "CKLF_CtrlList.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CKLP_HeadlessUI.h"
#include "CKLT_FilterHost.h"
#include "CKLT_SettingsSource.h"
#include "CLayoutModel.h"
#include "CMainDialogs.h"
#include "CMainWindowPort.h"
#include "CPluginMain.h"
#include "CSettingsBlock.h"
#include "CWnd_ChannelList.h"
#include "CWnd_Export.h"
#include "CWnd_ExportLM.h"
#include "CWnd_Pref.h"

namespace {

constexpr u32 kAnnounceMs = 800;

u8 LoadPicture(CKLF_Image& out) {
  FILE* f = std::fopen(KLF_SAMPLE_PICTURE, "rb");
  if (!f) return 0;
  std::vector<u8> bytes;
  u8 chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  CKLF_ImagePNG png;
  u16 w = 0, h = 0;
  if (!png.ParseImageByPtr(bytes.data(), static_cast<u32>(bytes.size())) || !png.GetMainImageSize(w, h) ||
      png.GetImageMode() != CKLF_ImageFormat::kModeRGB || !out.Create(w, h, 1))
    return 0;
  for (u32 c = 0; c < 3; ++c) std::memcpy(out.GetMemObj()->GetPtr() + size_t{c} * w * h, png.GetImageDataPtr(c), size_t{w} * h);
  return 1;
}

// The document, the plug-in object on it and the cut.
struct Scene {
  CKLT_FilterHost host;
  CPluginMain plugin;
  int16_t result = 0;
  CKLF_Image picture;
  CKLF_Mem block, source;
  CLayoutModel layout;

  bool Make(const std::string& folder) {
    if (!LoadPicture(picture)) return false;
    const i32 w = picture.GetImageWidth(), h = picture.GetImageHeight();
    if (!host.SetDocument(klpModeRGB, w, h, false, false)) return false;
    const u8* p = picture.GetMemObj()->GetPtr();
    for (int c = 0; c < 3; ++c) host.Plane(c).assign(p + size_t(c) * w * h, p + size_t(c + 1) * w * h);
    // "Circle": dark (selecting) inside a circle in the picture's middle.
    std::vector<uint8_t> circle(size_t(w) * h);
    for (i32 y = 0; y < h; ++y)
      for (i32 x = 0; x < w; ++x) circle[size_t(y) * w + x] = std::hypot(x - w / 2.0, y - h / 2.0) < h / 3.0 ? 0 : 255;
    if (!host.AddAlphaChannel(circle)) return false;
    host.SetChannelNames({"Red", "Green", "Blue", "Circle"}, true);
    host.SetResolution(72, 72);
    plugin.SetHostPointers(&host.Record(), nullptr, &result);
    KLP_FileRef dir;
    if (!plugin.FillPluginData() || dir.SetPath(folder.c_str()) != klpNoErr) return false;
    plugin.SetPluginFolder(dir);
    std::vector<uint8_t> settings;
    std::string error;
    if (!plugin.ConfStorage_Open("plugin.conf") ||
        !CKLT_SettingsSource::DefaultBlock(w, h, 6, 4, false, settings, error) ||
        !block.alloc(static_cast<u32>(settings.size())))
      return false;
    std::memcpy(block.GetPtr(), settings.data(), settings.size());
    if (!plugin.CutPieces(block, source)) return false;
    for (u32 i = 0; i < 5; ++i) plugin.GetEngine().GetPiece(i)->selected = 1;
    layout.SetImageSize(static_cast<u32>(w), static_cast<u32>(h));
    const u8* records = nullptr;
    u32 count = 0;
    CSettingsBlock reader;
    if (!reader.Read(layout, settings.data(), static_cast<u32>(settings.size()), &records, count)) return false;
    for (u32 i : {0u, 3u, 7u}) layout.NthKnife(i)->selected = 1;
    return true;
  }
};

// The main window as the dialogs ask it: the application's tips, one Help
// item, yes to every question.
struct DemoPort : CMainWindowPort {
  CPluginMain* plugin = nullptr;
  CKLF_Window* window = nullptr;
  CPluginMain* GetPluginObject() override { return plugin; }
  CKLF_Window* GetMainWindow() override { return window; }
  u8 GetWindowPosition(const char* name, const char* parent, kltSIZE_s& at) override {
    at = plugin ? plugin->WindowPosFromConf(name, parent, klNullSize, 1) : klNullSize;
    return !plugin || plugin->GetError() != klErrNoMemory;
  }
  void GetStatusTip(const char* name, const char* group, u8 state, u8 type, CKLF_String& tip) override {
    (void)(tip = CApp::GetStatusTip(name, group, state, type));  // a failure stays in tip
  }
  void FillHelpMenu(CKLF_PlatformPopupMenu* menu) override { menu->AddItem("Help...", 2, 0, 0); }
  i32 AskMessageBox(const char*, const char*, u8, u8) override { return 1; }
  void Alert(const char* text, const char* title) override { std::printf("alert %s %s\n", title, text); }
};

// What the running dialog is made to show before it is announced.
void Prepare(CKLF_Window* dialog) {
  if (auto* c = dynamic_cast<CWnd_ChannelList*>(dialog)) {
    auto* list = static_cast<CKLF_CtrlList*>(c->GetCtrl(CWnd_ChannelList::kList));
    list->SelectItems(3, 3, 1, 0, 1, 1, 1);
  }
}

CWnd_Dialog* Running() {
  CKLP_UIPlatform* ui = KLP_GetUI();
  return ui ? dynamic_cast<CWnd_Dialog*>(ui->GetWindowClient(ui->GetActiveWindow())) : nullptr;
}

// Where a person presses a control: a radio button or check box on its
// box at the left, anything else in its middle.
kltPOS PressPoint(CKLF_Control* c) {
  const kltRECT_s r = c->GetRenderRect();
  const u8 box = c->GetType() == klCtrlRadioButton || c->GetType() == klCtrlCheckBox;
  return {box ? r.left + 8 : (r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void Announce(CWnd_Dialog* d) {
  d->ForceRedrawRect(klNullRect);
  const kltRECT_s w = d->GetWindowRect();
  std::printf("ready %s at %d,%d size %d,%d\n", d->GetName().GetStr(), w.left, w.top, w.right - w.left,
              w.bottom - w.top);
  for (u32 i = 0; i < d->GetControlCount(); ++i) {
    CKLF_Control* c = d->GetControl(i);
    const kltPOS p = PressPoint(c);
    std::printf("control %s/%u %d,%d\n", c->GetName().GetStr(), c->GetType(), p.x, p.y);
  }
  std::fflush(stdout);
}

// The stand-in main window: once a dialog has run for a moment, prepares
// and announces it.
struct ParentWindow : CKLF_Window {
  void OnTimer(u16 id) override {
    if (id != 1) return;
    KillTimer(1);
    if (CWnd_Dialog* d = Running()) {
      Prepare(d);
      Announce(d);
    }
  }
};

// The four dialogs in turn, then the export; each opener's modal loop runs
// what the user (or, headless, the script) does.
void RunDialogs(Scene& s, DemoPort& port, const std::function<void()>& before) {
  before();
  CMainDialogs::DoExportDialog(port, s.plugin.GetEngine());
  before();
  CMainDialogs::DoExportLMDialog(port, s.layout);
  before();
  CKLF_Mem map;
  CLayoutView::CHANNELMAP choice = {};
  CMainDialogs::DoChannelDialog(port, &s.picture, 1, 0, map, choice);
  before();
  CPreferences prefs = CPreferences::Defaults();
  CMainDialogs::DoPrefDialog(port, prefs);
  before();
  const CMainDialogs::EXPORTED e = CMainDialogs::DoExportDialog(port, s.plugin.GetEngine());
  std::printf("exported %u files skipped %u\n", e.outcome == CMainDialogs::kExported ? e.files : 0u, e.skipped);
  std::fflush(stdout);
}

int Run(const char* resources, CKLP_UIPlatform* ui, const std::string& out, bool headless) {
  KLP_SetUI(ui);
  CKLF_App app;
  m_App = &app;
  int rc = 1;
  {
    Scene scene;
    DemoPort port;
    ParentWindow parent;
    if (!app.InitStorgaeResource(resources, 1) || !scene.Make(out) ||
        !parent.Create("Main", 0, 0, 120, 80, 1, nullptr, 0, 1)) {
      std::fprintf(stderr, "cannot open %s, the sample picture or the scene\n", resources);
    } else {
      parent.Show();
      port.plugin = &scene.plugin;
      port.window = &parent;
      if (headless) {
        auto* h = static_cast<CKLP_HeadlessUI*>(ui);
        int shown = 0;
        const std::string folder = out + "/headless";
        mkdir(folder.c_str(), 0755);
        h->AnswerFile({true, folder + "/lake.png"});
        auto step = [&] {
          h->Script([&, h] {
            CWnd_Dialog* d = Running();
            if (!d) return;
            Prepare(d);
            h->AdvanceClock(kAnnounceMs);
            h->Pump();
            if (++shown <= 4) {
              h->SavePNG(d->GetWindowHandle(), out + "/window-" + d->GetName().GetStr() + ".png");
              d->EndModal(0);
              return;
            }
            // The export: "PNG files", then Export, clicked.
            for (u32 c : {CWnd_Export::kToPNG, CWnd_Export::kExport}) {
              const kltPOS p = PressPoint(d->GetCtrl(c));
              const kltRECT_s w = d->GetWindowRect();
              h->PostClick(w.left + p.x, w.top + p.y);
              h->Pump();
            }
          });
        };
        RunDialogs(scene, port, step);
        rc = shown == 5 ? 0 : 1;
      } else {
        u8 timed = 1;
        RunDialogs(scene, port, [&] { timed = timed && parent.SetTimer(kAnnounceMs, 1); });
        rc = timed ? 0 : 1;
      }
    }
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[2], "--headless") == 0) {
    CKLP_HeadlessUI ui;
    return Run(argv[1], &ui, argv[3], true);
  }
  if (argc == 4 && std::strcmp(argv[2], "--display") == 0) {
    std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
    if (!ui) {
      std::fprintf(stderr, "no display\n");
      return 2;
    }
    return Run(argv[1], ui.get(), argv[3], false);
  }
  std::fprintf(stderr, "usage: klt_dialogs RESOURCES --display OUT_DIR | RESOURCES --headless OUT_DIR\n");
  return 2;
}
