// The 32-bit picture a window's canvas is copied through on its way to the
// screen: one word a pixel, bytes 0, red, green, blue in memory order, rows
// of GetRowBytes() bytes. Cost: Set touches only the rectangle it copies.
//
// Draw hands a rectangle of it to the platform's window.
#pragma once

#include "CKLF_Image.h"
#include "CKLP_UIPlatform.h"

class CKLF_OffscreenBitmap : public CKLF_FrameWork {
 public:
  CKLF_OffscreenBitmap();
  ~CKLF_OffscreenBitmap() override;

  // Error 1 for a zero size, 128 when the buffer cannot be had.
  [[nodiscard]] u8 Create(u16 w, u16 h);
  // Copies the rectangle (klNullRect = the whole bitmap, clipped to it) from
  // the image's first three planes, read from (srcX, srcY) plus the
  // rectangle's clipping shift and clipped to the image. Error 2 without a
  // bitmap, 1 without an RGB or RGBA source.
  u8 Set(CKLF_Image* rgb, i32 srcX, i32 srcY, kltRECT_s rect);

  // Copies the rectangle (klNullRect = the whole bitmap, clipped to it) to
  // the window at (x, y), shifted as the rectangle was clipped. Error 2
  // without a bitmap, 1 without a platform or window.
  u8 Draw(KLP_WindowID window, i32 x, i32 y, kltRECT_s rect);

  u16 GetWidth() const { return m_width; }
  u16 GetHeight() const { return m_height; }
  u8* GetPixels() const { return m_pixels.GetPtr(); }
  u32 GetRowBytes() const { return static_cast<u32>(m_width) * 4; }

 private:
  u16 m_width;
  u16 m_height;
  CKLF_Mem m_pixels;
};
