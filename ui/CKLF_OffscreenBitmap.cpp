#include "CKLF_OffscreenBitmap.h"

#include <algorithm>

CKLF_OffscreenBitmap::CKLF_OffscreenBitmap() : m_width(0), m_height(0) {}

CKLF_OffscreenBitmap::~CKLF_OffscreenBitmap() {}

u8 CKLF_OffscreenBitmap::Create(u16 w, u16 h) {
  ResetError();
  if (w == 0 || h == 0) return Fail(klErrBadArg);
  m_width = m_height = 0;
  u64 bytes = static_cast<u64>(w) * h * 4;
  if (!klFits32(bytes) || !m_pixels.Zalloc(static_cast<u32>(bytes))) return Fail(klErrNoMemory);
  m_width = w;
  m_height = h;
  return 1;
}

u8 CKLF_OffscreenBitmap::Set(CKLF_Image* rgb, i32 srcX, i32 srcY, kltRECT_s rect) {
  if (!m_pixels.GetPtr()) return Fail(klErrEmpty);
  u8* planes[5];
  u32 stride = 0;
  if (!rgb || (rgb->GetImageMode() != 1 && rgb->GetImageMode() != 2) || !rgb->GetImageChannels(planes, stride))
    return Fail(klErrBadArg);
  kltRECT_s d = klIsNullRect(rect) ? kltRECT_s{0, 0, m_width, m_height} : rect;
  // Clipping the destination shifts the source by the same amount.
  i64 sx = static_cast<i64>(srcX) + std::max(d.left, 0) - d.left;
  i64 sy = static_cast<i64>(srcY) + std::max(d.top, 0) - d.top;
  i64 left = std::max(d.left, 0), top = std::max(d.top, 0);
  i64 right = std::min<i64>(d.right, m_width), bottom = std::min<i64>(d.bottom, m_height);
  // Then clip the source to the image, shifting the destination back.
  if (sx < 0) left -= sx, sx = 0;
  if (sy < 0) top -= sy, sy = 0;
  right = std::min<i64>(right, left + rgb->GetImageWidth() - sx);
  bottom = std::min<i64>(bottom, top + rgb->GetImageHeight() - sy);
  ResetError();
  for (i64 y = top; y < bottom; ++y) {
    u64 s = static_cast<u64>(sy + y - top) * stride + static_cast<u64>(sx);
    u8* out = m_pixels.GetPtr() + (static_cast<u64>(y) * m_width + static_cast<u64>(left)) * 4;
    for (i64 x = left; x < right; ++x, ++s, out += 4) {
      out[0] = 0;
      out[1] = planes[0][s];
      out[2] = planes[1][s];
      out[3] = planes[2][s];
    }
  }
  return 1;
}

u8 CKLF_OffscreenBitmap::Draw(KLP_WindowID window, i32 x, i32 y, kltRECT_s rect) {
  if (!m_pixels.GetPtr()) return Fail(klErrEmpty);
  CKLP_UIPlatform* ui = KLP_GetUI();
  if (!ui || !window) return Fail(klErrBadArg);
  const kltRECT_s d = klIsNullRect(rect) ? kltRECT_s{0, 0, m_width, m_height} : rect;
  const i32 left = std::max(d.left, 0), top = std::max(d.top, 0);
  const i32 right = std::min<i32>(d.right, m_width), bottom = std::min<i32>(d.bottom, m_height);
  ResetError();
  if (right <= left || bottom <= top) return 1;
  // The destination moves as the rectangle was clipped.
  ui->DrawPixels(window, m_pixels.GetPtr(), GetRowBytes(), KLP_Rect{left, top, right, bottom},
                 KLP_Point{x + left - d.left, y + top - d.top});
  return 1;
}
