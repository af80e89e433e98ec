// What every window of the plug-in shows in its title bar, read from the
// built UI resource file: one look of Help button, and titles centred
// unless a caption button stands in the way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CKLF_Storage.h"
#include "CKLF_UIResources.h"

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
