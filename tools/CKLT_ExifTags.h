// What a camera or an editor stores in an image's EXIF block that the
// program uses: IFD0's resolution (XResolution, YResolution and
// ResolutionUnit) and orientation, read through libexif. libexif's
// allocations are ours, so memory running out is told from a block that
// lacks the tags (libexif itself drops what it cannot allocate).
//
// Cost: libexif parses the whole block (at most 64 KiB in a JPEG).
// Limits: resolutions outside 1..100000 dots per inch are taken as none.
#pragma once

#include <cstddef>
#include <cstdint>

class CKLT_ExifTags {
 public:
  struct Tags {
    double xDpi = 0;  // 0: none
    double yDpi = 0;  // XResolution's when the block gives only that
    unsigned orientation = 0;  // as stored; 0 none
  };

  // The tags of an EXIF block (the TIFF structure that follows APP1's
  // "Exif" name); a block that cannot be read gives none. false only when
  // memory runs out.
  [[nodiscard]] static bool Read(const uint8_t* block, size_t size, Tags& out);
};
