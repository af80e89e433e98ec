// The demo window through a real display, for the real-window test.
//
//   klt_uidemo RESOURCES --display       opens "Demo" at (100, 80) on the
//       display, prints "ready window N at X,Y size W,H button BX,BY outside
//       OX,OY" once its first picture is on screen, then one line per event
//       that reaches the window or its controls; Tab shows every control in
//       the next look ("look L" once on screen), Escape closes it (and so
//       does the window manager's close, the window having no close box);
//       "l" opens a link through the desktop's launcher ("launched STATUS"
//       once the launcher returns), then a timer ticks ("tick N") and at its
//       third tick shows the next look as Tab does. The
//       menu (also on a right click and under the "Presets" menu button)
//       offers "Message..." through the platform's alert ("message closed"
//       once it is), and "Open..." and "Save..." through the file dialog
//       ("open PATH", "save PATH", "-" when cancelled).
//   klt_uidemo RESOURCES --headless OUT.png [LOOK [ZOOM]]   the same window
//       on the headless platform in a look (0 by default), saved with its
//       shape as alpha.
//   A zoom index (2 by default) sets the preview's zoom; the display prints
//   "preview X,Y" (the view's centre) after "ready".
//   klt_uidemo --compare SHOT.xwd WINDOW.png X Y CROP.png   compares an
//       X screenshot at (X, Y) with the headless picture inside its shape
//       and keeps the screen's crop; exit 0 when every pixel matches.
//   klt_uidemo --pixel PICTURE X Y   prints "pixel RRGGBB", the colour of a
//       PNG picture's or an X screenshot's (.xwd) pixel.
//   klt_uidemo --shot SHOT.xwd OUT.png   keeps an X screenshot as PNG and
//       prints "shot W,H mean L face F accent N": its mean relative
//       luminance (0 black .. 1 white), the share of its pixels in the
//       palette's face or field colour (0 .. 1) and how many pixels wear the
//       palette's accent.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CKLF_CtrlPreview.h"
#include "CKLF_CtrlRuler.h"
#include "CKLF_ImageFX.h"
#include "CKLF_ImagePNG.h"
#include "CKLF_PlatformFileDialog.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CKLP_HeadlessUI.h"
#include "KLF_BigEndian.h"
#include "KLP_File.h"
#include "KLP_Palette.h"
#include "ui/DemoWindow.h"
#include "ui/display/KLT_Screenshot.h"

namespace {

constexpr i16 kX = 100, kY = 80;

// The photograph in the demo's preview, with its rulers, its scroll bars
// (an arrow at each end) and the navigator over a thumbnail; it outlives
// the window.
struct DemoPreview {
  CKLF_CtrlPreview preview;
  CKLF_Image photo;
  u8 zoom = 2;
  kltRECT_s view = {0, 0, 0, 0};

