#include "CKLF_TextLayer.h"

#include <algorithm>
#include <cstring>

namespace {
const u32 kMaxSide = 30000;
}

CKLF_TextLayer::CKLF_TextLayer()
    : m_font(nullptr), m_lineHeight(15), m_fixed(0), m_offX(0), m_offY(0), m_colour{0, 0, 0, 0}, m_tab(0) {}

CKLF_TextLayer::~CKLF_TextLayer() {}

u8 CKLF_TextLayer::Create(i16 x, i16 y, u8 fixedSize, u16 w, u16 h) {
  m_fixed = fixedSize;
  if (!fixedSize) w = h = 10;
  if (!CKLF_Layer::Create(x, y, w, h, 2)) return 0;
  i_Fill();
  return 1;
}

u8 CKLF_TextLayer::SetText(const CKLF_String& text, kltRGBA8 colour, u16 lineHeight, i32 offX, i32 offY) {
  if ((m_text = text).IsError()) return FailFrom(m_text, klErrNoMemory);
  m_colour = colour;
  m_lineHeight = lineHeight;
  m_offX = offX;
  m_offY = offY;
  return DrawText();
}

u8 CKLF_TextLayer::SetText(const CKLF_String& text) {
  if ((m_text = text).IsError()) return FailFrom(m_text, klErrNoMemory);
  return DrawText();
}

u8 CKLF_TextLayer::SetColor(kltRGBA8 colour) {
  m_colour = colour;
  return DrawText();
}

u8 CKLF_TextLayer::SetOffSet(i32 x, i32 y) {
  m_offX = x;
  m_offY = y;
  return DrawText();
}

u8 CKLF_TextLayer::SetLineHeight(u16 lineHeight) {
  m_lineHeight = lineHeight;
  return DrawText();
}

u8 CKLF_TextLayer::SetFont(CKLF_Font* font) {
  m_font = font;
  return DrawText();
}

void CKLF_TextLayer::i_Fill() {
  if (!GetMemObj()) return;
  const kltRGBA8& c = m_colour;
  const bool clear = c.red == 0 && c.green == 0 && c.blue == 0 && c.alpha == 0;
  Set(kltRGBA8{c.red, c.green, c.blue, 0}, clear ? 8 : 15);
}

// A growing layer is made again when the text does not fit, keeping the
// larger of the old and the needed size on each side.
u8 CKLF_TextLayer::i_Fit(u32 textW, u32 textH) {
  if (m_fixed) return 1;
  const u32 w = std::min(textW, kMaxSide), h = std::min(textH, kMaxSide);
  if (w <= GetImageWidth() && h <= GetImageHeight()) return 1;
  const kltPOS at = GetPos();
  if (!CKLF_Layer::Create(static_cast<i16>(at.x), static_cast<i16>(at.y),
                          static_cast<u16>(std::max<u32>(w, GetImageWidth())),
                          static_cast<u16>(std::max<u32>(h, GetImageHeight())), 2))
    return 0;  // the image left its code in this layer
  return 1;
}

void CKLF_TextLayer::i_DrawGlyph(u8 code, i64& pen, i64 lineTop) {
  if (code < m_font->GetFirstCharCode() || code > m_font->GetLastCharCode()) return;
  i16 a, c, yOff;
  u32 gw, gh;
  const u8* cov = m_font->GetChar(code, a, c, yOff, gw, gh);
  if (!cov) return;
  const i64 lineStart = m_fixed ? m_offX : 0;
  if (pen == lineStart && a < 0) pen -= a;
  i16 ascent, descent;
  m_font->GetMaxAB(ascent, descent);
  const i64 x0 = pen + a, y0 = lineTop + ascent + yOff;
  pen = x0 + gw + c;
  const i64 w = GetImageWidth(), h = GetImageHeight();
  u8* alpha = GetMemObj()->GetPtr() + 3 * static_cast<u64>(w) * h;
  const i64 cx0 = std::max<i64>(x0, 0), cx1 = std::min<i64>(x0 + gw, w);
  for (i64 y = std::max<i64>(y0, 0); y < std::min<i64>(y0 + gh, h); ++y) {
    const u8* src = cov + (y - y0) * gw;
    u8* dst = alpha + y * w;
    for (i64 x = cx0; x < cx1; ++x)
      if (src[x - x0]) dst[x] = src[x - x0];
  }
}

u8 CKLF_TextLayer::DrawText() {
  if (!m_font) return Fail(klErrBadArg);
  u32 tw = 0, th = 0;
  m_font->GetTextSize(m_text, m_lineHeight, tw, th);
  if (tw != 0 && th != 0 && !i_Fit(tw, th)) return 0;
  i_Fill();
  if (tw == 0 || th == 0 || !GetMemObj()) return 1;
  const i64 offX = m_fixed ? m_offX : 0, offY = m_fixed ? m_offY : 0;
  i64 pen = offX, lineTop = offY;
  m_tab = 0;
  const u8* s = reinterpret_cast<const u8*>(m_text.GetStr());
  for (u32 i = 0; i < m_text.GetLength(); ++i) {
    if (s[i] == 10) {
      pen = offX;
      lineTop += m_lineHeight;
      m_tab = 0;
    } else if (s[i] == 9) {
      if (m_tab < m_tabs.GetSize()) pen = m_tabs[m_tab++];
    } else {
      i_DrawGlyph(s[i], pen, lineTop);
    }
  }
  ResetError();
  return 1;
}
