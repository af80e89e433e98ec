#include "CFXStatusFade.h"

void CFXStatusFade::UpdateStatus(const char* text) {
  if (!text || m_text.Compare(text) == 0) return;
  m_text = text;
  m_state = kOut;
}

void CFXStatusFade::Tick() {
  const u8 opacity = m_port.GetStatusOpacity();
  if (m_state == kOut) {
    if (opacity == 0) {
      m_state = kIn;
      m_port.SetStatusText(m_text);
    } else {
      m_port.SetStatusOpacity(opacity > 65 ? static_cast<u8>(opacity - 65) : 0);
    }
  } else if (m_state == kIn) {
    if (opacity == 255)
      m_state = kIdle;
    else
      m_port.SetStatusOpacity(opacity < 215 ? static_cast<u8>(opacity + 40) : 255);
  }
}