  static CKLF_Control* Add(CKLT_RecordingWindow& w, const std::string& name, u8 type) {
    const i32 id = w.AddControl(name.c_str(), type);
    return id < 0 ? nullptr : w.GetControl(static_cast<u32>(id));
  }
  u8 LoadPhoto() {
    FILE* f = std::fopen(KLF_SAMPLE_PICTURE, "rb");
    if (!f) return 0;
    std::vector<u8> bytes;
    u8 chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    CKLF_ImagePNG png;
    u16 w = 0, h = 0;
    if (!png.ParseImageByPtr(bytes.data(), static_cast<u32>(bytes.size())) || !png.GetMainImageSize(w, h) ||
        png.GetImageMode() != CKLF_ImageFormat::kModeRGB || !photo.Create(w, h, 2))
      return 0;
    u8* planes[5];
    u32 stride;
    photo.GetImageChannels(planes, stride);
    for (int c = 0; c < 3; ++c) std::memcpy(planes[c], png.GetImageDataPtr(c), size_t{w} * h);
    std::memset(planes[3], 255, size_t{w} * h);
    return 1;
  }
  // The thumbnail in the window's first layer, where the navigator's frame
  // falls: 3 pixels in, centred in the rest.
  u8 Thumbnail(CKLF_Window& w, CKLF_CtrlStaticImage* navigator) {
    kltRECT_s r;
    CKLF_Image thumb;
    if (!navigator->GetStateMemPtr(1, &r) || !thumb.Create(static_cast<u16>(r.right - r.left - 6),
                                                           static_cast<u16>(r.bottom - r.top - 6), 2))
      return 0;
    CKLF_ImageFX fx;
    fx.SetFillValue(0);
    if (!fx.SetSource(&photo) || !fx.SetDestination(&thumb) || !fx.Resize_Int_ZO(1)) return 0;
    return w.GetLayer(0u)->Blend(&thumb, 0, 0, {r.left + 3, r.top + 3, r.right - 3, r.bottom - 3}, 100);
  }
  // The rulers join the demo's bars and navigator.
  u8 Add(CKLT_DemoWindow& w) {
    if (!LoadPhoto() || !w.GetResourceRect("Demo_Preview", view)) return 0;
    w.realControls = 1;
    auto* top = static_cast<CKLF_CtrlRuler*>(Add(w, "Demo_RulerH", klCtrlRuler));
    auto* left = static_cast<CKLF_CtrlRuler*>(Add(w, "Demo_RulerV", klCtrlRuler));
    const std::string style = CKLF_App::GetScrollStyle_TwoSideArrows() ? "_NR" : "_MAC";
    auto* vertical = w.Find<CKLF_CtrlScrollBar>(("Demo_VBar" + style).c_str());
    auto* horizontal = w.Find<CKLF_CtrlScrollBar>(("Demo_HBar" + style).c_str());
    auto* navigator = w.Find<CKLF_CtrlStaticImage>("Demo_Navigator");
    const i32 font = w.AddFont("Small 7 Normal");
    if (!top || !left || !vertical || !horizontal || !navigator || font < 0 || !Thumbnail(w, navigator)) return 0;
    top->SetFont(w.GetFont(static_cast<u32>(font)));
    left->SetFont(w.GetFont(static_cast<u32>(font)));
    preview.SetZoom(zoom, -1, -1, 0, 0);
    if (w.AddControl_External(&preview) < 0 ||
        !preview.SetData(view, &photo, vertical, horizontal, top, left, navigator))
      return 0;
    const kltRECT_s range = preview.GetOffsetRange();
    preview.SetOffset((range.left + range.right) / 2, (range.top + range.bottom) / 2, 1);
    preview.DoRedraw(1, 1);
    return 1;
  }
};

class DemoWindow : public CKLT_DemoWindow {
 public:
  kltPOS outside = {-1, -1};
  DemoPreview* preview = nullptr;

  u8 OnCreate(CKLF_LayerSet* set, u16 w, u16 h) override {
    if (!CKLT_DemoWindow::OnCreate(set, w, h)) return 0;
    for (const std::string& r : refused) std::fprintf(stderr, "demo control %s not added\n", r.c_str());
    if (preview && !preview->Add(*this)) return 0;
    i_FindOutside();
    return refused.empty() && button ? 1 : 0;
  }
  void OnTimer(u16 id) override {
    if (id == 2) return i_Tick();
    if (id != 1) return;
    KillTimer(1);
    ForceRedrawRect(klNullRect);
    if (!m_announce.empty()) {
      std::printf("%s\n", m_announce.c_str());
    } else {
      const kltRECT_s w = GetWindowRect(), b = button->GetRenderRect();
      std::printf("ready window %u at %d,%d size %d,%d button %d,%d outside %d,%d\n", GetWindowHandle(), w.left, w.top,
                  w.right - w.left, w.bottom - w.top, (b.left + b.right) / 2, (b.top + b.bottom) / 2, outside.x,
                  outside.y);
      const kltRECT_s v = preview ? preview->view : kltRECT_s{0, 0, 0, 0};
      std::printf("preview %d,%d\n", (v.left + v.right) / 2, (v.top + v.bottom) / 2);
    }
    std::fflush(stdout);
  }
  // The demo's pop-up menu; the choice comes back as 0x130.
  u8 OnContextMenu(i16 x, i16 y, u8) override {
    std::printf("menu open\n");
    std::fflush(stdout);
    return i_Popup(x, y);
  }
  // The menu button opens the same menu under itself; a file command asks
  // for a file.
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override {
    CKLT_DemoWindow::OnCtrlMessage(msg, id, name, type, data);
    if (msg == klMsgClick && name && std::strcmp(name, "Demo_Menu") == 0) {
      const kltRECT_s r = GetControl(id)->GetRenderRect();
      OnContextMenu(static_cast<i16>(r.left), static_cast<i16>(r.bottom), 0);
    }
    if (msg == klMsgMenu && data) i_FileQuestion(*static_cast<u16*>(data));
    if (msg == klMsgMenu && data && *static_cast<u16*>(data) == kMessage) {
      m_App->PlatformMessageBox("The demo's message, in the platform's own alert.", "Message", this);
      log->Line("message closed");
    }
    return 1;
  }
  // Every press that reaches the window, caption or not; ready once the
  // platform has asked for the first picture.
  int32_t OnPlatformEvent(const KLP_Event& e) override {
    if (e.eventClass == klpClassMouse && e.kind == klpMouseDown) {
      const kltRECT_s w = GetWindowRect();
      log->Add("press %ld,%ld", e.where.x - w.left, e.where.y - w.top);
    }
    const int32_t handled = CKLT_RecordingWindow::OnPlatformEvent(e);
    if (e.eventClass == klpClassWindow && e.kind == klpWindowDraw && !m_drawn++) i_Announce("", 300);
    return handled;
  }
  u8 OnKeyDown(u8 key, u8 mods) override {
    CKLT_RecordingWindow::OnKeyDown(key, mods);
    if (key == klKeyEscape) Close();
    if (key == klKeyTab) i_NextLook();
    return 1;
  }
  u8 OnKeyChar(u8 c, u8 mods) override {
    CKLT_RecordingWindow::OnKeyChar(c, mods);
    if (c != 'l') return 1;
    log->Add("launched %ld", KLP_LaunchURL("https://example.org/tessarette-help"));
    m_ticks = 0;
    if (!SetTimer(100, 2)) log->Add("the timer cannot run");
    return 1;
  }

