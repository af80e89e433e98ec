// The whole number an edit line of the Cutter or its dialogs holds, as
// typed text is read: leading digits after blanks and an optional sign,
// anything else 0 (an empty line too); saturates far above every
// control's range.
#pragma once

#include "KLF_Types.h"

inline i32 klEditLineValue(const char* text) {
  if (!text) return 0;
  while (*text == ' ' || *text == '\t') ++text;
  i32 sign = 1;
  if (*text == '-' || *text == '+') sign = *text++ == '-' ? -1 : 1;
  i32 v = 0;
  for (; *text >= '0' && *text <= '9'; ++text) v = v >= 100000 ? v : v * 10 + (*text - '0');
  return sign * v;
}

// The value brought into lo..hi.
inline u32 klEditLineValueIn(const char* text, u32 lo, u32 hi) {
  const i32 v = klEditLineValue(text);
  return v < static_cast<i32>(lo) ? lo : (static_cast<u32>(v) > hi ? hi : static_cast<u32>(v));
}
