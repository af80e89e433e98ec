#include "KLT_UITheme.h"

#include <cairo-ft.h>

#include <algorithm>
#include <cmath>

#include "KLP_Palette.h"

namespace {

FT_Library g_lib = nullptr;
FT_Face g_face = nullptr;
cairo_font_face_t* g_font = nullptr;

// The palette.
using klp_palette::kAccent;
using klp_palette::kAccentDark;
using klp_palette::kAccentLight;
using klp_palette::kEdge;
using klp_palette::kField;
using klp_palette::kText;
using klp_palette::kTextBright;
using klp_palette::kTextDim;
using klp_palette::kTextSoft;

void Rgb(cairo_t* cr, u32 c, double a = 1.0) {
  cairo_set_source_rgba(cr, ((c >> 16) & 255) / 255.0, ((c >> 8) & 255) / 255.0, (c & 255) / 255.0, a);
}

void Gradient(cairo_t* cr, double y0, double y1, u32 top, u32 bottom) {
  cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
  cairo_pattern_add_color_stop_rgb(p, 0, ((top >> 16) & 255) / 255.0, ((top >> 8) & 255) / 255.0, (top & 255) / 255.0);
  cairo_pattern_add_color_stop_rgb(p, 1, ((bottom >> 16) & 255) / 255.0, ((bottom >> 8) & 255) / 255.0,
                                   (bottom & 255) / 255.0);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
}

void RoundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  r = std::min({r, w / 2, h / 2});
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// Text centred on cy, starting at x (align 0), centred on x (1) or ending at x (2).
void Label(cairo_t* cr, const std::string& text, double x, double cy, u32 colour, double size, int align) {
  if (text.empty() || !g_font) return;
  cairo_save(cr);
  cairo_set_font_face(cr, g_font);
  cairo_set_font_size(cr, size);
  cairo_font_options_t* o = cairo_font_options_create();
  cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_SLIGHT);
  cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_ON);
  cairo_set_font_options(cr, o);
  cairo_font_options_destroy(o);
  cairo_font_extents_t fe;
  cairo_text_extents_t te;
  cairo_font_extents(cr, &fe);
  cairo_text_extents(cr, text.c_str(), &te);
  const double left = align == 0 ? x : align == 1 ? x - te.x_advance / 2 : x - te.x_advance;
  cairo_move_to(cr, std::round(left), std::round(cy + (fe.ascent - fe.descent) / 2));
  Rgb(cr, colour);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
}

void Arrow(cairo_t* cr, double cx, double cy, double s, int dir) {
  cairo_save(cr);
  cairo_translate(cr, cx, cy);
  cairo_rotate(cr, (dir == 1 ? 0 : dir == 4 ? 0.5 : dir == 2 ? 1 : 1.5) * M_PI);
  cairo_move_to(cr, -s, s * 0.55);
  cairo_line_to(cr, 0, -s * 0.55);
  cairo_line_to(cr, s, s * 0.55);
  cairo_close_path(cr);
  cairo_restore(cr);
  cairo_fill(cr);
}

}  // namespace

bool KLT_ThemeSetLabelFont(const std::string& ttf) {
  KLT_ThemeDone();
  if (FT_Init_FreeType(&g_lib) != 0 || FT_New_Face(g_lib, ttf.c_str(), 0, &g_face) != 0) return false;
  g_font = cairo_ft_font_face_create_for_ft_face(g_face, 0);
  return cairo_font_face_status(g_font) == CAIRO_STATUS_SUCCESS;
}

void KLT_ThemeDone() {
  if (g_font) cairo_font_face_destroy(g_font);
  if (g_face) FT_Done_Face(g_face);
  if (g_lib) FT_Done_FreeType(g_lib);
  g_font = nullptr;
  g_face = nullptr;
  g_lib = nullptr;
}


