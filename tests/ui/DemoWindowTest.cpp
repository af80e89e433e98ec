// The builder's file against the key vocabulary, and the demo window with
// the toolkit's controls made from it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CKLF_WindowResource.h"
#include "CKLP_HeadlessUI.h"
#include "KLF_BigEndian.h"
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

// The demo's dial, a clock face: a click at each of its places reaches
// every hour, one hour a place; and its ring is drawn round, not as a
// polygon through its points.
TEST(DemoWindow, DialReachesEveryHourOnARoundRing) {
  CKLP_HeadlessUI ui;
  KLP_SetUI(&ui);
  CKLF_App app;
  m_App = &app;
  ASSERT_EQ(app.InitStorgaeResource(KLF_UI_RESOURCE_FILE, 1), 1);
  CKLF_Storage& store = *app.GetStorage();
  const std::string f = "UIResources>Sliders>Demo_Dial";
  CKLF_Mem coors;
  u16 count = 0;
  ASSERT_EQ(store.GetRec((f + ">Data_NumPoints").c_str(), count), 1);
  ASSERT_EQ(store.GetRec((f + ">Data_Coors").c_str(), coors), 1);
  ASSERT_EQ(coors.GetSize(), 5u * count);
  {
    CKLT_DemoWindow w;
    ASSERT_EQ(w.CreateFromResource("Demo", 0, 0, nullptr, 0), 1);
    w.Show();
    ui.Pump();
    auto* dial = w.Find<CKLF_CtrlSlider>("Demo_Dial");
    ASSERT_NE(dial, nullptr);
    std::map<std::pair<u16, u16>, u32> hourAt;
    std::set<u32> hours;
    for (u16 j = 0; j < count; ++j) {
      const u16 x = KLF_GetBE16(coors.GetPtr() + 5 * j), y = KLF_GetBE16(coors.GetPtr() + 5 * j + 2);
      ui.PostClick(x, y);
      ui.Pump();
      const auto placed = hourAt.emplace(std::make_pair(x, y), dial->GetValue());
      EXPECT_TRUE(placed.second || placed.first->second == dial->GetValue()) << "point " << j;
      hours.insert(dial->GetValue());
    }
    EXPECT_EQ(hours.size(), 12u);
    EXPECT_EQ(hourAt.size(), 12u);  // 12 places, the ring closing on the first
    EXPECT_EQ(*hours.begin(), 1u);
    EXPECT_EQ(*hours.rbegin(), 12u);
  }
  // Along rays from the ring's centre, the groove's alpha-weighted radius
  // is the same at a point's angle and halfway between two points.
  CKLF_UIResources res(&store);
  CKLF_Mem block;
  kltRECT_s r;
  const u8* track = res.LoadImageData((f + ">Background_Normal").c_str(), &r, &block);
  ASSERT_NE(track, nullptr);
  const i32 w = r.right - r.left, h = r.bottom - r.top;
  const u8* alpha = track + 3 * static_cast<size_t>(w) * h;
  double cx = 0, cy = 0, total = 0;  // the ring's centre: its centroid
  for (i32 y = 0; y < h; ++y)
    for (i32 x = 0; x < w; ++x) {
      const u8 a = alpha[y * w + x];
      cx += (x + 0.5) * a, cy += (y + 0.5) * a, total += a;
    }
  ASSERT_GT(total, 0);
  cx /= total, cy /= total;
  double least = 1e9, most = 0;
  for (int k = 0; k < 48; ++k) {
    const double a = 2 * M_PI * k / 48;
    double sum = 0, weight = 0;
    for (double d = 0; d < std::min(w, h) / 2.0; d += 0.25) {
      const i32 x = static_cast<i32>(std::floor(cx + d * std::cos(a))), y = static_cast<i32>(std::floor(cy + d * std::sin(a)));
      if (x < 0 || y < 0 || x >= w || y >= h) break;
      sum += d * alpha[y * w + x];
      weight += alpha[y * w + x];
    }
    ASSERT_GT(weight, 0) << k;
    least = std::min(least, sum / weight);
    most = std::max(most, sum / weight);
  }
  EXPECT_LT(most - least, 0.35) << least << " to " << most;
  m_App = nullptr;
  KLP_SetUI(nullptr);
}
