// Draws lines of any width with real-valued end points into one 8-bit
// plane (a mask or an alpha plane) or a packed one-bit plane (pixel (x, y)
// in bit 7 - x % 8 of byte y * stride + x / 8). Anti-aliased lines take each
// pixel's coverage from its distance to the segment, with optional round
// caps; the plain variants use Bresenham steps with a 1-pixel or a disc
// brush and keep the larger value.
//
// Cost: an anti-aliased segment evaluates only the pixels of each row that
// can be covered (about length x (width + 3) pixels); with maxBlend clear
// the rest of its bounding box is cleared row by row. With maxBlend set, a
// polyline 8 pixels wide or more (or a set of polylines drawn at once with
// one) reads the rows of its box once from either end, gathers the spans its
// segments surely cover fully, fills each once and evaluates only the
// pixels left near the edges: about the box's area once plus the
// segments' rows, rather than each segment's area. Plain lines cost one
// step per pixel of length inside the clip rectangle; the disc brush, per
// step, its rows inside the clip rectangle (in a set, those with pixels
// still below the value), then one fill of the line's span in each such
// row. The object owns only a small table for the disc, a span per row,
// and a few spans a row for the blend.
// Limits: plain lines take end points within +-2^28 and widths below
// 65536; anti-aliased lines take any finite values (error 1 otherwise).
#pragma once

#include "CKLF_Image.h"

class CKLF_ImageDrawing : public CKLF_FrameWork {
 public:
  CKLF_ImageDrawing();
  ~CKLF_ImageDrawing() override;

  CKLF_ImageDrawing(const CKLF_ImageDrawing&) = delete;
  CKLF_ImageDrawing& operator=(const CKLF_ImageDrawing&) = delete;

  // The destination plane (not owned): width pixels a row, stride bytes a
  // row, height rows. Error 1 and 0 for a null plane.
  u8 SetDestination(u8* plane, u32 width, u32 stride, u32 height);
  // The last plane of an RGBA image (mode 2) or of a five-plane image
  // (mode 4); error 1 and 0 for other modes or a null image.
  u8 SetDestination(CKLF_Image* img);
  // Right and bottom exclusive; klNullRect = the whole plane.
  void SetClipRect(kltRECT_s r) { m_clip = r; }
  kltRECT_s GetClipRect() const { return m_clip; }

  // Drawing state, set by the owner before drawing: anti-aliasing (1 at
  // construction; 0 selects the plain variants), the drawing value (255)
  // and the one-bit destination flag (0). A one-bit plane is always drawn
  // with the plain 1-pixel line.
  void SetAntiAlias(u8 on) { m_antiAlias = on; }
  u8 GetAntiAlias() const { return m_antiAlias; }
  void SetValue(u8 v) { m_value = v; }
  u8 GetValue() const { return m_value; }
  void SetOneBit(u8 on) { m_oneBit = on; }
  u8 GetOneBit() const { return m_oneBit; }

  // One segment of the given width. capEnds: round ends (off below width
  // 2.1); maxBlend: keep the larger value, else overwrite the segment's
  // bounding box (pixels not covered become 0); feather: edge width sqrt 2
  // and samples at pixel centres. A zero-length segment draws nothing.
  // Returns 1; 0 with error 2 without a destination, error 1 for a stride
  // too small for the width or coordinates that are not finite numbers.
  [[nodiscard]] u8 DrawHQLine(f64 x1, f64 y1, f64 x2, f64 y2, f64 width, u8 capEnds, u8 maxBlend, u8 feather);
  [[nodiscard]] u8 DrawHQLine(kltFPOS a, kltFPOS b, f64 width, u8 capEnds, u8 maxBlend, u8 feather);
  // A polyline: from the current point to the first following point whose
  // squared distance from it exceeds minDist2 (or the last point), and on
  // from there. 0 with error 1 for fewer than 2 points. Blended into an
  // 8-bit plane (maxBlend, or plain), every segment is checked before any
  // is drawn.
  [[nodiscard]] u8 DrawHQPolyLine(const kltFPOS* pts, u32 n, f64 width, u8 capEnds, u8 maxBlend, u8 feather, f64 minDist2);
  // One polyline of a set drawn at once (the points are not copied).
  struct HQPOLYLINE {
    const kltFPOS* points;
    u32 count;
    f64 width;
    f64 minDist2;
  };
  // Polylines drawn as DrawHQPolyLine draws each, with the same pixels;
  // blended into an 8-bit plane, the pixels they share are worked on once.
  // A polyline that cannot be drawn is left out, the others drawn, and 0
  // returned with error 1.
  [[nodiscard]] u8 DrawHQPolyLines(const HQPOLYLINE* lines, u32 count, u8 capEnds, u8 maxBlend, u8 feather);

  // Plain lines over end points truncated toward zero: the one-bit line on
  // a one-bit plane, else discs of diameter trunc(width) for widths of 2
  // and more, else the 1-pixel line. The two flags do not change them.
  [[nodiscard]] u8 DrawHQLineNAA(f64 x1, f64 y1, f64 x2, f64 y2, f64 width, u8 capEnds, u8 maxBlend);
  [[nodiscard]] u8 DrawHQLineNAA1Pix(f64 x1, f64 y1, f64 x2, f64 y2);
  [[nodiscard]] u8 DrawHQLineNAAnPix(f64 x1, f64 y1, f64 x2, f64 y2, f64 width);
  [[nodiscard]] u8 DrawHQLineNAA1PixBit(f64 x1, f64 y1, f64 x2, f64 y2);

 private:
  [[nodiscard]] u8 i_CheckDestination(bool oneBit);
  kltRECT_s i_Clip() const;
  [[nodiscard]] u8 i_PlainEnds(f64 x1, f64 y1, f64 x2, f64 y2, i32 e[4]);
  // Polylines blended into an 8-bit plane (the larger value kept),
  // anti-aliased or plain, over the rows of their box still below the
  // drawing value.
  struct OpenRows;
  [[nodiscard]] u8 i_Blend(const HQPOLYLINE* lines, u32 count, u8 capEnds, u8 feather);
  [[nodiscard]] u8 i_OpenRows(kltRECT_s box, OpenRows& open);
  // allGood: every polyline was found drawable; open: the rows left open
  // for wide lines, null for thin ones.
  void i_BlendHQ(const HQPOLYLINE* lines, u32 count, u8 capEnds, u8 feather, u8 allGood, OpenRows* open);
  [[nodiscard]] u8 i_BlendPlain(const HQPOLYLINE* lines, u32 count, u8 allGood, OpenRows* open);
  // Plain lines over truncated end points: 1 pixel, the disc brush (in a
  // blend, open is its rows).
  void i_PixelLine(const i32 e[4]);
  [[nodiscard]] u8 i_DiscLine(const i32 e[4], f64 width, OpenRows* open);
  [[nodiscard]] u8 i_DiscSpans(u64 bytes);

  u8 m_antiAlias;
  u8 m_value;
  u8 m_oneBit;
  u8* m_plane;
  u32 m_width;
  u32 m_stride;
  u32 m_height;
  kltRECT_s m_clip;
  CKLF_Mem m_discSpans;  // the disc brush's reach per row, then a span per row drawn
  u32 m_discWidth = 0;   // the brush the reach is for, 0: none
  CKLF_Mem m_rowSpans;   // an anti-aliased blend's rows
};
