// One picture of the UI resource file, drawn with cairo over a rectangle of
// a window; it turns into an image record (left, top, right, bottom
// big-endian, then the red, green, blue and alpha planes, straight alpha)
// or a mask record (the alpha plane alone).
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "KLF_Types.h"

class CKLT_UIArt {
 public:
  // Rectangles are in window coordinates; the cairo origin is the
  // rectangle's top-left corner.
  explicit CKLT_UIArt(kltRECT_s rect);
  ~CKLT_UIArt();
  CKLT_UIArt(const CKLT_UIArt&) = delete;
  CKLT_UIArt& operator=(const CKLT_UIArt&) = delete;

  cairo_t* Cr() const { return m_cr; }
  double W() const { return m_rect.right - m_rect.left; }
  double H() const { return m_rect.bottom - m_rect.top; }
  kltRECT_s Rect() const { return m_rect; }
  // A window rectangle in this picture's coordinates.
  kltRECT_s Local(kltRECT_s r) const;

  std::vector<u8> ImageRecord();
  std::vector<u8> MaskRecord();
  // Sets every pixel to (r, g, b, a) bytes without blending. With alpha 0
  // the colour is kept all the same: every pixel left clear carries it in
  // its planes (an ink that a control shows by writing the alpha only),
  // where cairo's premultiplied pixels would hold black.
  void Fill(u8 r, u8 g, u8 b, u8 a);
  // Sets one plane of a pixel directly (records that carry data in planes).
  void Poke(int x, int y, int plane, u8 v);

 private:
  kltRECT_s m_rect;
  cairo_surface_t* m_surface;
  cairo_t* m_cr;
  u8 m_clear[3] = {0, 0, 0};  // the planes of clear pixels
};
