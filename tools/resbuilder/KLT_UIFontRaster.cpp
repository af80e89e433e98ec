#include "KLT_UIFontRaster.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>

namespace {

// Owns the library and the face for one font.
struct FaceHolder {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  ~FaceHolder() {
    if (face) FT_Done_Face(face);
    if (lib) FT_Done_FreeType(lib);
  }
};

i8 ClampS8(long v) { return static_cast<i8>(std::clamp<long>(v, -128, 127)); }

// One glyph: A, C, vertical offset, width, height, coverage rows.
bool AddGlyph(FT_Face face, u32 code, long ascender, std::vector<u8>& out, std::string& error) {
  if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) {
    error = "cannot render character " + std::to_string(code);
    return false;
  }
  const FT_GlyphSlot g = face->glyph;
  const FT_Bitmap& bm = g->bitmap;
  if (bm.width > 255 || bm.rows > 255 || (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.rows != 0)) {
    error = "character " + std::to_string(code) + " is too large or not grey";
    return false;
  }
  const long advance = (g->advance.x + 32) >> 6;
  const bool empty = bm.width == 0 || bm.rows == 0;
  const long a = empty ? 0 : g->bitmap_left;
  const long w = empty ? 0 : bm.width, h = empty ? 0 : bm.rows;
  out.push_back(static_cast<u8>(ClampS8(a)));
  out.push_back(static_cast<u8>(ClampS8(advance - a - w)));
  out.push_back(static_cast<u8>(ClampS8(empty ? ascender : ascender - g->bitmap_top)));
  out.push_back(static_cast<u8>(w));
  out.push_back(static_cast<u8>(h));
  for (long y = 0; y < h; ++y) {
    const unsigned char* row = bm.buffer + y * bm.pitch;
    out.insert(out.end(), row, row + w);
  }
  return true;
}

}  // namespace

bool KLT_RasteriseFont(const KLT_FontRequest& font, std::vector<u8>& record, std::string& error) {
  FaceHolder f;
  if (font.first > font.last) {
    error = "the first character code is above the last";
    return false;
  }
  if (FT_Init_FreeType(&f.lib) != 0 || FT_New_Face(f.lib, font.file.c_str(), 0, &f.face) != 0) {
    error = font.file + ": cannot open the font file";
    return false;
  }
  if (FT_Set_Pixel_Sizes(f.face, 0, font.pixels) != 0) {
    error = font.file + ": cannot set the size " + std::to_string(font.pixels);
    return false;
  }
  const long ascender = (f.face->size->metrics.ascender + 32) >> 6;
  record.assign({'K', 'L', 'F', '2', font.first, font.last});
  for (u32 code = font.first; code <= font.last; ++code)
    if (!AddGlyph(f.face, code, ascender, record, error)) {
      error = font.file + ": " + error;
      return false;
    }
  return true;
}
