// The conversions of an effect window's parameter controls: opacities
// shown in percent and stored as 0..255, typed numbers, and the columns of
// the range bar that marks the span between value 1's and value 2's slider.
#pragma once

#include "KLF_Types.h"

class CFXValues {
 public:
  // percent x 255 / 100, truncated (50 gives 127); percent above 100 counts as 100.
  static u8 PercentToOpacity(u32 percent);
  // q = opacity x 1000 / 255; q / 10, plus 1 when q's last digit is above 5
  // (128 gives 50, 191 gives 75, 2 gives 1).
  static u32 OpacityToPercent(u8 opacity);
  // atoi of the text, clamped to low..high ("" and "-" read as 0).
  static i32 ParseClamped(const char* text, i32 low, i32 high);
  // The columns [from, to) of a bar width pixels wide that mark the slider
  // values a..b (either order) over a span of slider values: from
  // (width - 1) lo / span to (width - 1) hi / span + 1, clipped to the bar.
  // 0 when nothing is to be marked: a bar without width, a span of 0.
  static u8 RangeColumns(u32 a, u32 b, u32 span, u32 width, u32& from, u32& to);
};
