// The bevel window's light: a unit vector towards the light (x to the
// right, y upward, z out of the image) shown as a point on a disc (the
// centre is the light straight above, the rim the horizon) and as an angle
// (0..360 degrees counterclockwise from the right) and an altitude (0..90
// degrees above the image).
//
// A light read from a document may be anything: a vector that is zero or
// not finite counts as (0, 0, 1), and every conversion works on the
// vector's direction with z kept within 0..1 (a light from below the image
// shows on the rim). Cost: a few trigonometric calls a conversion.
#pragma once

#include "KLF_Types.h"

class CFXLight {
 public:
  // The disc of a rectangle: centre ((left + right) / 2 + 1, (top +
  // bottom) / 2 + 1) and radius (min(width, height) + 3) / 2.
  struct DISC {
    f64 cx;
    f64 cy;
    f64 r;
  };
  static DISC DiscOf(kltRECT_s zone);

  // The vector itself when its components are finite and not all zero,
  // else (0, 0, 1).
  static klt3D_VECTOR Sane(klt3D_VECTOR v);
  // Whether Sane keeps the vector.
  static u8 IsSane(klt3D_VECTOR v);

  // The unit vector of an angle and an altitude, in degrees.
  static klt3D_VECTOR FromAngles(i32 angle, i32 altitude);
  // The angle (0..360) and altitude (0..90) of a vector, each truncated
  // toward zero; whole degrees come back whole from FromAngles, float
  // rounding aside.
  static void ToAngles(klt3D_VECTOR v, i32& angle, i32& altitude);
  // The light of a window point: towards the rim the light sinks; points
  // beyond R - 1 from the centre count as at R - 1 in their direction.
  static klt3D_VECTOR FromPoint(const DISC& d, f64 x, f64 y);
  // The window point of a light (truncated toward zero), within R of the
  // centre; the inverse of FromPoint up to the truncation.
  static kltPOS ToPoint(const DISC& d, klt3D_VECTOR v);

 private:
  // The sane vector's direction as doubles, z clamped to 0..1.
  static void i_Unit(klt3D_VECTOR v, f64& x, f64& y, f64& z);
  static klt3D_VECTOR i_Normalised(f64 x, f64 y, f64 z);
};
