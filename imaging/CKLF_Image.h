// Planar 8-bit picture: all red bytes, then all green, then all blue and,
// for RGBA, all alpha, in one CKLF_Mem block; row stride = width.
// Plane c, pixel (x, y) sits at c*w*h + y*w + x. Other code works on the
// planes through GetImageChannels as raw pointers with width and stride.
//
// Cost: fills, copies, blends, flips and rotations are one pass over the
// touched bytes, row by row; rotations and FlipVert build a new block (one
// extra image of memory for a moment). Drawing costs the pixels it touches.
// Limits: width and height are 16-bit; the block must fit 32 bits (a
// 65535 x 65535 RGB image does not: error 17). Create makes modes 1 (RGB)
// and 2 (RGBA) only. Colours are kltRGBA8; rectangles are right/bottom
// exclusive, klNullRect means the whole image, and every rectangle is
// clipped to the image (an empty result does nothing and succeeds).
#pragma once

#include "CKLF_Mem.h"

class CKLF_Image : public CKLF_FrameWork {
 public:
  CKLF_Image();
  ~CKLF_Image() override;

  CKLF_Image(const CKLF_Image&) = delete;
  CKLF_Image& operator=(const CKLF_Image&) = delete;

  // Plane count of a mode number: 1 -> 3, 2 and 3 -> 4, 4 -> 5, 5 -> 1,
  // 6 -> 2, anything else 0.
  static u8 PlaneCount(u8 mode);

  // ---- lifecycle and access ----

  // Clean, then a block of w*h*3 (mode 1) or w*h*4 (mode 2) bytes, contents
  // undefined. 0 without a code for a zero area; error 1 for another mode;
  // error 17 when the block cannot be made or does not fit 32 bits.
  [[nodiscard]] u8 Create(u16 w, u16 h, u8 mode);
  // A copy of src in mode (0 = src's mode). RGB into RGBA gives alpha 255.
  // Error 1 for a null source or a bad mode, 2 for a source without pixels.
  [[nodiscard]] u8 Create(CKLF_Image* src, u8 mode = 0);
  // Deletes the block; mode, width and height 0; resets the error.
  void Clean();

  u8 GetImageMode() const { return m_mode; }
  u16 GetImageWidth() const { return m_width; }
  u16 GetImageHeight() const { return m_height; }
  u8 GetImageSize(u16& w, u16& h) const {
    w = m_width;
    h = m_height;
    return 1;
  }
  CKLF_Mem* GetMemObj() const { return m_pixels; }

  // RGBA <-> RGB (alpha dropped / set to 255); the same mode returns 1;
  // other pairs error 1; error 2 without pixels.
  [[nodiscard]] u8 ChangeImageMode(u8 mode);

  // The pixel, alpha 255 for RGB. Outside: error 1 and all zero; without
  // pixels: error 2 and all zero.
  kltRGBA8 GetPixel(u16 x, u16 y);
  kltRGBA8 GetPixel(kltPOS p);
  // Stores c (alpha only in RGBA images) and returns the previous pixel.
  kltRGBA8 SetPixel(u16 x, u16 y, kltRGBA8 c);
  kltRGBA8 SetPixel(kltPOS p, kltRGBA8 c);
  // The byte of (x, y) in the first plane; null with error 1 outside or
  // error 2 without pixels.
  u8* GetPixelPtr(u16 x, u16 y);
  // One pointer per plane of the mode (planes must have room for up to
  // five) and the stride (= width). Error 1 and 0 for a mode without planes
  // or an image without pixels.
  u8 GetImageChannels(u8** planes, u32& stride);

  // ---- fills and copies ----

