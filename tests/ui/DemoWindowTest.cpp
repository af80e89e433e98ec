// The builder's file against the key vocabulary, and the demo window with
// the toolkit's controls made from it.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "CKLF_WindowResource.h"
#include "CKLP_HeadlessUI.h"
#include "ui/DemoWindow.h"

namespace {

// Sub-keys of each control kind: I image, M mask, b u8, w u16, d u32, B block.
struct Kind {
  u8 type;
  std::vector<std::pair<std::string, char>> keys;
};

const char* const kLooks[] = {"Normal", "Highlighted", "Pressed", "Pressed Mouse Out", "Disabled"};

std::vector<Kind> Vocabulary() {
  const std::vector<std::pair<std::string, char>> rect = {
      {"Rect Left", 'w'}, {"Rect Top", 'w'}, {"Rect Right", 'w'}, {"Rect Bottom", 'w'}};
  Kind buttons{5, {{"Data", 'M'}}}, checks{7, {{"Data", 'M'}}}, radios{6, {{"Data", 'M'}, {"Group ID", 'b'}}},
      bars{9, rect}, lists{10, rect}, sliders{1, {}};
  for (const char* s : kLooks) {
    buttons.keys.push_back({s, 'I'});
    checks.keys.push_back({std::string(s) + " On", 'I'});
    checks.keys.push_back({std::string(s) + " Off", 'I'});
  }
  for (const char* s : {"Normal On", "Normal Off", "Disabled On", "Disabled Off", "Highlighted", "Pressed",
                        "Pressed Mouse Out"})
    radios.keys.push_back({s, 'I'});
  for (const char* s : {"Normal", "Highlighted", "Pressed", "Disabled"})
    for (const char* part : {"Background_", "Thumb_"}) {
      bars.keys.push_back({std::string(part) + s, 'I'});
      sliders.keys.push_back({std::string(part) + s, 'I'});
    }
  for (const char* s : {"Normal", "Highlighted", "Working", "Disabled", "Selected"})
    for (const char* part : {"Background_", "Foreground_"}) lists.keys.push_back({std::string(part) + s, 'I'});
  bars.keys.insert(bars.keys.end(), {{"Is Vertical", 'b'}, {"Thumb_Data", 'I'}});
  sliders.keys.insert(sliders.keys.end(), {{"Data_NumPoints", 'w'},
                                           {"Data_Coors", 'B'},
                                           {"Data_ValueStart", 'd'},
                                           {"Data_ValueEnd", 'd'},
                                           {"Data_HotZone", 'I'},
                                           {"HotSpot_X", 'w'},
                                           {"HotSpot_Y", 'w'}});
  return {buttons,
          checks,
          radios,
          {2, {{"Normal", 'I'}, {"Disabled", 'I'}}},
          {3, {{"Normal", 'I'}, {"Disabled", 'I'}}},
          {4, {{"Normal", 'I'}, {"Data", 'I'}}},
          {8, rect},
          bars,
          lists,
          sliders};
}

u8 StoreType(char c) {
  switch (c) {
    case 'b': return CKLF_Storage::klRecU8;
    case 'w': return CKLF_Storage::klRecU16;
    case 'd': return CKLF_Storage::klRecU32;
    default: return CKLF_Storage::klRecBlock;
  }
}

// The demo controls of one kind folder.
std::vector<std::string> DemoControls(CKLF_Storage& store, const std::string& folder) {
  CKLF_StringArray names;
  std::vector<std::string> out;
  if (!store.GetAllRecords(CKLF_String(("UIResources>" + folder).c_str()), names)) return out;
  for (u32 i = 0; i < names.GetSize(); ++i)
    if (std::strncmp(names.GetPtrAt(i)->GetStr(), "Demo_", 5) == 0) out.push_back(names.GetPtrAt(i)->GetStr());
  return out;
}

}  // namespace

