// What the windows of the plug-in show: in every title bar one look of
// Help button and a centred title (read from the built UI resource file),
// and one name for one thing across windows.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "CKLF_Storage.h"
#include "CKLF_UIResources.h"
#include "PluginRunSupport.h"

namespace {

const char* const kTitledWindows[] = {"ChannelList", "Export",   "ExportLM", "Pref",    "AutoLayout", "CMuts",
                                      "Cutter",      "PresMng",  "ShapeName", "FXbc",   "FXbevel",    "FXblur",
                                      "FXcovr",      "FXhsl",    "FXiovr",   "FXmblur", "FXopac",     "FXstroke",
                                      "Layers"};

struct Picture {
  kltRECT_s rect = {0, 0, 0, 0};
  std::vector<u8> planes;  // R, G, B, alpha planes of W x H
  i32 W() const { return rect.right - rect.left; }
  i32 H() const { return rect.bottom - rect.top; }
  u8 At(i32 plane, i32 x, i32 y) const { return planes[(static_cast<size_t>(plane) * H() + y) * W() + x]; }
};

Picture Load(CKLF_Storage& store, const std::string& key) {
  CKLF_UIResources res(&store);
  CKLF_Mem mem;
  Picture p;
  const u8* data = res.LoadImageData(CKLF_String(key.c_str()), &p.rect, &mem);
  EXPECT_NE(data, nullptr) << key;
  if (data) p.planes.assign(data, data + 4 * static_cast<size_t>(p.W()) * p.H());
  return p;
}

}  // namespace

// Every title bar's Help button is the same picture: "?" and the menu's
// arrow, with room between them, in a button of one size.
TEST(WindowLook, EveryTitleBarHasTheSameHelpButton) {
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(KLF_UI_RESOURCE_FILE), 1), 1);
  const std::vector<const char*> states = {"Normal", "Highlighted", "Pressed"};
  for (const char* state : states) {
    const Picture model = Load(store, std::string("UIResources>Buttons>Cutter_Help>") + state);
    ASSERT_EQ(model.W(), 40);
    for (const char* window : kTitledWindows) {
      SCOPED_TRACE(std::string(window) + " " + state);
      const Picture p = Load(store, std::string("UIResources>Buttons>") + window + "_Help>" + state);
      EXPECT_EQ(std::vector<i32>({p.W(), p.H()}), std::vector<i32>({model.W(), model.H()}));
      EXPECT_TRUE(p.planes == model.planes);
    }
  }
}

// The title's bright glyphs lie centred in the caption strip.
TEST(WindowLook, TitlesAreCentredInTheirCaptions) {
  CKLF_Storage store;
  ASSERT_EQ(store.Open(CKLF_String(KLF_UI_RESOURCE_FILE), 1), 1);
  for (const char* window : kTitledWindows) {
    SCOPED_TRACE(window);
    const Picture c = Load(store, std::string("UIResources>Windows>") + window + ">Caption_Active");
    i32 first = -1, last = -1;
    for (i32 x = 0; x < c.W(); ++x)
      for (i32 y = 3; y < c.H() - 3; ++y)
        if (c.At(3, x, y) && c.At(0, x, y) > 150) {
          if (first < 0) first = x;
          last = x;
        }
    ASSERT_GE(first, 0);
    EXPECT_LE(std::abs((first + last + 1) - c.W()), 4) << first << ".." << last << " of " << c.W();
  }
}

// The Cutter's flip buttons carry the names the main window's Adjust menu
// gives the same mirrorings of a knife: "Flip H" across its base line,
// "Flip U" along it.
TEST(WindowLook, TheCuttersFlipButtonsAreNamedAsTheAdjustMenusFlips) {
  const std::vector<u8> bytes = klftest::ReadFileBytes(KLF_SOURCE_DIR "/cutter/windows/Cutter.klui");
  const std::string text(bytes.begin(), bytes.end());
  auto label = [&](const std::string& button) {
    const size_t at = text.find("button " + button + "\n");
    const size_t l = at == std::string::npos ? at : text.find("label \"", at);
    if (l == std::string::npos) return std::string("?");
    return text.substr(l + 7, text.find('"', l + 7) - (l + 7));
  };
  std::map<u16, std::string> menu;
  plugintest::PluginRun r;
  r.Document(klpModeRGB, 300, 200);
  r.Then([&] {
    ASSERT_TRUE(r.Main());
    CWnd_Main::MENULIST m;
    r.Main()->BuildButtonMenu(CWnd_Main::kAdjust, m);
    for (u32 i = 0; i < m.count; ++i) menu[m.items[i].command] = m.items[i].text;
    r.Click(CWnd_Main::kCancel);
  });
  r.Dialog();
  EXPECT_EQ(label("Cutter_FlipH"), menu[98]);
  EXPECT_EQ(label("Cutter_FlipU"), menu[99]);
  EXPECT_EQ(menu[99], "Flip U");
}
