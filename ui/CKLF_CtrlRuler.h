// A ruler (type 12) beside the preview: a static image whose colour planes,
// from the UI resources, are the ink; the ruler writes only the alpha plane
// (ticks, digits, the mouse marker) so the window shows through elsewhere.
// Taller than wide is vertical. The preview hands it a record whenever the
// view or the mouse moves.
//
// Across the ruler: the near inset, the tick band, the far inset; ticks grow
// from the far side of the band. Along it: the lead (cleared), the drawn
// span, the trail (cleared). Pixel rulers tick every 5 / 10 / 50 ruler
// pixels when reduced and at image pixels when magnified; unit rulers
// (inches, centimetres, millimetres, percent) tick on a ladder of unit
// steps at least 5 pixels apart, with labels at least 50 pixels apart.
// Labels are "%d" through the font, turned a quarter clockwise on a
// vertical ruler; the digits' ink lies in a column of its own from the near
// inset, and on a ruler too thin for both the ticks between labels stop
// short of it. Cost: one pass over the ruler's pixels per drawing.
#pragma once

#include <vector>

#include "CKLF_CtrlStaticImage.h"

class CKLF_CtrlRuler : public CKLF_CtrlStaticImage {
 public:
  enum : u8 { klUnitPixels = 1, klUnitInches = 2, klUnitCm = 3, klUnitMm = 4, klUnitPercent = 5 };

  struct KLF_RulerData {
    u8 unit;         // 1 pixels .. 5 percent
    u16 lead;        // pixels along before the image starts
    u16 trail;       // pixels at the end after the image ends
    u16 nearInset;   // pixels across kept clear before the tick band
    u16 farInset;    // pixels across kept clear after it
    i8 zoomShift;    // the preview's zoom index - 4
    u32 firstPixel;  // image coordinate at the start of the drawn span
    u8 phase;        // offset within a magnified pixel at that start
    u16 marker;      // mouse position along; at or past the length: hidden
    f64 resolution;  // image pixels per unit; percent: the image's width or height
  };

  CKLF_CtrlRuler();
  ~CKLF_CtrlRuler() override;

  // Draws the ruler, then recomposes and updates its rectangle.
  void Redraw() override;

  void SetData(const KLF_RulerData* data, u8 redraw);
  const KLF_RulerData* GetData() const { return &m_data; }
  // The digits' font (not owned); without one no labels are drawn.
  void SetFont(CKLF_Font* font) { m_font = font; }
  // Into the layer's alpha: unit rulers for units 2..5 with a resolution
  // above 0, pixel rulers otherwise.
  void DrawRuler();

 private:
  // Each fills the tick length of every position along and the labels.
  void DrawRuler_PIX();
  void DrawRuler_RESBASED();
  // Ticks, clearing, labels and the marker into the alpha plane.
  void i_Paint();
  void i_DigitRows(i32& top, i32& bottom);
  void DrawDigits(u32 along, i32 value);
  void i_Put(u32 along, u32 across, u8 value);

  KLF_RulerData m_data;
  CKLF_Font* m_font;
  u8 m_vertical;
  u32 m_length;     // along
  u32 m_thickness;  // across
  i32 m_digitTop = 0, m_digitBottom = 0;         // the digits' ink rows from the font's top line
  std::vector<u8> m_ticks;                       // tick length per position along, kept
  std::vector<std::pair<u32, i32>> m_labels;     // position and value, kept
};

// Field by field (the record has padding bytes).
bool operator==(const CKLF_CtrlRuler::KLF_RulerData& a, const CKLF_CtrlRuler::KLF_RulerData& b);
inline bool operator!=(const CKLF_CtrlRuler::KLF_RulerData& a, const CKLF_CtrlRuler::KLF_RulerData& b) {
  return !(a == b);
}