TEST(DemoWindow, EveryKeyReadsBackWithItsType) {
  CKLF_Storage store;
  const CKLF_String path(KLF_UI_RESOURCE_FILE);
  ASSERT_EQ(store.CheckMD5(path), 1);
  ASSERT_EQ(store.Open(path, 1), 1);
  CKLF_UIResources res(&store);
  for (const Kind& k : Vocabulary()) {
    const std::string folder = KLF_ControlFolder(k.type);  // "UIResources>Buttons>", ...
    const std::vector<std::string> names = DemoControls(store, folder.substr(12, folder.size() - 13));
    EXPECT_FALSE(names.empty()) << folder;
    for (const std::string& n : names) {
      const std::string base = folder + n;
      EXPECT_EQ(store.GetRecType(base.c_str()), CKLF_Storage::klRecFolder) << base;
      for (const auto& [sub, type] : k.keys) {
        if (n == "Demo_Navigator" && sub == "Disabled") continue;  // shown dimmed, with its frame
        const std::string key = base + ">" + sub;
        ASSERT_EQ(store.GetRecType(key.c_str()), StoreType(type)) << key;
        CKLF_Mem m;
        kltRECT_s r;
        if (type == 'I' || type == 'M') {
          const u8* data = type == 'I' ? res.LoadImageData(key.c_str(), &r, &m) : res.LoadMaskData(key.c_str(), &r, &m);
          EXPECT_NE(data, nullptr) << key;
        }
      }
    }
  }
  CKLF_WindowResource win;
  ASSERT_EQ(win.Load(&store, "Demo"), 1);
  EXPECT_EQ(win.HasActiveCaption() + win.HasInactiveCaption() + win.HasDragArea(), 3);
  EXPECT_EQ(win.PtInDragArea(100, 10), 1);
  kltRECT_s r;
  EXPECT_EQ(res.GetResourceRect("Demo_Preview", r), 1);
  CKLF_String title;
  EXPECT_EQ(res.GetResourceString("Demo_Title", title), 1);
}

TEST(DemoWindow, EveryControlComesUpAndTellsItsLooksApart) {
  CKLP_HeadlessUI ui;
  KLP_SetUI(&ui);
  CKLF_App app;
  m_App = &app;
  ASSERT_EQ(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1), 1);
  {
    CKLT_DemoWindow w;
    ASSERT_EQ(w.CreateFromResource("Demo", 0, 0, nullptr, 0), 1);
    for (const std::string& r : w.refused) ADD_FAILURE() << r << " was not added";
    w.Show();
    ui.Pump();
    // Probes inside the controls (from the corner, or the centre for -1);
    // each look must show its own picture there.
    struct Probe {
      const char* name;
      i32 dx, dy;
      size_t looks;  // distinct pictures among the five looks
    } probes[] = {{"Demo_Button", -1, -1, 5}, {"Demo_Menu", -1, -1, 5}, {"Demo_Check", 12, 13, 5},
                  {"Demo_Check2", 12, 13, 5},  {"Demo_RadioB", 8, 5, 5},  {"Demo_Piece", -1, -1, 2}};
    std::vector<std::set<u32>> seen(std::size(probes));
    for (u8 look = 0; look < CKLT_DemoWindow::kLooks; ++look) {
      w.ShowLook(look);
      ui.Pump();
      for (size_t i = 0; i < std::size(probes); ++i) {
        CKLF_Control* c = w.Find<CKLF_Control>(probes[i].name);
        ASSERT_NE(c, nullptr) << probes[i].name;
        const kltRECT_s r = c->GetRenderRect();
        u8 rgb[3];
        const Probe& p = probes[i];
        ASSERT_TRUE(ui.GetPixel(w.GetWindowHandle(), p.dx < 0 ? (r.left + r.right) / 2 : r.left + p.dx,
                                p.dy < 0 ? (r.top + r.bottom) / 2 : r.top + p.dy, rgb));
        seen[i].insert(static_cast<u32>(rgb[0]) << 16 | rgb[1] << 8 | rgb[2]);
      }
    }
    for (size_t i = 0; i < std::size(probes); ++i) EXPECT_EQ(seen[i].size(), probes[i].looks) << probes[i].name;
  }
  m_App = nullptr;
  KLP_SetUI(nullptr);
}
