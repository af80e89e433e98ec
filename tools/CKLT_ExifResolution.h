// The resolution a camera or an editor stores in an image's EXIF block
// (IFD0's XResolution and ResolutionUnit), read through libexif.
//
// Cost: libexif parses the whole block (at most 64 KiB in a JPEG).
// Limits: values outside 1..100000 dots per inch are taken as none.
#pragma once

#include <cstddef>
#include <cstdint>

class CKLT_ExifResolution {
 public:
  // Dots per inch from an EXIF block (the TIFF structure that follows
  // APP1's "Exif" name), or 0 when it gives none or cannot be read.
  static double DotsPerInch(const uint8_t* block, size_t size);
};