namespace klt_theme {

namespace {

struct Face {
  u32 top, bottom, edge, text;
  bool dashed;
};

// The five looks of a push button.
Face ButtonFace(KLT_Look look) {
  switch (look) {
    case KLT_Look::Highlighted: return {0x5C5C63, 0x4E4E55, 0x7C7C86, kTextBright, false};
    case KLT_Look::Pressed: return {kAccentDark, kAccent, 0x1E4A80, kTextBright, false};
    case KLT_Look::PressedOut: return {0x3A3A3F, 0x3A3A3F, kAccent, kTextSoft, true};
    case KLT_Look::Disabled: return {0x343437, 0x343437, 0x2A2A2D, kTextDim, false};
    default: return {klp_palette::kButtonTop, klp_palette::kButtonBottom, kEdge, kText, false};
  }
}

void Stroke(cairo_t* cr, u32 colour, bool dashed) {
  Rgb(cr, colour);
  cairo_set_line_width(cr, 1);
  if (dashed) {
    const double d[] = {2, 2};
    cairo_set_dash(cr, d, 2, 0);
  }
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
}

// The box or ring of a check box or radio button, with its label.
void Toggle(cairo_t* cr, double w, double h, KLT_Look look, bool on, const std::string& label, bool round) {
  const double s = 14, x = 1.5, y = std::floor((h - s) / 2) + 0.5;
  const bool off = look == KLT_Look::Disabled;
  u32 fill = on ? kAccent : kField, edge = on ? kAccentDark : 0x6E6E76, text = kText;
  if (look == KLT_Look::Highlighted) fill = on ? kAccentLight : 0x2A2A2E, edge = on ? kAccent : 0xA6A6AE, text = kTextBright;
  if (look == KLT_Look::Pressed) fill = on ? kAccentDark : 0x141416, edge = kAccentLight, text = kTextBright;
  if (look == KLT_Look::PressedOut) fill = on ? 0x2F5F95 : 0x27272B, edge = kAccent, text = kTextSoft;
  if (off) fill = on ? 0x4A4A50 : 0x2A2A2D, edge = 0x3E3E43, text = kTextDim;
  if (round)
    cairo_arc(cr, x + s / 2 - 0.5, y + s / 2 - 0.5, s / 2, 0, 2 * M_PI);
  else
    RoundRect(cr, x, y, s - 1, s - 1, 3);
  Rgb(cr, fill);
  cairo_fill_preserve(cr);
  Stroke(cr, edge, look == KLT_Look::PressedOut);
  if (on) {
    Rgb(cr, off ? 0x8A8A90 : kTextBright);
    if (round) {
      cairo_arc(cr, x + s / 2 - 0.5, y + s / 2 - 0.5, 3, 0, 2 * M_PI);
      cairo_fill(cr);
    } else {
      cairo_set_line_width(cr, 2);
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
      cairo_move_to(cr, x + 3, y + 7);
      cairo_line_to(cr, x + 5.5, y + 9.5);
      cairo_line_to(cr, x + 10, y + 3.5);
      cairo_stroke(cr);
    }
  }
  Label(cr, label, x + s + 6, h / 2, text, 12, 0);
  (void)w;
}

// The groove of a slider along the path trace() lays: a dark edge under a
// fill of the look.
template <class Trace>
void Groove(cairo_t* cr, Trace trace, KLT_Look look) {
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  trace();
  cairo_set_line_width(cr, 6);
  Rgb(cr, 0x111113);
  cairo_stroke(cr);
  trace();
  cairo_set_line_width(cr, 4);
  const u32 fill = look == KLT_Look::Highlighted ? 0x2C2C31 : look == KLT_Look::Pressed ? 0x2A4F7A : 0x1F1F22;
  Rgb(cr, fill, look == KLT_Look::Disabled ? 0.6 : 1);
  cairo_stroke(cr);
}

}  // namespace

void WindowBackground(cairo_t* cr, double w, double h, double captionH) {
  RoundRect(cr, 0, 0, w, h, 8);
  Gradient(cr, 0, h, 0x333337, 0x28282B);
  cairo_fill(cr);
  if (captionH > 0) {
    cairo_rectangle(cr, 0, captionH, w, 1);
    Rgb(cr, 0x1A1A1C);
    cairo_fill(cr);
  }
  RoundRect(cr, 1.5, 1.5, w - 3, h - 3, 7);
  Stroke(cr, klp_palette::kFaceLine, false);
  RoundRect(cr, 0.5, 0.5, w - 1, h - 1, 8);
  Stroke(cr, 0x0E0E10, false);
}

double CaptionTitleWidth(const std::string& title) {
  if (title.empty() || !g_font) return 0;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* cr = cairo_create(s);
  cairo_set_font_face(cr, g_font);
  cairo_set_font_size(cr, 12);
  cairo_text_extents_t te;
  cairo_text_extents(cr, title.c_str(), &te);
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return te.x_advance;
}

void Caption(cairo_t* cr, double w, double h, const std::string& title, bool active, double titleLeft) {
  cairo_save(cr);
  RoundRect(cr, 0, 0, w, h + 8, 8);  // round top corners only
  cairo_clip(cr);
  cairo_rectangle(cr, 0, 0, w, h);
  if (active)
    Gradient(cr, 0, h, 0x414147, 0x343439);
  else
    Rgb(cr, 0x2E2E31);
  cairo_fill(cr);
  RoundRect(cr, 0.5, 0.5, w - 1, h + 8, 8);
  Stroke(cr, 0x0E0E10, false);
  RoundRect(cr, 1.5, 1.5, w - 3, h + 8, 7);
  Stroke(cr, active ? 0x55555B : 0x3C3C40, false);
  cairo_rectangle(cr, 1, h - 1, w - 2, 1);
  Rgb(cr, active ? kAccent : 0x1A1A1C);
  cairo_fill(cr);
  cairo_restore(cr);
  const u32 colour = active ? 0xECECEF : 0x85858B;
  if (titleLeft >= 0)
    Label(cr, title, titleLeft, h / 2, colour, 12, 0);
  else
    Label(cr, title, w / 2, h / 2, colour, 12, 1);
}

void Panel(cairo_t* cr, kltRECT_s r, const std::string& title) {
  const double top = r.top + (title.empty() ? 0 : 8);
  RoundRect(cr, r.left + 0.5, top + 0.5, r.right - r.left - 1, r.bottom - top - 1, 5);
  Rgb(cr, 0x000000, 0.14);
  cairo_fill_preserve(cr);
  Stroke(cr, 0x424247, false);
  if (title.empty()) return;
  cairo_text_extents_t te;
  cairo_save(cr);
  cairo_set_font_face(cr, g_font);
  cairo_set_font_size(cr, 11);
  cairo_text_extents(cr, title.c_str(), &te);
  cairo_restore(cr);
  cairo_rectangle(cr, r.left + 8, top - 1, te.x_advance + 8, 3);
  Rgb(cr, klp_palette::kFace);
  cairo_fill(cr);
  Label(cr, title, r.left + 12, top, 0x9C9CA4, 11, 0);
}

void Well(cairo_t* cr, kltRECT_s r) {
  cairo_rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
  Rgb(cr, 0x1A1A1C);
  cairo_fill(cr);
  cairo_rectangle(cr, r.left + 0.5, r.top + 0.5, r.right - r.left - 1, r.bottom - r.top - 1);
  Stroke(cr, 0x0F0F11, false);
  cairo_move_to(cr, r.left, r.bottom + 0.5);
  cairo_line_to(cr, r.right, r.bottom + 0.5);
  Stroke(cr, 0x404045, false);
}

void Cover(cairo_t* cr, double w, double h, const std::string& label) {
  cairo_rectangle(cr, 0, 0, w, h);
  Rgb(cr, 0x1E1E21, 0.86);
  cairo_fill(cr);
  const double bw = 300, bh = 104, x = std::round((w - bw) / 2), y = std::round((h - bh) / 2);
  RoundRect(cr, x + 0.5, y + 0.5, bw - 1, bh - 1, 6);
  Gradient(cr, y, y + bh, 0x3A3A3F, 0x2E2E32);
  cairo_fill_preserve(cr);
  Stroke(cr, 0x55555B, false);
  Label(cr, label, w / 2, y + 20, 0xECECEF, 12, 1);
}

void Field(cairo_t* cr, kltRECT_s r) {
  RoundRect(cr, r.left - 1.5, r.top - 1.5, r.right - r.left + 3, r.bottom - r.top + 3, 3);
  Rgb(cr, kField);
  cairo_fill_preserve(cr);
  Stroke(cr, 0x4C4C52, false);
}

void RulerStrip(cairo_t* cr, kltRECT_s r, bool vertical) {
  cairo_rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
  Rgb(cr, 0x242427);
  cairo_fill(cr);
  if (vertical)
    cairo_rectangle(cr, r.right - 1, r.top, 1, r.bottom - r.top);
  else
    cairo_rectangle(cr, r.left, r.bottom - 1, r.right - r.left, 1);
  Rgb(cr, 0x0F0F11);
  cairo_fill(cr);
}

void Button(cairo_t* cr, double w, double h, KLT_Look look, const std::string& label, bool menu, int arrow) {
  const Face f = ButtonFace(look);
  RoundRect(cr, 0.5, 0.5, w - 1, h - 1, 4);
  Gradient(cr, 0, h, f.top, f.bottom);
  cairo_fill_preserve(cr);
  Stroke(cr, f.edge, f.dashed);
  if (look == KLT_Look::Normal || look == KLT_Look::Highlighted) {
    cairo_move_to(cr, 4, 1.5);  // a faint top light
    cairo_line_to(cr, w - 4, 1.5);
    Stroke(cr, look == KLT_Look::Normal ? 0x5E5E64 : 0x707078, false);
  }
  const double dy = look == KLT_Look::Pressed ? 1 : 0;
  if (arrow) {
    Rgb(cr, f.text);
    Arrow(cr, w / 2, h / 2 + dy, std::min(w, h) / 5, arrow);
    return;
  }
  Label(cr, label, menu ? (w - 12) / 2 : w / 2, h / 2 + dy, f.text, 12, 1);
  if (menu) {
    Rgb(cr, f.text);
    Arrow(cr, w - 12, h / 2 + dy, 3.5, 2);
  }
}

void CheckBox(cairo_t* cr, double w, double h, KLT_Look look, bool on, const std::string& label) {
  Toggle(cr, w, h, look, on, label, false);
}

void Radio(cairo_t* cr, double w, double h, KLT_Look look, bool on, const std::string& label) {
  Toggle(cr, w, h, look, on, label, true);
}

void ProgressBar(cairo_t* cr, double w, double h) {
  RoundRect(cr, 1, 1, w - 2, h - 2, (h - 2) / 2);
  Gradient(cr, 1, h - 1, kAccentLight, kAccentDark);
  cairo_fill(cr);
}

void ScrollTrack(cairo_t* cr, double w, double h, KLT_Look look) {
  const u32 fill = look == KLT_Look::Highlighted ? 0x27272B : look == KLT_Look::Pressed ? 0x22262D : 0x1D1D20;
  const u32 edge = look == KLT_Look::Highlighted ? 0x5A5A62 : look == KLT_Look::Pressed ? kAccentDark : 0x121214;
  cairo_rectangle(cr, 0, 0, w, h);
  Rgb(cr, fill, look == KLT_Look::Disabled ? 0.55 : 1);
  cairo_fill(cr);
  cairo_rectangle(cr, 0.5, 0.5, w - 1, h - 1);
  Stroke(cr, edge, false);
}

void ScrollThumb(cairo_t* cr, double w, double h, bool vertical, KLT_Look look) {
  const u32 fill = look == KLT_Look::Highlighted ? 0x80808A
                   : look == KLT_Look::Pressed   ? kAccent
                   : look == KLT_Look::Disabled  ? 0x38383C
                                                 : 0x5E5E66;
  const double in = 3;
  if (vertical)
    RoundRect(cr, in, 1, w - 2 * in, h - 2, (w - 2 * in) / 2);
  else
    RoundRect(cr, 1, in, w - 2, h - 2 * in, (h - 2 * in) / 2);
  Rgb(cr, fill);
  cairo_fill(cr);
}

void SliderTrack(cairo_t* cr, const std::vector<kltFPOS>& path, KLT_Look look) {
  if (path.size() < 2) return;
  Groove(
      cr,
      [&]() {
        cairo_new_path(cr);
        cairo_move_to(cr, path[0].x, path[0].y);
        for (size_t i = 1; i < path.size(); ++i) cairo_line_to(cr, path[i].x, path[i].y);
      },
      look);
}

void SliderRing(cairo_t* cr, double cx, double cy, double radius, KLT_Look look) {
  Groove(
      cr,
      [&]() {
        cairo_new_path(cr);
        cairo_arc(cr, cx, cy, radius, 0, 2 * M_PI);
      },
      look);
}

void SliderKnob(cairo_t* cr, double d, KLT_Look look) {
  const u32 top = look == KLT_Look::Highlighted ? 0xF4F4F8
                  : look == KLT_Look::Pressed   ? kAccentLight
                  : look == KLT_Look::Disabled  ? 0x5A5A60
                                                : 0xCFCFD6;
  const u32 bottom = look == KLT_Look::Pressed ? kAccentDark : look == KLT_Look::Disabled ? 0x4A4A50 : 0x9A9AA2;
  cairo_arc(cr, d / 2, d / 2, d / 2 - 1, 0, 2 * M_PI);
  Gradient(cr, 0, d, top, bottom);
  cairo_fill_preserve(cr);
  Stroke(cr, look == KLT_Look::Pressed ? 0x1E4A80 : 0x111113, false);
}

void ListBack(cairo_t* cr, double w, double h, KLT_Look look, bool selected) {
  cairo_rectangle(cr, 0, 0, w, h);
  Rgb(cr, look == KLT_Look::Disabled ? 0x242426 : 0x1B1B1E);
  cairo_fill(cr);
  if (selected) {
    cairo_rectangle(cr, 1, 0, w - 2, h);
    Rgb(cr, 0x2F5F95);
    cairo_fill(cr);
  }
  const u32 edge = look == KLT_Look::Highlighted ? 0x6A6A72
                   : look == KLT_Look::Pressed   ? kAccent
                   : look == KLT_Look::Disabled  ? 0x2E2E31
                                                 : 0x44444A;
  cairo_rectangle(cr, 0.5, 0.5, w - 1, h - 1);
  Stroke(cr, edge, false);
}

namespace {

// The outline of a jigsaw piece with one knob out (top, right) and one in
// (left), its body a square of side s at (x, y).
void PiecePath(cairo_t* cr, double x, double y, double s) {
  const double k = s * 0.16;
  cairo_new_path(cr);
  cairo_move_to(cr, x, y);
  cairo_line_to(cr, x + s * 0.34, y);
  cairo_arc(cr, x + s / 2, y - k * 0.6, k, M_PI * 0.75, M_PI * 0.25);
  cairo_line_to(cr, x + s, y);
  cairo_line_to(cr, x + s, y + s * 0.34);
  cairo_arc(cr, x + s + k * 0.6, y + s / 2, k, M_PI * 1.25, M_PI * 0.75);
  cairo_line_to(cr, x + s, y + s);
  cairo_line_to(cr, x, y + s);
  cairo_line_to(cr, x, y + s * 0.66);
  cairo_arc_negative(cr, x + k * 0.6, y + s / 2, k, M_PI * 0.75, M_PI * 1.25);
  cairo_close_path(cr);
}

// A small landscape over w x h: sky, sun, hills, a striped field.
void Landscape(cairo_t* cr, double w, double h) {
  Gradient(cr, 0, h * 0.6, 0x2F78C8, 0xA8D4F2);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_fill(cr);
  cairo_arc(cr, w * 0.7, h * 0.3, h * 0.1, 0, 2 * M_PI);
  Rgb(cr, 0xFFD23C);
  cairo_fill(cr);
  cairo_move_to(cr, 0, h * 0.62);
  cairo_curve_to(cr, w * 0.3, h * 0.4, w * 0.55, h * 0.5, w, h * 0.45);
  cairo_line_to(cr, w, h);
  cairo_line_to(cr, 0, h);
  Rgb(cr, 0x3E8E3A);
  cairo_fill(cr);
  for (int i = 0; i < 8; ++i) {
    const double y = h * (0.7 + 0.04 * i);
    cairo_rectangle(cr, 0, y, w, h * 0.02);
    Rgb(cr, i % 2 ? 0xE8E0C8 : 0xC0392B);
    cairo_fill(cr);
  }
}

}  // namespace

// A jigsaw piece with one knob out and one in.
void Piece(cairo_t* cr, double w, double h, bool disabled) {
  const double s = std::min(w, h) * 0.56, x = (w - s) / 2 - s * 0.06, y = (h - s) / 2 + s * 0.06, k = s * 0.16;
  PiecePath(cr, x, y, s);
  if (disabled)
    Rgb(cr, 0x4A4A50);
  else
    Gradient(cr, y - k, y + s, kAccentLight, kAccentDark);
  cairo_fill_preserve(cr);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  Stroke(cr, disabled ? 0x2E2E31 : 0x1E4A80, false);
}

void Sample(cairo_t* cr, double w, double h) {
  const double s = std::min(w, h) * 0.7, x = (w - s) / 2 - s * 0.08, y = (h - s) / 2 + s * 0.08;
  PiecePath(cr, x, y, s);
  cairo_save(cr);
  cairo_clip_preserve(cr);
  Landscape(cr, w, h);
  cairo_restore(cr);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_width(cr, 1.5);
  Rgb(cr, 0x202024);
  cairo_stroke(cr);
}

void OverlaySample(cairo_t* cr, double w, double h) {
  const double s = std::min(w, h) * 0.7, x = (w - s) / 2 - s * 0.08, y = (h - s) / 2 + s * 0.08;
  PiecePath(cr, x, y, s);
  cairo_save(cr);
  cairo_clip(cr);
  cairo_rectangle(cr, 0, 0, w, h);
  Rgb(cr, 0x6A2C8E);
  cairo_fill(cr);
  // Diagonal bands and a ring of dots, unlike anything in the landscape.
  cairo_set_line_width(cr, s * 0.07);
  for (double d = -h; d < w + h; d += s * 0.2) {
    cairo_move_to(cr, d, 0);
    cairo_line_to(cr, d + h, h);
  }
  Rgb(cr, 0xF29A2E);
  cairo_stroke(cr);
  for (int i = 0; i < 8; ++i) {
    const double a = i * M_PI / 4;
    cairo_arc(cr, w / 2 + s * 0.28 * std::cos(a), h / 2 + s * 0.28 * std::sin(a), s * 0.05, 0, 2 * M_PI);
    Rgb(cr, 0xF4F4F8);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

void ValueFrame(cairo_t* cr, double w, double h) {
  RoundRect(cr, 1, 1, w - 2, h - 2, 4);
  cairo_set_line_width(cr, 2);
  Rgb(cr, kAccent);
  cairo_stroke(cr);
}

void Disc(cairo_t* cr, kltRECT_s r) {
  cairo_new_path(cr);
  const double cx = (r.left + r.right) / 2.0 + 1, cy = (r.top + r.bottom) / 2.0 + 1;
  const double radius = (std::min(r.right - r.left, r.bottom - r.top) + 3) / 2.0;
  cairo_arc(cr, cx, cy, radius, 0, 2 * M_PI);
  cairo_pattern_t* p = cairo_pattern_create_radial(cx - radius * 0.3, cy - radius * 0.3, 0, cx, cy, radius);
  cairo_pattern_add_color_stop_rgb(p, 0, 0x3A / 255.0, 0x3A / 255.0, 0x40 / 255.0);
  cairo_pattern_add_color_stop_rgb(p, 1, 0x16 / 255.0, 0x16 / 255.0, 0x18 / 255.0);
  cairo_set_source(cr, p);
  cairo_pattern_destroy(p);
  cairo_fill_preserve(cr);
  Stroke(cr, 0x0F0F11, false);
  // Rings at altitudes 30 and 60 degrees, and the four quarters.
  for (double k : {0.5, 0.8}) {
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, radius * k, 0, 2 * M_PI);
    Stroke(cr, 0x34343A, false);
  }
  cairo_new_path(cr);
  cairo_move_to(cr, cx - radius, cy + 0.5);
  cairo_line_to(cr, cx + radius, cy + 0.5);
  cairo_move_to(cr, cx + 0.5, cy - radius);
  cairo_line_to(cr, cx + 0.5, cy + radius);
  Stroke(cr, 0x34343A, false);
}

void Thumb(cairo_t* cr, double w, double h) {
  const double r = std::min(w, h) / 2 - 2;
  cairo_arc(cr, w / 2, h / 2, r, 0, 2 * M_PI);
  Gradient(cr, h / 2 - r, h / 2 + r, 0xFFE07A, 0xE0A020);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1.5);
  Rgb(cr, 0x2A2000);
  cairo_stroke(cr);
  cairo_arc(cr, w / 2, h / 2, r * 0.35, 0, 2 * M_PI);
  Rgb(cr, 0xFFF6D0);
  cairo_fill(cr);
}

void Swatch(cairo_t* cr, double w, double h) {
  cairo_rectangle(cr, 2, 2, w - 4, h - 4);
  Rgb(cr, 0x2A2A2D);
  cairo_fill(cr);
  // An empty field: a diagonal where a colour would be.
  cairo_move_to(cr, 3, h - 3);
  cairo_line_to(cr, w - 3, 3);
  Stroke(cr, 0x8A3030, false);
  cairo_rectangle(cr, 0.5, 0.5, w - 1, h - 1);
  Stroke(cr, 0x6A6A72, false);
  cairo_rectangle(cr, 1.5, 1.5, w - 3, h - 3);
  Stroke(cr, 0x111113, false);
}

void TextPaint(KLT_Look look, u8& r, u8& g, u8& b) {
  u32 c = look == KLT_Look::Disabled ? kTextDim : look == KLT_Look::Highlighted ? 0xF0F0F4 : 0xD2D2D8;
  if (look == KLT_Look::Pressed) c = kTextBright;
  r = static_cast<u8>(c >> 16);
  g = static_cast<u8>(c >> 8);
  b = static_cast<u8>(c);
}

void Text(cairo_t* cr, const std::string& text, double x, double cy, double size, int align, KLT_Tone tone) {
  u32 c = kText;
  switch (tone) {
    case KLT_Tone::Muted: c = 0xB4B4BC; break;
    case KLT_Tone::Soft: c = 0x9C9CA4; break;
    case KLT_Tone::Bright: c = 0xF4F4F7; break;
    case KLT_Tone::Accent: c = kAccentLight; break;
    default: break;
  }
  Label(cr, text, x, cy, c, size, align);
}

void Badge(cairo_t* cr, kltRECT_s r, const std::string& text, bool orange) {
  const double w = r.right - r.left, h = r.bottom - r.top;
  RoundRect(cr, r.left + 0.5, r.top + 0.5, w - 1, h - 1, h / 2);
  if (orange)
    Gradient(cr, r.top, r.bottom, 0xE09A36, 0xB7761A);
  else
    Gradient(cr, r.top, r.bottom, kAccentLight, kAccentDark);
  cairo_fill_preserve(cr);
  Stroke(cr, orange ? 0x7A4E10 : 0x1E4A80, false);
  Label(cr, text, r.left + w / 2, r.top + h / 2, kTextBright, 11, 1);
}

void Clear(cairo_t* cr, kltRECT_s r) {
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
  cairo_fill(cr);
  cairo_restore(cr);
}

// Light cards, so that the dark knives drawn over them at run time read
// well; the cells' rectangles follow the same arithmetic.
void Cells(cairo_t* cr, double w, double h, int columns, int rows, double bottom) {
  const int cw = (static_cast<int>(w) - (columns + 1) * kCellGap) / columns;
  const int ch = (static_cast<int>(h) - kCellGap - static_cast<int>(bottom) - (rows - 1) * kCellGap) / rows;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const double x = kCellGap + c * (cw + kCellGap), y = kCellGap + r * (ch + kCellGap);
      cairo_rectangle(cr, x, y, cw, ch);
      Rgb(cr, 0xC4C4CA);
      cairo_fill(cr);
      cairo_rectangle(cr, x - 0.5, y - 0.5, cw + 1, ch + 1);
      Stroke(cr, 0x141416, false);
    }
}

