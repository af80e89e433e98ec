#include "CKLF_UIResources.h"

#include <algorithm>
#include <cstring>

#include "CKLF_ZipBlock.h"
#include "KLF_BigEndian.h"

const char* KLF_ControlFolder(u8 type) {
  static const char* const kFolders[] = {
      nullptr,
      "UIResources>Sliders>",
      "UIResources>Static Images>",
      "UIResources>Static Texts>",
      "UIResources>Progresses>",
      "UIResources>Buttons>",
      "UIResources>Radio Buttons>",
      "UIResources>Check Boxes>",
      "UIResources>Edits>",
      "UIResources>Scroll Bars>",
      "UIResources>Lists>",
      nullptr,
      "UIResources>Static Images>",
  };
  return type < sizeof(kFolders) / sizeof(kFolders[0]) ? kFolders[type] : nullptr;
}

u8 CKLF_UIResources::GetResourceString(const char* name, CKLF_String& out) {
  if (!m_store || !m_store->IsOpened()) return Fail(klErrEmpty);
  if (!m_store->GetRec(CKLF_String("UIResources>Strings>") + name, out)) return FailFrom(*m_store, klErrStoreNoKey);
  return 1;
}

u8 CKLF_UIResources::GetResourceRect(const char* name, kltRECT_s& out) {
  if (!m_store || !m_store->IsOpened()) return Fail(klErrEmpty);
  const CKLF_String base = CKLF_String("UIResources>Rects>") + name;
  static const char* const kParts[] = {">Rect Bottom", ">Rect Left", ">Rect Right", ">Rect Top"};
  i32* fields[] = {&out.bottom, &out.left, &out.right, &out.top};
  for (u32 i = 0; i < 4; ++i) {
    u16 v = 0;
    if (!m_store->GetRec(base + kParts[i], v)) return FailFrom(*m_store, klErrStoreNoKey);
    *fields[i] = v;
  }
  return 1;
}

u8 CKLF_UIResources::GetRectRecords(const CKLF_String& folder, kltRECT_s& out) {
  if (!m_store || !m_store->IsOpened()) return Fail(klErrEmpty);
  static const char* const kParts[] = {">Rect Left", ">Rect Top", ">Rect Right", ">Rect Bottom"};
  i32* fields[] = {&out.left, &out.top, &out.right, &out.bottom};
  for (u32 i = 0; i < 4; ++i) {
    u16 v = 0;
    if (!m_store->GetRec(folder + kParts[i], v)) return FailLookup(*m_store, klErrUIResource);
    *fields[i] = v;
  }
  return i_Inside(out) ? 1 : Fail(klErrUIResource);
}

u8 CKLF_UIResources::i_Inside(kltRECT_s r) const {
  const kltRECT_s& b = m_bounds;
  return klIsNullRect(b) || (r.left >= b.left && r.top >= b.top && r.right <= b.right && r.bottom <= b.bottom);
}

u8* CKLF_UIResources::i_LoadRecord(const CKLF_String& key, kltRECT_s* rect, CKLF_Mem* out, u8 planes, u8 exact) {
  if (!m_store || !m_store->IsOpened()) return Fail(klErrEmpty, nullptr);
  if (!out) return Fail(klErrBadArg, nullptr);
  // A record missing or malformed is a fault of the store; one that finds
  // no memory keeps that code.
  CKLF_Mem packed;
  if (!m_store->GetRec(key, packed))
    return FailLookup(*m_store, klErrUIResource, nullptr);
  CKLF_ZipBlock zip;
  zip.SetMode(0);
  zip.SetSourceBlock(packed);
  zip.SetDestBlock(out);
  const u8 unpacked = zip.Process();
  if (!unpacked && zip.GetError() == klErrNoMemory) return Fail(klErrNoMemory, nullptr);
  const u8* p = unpacked ? out->GetPtr() : nullptr;
  const u64 size = p ? out->GetSize() : 0;
  if (size < 8) return Fail(klErrUIResource, nullptr);
  const kltRECT_s r = {KLF_GetBE16(p), KLF_GetBE16(p + 2), KLF_GetBE16(p + 4), KLF_GetBE16(p + 6)};
  if (r.right < r.left || r.bottom < r.top || !i_Inside(r)) return Fail(klErrUIResource, nullptr);
  const u64 need = 8 + static_cast<u64>(planes) * static_cast<u32>(r.right - r.left) * static_cast<u32>(r.bottom - r.top);
  if (exact ? size != need : size < need) return Fail(klErrUIResource, nullptr);
  if (rect) *rect = r;
  return out->GetPtr() + 8;
}

u8* CKLF_UIResources::LoadImageData(const CKLF_String& key, kltRECT_s* rect, CKLF_Mem* out) {
  return i_LoadRecord(key, rect, out, 4, 1);
}

u8* CKLF_UIResources::LoadMaskData(const CKLF_String& key, kltRECT_s* rect, CKLF_Mem* out) {
  return i_LoadRecord(key, rect, out, 1, 0);
}

u8 CKLF_UIResources::OpenFont(const CKLF_String& name, CKLF_Font& font) {
  if (!m_store || !m_store->IsOpened()) return Fail(klErrEmpty);
  const CKLF_String key = CKLF_String("UIResources>Fonts>") + name;
  const u8 type = m_store->GetRecType(key);
  if (type == CKLF_Storage::klRecMissing) return FailLookup(*m_store, klErrBadArg);
  if (type != CKLF_Storage::klRecBlock) return Fail(klErrBadArg);
  if (!font.Open(m_store, key)) return FailFrom(font, klErrFontRecord);
  return 1;
}

void CKLF_UIResources::SetDataToImage(CKLF_Layer* layer, i16 x, i16 y, const u8* data, kltRECT_s rect,
                                      i16 firstRow, i16 rowCount) {
  u8* dst[5];
  u32 stride = 0;
  if (!layer || !data || layer->GetImageMode() != 2 || !layer->GetImageChannels(dst, stride)) return;
  const i64 rw = rect.right - rect.left, rh = rect.bottom - rect.top;
  const i64 lw = layer->GetImageWidth(), lh = layer->GetImageHeight();
  if (rw <= 0 || rh <= 0) return;
  if (rw == lw && rh == lh && x == 0 && y == 0 && firstRow == 0 && rowCount == 0) {
    std::memcpy(dst[0], data, static_cast<size_t>(4 * rw * rh));  // planes lie back to back in both
    return;
  }
  if (firstRow == 0 && rowCount == 0) {
    layer->Set(kltRGBA8{0, 0, 0, 0}, 15);
    rowCount = static_cast<i16>(std::min<i64>(rh, 32767));
  }
  const i64 rows = std::min({lh - y, rh - firstRow, static_cast<i64>(rowCount)});
  const i64 x0 = std::max<i64>(0, -x), x1 = std::min<i64>(rw, lw - x);
  for (i64 r = std::max<i64>(0, -y); r < rows; ++r) {
    if (firstRow + r < 0) continue;
    for (u32 c = 0; c < 4; ++c) {
      const u8* src = data + static_cast<u64>(c) * rw * rh + static_cast<u64>(firstRow + r) * rw;
      if (x1 > x0) std::memcpy(dst[c] + (y + r) * lw + x + x0, src + x0, static_cast<size_t>(x1 - x0));
    }
  }
}
