// The conversions of an effect window's parameter controls: opacities
// shown in percent and stored as 0..255, typed numbers, the motion blur's
// directions, and the columns of the range bar that marks the span between
// value 1's and value 2's slider.
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
  // The bevel's depth bar (0..999) in two halves: 0..100 over the left
  // half as v (width - 1) / 200, above 100 (100 width - 100) / 200 +
  // (width - 1) ((v - 100) / 2) / 899; the columns from a's to b's, the
  // last included, clipped to the bar.
  static u8 DepthRangeColumns(u32 a, u32 b, u32 width, u32& from, u32& to);

  // A direction dial's value (0..359 degrees; a direction and its opposite
  // blur alike) as a motion blur angle: up to 90 itself, up to 270 less
  // 180, above less 360 (-89..90).
  static i32 FoldDirection(u32 d);
  // An angle (-90..90) as a dial value: a negative angle plus 360.
  static u32 UnfoldAngle(i32 a) { return static_cast<u32>(a < 0 ? a + 360 : a); }

  // The red, green and blue an eight-byte colour record (grey, red, green,
  // blue, four CMYK bytes) shows and renders with in a document of a colour
  // kind: bytes 1 to 3, or the grey byte three times in a grey document.
  static void RenderColour(const u8 colour[8], u8 colorKind, u8 rgb[3]);
  // Whether a point lies in a rectangle (left and top included, right and
  // bottom not).
  static u8 InRect(const kltRECT_s& r, i32 x, i32 y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom ? 1 : 0;
  }
};