// A few rows of the layout in a dark well: triangles point up and down in
// turn, hexagons stand in columns shifted by half a cell.
void LayoutSample(cairo_t* cr, double w, double h, bool hexagons, bool disabled) {
  Well(cr, {0, 0, static_cast<i32>(w), static_cast<i32>(h)});
  cairo_save(cr);
  cairo_rectangle(cr, 2, 2, w - 4, h - 4);
  cairo_clip(cr);
  const double s = std::max(8.0, std::min(w, h) / 4);
  if (hexagons) {
    const double dx = s * 1.5, dy = s * std::sqrt(3.0);
    for (int c = -1; c * dx < w + s; ++c)
      for (int r = -1; r * dy < h + dy; ++r) {
        const double cx = c * dx, cy = r * dy + (c % 2 ? dy / 2 : 0);
        for (int k = 0; k <= 6; ++k) {
          const double a = k * M_PI / 3, x = cx + s * std::cos(a), y = cy + s * std::sin(a);
          if (k)
            cairo_line_to(cr, x, y);
          else
            cairo_move_to(cr, x, y);
        }
      }
  } else {
    const double dy = s * std::sqrt(3.0) / 2;
    for (int r = 0; r * dy < h; ++r) {
      cairo_move_to(cr, 0, r * dy);
      cairo_line_to(cr, w, r * dy);
    }
    for (double x = -h; x < w + h; x += s) {
      cairo_move_to(cr, x, 0);
      cairo_line_to(cr, x + h / std::sqrt(3.0), h);
      cairo_move_to(cr, x, 0);
      cairo_line_to(cr, x - h / std::sqrt(3.0), h);
    }
  }
  cairo_set_line_width(cr, 1.5);
  Rgb(cr, disabled ? 0x4A4A50 : kAccentLight);
  cairo_stroke(cr);
  cairo_restore(cr);
}

}  // namespace klt_theme
