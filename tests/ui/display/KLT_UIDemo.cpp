// The demo window through a real display, for the real-window test.
//
//   klt_uidemo RESOURCES --display       opens "Demo" at (100, 80) on the
//       display, prints "ready window N at X,Y size W,H button BX,BY outside
//       OX,OY" once its first picture is on screen, then one line per event
//       that reaches the window or its button; Escape closes it.
//   klt_uidemo RESOURCES --headless OUT.png   the same window on the
//       headless platform, saved with its shape as alpha.
//   A zoom index after either (2 by default) sets the preview's zoom; the
//   display prints "preview X,Y" (the view's centre) after "ready".
//   klt_uidemo --compare SHOT.xwd WINDOW.png X Y CROP.png   compares an
//       X screenshot at (X, Y) with the headless picture inside its shape
//       and keeps the screen's crop; exit 0 when every pixel matches.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CKLF_App.h"
#include "CKLF_CtrlPreview.h"
#include "CKLF_ImageFX.h"
#include "CKLF_ImagePNG.h"
#include "CKLP_HeadlessUI.h"
#include "KLF_BigEndian.h"
#include "ui/UITestWindow.h"

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
  static CKLF_CtrlScrollBar* Bar(CKLT_RecordingWindow& w, const std::string& name) {
    auto* bar = static_cast<CKLF_CtrlScrollBar*>(Add(w, name, klCtrlScrollBar));
    CKLF_Control* less = Add(w, name + "_Less", klCtrlButton);
    CKLF_Control* more = Add(w, name + "_More", klCtrlButton);
    return bar && less && more && bar->SetButtons(less->GetControlID(), more->GetControlID()) ? bar : nullptr;
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
  u8 Add(CKLT_RecordingWindow& w) {
    if (!LoadPhoto() || !w.GetResourceRect("Demo_Preview", view)) return 0;
    w.realControls = 1;
    auto* top = static_cast<CKLF_CtrlRuler*>(Add(w, "Demo_RulerH", klCtrlRuler));
    auto* left = static_cast<CKLF_CtrlRuler*>(Add(w, "Demo_RulerV", klCtrlRuler));
    CKLF_CtrlScrollBar* vertical = Bar(w, "Demo_VBar_NR");
    CKLF_CtrlScrollBar* horizontal = Bar(w, "Demo_HBar_NR");
    auto* navigator = static_cast<CKLF_CtrlStaticImage*>(Add(w, "Demo_Navigator", klCtrlStaticImage));
    w.realControls = 0;
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

class DemoWindow : public CKLT_RecordingWindow {
 public:
  CKLT_TestControl* button = nullptr;
  kltPOS outside = {-1, -1};
  DemoPreview* preview = nullptr;

  u8 OnCreate(CKLF_LayerSet*, u16, u16) override {
    CKLF_UIResources res(m_App->GetStorage());
    kltRECT_s r;
    const u8* data = res.LoadImageData("UIResources>Buttons>Demo_Button>Normal", &r, &m_block);
    if (!data || !m_picture.Create(r, 2)) return 0;
    CKLF_UIResources::SetDataToImage(&m_picture, 0, 0, data, r, 0, 0);
    LSAddLayer(&m_picture);
    const i32 id = AddControl("Demo_Button", klCtrlButton);
    if (id < 0) return 0;
    button = static_cast<CKLT_TestControl*>(GetControl(static_cast<u32>(id)));
    button->rect = r;
    if (preview && !preview->Add(*this)) return 0;
    i_FindOutside();
    return RenderRect(klNullRect);
  }
  void OnRedraw(kltRECT_s rect) override {
    CKLF_Window::OnRedraw(rect);
    if (!m_drawn++) SetTimer(20, 1);  // ready once the picture is on screen
  }
  void OnTimer(u16 id) override {
    if (id != 1) return;
    KillTimer(1);
    ForceRedrawRect(klNullRect);
    const kltRECT_s w = GetWindowRect();
    std::printf("ready window %u at %d,%d size %d,%d button %d,%d outside %d,%d\n", GetWindowHandle(), w.left, w.top,
                w.right - w.left, w.bottom - w.top, (button->rect.left + button->rect.right) / 2,
                (button->rect.top + button->rect.bottom) / 2, outside.x, outside.y);
    const kltRECT_s v = preview ? preview->view : kltRECT_s{0, 0, 0, 0};
    std::printf("preview %d,%d\n", (v.left + v.right) / 2, (v.top + v.bottom) / 2);
    std::fflush(stdout);
  }
  // A pop-up menu; the choice is printed ("menu 3", "menu -1" when dismissed).
  u8 OnContextMenu(i16 x, i16 y, u8) override {
    std::vector<KLP_MenuItem> items(5);
    const char* const texts[] = {"First", "Second", "", "Disabled", "Last"};
    for (size_t i = 0; i < items.size(); ++i) items[i].text = texts[i];
    items[1].checked = true;
    items[2].separator = true;
    items[3].disabled = true;
    items[4].shortcutKey = 'L';
    items[4].shortcutCommand = true;
    const kltRECT_s w = GetWindowRect();
    std::printf("menu open\n");
    std::fflush(stdout);
    log->Add("menu %ld", KLP_GetUI()->PopupMenu(GetWindowHandle(), items, {w.left + x, w.top + y}));
    return 1;
  }
  // Every press that reaches the window, caption or not.
  int32_t OnPlatformEvent(const KLP_Event& e) override {
    if (e.eventClass == klpClassMouse && e.kind == klpMouseDown) {
      const kltRECT_s w = GetWindowRect();
      log->Add("press %ld,%ld", e.where.x - w.left, e.where.y - w.top);
    }
    return CKLT_RecordingWindow::OnPlatformEvent(e);
  }
  u8 OnKeyDown(u8 key, u8 mods) override {
    CKLT_RecordingWindow::OnKeyDown(key, mods);
    if (key == klKeyEscape) Close();
    return 1;
  }

 private:
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

  CKLF_Mem m_block;
  CKLF_Layer m_picture;
  int m_drawn = 0;
};

int RunWindow(const char* resources, CKLP_UIPlatform* ui, const char* png, const char* zoom) {
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
    if (png) {
      static_cast<CKLP_HeadlessUI*>(ui)->Pump();
      rc = static_cast<CKLP_HeadlessUI*>(ui)->SavePNG(w.GetWindowHandle(), png) ? 0 : 1;
    } else {
      app.Run();
    }
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
  return rc;
}

struct Picture {
  std::vector<u8> rgba;
  u32 width = 0, height = 0;
};

bool ReadPNG(const char* path, Picture& p) {
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path)) return false;
  img.format = PNG_FORMAT_RGBA;
  p.width = img.width;
  p.height = img.height;
  p.rgba.resize(PNG_IMAGE_SIZE(img));
  return png_image_finish_read(&img, nullptr, p.rgba.data(), 0, nullptr) != 0;
}

