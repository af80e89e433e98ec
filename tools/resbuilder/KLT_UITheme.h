// The theme's artwork: dark grey panels, one blue accent, light text, drawn
// with cairo; labels and titles with the theme's TrueType face through
// FreeType. Each control state has its own look, told apart at a glance:
// highlighted is lighter, pressed is the accent, pressed with the mouse
// outside keeps an accent outline, disabled is dim.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "KLF_Types.h"

// How a control looks in one of its states.
enum class KLT_Look { Normal, Highlighted, Pressed, PressedOut, Disabled };

// The face labels and titles are drawn with; false when it cannot be opened.
bool KLT_ThemeSetLabelFont(const std::string& ttf);
void KLT_ThemeDone();

// Drawing of the theme. Sizes in pixels, rectangles in the picture's own
// coordinates unless said otherwise.
namespace klt_theme {

void WindowBackground(cairo_t* cr, double w, double h, double captionH);
// The title is centred, or starts at titleLeft when that is given.
void Caption(cairo_t* cr, double w, double h, const std::string& title, bool active, double titleLeft = -1);
// The width of a caption's title.
double CaptionTitleWidth(const std::string& title);
void Panel(cairo_t* cr, kltRECT_s r, const std::string& title);
void Well(cairo_t* cr, kltRECT_s r);
void Field(cairo_t* cr, kltRECT_s r);
void RulerStrip(cairo_t* cr, kltRECT_s r, bool vertical);
// A veil over w x h with a box of 300 x 104 in its middle, the label at the
// box's top.
void Cover(cairo_t* cr, double w, double h, const std::string& label);

// arrow: 0 none, 1 up, 2 down, 3 left, 4 right; menu adds a drop-down mark.
void Button(cairo_t* cr, double w, double h, KLT_Look look, const std::string& label, bool menu, int arrow);
void CheckBox(cairo_t* cr, double w, double h, KLT_Look look, bool on, const std::string& label);
void Radio(cairo_t* cr, double w, double h, KLT_Look look, bool on, const std::string& label);
void ProgressBar(cairo_t* cr, double w, double h);
void ScrollTrack(cairo_t* cr, double w, double h, KLT_Look look);
void ScrollThumb(cairo_t* cr, double w, double h, bool vertical, KLT_Look look);
// A straight track through the path's points, and a dial's round ring.
void SliderTrack(cairo_t* cr, const std::vector<kltFPOS>& path, KLT_Look look);
void SliderRing(cairo_t* cr, double cx, double cy, double radius, KLT_Look look);
void SliderKnob(cairo_t* cr, double d, KLT_Look look);
void ListBack(cairo_t* cr, double w, double h, KLT_Look look, bool selected);
void Piece(cairo_t* cr, double w, double h, bool disabled);
// The sample picture of the effect windows: a piece of a small landscape
// over transparency.
void Sample(cairo_t* cr, double w, double h);
// The same piece in a pattern of its own: the picture the image overlay
// window lays over the sample.
void OverlaySample(cairo_t* cr, double w, double h);
// The accent frame that marks the second value being edited.
void ValueFrame(cairo_t* cr, double w, double h);
// A round well in the rectangle (window coordinates): a disc of diameter
// min(w, h) + 3 whose centre lies one pixel right of and below the
// rectangle's, with rings and a cross.
void Disc(cairo_t* cr, kltRECT_s r);
// A round knob over w x h, and an empty colour field in a frame.
void Thumb(cairo_t* cr, double w, double h);
void Swatch(cairo_t* cr, double w, double h);

// Paint colours of texts drawn at run time (static texts, list lines).
void TextPaint(KLT_Look look, u8& r, u8& g, u8& b);

// Tones of fixed texts: body, muted (the names of fields), soft
// (secondary), bright (headings), accent.
enum class KLT_Tone { Normal, Muted, Soft, Bright, Accent };
// A fixed text centred on cy, starting at x (align 0), centred on x (1) or
// ending at x (2).
void Text(cairo_t* cr, const std::string& text, double x, double cy, double size, int align, KLT_Tone tone);
// A rounded chip with a label, in the accent blue or in the layout orange.
void Badge(cairo_t* cr, kltRECT_s r, const std::string& text, bool orange);
// Makes the rectangle transparent (a hole for a control on a caption).
void Clear(cairo_t* cr, kltRECT_s r);
// Cards in a grid of columns x rows over w x h, kCellGap pixels from the
// sides and apart, with bottom pixels kept free below the last row: each
// card is (w - (columns + 1) gap) / columns wide and (h - gap - bottom -
// (rows - 1) gap) / rows high, divisions truncated.
constexpr int kCellGap = 8;
void Cells(cairo_t* cr, double w, double h, int columns, int rows, double bottom);
// A sample of a triangle or hexagon layout.
void LayoutSample(cairo_t* cr, double w, double h, bool hexagons, bool disabled);

}  // namespace klt_theme
