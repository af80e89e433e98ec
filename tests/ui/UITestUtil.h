// Building small UI stores for the toolkit's tests: compressed records with
// a rectangle header, in a read-write store in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CKLF_Storage.h"
#include "CKLF_ZipBlock.h"
#include "KLF_BigEndian.h"
#include "support/TestSupport.h"

inline std::vector<u8> Pack(const std::vector<u8>& raw) {
  CKLF_ZipBlock zip;
  zip.SetMode(1);
  zip.SetSourceBlock(raw.data(), static_cast<u32>(raw.size()));
  CKLF_Mem out;
  zip.SetDestBlock(&out);
  EXPECT_EQ(zip.Process(), 1);
  return std::vector<u8>(out.GetPtr(), out.GetPtr() + out.GetSize());
}

// A rectangle header followed by extra bytes of value fill.
inline std::vector<u8> Rec(u16 l, u16 t, u16 r, u16 b, size_t extra, u8 fill = 255) {
  std::vector<u8> v(8 + extra, fill);
  KLF_PutBE16(&v[0], l);
  KLF_PutBE16(&v[2], t);
  KLF_PutBE16(&v[4], r);
  KLF_PutBE16(&v[6], b);
  return v;
}

// A read-write store in a temporary folder.
struct Store {
  klftest::TempDir dir;
  CKLF_Storage s;
  Store() { EXPECT_EQ(s.Open(CKLF_String(Path().c_str()), 2), 1); }
  std::string Path() const { return dir.File("r.kls4"); }
  void Folders(const std::string& key) {
    for (size_t p = key.find('>'); p != std::string::npos; p = key.find('>', p + 1))
      if (s.GetRecType(key.substr(0, p).c_str()) == CKLF_Storage::klRecMissing) {
        ASSERT_TRUE(s.AddFolder(key.substr(0, p).c_str()));
      }
  }
  void Put(const std::string& key, const std::vector<u8>& bytes) {
    Folders(key);
    ASSERT_EQ(s.SetRecord(key.c_str(), bytes.data(), static_cast<u32>(bytes.size())), 1) << key;
  }
  // A u8, u16 or u32 record.
  template <class T>
  void Value(const std::string& key, T v) {
    Folders(key);
    ASSERT_EQ(s.SetRecord(key.c_str(), v), 1) << key;
  }
  void Rect(const std::string& folder, kltRECT_s r) {
    Value(folder + ">Rect Left", static_cast<u16>(r.left));
    Value(folder + ">Rect Top", static_cast<u16>(r.top));
    Value(folder + ">Rect Right", static_cast<u16>(r.right));
    Value(folder + ">Rect Bottom", static_cast<u16>(r.bottom));
  }
  void Folder(const std::string& key) { Put(key + ">x", {0}); }
};

// The toolkit on the headless platform: a UI store with window "W" (200 x
// 100, opaque, colour 10, 20, 30), button folders "A" to "C" and edit
// folder "E"; the store is opened by Open once the test has added to it.
#include <algorithm>
#include <memory>

#include "CKLF_App.h"
#include "CKLP_HeadlessUI.h"
#include "ui/UITestWindow.h"

// An image record of one colour.
inline std::vector<u8> Picture(u16 l, u16 t, u16 r, u16 b, kltRGBA8 c) {
  const size_t n = static_cast<size_t>(r - l) * (b - t);
  std::vector<u8> v = Rec(l, t, r, b, 4 * n);
  const u8 fill[4] = {c.red, c.green, c.blue, c.alpha};
  for (size_t p = 0; p < 4; ++p) std::fill(v.begin() + 8 + p * n, v.begin() + 8 + (p + 1) * n, fill[p]);
  return v;
}

inline std::vector<u8> Picture(kltRECT_s r, kltRGBA8 c) {
  return Picture(static_cast<u16>(r.left), static_cast<u16>(r.top), static_cast<u16>(r.right),
                 static_cast<u16>(r.bottom), c);
}

// A font of the codes 32..126 whose glyphs are 6 x 8 boxes of coverage
// 200 on the top line, 7 pixels apart.
inline void OpenBoxFont(CKLF_Font& font) {
  std::vector<u8> r = {'K', 'L', 'F', '2', 32, 126};
  for (int c = 32; c <= 126; ++c) {
    r.insert(r.end(), {0, 1, 0, 6, 8});
    r.insert(r.end(), 48, 200);
  }
  EXPECT_EQ(font.OpenRecord(r.data(), static_cast<u32>(r.size())), 1);
}

inline std::vector<u8> Background(u16 l, u16 t, u16 r, u16 b, u8 alpha = 255) {
  return Picture(l, t, r, b, {10, 20, 30, alpha});
}

class UIToolkitTest : public ::testing::Test {
 protected:
  CKLP_HeadlessUI ui;
  CKLF_App app;
  Store st;
  UITestLog log;
  std::vector<std::unique_ptr<CKLT_RecordingWindow>> windows;

  void SetUp() override {
    KLP_SetUI(&ui);
    m_App = &app;
    st.Put("UIResources>Windows>W>Background", Pack(Background(0, 0, 200, 100)));
    for (const char* n : {"A", "B", "C"}) st.Folder(std::string("UIResources>Buttons>") + n);
    st.Folder("UIResources>Edits>E");
  }
  void TearDown() override {
    windows.clear();
    m_App = nullptr;
    KLP_SetUI(nullptr);
  }
  void Open() {
    ASSERT_EQ(st.s.Close(), 1);
    ASSERT_EQ(app.InitStorgaeResource(st.Path().c_str(), 1), 1);
  }
  // Window "W" (or another) at (x, y), shown, active and drawn; the log emptied.
  CKLT_RecordingWindow* Window(i16 x = 100, i16 y = 100, CKLF_Window* parent = nullptr, const char* name = "W") {
    windows.push_back(std::make_unique<CKLT_RecordingWindow>());
    CKLT_RecordingWindow* w = windows.back().get();
    w->log = &log;
    EXPECT_EQ(w->CreateFromResource(name, x, y, parent, 0), 1);
    w->SetFocus();
    ui.Pump();
    log.Take();
    return w;
  }
  // A mouse event at (x, y) in a window at (100, 100); the messages it brought.
  std::string Mouse(u16 kind, i32 x, i32 y, u32 mods = 0) {
    ui.PostMouse(kind, 100 + x, 100 + y, 1, mods);
    ui.Pump();
    return log.Take("msg");
  }
  // The window's pixel at a window point as 0xRRGGBB.
  u32 Pixel(CKLF_Window* w, i32 x, i32 y) {
    u8 rgb[3] = {};
    EXPECT_TRUE(ui.GetPixel(w->GetWindowHandle(), x, y, rgb)) << x << "," << y;
    return static_cast<u32>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2];
  }
  // A toolkit control of the window by resource name; null when refused.
  template <class C>
  C* Real(CKLT_RecordingWindow* w, const char* name, u8 type) {
    w->realControls = 1;
    const i32 id = w->AddControl(name, type);
    return id < 0 ? nullptr : static_cast<C*>(w->GetControl(static_cast<u32>(id)));
  }
  CKLT_TestControl* Control(CKLF_Window* w, const char* name, kltRECT_s r, u8 type = klCtrlButton) {
    const i32 id = w->AddControl(name, type);
    EXPECT_GE(id, 0) << name;
    auto* c = static_cast<CKLT_TestControl*>(w->GetControl(static_cast<u32>(id)));
    if (c) c->rect = r;
    return c;
  }
};
