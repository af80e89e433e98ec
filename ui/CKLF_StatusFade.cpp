#include "CKLF_StatusFade.h"

#include "CKLF_CtrlStaticText.h"

// A text that cannot be kept (no memory) fades to nothing.
u8 CKLF_StatusFade::SetText(const char* text) {
  if (m_pending == (text ? text : "")) return 0;
  if ((m_pending = text ? text : "").IsError()) m_pending.Clear();
  m_state = kFadingOut;
  return 1;
}

u8 CKLF_StatusFade::Tick(u8& opacity, u8& swap) {
  swap = 0;
  const u8 nextTick = m_turn == kTurnNextTick;
  if (m_state == kFadingOut) {
    if (nextTick && m_opacity == 0) {
      swap = 1;
      m_state = kFadingIn;
    } else {
      m_opacity = m_opacity > 65 ? static_cast<u8>(m_opacity - 65) : 0;
      if (!nextTick && m_opacity == 0) {
        swap = 1;
        m_state = kFadingIn;
      }
    }
  } else if (m_state == kFadingIn) {
    if (nextTick && m_opacity == 255) {
      m_state = kIdle;
      return 0;
    }
    m_opacity = m_opacity < 215 ? static_cast<u8>(m_opacity + 40) : 255;
    if (!nextTick && m_opacity == 255) m_state = kIdle;
  } else {
    return 0;
  }
  opacity = m_opacity;
  return 1;
}

u8 CKLF_StatusFade::Tick(CKLF_CtrlStaticText& line) {
  u8 opacity = 0, swap = 0;
  if (!Tick(opacity, swap)) return 0;
  if (swap) line.SetText(m_pending.GetStr());
  line.SetOpacity(opacity);
  return 1;
}

void CKLF_StatusFade::Stop(u8 opacity) {
  m_state = kIdle;
  m_opacity = opacity;
}

void CKLF_StatusFade::SetNow(const char* text, u8 opacity) {
  if ((m_pending = text ? text : "").IsError()) m_pending.Clear();
  Stop(opacity);
}
