// The UI resource store's records through the toolkit's readers. A sound
// store (a window with one control of every kind, a font, strings, a rect
// and the accelerators) is built once; each input then overrides its
// records, so mutations reach what lies inside them rather than the
// container (fuzz_storage has that):
//   op byte: kind in the top two bits, record (modulo their count) below
//     0 patch:   u16 offset, u8 n, n bytes written at offset (wrapping)
//     1 replace: u16 length, the record's new content
//     2 remove:  the record is left out
//     3 resize:  u16 length, cut or padded with zeros
// A compressed record's content is what it unpacks to, packed again here.
// The window and its controls are made, driven through their states, the
// mouse and the timers on the headless platform, and must stay sound: a
// window no larger than a screen allows, every control inside it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CKLF_App.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlList.h"
#include "CKLF_CtrlProgress.h"
#include "CKLF_CtrlRuler.h"
#include "CKLF_CtrlScrollBar.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_Window.h"
#include "CKLF_WindowResource.h"
#include "CKLF_ZipBlock.h"
#include "CKLP_HeadlessUI.h"
#include "KLF_BigEndian.h"

namespace {

constexpr i32 kW = 64, kH = 48;  // the window

struct Record {
  std::string key;
  u8 type;  // a CKLF_Storage record type
  bool packed;
  std::vector<u8> content;  // numbers big-endian; packed records unpacked
};

std::vector<u8> Image(i32 l, i32 t, i32 r, i32 b, u8 fill, u8 alpha = 255) {
  const size_t n = static_cast<size_t>(r - l) * (b - t);
  std::vector<u8> v(8 + 4 * n, fill);
  KLF_PutBE16(&v[0], static_cast<u16>(l));
  KLF_PutBE16(&v[2], static_cast<u16>(t));
  KLF_PutBE16(&v[4], static_cast<u16>(r));
  KLF_PutBE16(&v[6], static_cast<u16>(b));
  std::fill(v.begin() + 8 + 3 * n, v.end(), alpha);
  return v;
}

std::vector<u8> Mask(i32 l, i32 t, i32 r, i32 b) {
  std::vector<u8> v = Image(l, t, r, b, 255);
  v.resize(8 + static_cast<size_t>(r - l) * (b - t));
  return v;
}

std::vector<u8> Be(u32 v, u8 bytes) {
  std::vector<u8> out(bytes);
  for (u8 i = 0; i < bytes; ++i) out[i] = static_cast<u8>(v >> (8 * (bytes - 1 - i)));
  return out;
}

// Digits and a few letters, 3 x 5 glyphs.
std::vector<u8> Font() {
  std::vector<u8> f = {'K', 'L', 'F', '2', 32, 90};
  for (int c = 32; c <= 90; ++c) {
    f.insert(f.end(), {0, 1, static_cast<u8>(c & 1), 3, 5});
    f.insert(f.end(), 15, static_cast<u8>(c * 7));
  }
  return f;
}

std::vector<Record> SoundStore() {
  std::vector<Record> r;
  auto img = [&](const std::string& key, std::vector<u8> v) { r.push_back({key, CKLF_Storage::klRecBlock, true, v}); };
  auto num = [&](const std::string& key, u8 type, u32 v, u8 bytes) { r.push_back({key, type, false, Be(v, bytes)}); };
  auto rect = [&](const std::string& f, i32 l, i32 t, i32 rr, i32 b) {
    num(f + ">Rect Left", CKLF_Storage::klRecU16, static_cast<u32>(l), 2);
    num(f + ">Rect Top", CKLF_Storage::klRecU16, static_cast<u32>(t), 2);
    num(f + ">Rect Right", CKLF_Storage::klRecU16, static_cast<u32>(rr), 2);
    num(f + ">Rect Bottom", CKLF_Storage::klRecU16, static_cast<u32>(b), 2);
  };
  const std::string w = "UIResources>Windows>W", b = "UIResources>Buttons>B";
  img(w + ">Background", Image(0, 0, kW, kH, 40));
  img(w + ">Caption_Active", Image(0, 0, kW, 6, 90));
  img(w + ">Caption_Inactive", Image(0, 0, kW, 6, 60));
  img(w + ">Drag_Area", Mask(0, 0, kW, 6));
  for (const char* s : {">Normal", ">Highlighted", ">Pressed", ">Pressed Mouse Out", ">Disabled"})
    img(b + s, Image(2, 8, 14, 14, 120));
  img(b + ">Data", Mask(2, 8, 14, 14));
  for (const char* s : {">Normal On", ">Normal Off", ">Pressed On"}) img(std::string("UIResources>Check Boxes>C") + s, Image(16, 8, 22, 14, 150));
  img("UIResources>Check Boxes>C>Data", Mask(16, 8, 22, 14));
  for (const char* s : {">Normal On", ">Normal Off", ">Highlighted"}) img(std::string("UIResources>Radio Buttons>R") + s, Image(24, 8, 30, 14, 170));
  img("UIResources>Radio Buttons>R>Data", Mask(24, 8, 30, 14));
  num("UIResources>Radio Buttons>R>Group ID", CKLF_Storage::klRecU8, 1, 1);
  img("UIResources>Static Images>I>Normal", Image(32, 8, 40, 14, 200, 0));
  img("UIResources>Static Images>I>Disabled", Image(32, 8, 40, 14, 100));
  img("UIResources>Static Images>H>Normal", Image(0, 40, 64, 48, 220, 0));  // a ruler
  img("UIResources>Static Texts>T>Normal", Image(42, 8, 62, 14, 230));
  img("UIResources>Progresses>P>Normal", Image(2, 16, 30, 19, 180));
  img("UIResources>Progresses>P>Data", Image(2, 16, 30, 19, 128));
  rect("UIResources>Edits>E", 32, 16, 62, 22);
  const std::string s = "UIResources>Scroll Bars>S";
  num(s + ">Is Vertical", CKLF_Storage::klRecU8, 1, 1);
  img(s + ">Background_Normal", Image(56, 24, 62, 40, 30));
  img(s + ">Thumb_Normal", Image(56, 24, 62, 30, 140));
  std::vector<u8> parts = Image(56, 24, 62, 30, 0);  // rows: 2 head (red), 2 tile (blue), 2 tail (green)
  for (u32 y = 0; y < 6; ++y)
    for (u32 x = 0; x < 6; ++x) parts[8 + (y < 2 ? 0 : y < 4 ? 2 : 1) * 36 + y * 6 + x] = 255;
  img(s + ">Thumb_Data", parts);
  rect(s, 56, 24, 62, 40);
  const std::string l = "UIResources>Lists>L";
  img(l + ">Background_Normal", Image(2, 22, 30, 38, 25));
  img(l + ">Background_Selected", Image(2, 22, 30, 38, 70));
  img(l + ">Foreground_Selected", Image(2, 22, 30, 38, 250));
  rect(l, 2, 22, 30, 38);
  const std::string d = "UIResources>Sliders>D";
  std::vector<u8> coors;
  for (u8 j = 0; j < 5; ++j) {
    const std::vector<u8> x = Be(34u + 4 * j, 2), y = Be(30, 2);
    coors.insert(coors.end(), {x[0], x[1], y[0], y[1], static_cast<u8>(j == 2)});
  }
  num(d + ">Data_NumPoints", CKLF_Storage::klRecU16, 5, 2);
  r.push_back({d + ">Data_Coors", CKLF_Storage::klRecBlock, false, coors});
  num(d + ">Data_ValueStart", CKLF_Storage::klRecU32, 0, 4);
  num(d + ">Data_ValueEnd", CKLF_Storage::klRecU32, 100, 4);
  num(d + ">Data_Value_0", CKLF_Storage::klRecU32, 40, 4);
  img(d + ">Background_Normal", Image(32, 26, 54, 34, 50));
  img(d + ">Thumb_Normal", Image(32, 27, 36, 33, 210));
  img(d + ">Data_HotZone", Image(32, 26, 54, 34, 255));
  num(d + ">HotSpot_X", CKLF_Storage::klRecU16, 34, 2);
  num(d + ">HotSpot_Y", CKLF_Storage::klRecU16, 30, 2);
  img("UIResources>Fonts>F", Font());
  std::vector<u8> accel(2 * 108);
  accel[0] = 1, accel[4] = 'Q', accel[6] = 7, accel[108 + 4] = 221, accel[108 + 6] = 8;
  img("UIResources>Accelerators", accel);
  r.push_back({"UIResources>Strings>Title", CKLF_Storage::klRecString, false, {'W', 'i', 'n'}});
  rect("UIResources>Rects>View", 2, 22, 30, 38);
  return r;
}

// Applies the input's operations to a copy of the sound records.
std::vector<Record> Override(const std::vector<Record>& sound, const u8* p, size_t size) {
  std::vector<Record> r = sound;
  std::vector<bool> removed(r.size());
  size_t at = 0;
  auto u16At = [&](size_t i) { return static_cast<u16>(p[i] << 8 | p[i + 1]); };
  while (at < size) {
    const u8 op = p[at] >> 6;
    const size_t k = (p[at] & 63) % r.size();
    std::vector<u8>& c = r[k].content;
    ++at;
    if (op == 2) {
      removed[k] = true;
    } else if (op == 0 && at + 3 <= size) {
      const u16 offset = u16At(at);
      const size_t n = std::min<size_t>(p[at + 2], size - at - 3);
      for (size_t i = 0; i < n; ++i) {
        if (c.empty()) c.push_back(0);
        c[(offset + i) % c.size()] = p[at + 3 + i];
      }
      at += 3 + n;
    } else if (op == 1 && at + 2 <= size) {
      const size_t n = std::min<size_t>(u16At(at), size - at - 2);
      c.assign(p + at + 2, p + at + 2 + n);
      at += 2 + n;
    } else if (op == 3 && at + 2 <= size) {
      c.resize(u16At(at));
      at += 2;
    } else {
      break;
    }
  }
  std::vector<Record> kept;
  for (size_t i = 0; i < r.size(); ++i)
    if (!removed[i]) kept.push_back(r[i]);
  return kept;
}

// The records into a new container at path; false when one cannot be
// stored as it is (a number of the wrong width, an empty string).
bool WriteStore(const char* path, const std::vector<Record>& records) {
  CKLF_Storage st;
  if (!st.Open(path, 2)) return false;
  for (const Record& r : records) {
    for (size_t p = r.key.find('>'); p != std::string::npos; p = r.key.find('>', p + 1))
      if (st.GetRecType(r.key.substr(0, p).c_str()) == CKLF_Storage::klRecMissing &&
          !st.AddFolder(r.key.substr(0, p).c_str()))
        return false;
    const std::vector<u8>& c = r.content;
    const CKLF_String key(r.key.c_str());
    u8 ok = 0;
    if (r.type == CKLF_Storage::klRecU8 && c.size() == 1) ok = st.SetRecord(key, c[0]);
    else if (r.type == CKLF_Storage::klRecU16 && c.size() == 2) ok = st.SetRecord(key, KLF_GetBE16(c.data()));
    else if (r.type == CKLF_Storage::klRecU32 && c.size() == 4) ok = st.SetRecord(key, KLF_GetBE32(c.data()));
    else if (r.type == CKLF_Storage::klRecString && !c.empty() && !std::memchr(c.data(), 0, c.size()))
      ok = st.SetRecord(key, CKLF_String(std::string(c.begin(), c.end()).c_str()));
    else if (r.type == CKLF_Storage::klRecBlock && !r.packed && !c.empty())
      ok = st.SetRecord(key, c.data(), static_cast<u32>(c.size()));
    else if (r.type == CKLF_Storage::klRecBlock && r.packed && !c.empty()) {
      CKLF_ZipBlock zip;
      zip.SetMode(3);
      zip.SetSourceBlock(c.data(), static_cast<u32>(c.size()));
      CKLF_Mem packed;
      zip.SetDestBlock(&packed);
      ok = zip.Process() && st.SetRecord(key, packed.GetPtr(), packed.GetSize());
    }
    if (!ok) return false;
  }
  return st.Close() != 0;
}

bool Inside(kltRECT_s r, kltRECT_s w) {
  return klIsNullRect(r) ||
         (r.left >= w.left && r.top >= w.top && r.right <= w.right && r.bottom <= w.bottom && r.left <= r.right &&
          r.top <= r.bottom);
}

// Every control the store describes, driven once it is up.
class Window : public CKLF_Window {
 public:
  u8 OnCreate(CKLF_LayerSet*, u16, u16) override {
    const struct {
      const char* name;
      u8 type;
    } controls[] = {{"B", klCtrlButton},   {"C", klCtrlCheckBox},    {"R", klCtrlRadioButton}, {"I", klCtrlStaticImage},
                    {"H", klCtrlRuler},    {"T", klCtrlStaticText},  {"P", klCtrlProgress},    {"E", klCtrlEditLine},
                    {"S", klCtrlScrollBar}, {"L", klCtrlList},       {"D", klCtrlSlider}};
    const i32 font = AddFont("F");
    CKLF_Font* f = font < 0 ? nullptr : GetFont(static_cast<u32>(font));
    for (const auto& c : controls) {
      const i32 id = AddControl(c.name, c.type);
      if (id < 0) continue;
      CKLF_Control* ctl = GetControl(static_cast<u32>(id));
      if (!Inside(ctl->GetRenderRect(), GetClientRect())) __builtin_trap();
      Drive(ctl, f);
    }
    CKLF_String s;
    kltRECT_s r;
    (void)GetResourceString("Title", s);
    (void)GetResourceRect("View", r);
    return 1;
  }

