#include "CFXLight.h"

#include <algorithm>
#include <cmath>

namespace {

const f64 kPi = 3.14159265358979323846;
// A light is kept in floats: whole degrees stored come back a hair short,
// which truncation would turn into the degree below.
const f64 kDegreeSlack = 1e-4;

}  // namespace

CFXLight::DISC CFXLight::DiscOf(kltRECT_s zone) {
  const f64 w = static_cast<f64>(zone.right) - zone.left, h = static_cast<f64>(zone.bottom) - zone.top;
  return {(static_cast<f64>(zone.left) + zone.right) / 2 + 1, (static_cast<f64>(zone.top) + zone.bottom) / 2 + 1,
          (std::min(w, h) + 3) / 2};
}

u8 CFXLight::IsSane(klt3D_VECTOR v) {
  if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) return 0;
  const f64 x = v.x, y = v.y, z = v.z;
  const f64 n = x * x + y * y + z * z;
  return n > 0 && std::isfinite(n) ? 1 : 0;
}

klt3D_VECTOR CFXLight::Sane(klt3D_VECTOR v) { return IsSane(v) ? v : klt3D_VECTOR{0, 0, 1}; }

void CFXLight::i_Unit(klt3D_VECTOR v, f64& x, f64& y, f64& z) {
  v = Sane(v);
  // Scaled first: a vector of huge components would overflow its length.
  const f64 m =
      std::max({std::fabs(static_cast<f64>(v.x)), std::fabs(static_cast<f64>(v.y)), std::fabs(static_cast<f64>(v.z))});
  x = v.x / m, y = v.y / m, z = v.z / m;
  const f64 n = std::sqrt(x * x + y * y + z * z);
  x /= n, y /= n, z = std::clamp(z / n, 0.0, 1.0);
}

klt3D_VECTOR CFXLight::i_Normalised(f64 x, f64 y, f64 z) {
  const f64 n = std::sqrt(x * x + y * y + z * z);
  if (!(n > 0)) return {0, 0, 1};
  return {static_cast<f32>(x / n), static_cast<f32>(y / n), static_cast<f32>(z / n)};
}

klt3D_VECTOR CFXLight::FromAngles(i32 angle, i32 altitude) {
  const f64 an = angle * kPi / 180, al = altitude * kPi / 180;
  return i_Normalised(std::cos(an) * std::cos(al), std::sin(an) * std::cos(al), std::cos(kPi / 2 - al));
}

void CFXLight::ToAngles(klt3D_VECTOR v, i32& angle, i32& altitude) {
  f64 x, y, z;
  i_Unit(v, x, y, z);
  const f64 a = y >= 0 ? std::atan2(y, x) : std::atan2(-y, -x) + kPi;
  angle = static_cast<i32>(std::trunc(a * 180 / kPi + kDegreeSlack));
  altitude = static_cast<i32>(std::trunc((kPi / 2 - std::acos(z)) * 180 / kPi + kDegreeSlack));
}

klt3D_VECTOR CFXLight::FromPoint(const DISC& d, f64 px, f64 py) {
  const f64 dx = px - d.cx, dy = py - d.cy, phi = std::atan2(dy, dx);
  const f64 dist = std::min(std::sqrt(dx * dx + dy * dy), d.r - 1);
  return i_Normalised(dist * std::cos(phi) / d.r, -dist * std::sin(phi) / d.r, 1 - dist / d.r);
}

kltPOS CFXLight::ToPoint(const DISC& d, klt3D_VECTOR v) {
  f64 x, y, z;
  i_Unit(v, x, y, z);
  // z within 0..1 keeps theta within 0..pi/2 and the divisor at least sin(pi/4).
  const f64 theta = std::acos(z);
  f64 dist = std::sin(theta) * std::sin(kPi / 4) * d.r / std::sin(kPi - theta - kPi / 4);
  dist = std::isfinite(dist) ? std::clamp(dist, 0.0, d.r) : 0;
  const f64 phi = std::atan2(y, x);
  return {static_cast<i32>(std::trunc(dist * std::cos(phi) + d.cx)),
          static_cast<i32>(std::trunc(d.cy - dist * std::sin(phi)))};
}
