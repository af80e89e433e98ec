#include "CKLF_StatusFade.h"

u8 CKLF_StatusFade::SetText(const char* text) {
  if (m_pending == (text ? text : "")) return 0;
  m_pending = text ? text : "";
  m_state = kFadingOut;
  return 1;
}

u8 CKLF_StatusFade::Tick(u8& opacity, u8& swap) {
  swap = 0;
  if (m_state == kFadingOut) {
    m_opacity = m_opacity > 65 ? static_cast<u8>(m_opacity - 65) : 0;
    if (m_opacity == 0) {
      swap = 1;
      m_state = kFadingIn;
    }
  } else if (m_state == kFadingIn) {
    m_opacity = m_opacity < 215 ? static_cast<u8>(m_opacity + 40) : 255;
    if (m_opacity == 255) m_state = kIdle;
  } else {
    return 0;
  }
  opacity = m_opacity;
  return 1;
}
