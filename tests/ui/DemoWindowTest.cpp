// The builder's file against the key vocabulary, and the demo window
// composed from it. KLF_UI_PNG=1 writes the composition, and a sheet of
// every control in every state, as PNG files into the build folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CKLF_ImagePNG.h"
#include "CKLF_LayerSet.h"
#include "CKLF_StdFile.h"
#include "CKLF_TextLayer.h"
#include "CKLF_WindowResource.h"

namespace {

// Sub-keys of each control kind: I image, M mask, b u8, w u16, d u32, B block.
struct Kind {
  u8 type;
  std::vector<std::pair<std::string, char>> keys;
};

const char* const kLooks[] = {"Normal", "Highlighted", "Pressed", "Pressed Mouse Out", "Disabled"};
const char* const kBarLooks[] = {"Normal", "Highlighted", "Pressed", "Pressed", "Disabled"};
const char* const kListLooks[] = {"Normal", "Highlighted", "Working", "Working", "Disabled"};

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

// The controls shown: scroll bars in one arrow style.
std::vector<std::string> Shown(CKLF_Storage& store, const std::string& folder) {
  std::vector<std::string> out;
  for (const std::string& n : DemoControls(store, folder))
    if (n.find("_MAC") == std::string::npos) out.push_back(n);
  return out;
}

// Layers of one window picture set, owned here.
struct Composer {
  CKLF_Storage& store;
  CKLF_LayerSet set;
  std::vector<std::unique_ptr<CKLF_Layer>> layers;
  CKLF_Font font;

  bool Add(const std::string& key, CKLF_Layer* into = nullptr) {
    CKLF_UIResources res(&store);
    CKLF_Mem m;
    kltRECT_s r;
    const u8* data = res.LoadImageData(key.c_str(), &r, &m);
    if (!data) return false;
    std::unique_ptr<CKLF_Layer> own;
    if (!into) {
      own = std::make_unique<CKLF_Layer>();
      into = own.get();
      into->Create(r, 2);
    }
    CKLF_UIResources::SetDataToImage(into, 0, 0, data, r, 0, 0);
    if (own) layers.push_back(std::move(own));
    set.AddLayer(into);
    return true;
  }

