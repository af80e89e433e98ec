// The eight EXIF orientations of a stored picture (1 as stored, 2 mirrored
// left to right, 3 turned half round, 4 mirrored top to bottom, 5 to 8 the
// same with rows and columns exchanged) and a plane turned upright, as a
// photo viewer shows it.
//
// Cost: one pass over the plane in tiles, into a plane of the caller's
// (nothing allocated).
// Limits: sides up to 65535.
#pragma once

#include <cstdint>

class CKLT_Orientation {
 public:
  static bool Known(unsigned orientation) { return orientation >= 1 && orientation <= 8; }
  // 5 to 8: the upright picture's width is the stored height.
  static bool SwapsSides(unsigned orientation) { return orientation >= 5 && orientation <= 8; }
  // What the reader does to a stored picture of this orientation, in a few
  // words ("turned a quarter clockwise"); null for 1 and unknown ones.
  static const char* Turn(unsigned orientation);
  // The stored plane of width x height bytes, turned upright into out
  // (height x width bytes for 5 to 8, else width x height); an unknown
  // orientation is taken as 1.
  static void Upright(const uint8_t* stored, uint32_t width, uint32_t height, unsigned orientation, uint8_t* out);
};
