// The demo window through a real display, for the real-window test.
//
//   klt_uidemo RESOURCES --display       opens "Demo" at (100, 80) on the
//       display, prints "ready window N at X,Y size W,H button BX,BY outside
//       OX,OY" once its first picture is on screen, then one line per event
//       that reaches the window or its button; Escape closes it. The
//       edit line, the list and the "Presets" menu button are the
//       toolkit's; the menu (also on a right click) offers "Open..." and
//       "Save..." through the file dialog ("open PATH", "save PATH", "-"
//       when cancelled).
//   klt_uidemo RESOURCES --headless OUT.png   the same window on the
//       headless platform, saved with its shape as alpha.
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
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlList.h"
#include "CKLF_PlatformFileDialog.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CKLP_HeadlessUI.h"
#include "KLF_BigEndian.h"
#include "ui/UITestWindow.h"

namespace {

constexpr i16 kX = 100, kY = 80;

class DemoWindow : public CKLT_RecordingWindow {
 public:
  CKLT_TestControl* button = nullptr;
  kltPOS outside = {-1, -1};

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
    i_FindOutside();
    if (!i_AddEditingControls()) return 0;
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
    std::fflush(stdout);
  }
  // The demo's pop-up menu; the choice comes back as 0x130.
  u8 OnContextMenu(i16 x, i16 y, u8) override {
    std::printf("menu open\n");
    std::fflush(stdout);
    return i_Popup(x, y);
  }
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override {
    CKLT_RecordingWindow::OnCtrlMessage(msg, id, name, type, data);
    if (msg == klMsgClick && id == m_menuButton) i_Popup(130, 82);
    if (msg == klMsgMenu && data) i_FileQuestion(*static_cast<u16*>(data));
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

  // The edit line, the list with its bar and the menu button, real.
  u8 i_AddEditingControls() {
    realControls = 1;
    const i32 edit = AddControl("Demo_Edit", klCtrlEditLine), list = AddControl("Demo_List", klCtrlList);
    const i32 bar = AddControl("Demo_ListBar", klCtrlScrollBar), menu = AddControl("Demo_Menu", klCtrlButton);
    const i32 editFont = AddFont("Edit Font"), listFont = AddFont("List Font");
    if (edit < 0 || list < 0 || bar < 0 || menu < 0 || editFont < 0 || listFont < 0) return 0;
    auto* e = static_cast<CKLF_CtrlEditLine*>(GetControl(static_cast<u32>(edit)));
    const kltRGBA8 colours[10] = {{0x1D, 0x1D, 0x20, 255}, {0x26, 0x26, 0x2A, 255}, {0x10, 0x10, 0x12, 255},
                                  {0x2F, 0x5F, 0x95, 255}, {0x24, 0x24, 0x26, 255}, {0xD2, 0xD2, 0xD8, 255},
                                  {0xF0, 0xF0, 0xF4, 255}, {0xFF, 0xFF, 0xFF, 255}, {0xFF, 0xFF, 0xFF, 255},
                                  {0x6A, 0x6A, 0x70, 255}};
    e->SetColors(colours);
    e->SetFont(GetFont(static_cast<u32>(editFont)));
    e->SetOptions(1, 0, 1, 0, 1, 0);
    e->SetText("12.5", 0);
    auto* l = static_cast<CKLF_CtrlList*>(GetControl(static_cast<u32>(list)));
    l->SetFont(GetFont(static_cast<u32>(listFont)));
    l->SetOptions(1, 1, 16, 4, 1, static_cast<u32>(bar));
    for (const char* item : {"Squares", "Hexagons", "Triangles", "Diamonds", "Waves", "Classic", "Random"})
      l->AddItem(item, 0, nullptr, 1);
    l->UpdateAfterChanges();
    static_cast<CKLF_CtrlButton*>(GetControl(static_cast<u32>(menu)))->SetMenuMode(1);
    m_menuButton = static_cast<u32>(menu);
    realControls = 0;
    return 1;
  }
  enum : u16 { kOpen = 5, kSave = 6 };
  u8 i_Popup(i16 x, i16 y) {
    CKLF_PlatformPopupMenu menu;
    menu.Create();
    menu.AddItem("First", 1, 0, 0);
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
    extensions.Add("txt", 0);
    dialog.AddFilter("Text", &extensions, 0);
    dialog.SetWindowTitle(command == kOpen ? "Open a text" : "Save the demo text");
    dialog.SetDefaultSaveName("demo.txt");
    const u8 done = command == kOpen ? dialog.DoFileOpenDialog(this, 0) : dialog.DoFileSaveDialog(WriteDemo, nullptr, this, 0, 0);
    log->Line(std::string(command == kOpen ? "open " : "save ") + (done ? dialog.GetResultPath().Path() : "-"));
  }

  CKLF_Mem m_block;
  CKLF_Layer m_picture;
  int m_drawn = 0;
  u32 m_menuButton = 0;
};

int RunWindow(const char* resources, CKLP_UIPlatform* ui, const char* png) {
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
    DemoWindow w;
    w.log = &log;
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
  if (argc == 4 && std::strcmp(argv[2], "--headless") == 0) {
    CKLP_HeadlessUI ui;
    return RunWindow(argv[1], &ui, argv[3]);
  }
  if (argc == 3 && std::strcmp(argv[2], "--display") == 0) {
    std::unique_ptr<CKLP_UIPlatform> ui(KLP_OpenDisplayUI());
    if (!ui) {
      std::fprintf(stderr, "no display\n");
      return 2;
    }
    return RunWindow(argv[1], ui.get(), nullptr);
  }
  std::fprintf(stderr, "usage: klt_uidemo RESOURCES --display | RESOURCES --headless OUT.png |\n"
                       "       --compare SHOT.xwd WINDOW.png X Y CROP.png\n");
  return 2;
}
