// Rasterises a TrueType face with FreeType into a "KLF2" font record: one
// glyph per code of a range, each an 8-bit anti-aliased coverage mask with
// its spacing (A before, C after, both signed bytes) and its vertical offset
// from the font's top line (the face's ascender at that size). Codes the
// face lacks get an empty glyph of the face's missing-glyph advance.
#pragma once

#include <string>
#include <vector>

#include "KLF_Types.h"

struct KLT_FontRequest {
  std::string file;  // path of the .ttf
  u32 pixels = 12;   // nominal pixel size
  u8 first = 32;
  u8 last = 126;
};

// The uncompressed record; false with a message in error.
bool KLT_RasteriseFont(const KLT_FontRequest& font, std::vector<u8>& record, std::string& error);
