// The default shape set: a handful of knife shapes the preset library
// starts with when the user has none (classic and round knobs, double and
// twin knobs, tabs, a dovetail, a wave, a zigzag, a straight cut). The UI
// resource file keeps it, as a whole shape set file image, under the
// binary record "DefSet".
#pragma once

#include "CKLF_StdFile.h"

class CDefaultShapeSet {
 public:
  static u32 GetCount();
  // The library records of the default shapes (count x 836 bytes).
  static u8 MakeRecords(CKLF_Mem& block, u32& count);
  // The default set as a shape set file on the caller's open file.
  static u8 Write(CKLF_StdFile* file);
};
