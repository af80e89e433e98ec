#include "CKLF_Layer.h"

#include <algorithm>

CKLF_Layer::CKLF_Layer() : m_x(0), m_y(0), m_opacity(255), m_visible(1), m_clip(klNullRect), m_clipSet(0) {}

CKLF_Layer::~CKLF_Layer() {}

u8 CKLF_Layer::Create(i16 x, i16 y, u16 w, u16 h, u8 mode) {
  if (!CKLF_Image::Create(w, h, mode)) return 0;
  SetPos(x, y);
  return 1;
}

u8 CKLF_Layer::Create(i16 x, i16 y, CKLF_Image* source, u8 mode) {
  if (!CKLF_Image::Create(source, mode)) return 0;
  SetPos(x, y);
  return 1;
}

u8 CKLF_Layer::Create(kltRECT_s rect, u8 mode) {
  i64 w = static_cast<i64>(rect.right) - rect.left;
  i64 h = static_cast<i64>(rect.bottom) - rect.top;
  if (w < 0 || h < 0 || w > 65535 || h > 65535 || rect.left < -32768 || rect.left > 32767 ||
      rect.top < -32768 || rect.top > 32767)
    return Fail(klErrBadArg);
  return Create(static_cast<i16>(rect.left), static_cast<i16>(rect.top), static_cast<u16>(w), static_cast<u16>(h),
                mode);
}

kltRECT_s CKLF_Layer::GetRect() const {
  return {m_x, m_y, m_x + static_cast<i32>(GetImageWidth()), m_y + static_cast<i32>(GetImageHeight())};
}

void CKLF_Layer::SetClipRect(kltRECT_s clip) {
  m_clip = clip;
  // A partly given clip counts as set: its -32000 edges clip away.
  m_clipSet = klIsNullRect(clip) ? 0 : 1;
}

KLF_LINESPAN CKLF_Layer::GetLine(i32 x, i32 y, u16 width) {
  KLF_LINESPAN s = {1, nullptr, nullptr, nullptr, nullptr, 0, 0, 0};
  const u32 w = GetImageWidth(), h = GetImageHeight();
  CKLF_Mem* mem = GetMemObj();
  if (!m_visible || m_opacity == 0 || !mem || w == 0) return s;
  const i32 row = y - m_y;
  if (row < 0 || row >= static_cast<i32>(h)) return s;
  i32 a = std::max<i32>(x, m_x);
  i32 b = std::min<i32>(x + width, m_x + static_cast<i32>(w));
  if (m_clipSet) {
    if (y < m_clip.top || y >= m_clip.bottom) return s;
    a = std::max(a, m_clip.left);
    b = std::min(b, m_clip.right);
  }
  if (a >= b) return s;
  const u64 plane = static_cast<u64>(w) * h;
  u8* p = mem->GetPtr() + static_cast<u64>(row) * w + static_cast<u32>(a - m_x);
  s.empty = 0;
  s.red = p;
  s.green = p + plane;
  s.blue = p + 2 * plane;
  s.alpha = GetImageMode() == 2 ? p + 3 * plane : nullptr;
  s.start = static_cast<u16>(a - x);
  s.end = static_cast<u16>(b - x);
  s.opacity = m_opacity;
  return s;
}
