#include "CFXStatusLine.h"

void CFXStatusLine::Attach(CKLF_CtrlStaticText* text, CKLF_Font* font) {
  m_text = text;
  if (!m_text) return;
  m_text->SetFont(font);
  m_text->SetText("", 3, 0, 12);
  // Long tips wrap to a second line.
  m_text->SetFlow(1);
}

void CFXStatusLine::ControlTip(CEffectWindowServices::Owner* owner, const char* group, const CKLF_Control* c,
                               CKLF_String& tip) {
  if (!owner) return;
  if (c)
    owner->GetStatusTip(c->GetName().GetStr(), group, c->IsEnabled(), c->GetType(), tip);
  else
    owner->GetStatusTip("", group, 1, 128, tip);
}

void CFXStatusLine::SetStatusOpacity(u8 opacity) {
  if (m_text) m_text->SetOpacity(opacity);
}

void CFXStatusLine::SetStatusText(const CKLF_String& text) {
  if (!m_text) return;
  m_text->SetText(text.GetStr());
  m_text->Redraw();
}
