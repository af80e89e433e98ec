#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CModeControls.h"

namespace {

typedef CModeControls C;

// Expected per control, by rule: 'F' enabled without an effect window, 'I'
// also needing layer access, 'R' with a random-knots amount, 'K' kept,
// '0' and '1' fixed. Opacity 'D' dimmed, 'H' hidden, 'K' kept; visibility
// '0', '1' or 'K'.
struct Row {
  const char* name;
  u8 type;
  const char* puzzle;  // enabled, opacity, visibility
  const char* layout;
};

const Row kRows[] = {
    {"Main_ApplyLM", C::kButton, "0HK", "1DK"},      {"Main_AddKnives", C::kButton, "0HK", "0DK"},
    {"Main_DelKnives", C::kButton, "0HK", "1DK"},    {"Main_ResetKnots", C::kButton, "0HK", "1DK"},
    {"Main_RndKnots", C::kButton, "0HK", "RDK"},     {"Main_RndKnots", C::kSlider, "0HK", "1DK"},
    {"Main_RndKnots", C::kEditLine, "0H0", "1D1"},   {"Main_Relayout", C::kButton, "FDK", "0HK"},
    {"Main_Apply", C::kButton, "FDK", "0HK"},        {"Main_Show", C::kButton, "FDK", "KKK"},
    {"Main_Hide", C::kButton, "FDK", "KKK"},         {"Main_RevShowHide", C::kButton, "FDK", "KKK"},
    {"Main_Cancel", C::kButton, "FDK", "KKK"},       {"Main_Export", C::kButton, "FDK", "KKK"},
    {"Main_CloseX", C::kButton, "FDK", "KKK"},       {"Main_Main", C::kButton, "FDK", "KKK"},
    {"Main_Select", C::kButton, "FDK", "KKK"},       {"Main_Adjust", C::kButton, "FDK", "KKK"},
    {"Main_FXBevel", C::kCheckBox, "FDK", "0HK"},    {"Main_FXBevel", C::kButton, "FDK", "0HK"},
    {"Main_FXHSL", C::kCheckBox, "FDK", "0HK"},      {"Main_FXHSL", C::kButton, "FDK", "0HK"},
    {"Main_FXBC", C::kCheckBox, "FDK", "0HK"},       {"Main_FXBC", C::kButton, "FDK", "0HK"},
    {"Main_FXBlur", C::kCheckBox, "FDK", "0HK"},     {"Main_FXBlur", C::kButton, "FDK", "0HK"},
    {"Main_FXMBlur", C::kCheckBox, "FDK", "0HK"},    {"Main_FXMBlur", C::kButton, "FDK", "0HK"},
    {"Main_FXOpacity", C::kCheckBox, "FDK", "0HK"},  {"Main_FXOpacity", C::kButton, "FDK", "0HK"},
    {"Main_FXCOver", C::kCheckBox, "FDK", "0HK"},    {"Main_FXCOver", C::kButton, "FDK", "0HK"},
    {"Main_FXStroke", C::kCheckBox, "FDK", "0HK"},   {"Main_FXStroke", C::kButton, "FDK", "0HK"},
    {"Main_FXIOver", C::kCheckBox, "IDK", "0HK"},    {"Main_FXIOver", C::kButton, "IDK", "0HK"},
};

u8 Enabled(char rule, u8 fx, u8 layers, f32 amount) {
  switch (rule) {
    case 'F': return fx ? 0 : 1;
    case 'I': return !fx && layers ? 1 : 0;
    case 'R': return amount != 0.0f ? 1 : 0;
    case 'K': return C::kKeep;
    default: return static_cast<u8>(rule - '0');
  }
}

}  // namespace

// Every mode combination: each control's state follows its rule.
TEST(ModeControls, TableOfEveryMode) {
  static_assert(sizeof(kRows) / sizeof(kRows[0]) == C::kCount, "one row a control");
  for (int combo = 0; combo < 16; ++combo) {
    const u8 layout = combo & 1, fx = combo >> 1 & 1, layers = combo >> 2 & 1;
    const f32 amount = combo & 8 ? 0.25f : 0.0f;
    C::CONTROLSTATE out[C::kCount];
    C::GetStates(layout, fx, layers, amount, out);
    for (const Row& row : kRows) {
      const C::CONTROLSTATE* s = nullptr;
      for (const C::CONTROLSTATE& o : out)
        if (std::strcmp(o.name, row.name) == 0 && o.type == row.type) s = &o;
      ASSERT_NE(s, nullptr) << row.name;
      const char* r = layout ? row.layout : row.puzzle;
      const std::string where = std::string(row.name) + "/" + std::to_string(row.type) + " combo " + std::to_string(combo);
      EXPECT_EQ(s->enabled, Enabled(r[0], fx, layers, amount)) << where;
      EXPECT_EQ(s->disabledOpacity, r[1] == 'D' ? C::kDimmed : r[1] == 'H' ? C::kHidden : C::kKeep) << where;
      EXPECT_EQ(s->visible, r[2] == 'K' ? C::kKeep : static_cast<u8>(r[2] - '0')) << where;
    }
  }
}