 private:
  static void Drive(CKLF_Control* c, CKLF_Font* f) {
    c->Enable(0);
    c->Enable(1);
    c->SetCheck(1, 1);
    switch (c->GetType()) {
      case klCtrlButton: static_cast<CKLF_CtrlButton*>(c)->SetState(4); break;
      case klCtrlRuler: {
        auto* ruler = static_cast<CKLF_CtrlRuler*>(c);
        ruler->SetFont(f);
        const CKLF_CtrlRuler::KLF_RulerData d = {1, 3, 2, 1, 0, 0, 40, 0, 9, 0.0};
        ruler->SetData(&d, 1);
        break;
      }
      case klCtrlStaticText:
        static_cast<CKLF_CtrlStaticText*>(c)->SetFont(f);
        static_cast<CKLF_CtrlStaticText*>(c)->SetText("AB 12", 1, 1, 6);
        break;
      case klCtrlProgress: static_cast<CKLF_CtrlProgress*>(c)->SetValue(70); break;
      case klCtrlEditLine:
        static_cast<CKLF_CtrlEditLine*>(c)->SetFont(f);
        static_cast<CKLF_CtrlEditLine*>(c)->SetText("12.5", 1);
        break;
      case klCtrlScrollBar:
        static_cast<CKLF_CtrlScrollBar*>(c)->SetInfo(50, 7);
        static_cast<CKLF_CtrlScrollBar*>(c)->SetPosition(20);
        break;
      case klCtrlList:
        static_cast<CKLF_CtrlList*>(c)->SetFont(f);
        for (const char* item : {"A", "B", "C", "D"}) (void)static_cast<CKLF_CtrlList*>(c)->AddItem(item, 0, nullptr, 0);
        break;
      case klCtrlSlider:
        static_cast<CKLF_CtrlSlider*>(c)->SetValue(55, 1);
        static_cast<CKLF_CtrlSlider*>(c)->OnMouseWheel(0, 0, 0, 3);
        break;
      default: break;
    }
  }
};

void Exercise(const char* path) {
  CKLP_HeadlessUI ui;
  KLP_SetUI(&ui);
  CKLF_App app;
  m_App = &app;
  if (app.InitStorgaeResource(path, 1)) {
    CKLF_WindowResource res;
    if (res.Load(app.GetStorage(), "W") &&
        (res.GetWidth() > CKLF_WindowResource::klMaxWindowSide || res.GetHeight() > CKLF_WindowResource::klMaxWindowSide))
      __builtin_trap();
    Window w;
    if (w.CreateFromResource("W", 10, 10, nullptr, 0)) {
      w.SetFocus();
      ui.Pump();
      // Over every control, a press, a drag, a release, the wheel, keys.
      for (i32 y = 4; y < kH; y += 6)
        for (i32 x = 3; x < kW; x += 7) ui.PostMouse(klpMouseMoved, 10 + x, 10 + y);
      for (const kltPOS p : {kltPOS{5, 10}, kltPOS{19, 10}, kltPOS{27, 10}, kltPOS{44, 30}, kltPOS{58, 30},
                             kltPOS{10, 30}, kltPOS{40, 18}}) {
        ui.PostMouse(klpMouseDown, 10 + p.x, 10 + p.y);
        ui.PostMouse(klpMouseDragged, 12 + p.x, 11 + p.y);
        ui.PostMouse(klpMouseUp, 12 + p.x, 11 + p.y);
        ui.PostWheel(10 + p.x, 10 + p.y, -2);
      }
      ui.PostKey(klpKeyDown, 0x0C, 'q', klpCmdKey);
      ui.PostKey(klpKeyDown, 0x7D, 0);
      ui.Pump();
      ui.AdvanceClock(700);
      ui.Pump();
      w.Close();
    }
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  static const std::vector<Record> sound = SoundStore();
  static int fd = memfd_create("fuzz_ui_resources", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  if (WriteStore(path, Override(sound, data, size))) Exercise(path);
  return 0;
}
