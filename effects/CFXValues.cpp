#include "CFXValues.h"

#include <cstdlib>

u8 CFXValues::PercentToOpacity(u32 percent) { return static_cast<u8>((percent > 100 ? 100 : percent) * 255 / 100); }

u32 CFXValues::OpacityToPercent(u8 opacity) {
  const u32 q = opacity * 1000u / 255;
  return q / 10 + (q % 10 > 5 ? 1 : 0);
}

i32 CFXValues::ParseClamped(const char* text, i32 low, i32 high) {
  // strtol rather than atoi: an overlong number saturates instead of
  // being undefined, and clamps the same way.
  const long v = text ? std::strtol(text, nullptr, 10) : 0;
  return v < low ? low : (v > high ? high : static_cast<i32>(v));
}

u8 CFXValues::RangeColumns(u32 a, u32 b, u32 span, u32 width, u32& from, u32& to) {
  from = to = 0;
  if (width == 0 || span == 0) return 0;
  const u64 lo = a < b ? a : b, hi = a < b ? b : a, w = width - 1;
  const u64 first = w * lo / span, end = w * hi / span + 1;
  from = static_cast<u32>(first < width ? first : width);
  to = static_cast<u32>(end < width ? end : width);
  return from < to ? 1 : 0;
}

namespace {

u64 DepthColumn(u64 v, u64 width) {
  if (v <= 100) return v * (width - 1) / 200;
  return (100 * width - 100) / 200 + (width - 1) * ((v - 100) / 2) / 899;
}

}  // namespace

u8 CFXValues::DepthRangeColumns(u32 a, u32 b, u32 width, u32& from, u32& to) {
  from = to = 0;
  if (width == 0) return 0;
  const u64 lo = a < b ? a : b, hi = a < b ? b : a;
  const u64 first = DepthColumn(lo, width), end = DepthColumn(hi, width) + 1;
  from = static_cast<u32>(first < width ? first : width);
  to = static_cast<u32>(end < width ? end : width);
  return from < to ? 1 : 0;
}

i32 CFXValues::FoldDirection(u32 d) {
  d %= 360;
  if (d <= 90) return static_cast<i32>(d);
  return d <= 270 ? static_cast<i32>(d) - 180 : static_cast<i32>(d) - 360;
}

void CFXValues::RenderColour(const u8 colour[8], u8 colorKind, u8 rgb[3]) {
  for (u32 c = 0; c < 3; ++c) rgb[c] = colorKind == 0 ? colour[0] : colour[1 + c];
}
