// Numeric helpers of the surface renderer: the one checked float-to-integer
// conversion (truncation toward zero, saturating, NaN as 0), screen points
// and the integer edge stepping of the scan converters.
#pragma once

#include <limits>

#include "KLF_Types.h"

// v truncated toward zero and saturated to I's range; NaN gives 0.
template <class I>
inline I klTruncSat(f64 v) {
  if (v != v) return 0;
  constexpr I lo = std::numeric_limits<I>::min();
  constexpr I hi = std::numeric_limits<I>::max();
  if (v <= static_cast<f64>(lo)) return lo;
  if (v >= static_cast<f64>(hi)) return hi;
  return static_cast<I>(v);
}

// Screen coordinates saturate here: far points stay far outside any clip
// (images are at most 65535 wide) and differences of two of them, times a
// row or column count, fit 64 bits.
constexpr i32 kl3DScreenLimit = 1 << 30;

// trunc(v) + offset, saturated to +-kl3DScreenLimit.
inline i32 klScreenCoord(f32 v, i32 offset) {
  i64 s = static_cast<i64>(klTruncSat<i32>(v)) + offset;
  if (s < -kl3DScreenLimit) s = -kl3DScreenLimit;
  if (s > kl3DScreenLimit) s = kl3DScreenLimit;
  return static_cast<i32>(s);
}

// x of an edge that starts at xa and runs dx across dy > 0 rows, k rows
// down: xa + k dx / dy truncated, plus 1 when the exact value lies more than
// half a pixel beyond the truncated one. Exact: the remainder decides.
inline i32 klEdgeX(i32 xa, i64 dx, i64 k, i64 dy) {
  const i64 num = k * dx;
  const i64 q = num / dy;
  const i64 r = num % dy;
  return static_cast<i32>(xa + q + (2 * r > dy ? 1 : 0));
}
