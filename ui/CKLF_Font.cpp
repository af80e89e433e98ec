#include "CKLF_Font.h"

#include <algorithm>
#include <cstring>

#include "CKLF_ZipBlock.h"

namespace {
const u32 kHead = 6;
const u32 kGlyphHead = 5;
}  // namespace

CKLF_Font::CKLF_Font() : m_first(0), m_last(0), m_glyphs{}, m_height(0), m_ascent(0), m_descent(0) {}

CKLF_Font::~CKLF_Font() {}

u8 CKLF_Font::Open(CKLF_Storage* store, const CKLF_String& key) {
  ResetError();
  m_record.free();
  m_first = m_last = 0;
  if (!store) return Fail(klErrBadArg);
  CKLF_Mem packed;
  if (!store->GetRec(key, packed)) return FailFrom(*store, klErrStoreNoKey);
  CKLF_ZipBlock zip;
  zip.SetMode(0);
  zip.SetSourceBlock(packed);
  CKLF_Mem unpacked;
  zip.SetDestBlock(&unpacked);
  if (!zip.Process()) return FailFrom(zip, klErrZipMalformed);
  return OpenRecord(unpacked.GetPtr(), unpacked.GetSize());
}

u8 CKLF_Font::OpenRecord(const u8* record, u32 size) {
  ResetError();
  m_record.free();
  m_first = m_last = 0;
  std::memset(m_glyphs, 0, sizeof(m_glyphs));
  if (!record || size < kHead || std::memcmp(record, "KLF2", 4) != 0 || record[4] > record[5])
    return Fail(klErrFontRecord);
  if (!m_record.alloc(size)) return FailFrom(m_record, klErrNoMemory);
  std::memcpy(m_record.GetPtr(), record, size);
  if (!i_Index()) {
    m_record.free();
    return 0;
  }
  return 1;
}

u8 CKLF_Font::i_Index() {
  const u8* p = m_record.GetPtr();
  const u64 size = m_record.GetSize();
  const u32 first = p[4], last = p[5];
  i32 top = 10000, bottom = -10000;
  u64 pos = kHead;
  for (u32 code = first; code <= last; ++code) {  // 32-bit: a last code of 255 ends
    if (size - pos < kGlyphHead) return Fail(klErrFontRecord);
    const u8* g = p + pos;
    const u64 bytes = static_cast<u64>(g[3]) * g[4];
    if (size - pos - kGlyphHead < bytes) return Fail(klErrFontRecord);
    m_glyphs[code] = g;
    const i32 offset = static_cast<i8>(g[2]);
    top = std::min(top, offset);
    bottom = std::max(bottom, offset + g[4]);
    pos += kGlyphHead + bytes;
  }
  m_first = static_cast<u8>(first);
  m_last = static_cast<u8>(last);
  m_height = static_cast<u16>(bottom - top + 1);
  m_ascent = static_cast<i16>(-top);
  m_descent = static_cast<i16>(bottom);
  return 1;
}

const u8* CKLF_Font::GetChar(u8 code, i16& a, i16& c, i16& yOffset, u32& width, u32& height) {
  const u8* g = IsOpen() && code >= m_first && code <= m_last ? m_glyphs[code] : nullptr;
  if (!g) return Fail(klErrFontChar, nullptr);
  a = static_cast<i8>(g[0]);
  c = static_cast<i8>(g[1]);
  yOffset = static_cast<i8>(g[2]);
  width = g[3];
  height = g[4];
  return g + kGlyphHead;
}

u8 CKLF_Font::GetTextSize(const CKLF_String& text, u16 lineHeight, u32& width, u32& height) {
  width = height = 0;
  if (!IsOpen()) return Fail(klErrEmpty);
  i64 pen = 0, lineTop = 0, w = 0, h = 0;
  const u8* s = reinterpret_cast<const u8*>(text.GetStr());
  for (u32 i = 0; i < text.GetLength(); ++i) {
    const u8 code = s[i];
    if (code == 10) {
      lineTop += lineHeight;
      pen = 0;
      continue;
    }
    if (code < m_first || code > m_last) continue;
    const u8* g = m_glyphs[code];
    const i32 a = static_cast<i8>(g[0]);
    if (pen == 0 && a < 0) pen -= a;
    const i64 right = pen + a + g[3];
    w = std::max(w, right);
    pen = right + static_cast<i8>(g[1]);
    h = std::max(h, lineTop + m_ascent + static_cast<i8>(g[2]) + g[4]);
  }
  width = static_cast<u32>(std::min<i64>(w, 0xFFFFFFFF));
  height = static_cast<u32>(std::min<i64>(h, 0xFFFFFFFF));
  return 1;
}
