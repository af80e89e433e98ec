#include "CKLF_WindowResource.h"

CKLF_WindowResource::CKLF_WindowResource()
    : m_hasActive(0), m_hasInactive(0), m_width(0), m_height(0), m_dragMask(nullptr), m_dragRect(klNullRect) {}

CKLF_WindowResource::~CKLF_WindowResource() {}

// An image record into an RGBA layer at its place; window pictures take
// their left and top as signed 16-bit values.
u8 CKLF_WindowResource::i_LoadPicture(CKLF_UIResources& res, const CKLF_String& key, CKLF_Layer& layer) {
  CKLF_Mem block;
  kltRECT_s r;
  const u8* data = res.LoadImageData(key, &r, &block);
  if (!data) return FailFrom(res, klErrUIResource);
  const i16 left = static_cast<i16>(r.left), top = static_cast<i16>(r.top);
  const kltRECT_s placed = {left, top, left + (r.right - r.left), top + (r.bottom - r.top)};
  if (left < 0 || top < 0 || placed.right <= left || placed.bottom <= top) return Fail(klErrUIResource);
  if (!layer.Create(placed, 2)) return FailFrom(layer, klErrNoMemory);
  CKLF_UIResources::SetDataToImage(&layer, 0, 0, data, r, 0, 0);
  return 1;
}

u8 CKLF_WindowResource::Load(CKLF_Storage* store, const CKLF_String& name) {
  ResetError();
  m_hasActive = m_hasInactive = 0;
  m_dragMask = nullptr;
  m_width = m_height = 0;
  m_title.Clear();
  CKLF_UIResources res(store);
  if (!store || !store->IsOpened()) return Fail(klErrEmpty);
  const CKLF_String base = CKLF_String("UIResources>Windows>") + name;
  // The background alone says how large the window is: it is read
  // whole, and its size bounded, before anything is made at that size.
  if (!i_LoadPicture(res, base + ">Background", m_background)) return 0;
  const kltRECT_s bg = m_background.GetRect();
  const i64 w = static_cast<i64>(bg.right) + bg.left, h = static_cast<i64>(bg.bottom) + bg.top;
  if (w > klMaxWindowSide || h > klMaxWindowSide) return Fail(klErrUIResource);
  CKLF_UIResources inside(store, {0, 0, static_cast<i32>(w), static_cast<i32>(h)});
  if (!i_LoadCaptions(store, base, inside)) return 0;
  // Optional: one missing or malformed is no drag area.
  m_dragMask = inside.LoadMaskData(base + ">Drag_Area", &m_dragRect, &m_dragBlock);
  if (!m_dragMask && inside.GetError() == klErrNoMemory) return Fail(klErrNoMemory);
  // The title is optional.
  if (!store->GetRec(base + ">Title", m_title)) {
    if (store->GetError() != klErrStoreNoKey) return FailFrom(*store, klErrNoMemory);
    m_title.Clear();
  }
  m_width = static_cast<u16>(w);
  m_height = static_cast<u16>(h);
  return 1;
}

// Either caption may be missing; a store that cannot look fails.
u8 CKLF_WindowResource::i_LoadCaptions(CKLF_Storage* store, const CKLF_String& base, CKLF_UIResources& res) {
  u8 there = 0;
  const auto look = [&](const char* name) -> u8 {
    there = store->GetRecType(base + name) != CKLF_Storage::klRecMissing;
    return there || store->GetError() == klErrStoreNoKey ? 1 : FailFrom(*store, klErrNoMemory);
  };
  if (!look(">Caption_Active")) return 0;
  if (!there) return 1;
  if (!i_LoadPicture(res, base + ">Caption_Active", m_captionActive)) return 0;
  m_hasActive = 1;
  if (!look(">Caption_Inactive")) return 0;
  if (!there) return 1;
  if (!i_LoadPicture(res, base + ">Caption_Inactive", m_captionInactive)) return 0;
  m_hasInactive = 1;
  return 1;
}

u8 CKLF_WindowResource::MakeShape(CKLF_Mem& bits, u32& rowBytes) {
  if (m_width == 0) return Fail(klErrEmpty);
  rowBytes = m_width / 8u + 1;
  if (!bits.Zalloc(rowBytes * static_cast<u32>(m_height))) return FailFrom(bits, klErrNoMemory);
  const kltRECT_s r = m_background.GetRect();
  const u32 bw = static_cast<u32>(r.right - r.left);
  const u8* alpha = m_background.GetMemObj()->GetPtr() + 3ull * bw * static_cast<u32>(r.bottom - r.top);
  for (i32 y = r.top; y < r.bottom; ++y, alpha += bw) {
    u8* row = bits.GetPtr() + static_cast<u64>(y) * rowBytes;
    for (u32 i = 0; i < bw; ++i) {
      const u32 x = static_cast<u32>(r.left) + i;
      if (alpha[i] > 128) row[x >> 3] |= static_cast<u8>(0x80 >> (x & 7));
    }
  }
  return 1;
}

u8 CKLF_WindowResource::PtInDragArea(i32 x, i32 y) const {
  if (!m_dragMask || x < m_dragRect.left || x >= m_dragRect.right || y < m_dragRect.top || y >= m_dragRect.bottom)
    return 0;
  const u64 i = static_cast<u64>(y - m_dragRect.top) * static_cast<u32>(m_dragRect.right - m_dragRect.left) +
                static_cast<u32>(x - m_dragRect.left);
  return m_dragMask[i] > 128 ? 1 : 0;
}
