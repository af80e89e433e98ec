// The three amounts of the Cutter's custom clone mode, MutS, MutU and MutH
// (smoothness, position, offset), as fractions 0..1 that the dialog shows
// in per cent, and their records under "Custom Mutations Settings" in the
// configuration store (doubles, read into single precision).
#pragma once

#include "CKLF_Storage.h"

class CCustomMutationsSettings : public CKLF_FrameWork {
 public:
  enum : u32 { kS = 0, kU = 1, kH = 2, kAmounts = 3 };
  static const char kFolder[];             // "Custom Mutations Settings"
  static const char* const kKeys[kAmounts];  // "...>MutS", "...>MutU", "...>MutH"

  // Missing records leave the amounts; nothing without a store.
  // What is not stored keeps its value; 0 when the store cannot be read.
  [[nodiscard]] u8 Load(CKLF_Storage* conf);
  // The folder and the three records; 0 without a store or when a record
  // cannot be stored (the store's error).
  [[nodiscard]] u8 Save(CKLF_Storage* conf);

  // A fraction in whole per cent as the dialog first shows it: x 100 +
  // 0.5, truncated, within 0..100 (not a number: 0).
  static u32 Percent(f32 fraction);
  // A typed percentage: its value within 0..100.
  static u32 PercentOfText(const char* text);
  // The amount of a percentage.
  static f32 Fraction(u32 percent) { return static_cast<f32>(percent) / 100.0f; }

  f32 amount[kAmounts] = {0, 0, 0};
};