  // Fills the clipped rectangle of every plane whose bit is set in
  // planeMask (1 red, 2 green, 4 blue, 8 alpha; missing planes skipped)
  // with that component of c. Error 2 without pixels.
  u8 Set(kltRGBA8 c, u8 planeMask, kltRECT_s r = klNullRect);
  // Checkerboard of w x h cells over r, anchored at the clipped rectangle's
  // top-left: that cell and every other one diagonally from it get c2, the
  // rest c1; all planes. Error 1 for a zero cell size, 2 without pixels.
  u8 Set(u16 w, u16 h, kltRGBA8 c1, kltRGBA8 c2, kltRECT_s r = klNullRect);
  // Repeats srcRect of src over dstRect (both clipped; klNullRect = whole).
  // An alpha plane the source lacks becomes 255. Error 2 without own
  // pixels; error 1 without source pixels or when src is this image.
  u8 Tile(CKLF_Image* src, kltRECT_s srcRect, kltRECT_s dstRect);
  // Copies the source pixels starting at (sx, sy) into dstRect, clipped on
  // both sides. Errors: 2 without own pixels, 1 without source pixels.
  u8 Set(CKLF_Image* src, i32 sx, i32 sy, kltRECT_s dstRect);
  // Composites an RGBA source over this image with opacity 0..100 (above
  // 99 = full); a source without alpha is copied as by Set.
  u8 Blend(CKLF_Image* src, i32 sx, i32 sy, kltRECT_s dstRect, u8 opacity);

  // ---- geometry ----

  [[nodiscard]] u8 Rotate90();   // a quarter turn counter-clockwise
  [[nodiscard]] u8 Rotate180();
  [[nodiscard]] u8 Rotate270();  // a quarter turn clockwise
  [[nodiscard]] u8 FlipVert();   // rows in reverse order
  [[nodiscard]] u8 FlipHor();    // each row mirrored

  // ---- drawing (clip klNullRect = the whole image) ----

  // 1-pixel line, both ends drawn, minor axis in 16.16 fixed point.
  u8 DrawLine(i16 x1, i16 y1, i16 x2, i16 y2, kltRGBA8 c, kltRECT_s clip = klNullRect);
  u8 DrawLine(kltPOS p1, kltPOS p2, kltRGBA8 c, kltRECT_s clip = klNullRect);
  // Outline through four DrawLine calls (corners drawn twice); p2 is drawn,
  // while the rectangle form outlines the pixels inside r (right/bottom
  // exclusive).
  u8 DrawRect(kltPOS p1, kltPOS p2, kltRGBA8 c, kltRECT_s clip = klNullRect);
  u8 DrawRect(kltRECT_s r, kltRGBA8 c, kltRECT_s clip = klNullRect);
  // Midpoint circle outline.
  u8 DrawCircle(i16 cx, i16 cy, i16 r, kltRGBA8 c, kltRECT_s clip = klNullRect);
  u8 DrawCircle(kltPOS centre, i16 r, kltRGBA8 c, kltRECT_s clip = klNullRect);
  // Anti-aliased 1-pixel line (three pixels across the line per step).
  // unionAlpha set: alpha = 1 - (1 - e)(1 - dstA); clear: max(dstA, e).
  u8 DrawAALine(i16 x1, i16 y1, i16 x2, i16 y2, kltRGBA8 c, kltRECT_s clip = klNullRect,
                u8 unionAlpha = 1);
  u8 DrawAALine(kltPOS p1, kltPOS p2, kltRGBA8 c, kltRECT_s clip = klNullRect, u8 unionAlpha = 1);
  // Writes value into the alpha plane along the line (RGBA only; other
  // modes draw nothing).
  u8 DrawAlphaLine(i16 x1, i16 y1, i16 x2, i16 y2, u8 value, kltRECT_s clip = klNullRect);

 private:
  [[nodiscard]] u8 i_NewBlock(CKLF_Mem*& block, u64 bytes);
  void i_ReplaceBlock(CKLF_Mem* block, u16 w, u16 h);
  [[nodiscard]] u8 i_ClipRect(kltRECT_s r, kltRECT_s& out) const;
  // The source and destination rectangles (equal sizes) of copying src from
  // (sx, sy) into dstRect; 0 when nothing remains after clipping.
  [[nodiscard]] u8 i_SourceRegion(const CKLF_Image* src, i32 sx, i32 sy, kltRECT_s dstRect, kltRECT_s& s,
                                  kltRECT_s& d) const;
  // A block of this image's size for a geometry operation; error 2 without
  // pixels.
  [[nodiscard]] u8 i_NewPixelBlock(CKLF_Mem*& block);

  CKLF_Mem* m_pixels;
  u8 m_mode;
  u16 m_width;
  u16 m_height;
};
