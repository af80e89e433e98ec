#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CModeControls.h"

namespace {

typedef CModeControls C;

// Controls of one rule, in Puzzle and in Layout mode: enabled ('F' without
// an effect window, 'I' besides with layer access, 'R' with a random-knots
// amount, 'K' kept, '0', '1'), disabled opacity ('D' dimmed, 'H' hidden,
// 'K' kept) and visibility ('0', '1', 'K' kept).
struct Rule {
  std::vector<const char*> names;
  std::vector<u8> types;
  const char* puzzle;
  const char* layout;
};

const Rule kRules[] = {
    {{"Main_ApplyLM", "Main_DelKnives", "Main_ResetKnots"}, {C::kButton}, "0HK", "1DK"},
    {{"Main_AddKnives"}, {C::kButton}, "0HK", "0DK"},
    {{"Main_RndKnots"}, {C::kButton}, "0HK", "RDK"},
    {{"Main_RndKnots"}, {C::kSlider}, "0HK", "1DK"},
    {{"Main_RndKnots"}, {C::kEditLine}, "0H0", "1D1"},
    {{"Main_Relayout", "Main_Apply"}, {C::kButton}, "FDK", "0HK"},
    {{"Main_Show", "Main_Hide", "Main_RevShowHide", "Main_Cancel", "Main_Export", "Main_CloseX", "Main_Main",
      "Main_Select", "Main_Adjust"},
     {C::kButton},
     "FDK",
     "KKK"},
    {{"Main_FXBevel", "Main_FXHSL", "Main_FXBC", "Main_FXBlur", "Main_FXMBlur", "Main_FXOpacity", "Main_FXCOver",
      "Main_FXStroke"},
     {C::kCheckBox, C::kButton},
     "FDK",
     "0HK"},
    {{"Main_FXIOver"}, {C::kCheckBox, C::kButton}, "IDK", "0HK"},
};

u8 Expected(char rule, u8 fx, u8 layers, f32 amount) {
  switch (rule) {
    case 'F': return fx ? 0 : 1;
    case 'I': return !fx && layers ? 1 : 0;
    case 'R': return amount != 0.0f ? 1 : 0;
    case 'K': return C::kKeep;
    case 'D': return C::kDimmed;
    case 'H': return C::kHidden;
    default: return static_cast<u8>(rule - '0');
  }
}

}  // namespace

// Every combination of the four inputs: each control follows its rule.
TEST(ModeControls, TableOfEveryMode) {
  for (int combo = 0; combo < 16; ++combo) {
    const u8 layout = combo & 1, fx = combo >> 1 & 1, layers = combo >> 2 & 1;
    const f32 amount = combo & 8 ? 0.25f : 0.0f;
    C::CONTROLSTATE out[C::kCount];
    C::GetStates(layout, fx, layers, amount, out);
    u32 seen = 0;
    for (const Rule& rule : kRules)
      for (const char* name : rule.names)
        for (u8 type : rule.types) {
          const char* r = layout ? rule.layout : rule.puzzle;
          u32 found = 0;
          for (const C::CONTROLSTATE& s : out) {
            if (std::strcmp(s.name, name) != 0 || s.type != type) continue;
            ++found;
            const std::string where = std::string(name) + "/" + std::to_string(type) + " " + std::to_string(combo);
            EXPECT_EQ(s.enabled, Expected(r[0], fx, layers, amount)) << where;
            EXPECT_EQ(s.disabledOpacity, Expected(r[1], fx, layers, amount)) << where;
            EXPECT_EQ(s.visible, Expected(r[2], fx, layers, amount)) << where;
          }
          EXPECT_EQ(found, 1u) << name;
          seen += found;
        }
    EXPECT_EQ(seen, C::kCount);
  }
}
