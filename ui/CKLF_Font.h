// A bitmap font of the UI store: one "KLF2" record, each glyph an 8-bit
// coverage mask with its spacing. Record layout (after decompression):
// "KLF2", first code, last code, then per code from first to last: s8 A
// (space before), s8 C (space after), s8 vertical offset from the font's
// top line, u8 width, u8 height, width x height coverage bytes, rows top to
// bottom. Glyph lookup is a direct table index; measuring costs one pass
// over the text.
#pragma once

#include "CKLF_Storage.h"

class CKLF_Font : public CKLF_FrameWork {
 public:
  CKLF_Font();
  ~CKLF_Font() override;

  // Reads and checks the record at key. Errors: the store's or the
  // decompression's, 176 for another magic, a block shorter than its head,
  // first code above last or a glyph running past the block's end.
  [[nodiscard]] u8 Open(CKLF_Storage* store, const CKLF_String& key);
  // The same from a decompressed record (copied).
  [[nodiscard]] u8 OpenRecord(const u8* record, u32 size);
  u8 IsOpen() const { return m_record.GetPtr() != nullptr; }

  u8 GetFirstCharCode() const { return m_first; }
  u8 GetLastCharCode() const { return m_last; }
  // The glyph's coverage bytes and metrics; null with error 177 for a code
  // outside the font.
  const u8* GetChar(u8 code, i16& a, i16& c, i16& yOffset, u32& width, u32& height);
  u16 GetFontHeight() const { return m_height; }
  u8 GetMaxAB(i16& ascent, i16& descent) const {
    ascent = m_ascent;
    descent = m_descent;
    return 1;
  }
  // The box of the text drawn from pen 0 on line top 0, line feeds moving
  // down by lineHeight. Error 2 without a font.
  u8 GetTextSize(const CKLF_String& text, u16 lineHeight, u32& width, u32& height);

 private:
  [[nodiscard]] u8 i_Index();

  u8 m_first;
  u8 m_last;
  CKLF_Mem m_record;
  const u8* m_glyphs[256];
  u16 m_height;
  i16 m_ascent;
  i16 m_descent;
};
