// The Cutter through a real display, for its real-window test.
//
//   klt_cutterdemo RESOURCES --display OUT.png   opens the Cutter at (60, 40)
//       beside a stand-in for the main window over the sample picture (the
//       real layout model and engine); prints "ready window N at X,Y size
//       W,H rows RX,RY cut CX,CY" once its first picture is on screen (the
//       points are the centres of the rows field and the Cut button). When
//       a cut closes it, the pieces recombined are written to OUT.png (RGBA),
//       "cut N pieces C x R" (the grid's columns and rows) is printed and the
//       program ends; closed otherwise, it ends with 1.
//   klt_cutterdemo RESOURCES --headless OUT.png   the Cutter as it opens on
//       the headless platform, saved with its shape as alpha.
//   klt_cutterdemo --grid COLUMNS ROWS OUT.png   the sample picture's default
//       layout split into that grid, written as a settings block, read by
//       the engine as a replay reads it, cut, rendered and recombined.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CApp.h"
#include "CCutterSession.h"
#include "CKLF_App.h"
#include "CKLF_ImagePNG.h"
#include "CKLP_HeadlessUI.h"
#include "CKLT_SettingsSource.h"
#include "CWnd_Cutter.h"
#include "cutter/CutterLayoutMain.h"

namespace {

constexpr i16 kX = 60, kY = 40;
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

// The engine's pieces composed over the whole picture, as an RGBA PNG.
int WritePieces(CTessarette& engine, u32 w, u32 h, const char* path) {
  std::vector<u8> planes(size_t{w} * h * 4);
  u8* p[4];
  for (u32 c = 0; c < 4; ++c) p[c] = planes.data() + size_t{c} * w * h;
  if (!engine.CombineSplitedCells(static_cast<i32>(w), static_cast<i32>(h), p, w, 4, nullptr, 0, klNullRect, 0, 0,
                                  100))
    return 1;
  std::vector<u8> rgba(size_t{w} * h * 4);
  for (size_t i = 0; i < size_t{w} * h; ++i)
    for (int c = 0; c < 4; ++c) rgba[i * 4 + c] = p[c][i];
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = w;
  img.height = h;
  img.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&img, path, 0, rgba.data(), 0, nullptr) ? 0 : 1;
}

int Grid(int columns, int rows, const char* out) {
  CKLF_Image picture;
  if (!LoadPicture(picture)) return 1;
  const i32 w = picture.GetImageWidth(), h = picture.GetImageHeight();
  std::vector<uint8_t> block;
  std::string error;
  CTessarette engine;
  u8 layout = 0;
  u32 count = 0;
  const u8* records = nullptr;
  CKLF_Mem mem;
  if (!CKLT_SettingsSource::DefaultBlock(w, h, columns, rows, false, block, error) ||
      !mem.alloc(static_cast<u32>(block.size()))) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::memcpy(mem.GetPtr(), block.data(), block.size());
  u8* planes[5];
  u32 stride = 0;
  picture.GetImageChannels(planes, stride);
  if (!engine.InitFromLastSettingsBinary(&mem, layout, count, records) ||
      !engine.SplitCells(w, h, nullptr, 0, planes, stride, 3, 0, 100, 1))
    return 1;
  return WritePieces(engine, static_cast<u32>(w), static_cast<u32>(h), out);
}

// The application's tips on the status line, as the plug-in shows them.
struct DemoMain : CCutterLayoutMain {
  void GetStatusTip(const char* control, const char* group, u8 enabled, u8 type, CKLF_String& tip) override {
    (void)(tip = CApp::GetStatusTip(control, group, enabled, type));  // a failure stays in tip
  }
};

// The main window's own window: announces the Cutter once it is on screen.
struct ParentWindow : CKLF_Window {
  CWnd_Cutter* cutter = nullptr;
  void OnTimer(u16 id) override {
    if (id != 1 || !cutter) return;
    KillTimer(1);
    cutter->ForceRedrawRect(klNullRect);
    const kltRECT_s w = cutter->GetWindowRect();
    const kltRECT_s r = cutter->GetCtrl(CWnd_Cutter::kRowsEdit)->GetRenderRect();
    const kltRECT_s c = cutter->GetCtrl(CWnd_Cutter::kCut)->GetRenderRect();
    std::printf("ready window %u at %d,%d size %d,%d rows %d,%d cut %d,%d\n", cutter->GetWindowHandle(), w.left, w.top,
                w.right - w.left, w.bottom - w.top, (r.left + r.right) / 2, (r.top + r.bottom) / 2,
                (c.left + c.right) / 2, (c.top + c.bottom) / 2);
    std::fflush(stdout);
  }
};

int Run(const char* resources, CKLP_UIPlatform* ui, const char* out, bool headless) {
  KLP_SetUI(ui);
  CKLF_App app;
  m_App = &app;
  CCutterServices::SetFactory(KLF_NewCutterWindow);
  int rc = 1;
  {
    DemoMain main;
    CKLF_Image picture;
    ParentWindow parent;
    if (!app.InitStorgaeResource(resources, 1) || !LoadPicture(picture) || !main.SetImage(picture) ||
        !parent.Create("Main", 0, 0, 120, 80, 1, nullptr, 0, 1)) {
      std::fprintf(stderr, "cannot open %s or the sample picture\n", resources);
    } else if (CCutterServices* cutter = main.OpenCutter({kX, kY}, &parent)) {
      CWnd_Cutter* w = static_cast<CCutterSession*>(cutter)->GetWindow();
      w->SetFocus();
      if (headless) {
        // As on the display when it is announced: the status tip faded in.
        static_cast<CKLP_HeadlessUI*>(ui)->Pump();
        static_cast<CKLP_HeadlessUI*>(ui)->AdvanceClock(kAnnounceMs);
        static_cast<CKLP_HeadlessUI*>(ui)->Pump();
        rc = static_cast<CKLP_HeadlessUI*>(ui)->SavePNG(w->GetWindowHandle(), out) ? 0 : 1;
      } else {
        // The run ends when the Cutter closes: after a cut with its pieces.
        main.onClose = [&] {
          if (main.cutDone) {
            rc = WritePieces(main.engine, main.image.GetImageWidth(), main.image.GetImageHeight(), out);
            std::printf("cut %u pieces %u x %u\n", main.engine.GetPieceCount(), main.e.model.verticalLineCount + 1u,
                        main.e.model.horizontalLineCount + 1u);
            std::fflush(stdout);
          }
          parent.Close();
        };
        parent.cutter = w;
        if (parent.SetTimer(kAnnounceMs, 1)) {
          app.SetMainWindow(&parent);
          app.Run();
        } else {
          std::fprintf(stderr, "the timer cannot run\n");
        }
      }
    } else {
      std::fprintf(stderr, "cannot create the Cutter\n");
    }
    main.CloseCutter();
  }
  CCutterServices::SetFactory(nullptr);
  m_App = nullptr;
  KLP_SetUI(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--grid") == 0) return Grid(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
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
  std::fprintf(stderr,
               "usage: klt_cutterdemo RESOURCES --display OUT.png | RESOURCES --headless OUT.png |\n"
               "       --grid COLUMNS ROWS OUT.png\n");
  return 2;
}