  // Paint picture cut out by the glyphs of a text, as static texts and lists draw.
  void Text(const std::string& paint, kltRECT_s r, const char* text, i32 offX, i32 offY) {
    auto t = std::make_unique<CKLF_TextLayer>();
    t->Create(static_cast<i16>(r.left), static_cast<i16>(r.top), 1, static_cast<u16>(r.right - r.left),
              static_cast<u16>(r.bottom - r.top));
    if (!paint.empty()) Add(paint, t.get());
    else set.AddLayer(t.get());
    t->SetFont(&font);
    t->SetText(text, paint.empty() ? kltRGBA8{226, 226, 230, 255} : kltRGBA8{0, 0, 0, 0}, 16, offX, offY);
    layers.push_back(std::move(t));
  }
};

// Every demo control drawn in one look (index into kLooks), checked or not.
void ComposeControls(Composer& c, int look, bool on) {
  CKLF_UIResources res(&c.store);
  const std::string ui = "UIResources>";
  for (const std::string& n : Shown(c.store, "Buttons")) c.Add(ui + "Buttons>" + n + ">" + kLooks[look]);
  for (const std::string& n : Shown(c.store, "Check Boxes"))
    c.Add(ui + "Check Boxes>" + n + ">" + kLooks[look] + (on ? " On" : " Off"));
  for (const std::string& n : Shown(c.store, "Radio Buttons")) {
    const bool checked = on && n.back() != 'B';  // one member of the group is checked
    const bool paired = look == 0 || look == 4 || checked;
    c.Add(ui + "Radio Buttons>" + n + ">" +
          (paired ? std::string(kLooks[look == 4 ? 4 : 0]) + (checked ? " On" : " Off") : std::string(kLooks[look])));
  }
  const char* const still = look == 4 ? "Disabled" : "Normal";
  for (const std::string& n : Shown(c.store, "Static Images")) c.Add(ui + "Static Images>" + n + ">" + still);
  for (const std::string& n : Shown(c.store, "Static Texts")) {
    kltRECT_s r;
    CKLF_Mem m;
    if (res.LoadImageData((ui + "Static Texts>" + n + ">Normal").c_str(), &r, &m))
      c.Text(ui + "Static Texts>" + n + ">" + still, r, "Static text in the Info Font", 0, 2);
  }
  for (const std::string& n : Shown(c.store, "Progresses")) {
    // Filled to 60 %: the bar shows where the ramp is not above the level.
    CKLF_Mem ramp;
    kltRECT_s r;
    const u8* level = res.LoadImageData((ui + "Progresses>" + n + ">Data").c_str(), &r, &ramp);
    if (!level || !c.Add(ui + "Progresses>" + n + ">Normal")) continue;
    CKLF_Layer* bar = c.layers.back().get();
    const u32 pixels = (ramp.GetSize() - 8) / 4;
    u8* alpha = bar->GetMemObj()->GetPtr() + 3 * pixels;
    for (u32 i = 0; i < pixels; ++i)
      if (153 < level[i]) alpha[i] = 0;
  }
  for (const char* kind : {"Scroll Bars", "Sliders"})
    for (const std::string& n : Shown(c.store, kind))
      for (const char* part : {">Background_", ">Thumb_"}) c.Add(ui + kind + ">" + n + part + kBarLooks[look]);
  for (const std::string& n : Shown(c.store, "Lists")) {
    kltRECT_s r;
    c.Add(ui + "Lists>" + n + ">Background_" + kListLooks[look]);
    if (res.GetRectRecords((ui + "Lists>" + n).c_str(), r))
      c.Text(ui + "Lists>" + n + ">Foreground_" + kListLooks[look], r, "Background\nPieces\nKnives\nGrid", 5, 2);
  }
  for (const std::string& n : Shown(c.store, "Edits")) {
    kltRECT_s r;
    if (res.GetRectRecords((ui + "Edits>" + n).c_str(), r)) c.Text("", r, "12.5", 3, 1);
  }
}

bool Compose(Composer& c, CKLF_WindowResource& win, int look, bool on) {
  if (!c.set.Create(win.GetWidth(), win.GetHeight())) return false;
  c.set.AddLayer(&win.GetBackground());
  if (win.HasActiveCaption()) c.set.AddLayer(look == 4 ? &win.GetCaptionInactive() : &win.GetCaptionActive());
  ComposeControls(c, look, on);
  return c.set.Render(klNullRect) == 1;
}

void WritePNG(CKLF_Image& rgb, const std::string& path) {
  std::vector<u8> alpha(static_cast<size_t>(rgb.GetImageWidth()) * rgb.GetImageHeight(), 255);
  u8* planes[5];
  u32 stride;
  rgb.GetImageChannels(planes, stride);
  CKLF_StdFile f;
  ASSERT_EQ(f.Open(CKLF_String(path.c_str()), 2), 1) << path;
  CKLF_ImagePNG png;
  png.Create(f);
  CKLF_ImagePNG::PNGWRITE_PARAMS p = {rgb.GetImageWidth(), rgb.GetImageHeight(), 1, {planes[0], planes[1], planes[2], alpha.data()},
                                      stride, "Tessarette", 72, nullptr, 0};
  EXPECT_EQ(png.WritePNG(&p), 1);
  f.Close();
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

TEST(DemoWindow, ComposesFromItsResources) {
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(KLF_UI_RESOURCE_FILE), 1), 1);
  CKLF_WindowResource win;
  ASSERT_EQ(win.Load(&store, "Demo"), 1);
  Composer c{store, {}, {}, {}};
  ASSERT_EQ(CKLF_UIResources(&store).OpenFont("Info Font", c.font), 1);
  ASSERT_EQ(Compose(c, win, 0, true), 1);
  const char* want = std::getenv("KLF_UI_PNG");
  if (!want || !*want) return;
  const std::string dir = KLF_BINARY_DIR;
  WritePNG(*c.set.GetCanvas(), dir + "/ui-demo.png");
  // The sheet: the window in each look, unchecked on the left, checked on the right.
  CKLF_Image sheet;
  ASSERT_EQ(sheet.Create(static_cast<u16>(2 * win.GetWidth()), static_cast<u16>(5 * win.GetHeight()), 1), 1);
  for (int look = 0; look < 5; ++look)
    for (int on = 0; on < 2; ++on) {
      Composer s{store, {}, {}, {}};
      CKLF_UIResources(&store).OpenFont("Info Font", s.font);
      ASSERT_EQ(Compose(s, win, look, on), 1);
      const kltRECT_s at = {on * win.GetWidth(), look * win.GetHeight(), (on + 1) * win.GetWidth(),
                            (look + 1) * win.GetHeight()};
      sheet.Set(s.set.GetCanvas(), 0, 0, at);
    }
  WritePNG(sheet, dir + "/ui-demo-states.png");
}