 private:
  // The line is printed once the picture has reached the screen (the first
  // one once the preview's refined picture has too).
  void i_NextLook() {
    m_look = static_cast<u8>((m_look + 1) % kLooks);
    ShowLook(m_look);
    i_Announce("look " + std::to_string(m_look));
  }
  void i_Tick() {
    log->Add("tick %ld", ++m_ticks);
    if (m_ticks < 3) return;
    KillTimer(2);
    i_NextLook();
  }
  void i_Announce(const std::string& line, u32 delay = 20) {
    m_announce = line;
    if (!SetTimer(delay, 1)) log->Add("the timer cannot run");
  }
  // A point of the window's rectangle outside its shape, for the test to
  // prove that a click there does not arrive.
  void i_FindOutside() {
    CKLF_WindowResource res;
    if (!res.Load(m_App->GetStorage(), "Demo")) return;
    CKLF_Mem bits;
    u32 rowBytes = 0;
    if (!res.MakeShape(bits, rowBytes)) return;
    for (u32 y = 0; y < res.GetHeight() && outside.x < 0; ++y)
      for (u32 x = 0; x < res.GetWidth(); ++x)
        if (!(bits.GetPtr()[y * rowBytes + x / 8] & (0x80 >> (x % 8)))) {
          outside = {static_cast<i32>(x), static_cast<i32>(y)};
          break;
        }
  }

  enum : u16 { kMessage = 1, kOpen = 5, kSave = 6 };
  u8 i_Popup(i16 x, i16 y) {
    CKLF_PlatformPopupMenu menu;
    menu.Create();
    menu.AddItem("Message...", kMessage, 0, 0);
    menu.AddItem("Second", 2, 1, 0);
    menu.AddSeparator();
    menu.AddItem("Disabled", 4, 0, 1);
    menu.AddItem("Open...", kOpen, 0, 0, 1, 0, 0, "O");
    menu.AddItem("Save...", kSave, 0, 0, 1, 1, 0, "S");
    return menu.DoPopup(this, x, y, 0);
  }
  static u8 WriteDemo(CKLF_StdFile* f, void*) {
    static const char kText[] = "Tessarette demo\n";
    return f->Write(kText, sizeof kText - 1) == sizeof kText - 1 ? 1 : 0;
  }
  void i_FileQuestion(u16 command) {
    if (command != kOpen && command != kSave) return;
    CKLF_PlatformFileDialog dialog;
    CKLF_StringArray extensions;
    if (extensions.Add("txt", 0) < 0 || !dialog.AddFilter("Text", &extensions, 0)) return;
    dialog.SetWindowTitle(command == kOpen ? "Open a text" : "Save the demo text");
    dialog.SetDefaultSaveName("demo.txt");
    const u8 done =
        command == kOpen ? dialog.DoFileOpenDialog(this, 0) : dialog.DoFileSaveDialog(WriteDemo, nullptr, this, 0, 0);
    log->Line(std::string(command == kOpen ? "open " : "save ") + (done ? dialog.GetResultPath().Path() : "-"));
  }

