// A layer (RGBA) that shows a text in one colour through a bitmap font:
// line feeds start a new line lineHeight lower, tabs jump to the next tab
// stop, a glyph with a negative A at a line's start is moved right to stay
// whole. A fixed layer keeps its size and draws at the offset; a growing one
// is made again (up to 30000 pixels a side) whenever the text outgrows it,
// and never shrinks. Drawing writes the colour planes once (fill) and the
// alpha plane per glyph; cost is the layer's area plus the glyphs' pixels.
#pragma once

#include "CKLF_Font.h"
#include "CKLF_Layer.h"

class CKLF_TextLayer : public CKLF_Layer {
 public:
  CKLF_TextLayer();
  ~CKLF_TextLayer() override;

  // A fixed layer is w x h; a growing one starts at 10 x 10.
  [[nodiscard]] u8 Create(i16 x, i16 y, u8 fixedSize, u16 w, u16 h);

  // Each setter stores its value and redraws, answering DrawText's result.
  [[nodiscard]] u8 SetText(const CKLF_String& text, kltRGBA8 colour, u16 lineHeight, i32 offX, i32 offY);
  [[nodiscard]] u8 SetText(const CKLF_String& text);
  [[nodiscard]] u8 SetColor(kltRGBA8 colour);
  [[nodiscard]] u8 SetOffSet(i32 x, i32 y);
  [[nodiscard]] u8 SetLineHeight(u16 lineHeight);
  [[nodiscard]] u8 SetFont(CKLF_Font* font);

  void RemoveAllTabs() { m_tabs.Empty(); }
  [[nodiscard]] u8 AddTab(u16 x) { return m_tabs.Add(x) >= 0 ? 1 : 0; }
  u32 GetTabsCount() const { return m_tabs.GetSize(); }

  CKLF_Font* GetFont() const { return m_font; }
  u16 GetLineHeight() const { return m_lineHeight; }
  const CKLF_String& GetText() const { return m_text; }
  CKLF_String GetTextCopy() const { return m_text; }
  kltPOS GetOffSet() const { return {m_offX, m_offY}; }
  kltRGBA8 GetColor() const { return m_colour; }

  // Fills the layer (a colour of four zero bytes clears only the alpha
  // plane, so a picture already in the colour planes shows through the
  // glyphs) and draws the text into the alpha plane. Error 1 without a font.
  [[nodiscard]] u8 DrawText();

 private:
  [[nodiscard]] u8 i_Fit(u32 textW, u32 textH);
  void i_Fill();
  void i_DrawGlyph(u8 code, i64& pen, i64 lineTop);

  CKLF_Font* m_font;
  CKLF_String m_text;
  u16 m_lineHeight;
  u8 m_fixed;
  i32 m_offX;
  i32 m_offY;
  kltRGBA8 m_colour;
  CKLF_WordArray m_tabs;
  u32 m_tab;
};
