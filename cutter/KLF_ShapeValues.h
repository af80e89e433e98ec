// The ranges every loaded knife shape is kept in: U (along the base line)
// and S (smoothness) 0..1, H (across, in base-line lengths) -3..3.
#pragma once

#include <cmath>

#include "KLF_Types.h"

constexpr f64 klShapeHLimit = 3.0;

inline f64 klClampShapeValue(f64 v, f64 lo, f64 hi) {
  if (std::isnan(v)) return 0;
  return v < lo ? lo : (v > hi ? hi : v);
}

// Brings one node into range; a value that is not a number becomes 0.
inline void klClampShapeNode(f64& h, f64& u, f64& s) {
  h = klClampShapeValue(h, -klShapeHLimit, klShapeHLimit);
  u = klClampShapeValue(u, 0, 1);
  s = klClampShapeValue(s, 0, 1);
}

inline bool klShapeNodeFinite(f64 h, f64 u, f64 s) {
  return std::isfinite(h) && std::isfinite(u) && std::isfinite(s);
}
