// What a camera or an editor stores in an image's EXIF block that the
// program uses: IFD0's resolution (XResolution, YResolution and
// ResolutionUnit) and orientation, read through libexif. libexif's
// allocations are ours, so memory running out is told from a block that
// lacks the tags (libexif itself drops what it cannot allocate).
//
// Cost: libexif parses the block's first 64 KiB (a JPEG's whole block).
// Limits: resolutions outside 1..100000 dots per inch are taken as none;
// IFD0 and the values of these tags must lie in the first 64 KiB.
#pragma once

#include <cstddef>
#include <cstdint>

class CKLT_ExifTags {
 public:
  struct Tags {
    double xDpi = 0;  // 0: none
    double yDpi = 0;  // XResolution's when the block gives only that
    unsigned orientation = 0;  // as stored (a SHORT, or a LONG); 0 none
    // Why the block is left out, tags and all (its header, IFD0 or a value
    // of the tags read lies outside it); null when it is read.
    const char* damage = nullptr;
  };

  // The tags of an EXIF block (the TIFF structure that follows APP1's
  // "Exif" name, or a PNG's eXIf data): the orientation, and the
  // resolution when asked for. An empty block gives none. false only when
  // memory runs out.
  [[nodiscard]] static bool Read(const uint8_t* block, size_t size, bool resolution, Tags& out);
};
