#include "CFXStatusFade.h"

void CFXStatusFade::Tick() {
  u8 opacity = 0, swap = 0;
  if (!m_fade.Tick(opacity, swap)) return;
  if (swap) m_port.SetStatusText(m_fade.GetPending());
  m_port.SetStatusOpacity(opacity);
}