  std::string m_announce;
  int m_drawn = 0;
  long m_ticks = 0;
  u8 m_look = 0;
};

int RunWindow(const char* resources, CKLP_UIPlatform* ui, const char* png, u8 look, const char* zoom) {
  KLP_SetUI(ui);
  CKLF_App app;
  m_App = &app;
  if (!app.InitStorgaeResource(resources, 1)) {
    std::fprintf(stderr, "cannot open %s (error %u)\n", resources, app.GetError());
    return 1;
  }
  UITestLog log;
  log.echo = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  int rc = 0;
  {
    DemoPreview preview;
    preview.zoom = static_cast<u8>(zoom ? std::atoi(zoom) : 2);
    DemoWindow w;
    w.log = &log;
    w.preview = &preview;
    if (!w.CreateFromResource("Demo", kX, kY, nullptr, 0)) {
      std::fprintf(stderr, "cannot create the window (error %u)\n", w.GetError());
      return 1;
    }
    app.SetMainWindow(&w);
    w.SetFocus();
    w.ShowLook(look);
    if (png) {
      auto* headless = static_cast<CKLP_HeadlessUI*>(ui);
      headless->Pump();
      headless->AdvanceClock(300);  // the preview's refine
      headless->Pump();
      rc = headless->SavePNG(w.GetWindowHandle(), png) ? 0 : 1;
    } else {
      app.Run();
    }
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
  return rc;
}

// How dark a screenshot of one of GTK's own windows is, how much of it is
// the palette's face, and how much of its accent it shows.
int Shot(const char* shotPath, const char* pngPath) {
  klt_screenshot::Picture shot;
  if (!klt_screenshot::ReadXWD(shotPath, shot) || shot.rgba.empty() || !klt_screenshot::WritePNG(pngPath, shot)) {
    std::fprintf(stderr, "cannot read %s or write %s\n", shotPath, pngPath);
    return 1;
  }
  auto linear = [](u8 v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  auto near = [](const u8* px, u32 colour, int tolerance) {
    for (int c = 0; c < 3; ++c)
      if (std::abs(px[c] - static_cast<int>((colour >> (16 - 8 * c)) & 255)) > tolerance) return false;
    return true;
  };
  double sum = 0;
  u64 face = 0, accent = 0;
  const u64 pixels = shot.rgba.size() / 4;
  for (size_t i = 0; i < shot.rgba.size(); i += 4) {
    const u8* px = &shot.rgba[i];
    sum += 0.2126 * linear(px[0]) + 0.7152 * linear(px[1]) + 0.0722 * linear(px[2]);
    face += near(px, klp_palette::kFace, 1) || near(px, klp_palette::kField, 1);
    accent += near(px, klp_palette::kAccent, 24);
  }
  std::printf("shot %u,%u mean %.3f face %.3f accent %llu\n", shot.width, shot.height, sum / pixels,
              static_cast<double>(face) / pixels, static_cast<unsigned long long>(accent));
  return 0;
}

int Pixel(const char* path, int x, int y) {
  klt_screenshot::Picture p;
  const size_t n = std::strlen(path);
  const bool xwd = n > 4 && std::strcmp(path + n - 4, ".xwd") == 0;
  if (!(xwd ? klt_screenshot::ReadXWD(path, p) : klt_screenshot::ReadPNG(path, p)) || x < 0 || y < 0 ||
      static_cast<u32>(x) >= p.width || static_cast<u32>(y) >= p.height) {
    std::fprintf(stderr, "cannot read %s or no pixel %d,%d in it\n", path, x, y);
    return 1;
  }
  const u8* px = &p.rgba[(static_cast<size_t>(y) * p.width + static_cast<size_t>(x)) * 4];
  std::printf("pixel %02x%02x%02x\n", px[0], px[1], px[2]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--shot") == 0) return Shot(argv[2], argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "--pixel") == 0) return Pixel(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  if (argc == 7 && std::strcmp(argv[1], "--compare") == 0)
    return klt_screenshot::Compare(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
  if (argc >= 4 && argc <= 6 && std::strcmp(argv[2], "--headless") == 0) {
    CKLP_HeadlessUI ui;
    const u8 look = static_cast<u8>(argc >= 5 ? std::atoi(argv[4]) % CKLT_DemoWindow::kLooks : 0);
    return RunWindow(argv[1], &ui, argv[3], look, argc == 6 ? argv[5] : nullptr);
  }
  if ((argc == 3 || argc == 4) && std::strcmp(argv[2], "--display") == 0) {
    std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
    if (!ui) {
      std::fprintf(stderr, "no display\n");
      return 2;
    }
    return RunWindow(argv[1], ui.get(), nullptr, 0, argc == 4 ? argv[3] : nullptr);
  }
  std::fprintf(stderr, "usage: klt_uidemo RESOURCES --display [ZOOM] | RESOURCES --headless OUT.png [LOOK [ZOOM]] |\n"
                       "       --compare SHOT.xwd WINDOW.png X Y CROP.png | --shot SHOT.xwd OUT.png |\n"
                       "       --pixel PICTURE X Y\n");
  return 2;
}
