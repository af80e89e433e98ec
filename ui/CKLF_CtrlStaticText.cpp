#include "CKLF_CtrlStaticText.h"

CKLF_CtrlStaticText::CKLF_CtrlStaticText()
    : m_renderRect(klNullRect), m_state(255), m_offX(0), m_offY(0), m_lineHeight(15) {
  m_type = klCtrlStaticText;
}

CKLF_CtrlStaticText::~CKLF_CtrlStaticText() { RemoveLayer(m_layer); }

u8 CKLF_CtrlStaticText::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  CKLF_UIResources res = Resources();
  m_pictures.Load(res, CKLF_String(KLF_ControlFolder(klCtrlStaticText)) + name + ">");
  m_renderRect = m_pictures.GetUnion();
  if (klIsNullRect(m_renderRect)) return 1;
  const kltRECT_s& r = m_renderRect;
  if (!m_layer.Create(static_cast<i16>(r.left), static_cast<i16>(r.top), 1, static_cast<u16>(r.right - r.left),
                      static_cast<u16>(r.bottom - r.top)))
    return FailFrom(m_layer, klErrNoMemory);
  if (!AddLayer(m_layer)) return 0;
  m_created = 1;
  SetState(1);
  return 1;
}

// The glyphs replace the alpha plane; without a font nothing shows.
void CKLF_CtrlStaticText::i_DrawText() {
  if (!m_layer.SetText(m_text, kltRGBA8{0, 0, 0, 0}, m_lineHeight, m_offX, m_offY))
    m_layer.Set(kltRGBA8{0, 0, 0, 0}, 8);
}

void CKLF_CtrlStaticText::SetState(u8 state) {
  if (!m_created || (state != 1 && state != 8)) return;
  u8 dimmed = 0;
  const CKLF_CtrlPicture* pic = m_pictures.Pick(state, dimmed);
  if (!ShowPicture(m_layer, pic, dimmed, state == m_state)) return;
  m_state = state;
  i_DrawText();
  Redraw();
}

void CKLF_CtrlStaticText::Enable(u8 on) {
  CKLF_Control::Enable(on);
  SetState(on ? 1 : 8);
}

void CKLF_CtrlStaticText::Redraw() {
  if (m_created) RenderAndUpdate(m_layer.GetRect());
}

void CKLF_CtrlStaticText::SetFont(CKLF_Font* font) {
  if (!m_created) return;
  m_layer.SetFont(font);
  i_DrawText();
}

void CKLF_CtrlStaticText::SetText(const char* text, i16 offX, i16 offY, u16 lineHeight) {
  if (!text) return;
  m_offX = offX;
  m_offY = offY;
  m_lineHeight = lineHeight;
  SetText(text);
}

void CKLF_CtrlStaticText::SetText(const char* text) {
  if (!text) return;
  m_text = text;
  if (m_created) i_DrawText();
}

void CKLF_CtrlStaticText::SetOpacity(u8 opacity) {
  m_layer.SetOpacity(opacity);
  Redraw();
}
