// The theme's artwork, drawn with cairo: dark grey panels, one blue accent,
// light text. A CKLT_UIArt is one picture over a rectangle of a window; it
// turns into an image record (left, top, right, bottom big-endian, then the
// red, green, blue and alpha planes, straight alpha) or a mask record (the
// alpha plane alone). Labels are drawn with the theme's TrueType face.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "KLF_Types.h"

// How a control looks in one of its states.
enum class KLT_Look { Normal, Highlighted, Pressed, PressedOut, Disabled };

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
  // Sets every pixel to (r, g, b, a) bytes without blending.
  void Fill(u8 r, u8 g, u8 b, u8 a);
  // Sets one plane of a pixel directly (records that carry data in planes).
  void Poke(int x, int y, int plane, u8 v);

 private:
  kltRECT_s m_rect;
  cairo_surface_t* m_surface;
  cairo_t* m_cr;
};

// The face labels and titles are drawn with; false when it cannot be opened.
bool KLT_ArtSetLabelFont(const std::string& ttf);
void KLT_ArtDone();

// Drawing of the theme. Sizes in pixels, rectangles in the picture's own
// coordinates unless said otherwise.
namespace klt_theme {

void WindowBackground(cairo_t* cr, double w, double h, double captionH);
void Caption(cairo_t* cr, double w, double h, const std::string& title, bool active);
void Panel(cairo_t* cr, kltRECT_s r, const std::string& title);
void Well(cairo_t* cr, kltRECT_s r);
void Field(cairo_t* cr, kltRECT_s r);
void RulerStrip(cairo_t* cr, kltRECT_s r, bool vertical);

// arrow: 0 none, 1 up, 2 down, 3 left, 4 right; menu adds a drop-down mark.
void Button(cairo_t* cr, double w, double h, KLT_Look look, const std::string& label, bool menu, int arrow);
void CheckBox(cairo_t* cr, double w, double h, KLT_Look look, bool on, const std::string& label);
void Radio(cairo_t* cr, double w, double h, KLT_Look look, bool on, const std::string& label);
void ProgressBar(cairo_t* cr, double w, double h);
void ScrollTrack(cairo_t* cr, double w, double h, KLT_Look look);
void ScrollThumb(cairo_t* cr, double w, double h, bool vertical, KLT_Look look);
void SliderTrack(cairo_t* cr, double w, double h, const std::vector<kltFPOS>& path, bool closed, KLT_Look look);
void SliderKnob(cairo_t* cr, double d, KLT_Look look);
void ListBack(cairo_t* cr, double w, double h, KLT_Look look, bool selected);
void Piece(cairo_t* cr, double w, double h, bool disabled);

// Paint colours of texts drawn at run time (static texts, list lines).
void TextPaint(KLT_Look look, u8& r, u8& g, u8& b);

}  // namespace klt_theme