u32 Shift(u32 mask) {
  u32 s = 0;
  while (mask && !(mask & 1)) mask >>= 1, ++s;
  return s;
}

// An xwd dump of a 24-bit TrueColor screen (ZPixmap, 3 or 4 bytes a pixel),
// read field by field: a 100-byte big-endian header, the window name, the
// colour table, then the rows.
bool ReadXWD(const char* path, Picture& p) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<u8> b;
  u8 chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) b.insert(b.end(), chunk, chunk + n);
  std::fclose(f);
  if (b.size() < 100) return false;
  auto field = [&](int i) { return KLF_GetBE32(&b[4 * static_cast<size_t>(i)]); };
  const u32 headerSize = field(0), version = field(1), format = field(2), width = field(4), height = field(5);
  const u32 byteOrder = field(7), bpp = field(11), lineBytes = field(12), red = field(14), green = field(15),
            blue = field(16), colours = field(19);
  const u64 start = u64{headerSize} + u64{colours} * 12;
  const u32 step = bpp / 8;
  if (version != 7 || format != 2 || (bpp != 24 && bpp != 32) || lineBytes < u64{width} * step ||
      start + u64{lineBytes} * height > b.size())
    return false;
  p.width = width;
  p.height = height;
  p.rgba.assign(size_t{width} * height * 4, 255);
  for (u32 y = 0; y < height; ++y)
    for (u32 x = 0; x < width; ++x) {
      const u8* s = &b[start + u64{y} * lineBytes + u64{x} * step];
      u32 v = 0;
      for (u32 k = 0; k < step; ++k) v |= u32{s[byteOrder ? step - 1 - k : k]} << (8 * k);
      u8* d = &p.rgba[(size_t{y} * width + x) * 4];
      d[0] = static_cast<u8>((v & red) >> Shift(red));
      d[1] = static_cast<u8>((v & green) >> Shift(green));
      d[2] = static_cast<u8>((v & blue) >> Shift(blue));
    }
  return true;
}

int Compare(const char* shotPath, const char* windowPath, int x0, int y0, const char* cropPath) {
  Picture shot, win;
  if (!ReadXWD(shotPath, shot) || !ReadPNG(windowPath, win)) {
    std::fprintf(stderr, "cannot read %s or %s\n", shotPath, windowPath);
    return 1;
  }
  if (x0 < 0 || y0 < 0 || x0 + win.width > shot.width || y0 + win.height > shot.height) {
    std::fprintf(stderr, "the window lies off the screen\n");
    return 1;
  }
  Picture crop;
  crop.rgba.resize(win.rgba.size());
  u64 inside = 0, differ = 0;
  for (u32 y = 0; y < win.height; ++y)
    for (u32 x = 0; x < win.width; ++x) {
      const u8* s = &shot.rgba[((size_t{y} + y0) * shot.width + x + x0) * 4];
      const u8* w = &win.rgba[(size_t{y} * win.width + x) * 4];
      std::memcpy(&crop.rgba[(size_t{y} * win.width + x) * 4], s, 4);
      if (w[3] != 255) continue;
      ++inside;
      if (std::memcmp(s, w, 3) != 0) ++differ;
    }
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = win.width;
  img.height = win.height;
  img.format = PNG_FORMAT_RGBA;
  png_image_write_to_file(&img, cropPath, 0, crop.rgba.data(), 0, nullptr);
  std::printf("compare: %llu pixels inside the shape, %llu differ\n", static_cast<unsigned long long>(inside),
              static_cast<unsigned long long>(differ));
  return inside > 0 && differ == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "--compare") == 0)
    return Compare(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
  if ((argc == 4 || argc == 5) && std::strcmp(argv[2], "--headless") == 0) {
    CKLP_HeadlessUI ui;
    return RunWindow(argv[1], &ui, argv[3], argc == 5 ? argv[4] : nullptr);
  }
  if ((argc == 3 || argc == 4) && std::strcmp(argv[2], "--display") == 0) {
    std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
    if (!ui) {
      std::fprintf(stderr, "no display\n");
      return 2;
    }
    return RunWindow(argv[1], ui.get(), nullptr, argc == 4 ? argv[3] : nullptr);
  }
  std::fprintf(stderr, "usage: klt_uidemo RESOURCES --display [ZOOM] | RESOURCES --headless OUT.png [ZOOM] |\n"
                       "       --compare SHOT.xwd WINDOW.png X Y CROP.png\n");
  return 2;
}
