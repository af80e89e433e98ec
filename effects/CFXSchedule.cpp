#include "CFXSchedule.h"

CFXSchedule::CFXSchedule(CFXSchedulePort& port, CFXStatusFade::Port& status)
    : m_port(port), m_fade(status), m_shown(0) {}

u8 CFXSchedule::Start() {
  return m_port.StartTimer(kTimerButtons, kButtonsMs) && m_port.StartTimer(kTimerStatus, kStatusMs);
}

void CFXSchedule::Stop() {
  m_port.StopTimer(kTimerStatus);
  m_port.StopTimer(kTimerUpdate);
  m_port.StopTimer(kTimerButtons);
}

void CFXSchedule::Changes(u16 t) {
  m_port.StopTimer(kTimerUpdate);
  m_port.RegenerateData();
  if (t == kAtOnce && m_shown) {
    if (m_port.IsMainPreviewOn()) i_Update();
    return;
  }
  if (!m_port.StartTimer(kTimerUpdate, t == kDeferred || t == kAtOnce ? u32{kDeferMs} : u32{t}) &&
      m_port.IsMainPreviewOn())
    i_Update();
}

// OK is off while the main window renders, and on again at once after (a
// click on it then would be lost until timer 6 comes).
void CFXSchedule::i_Update() {
  m_port.EnableModalityButtons(0);
  m_port.UpdateMainWindow(0);
  if (!m_port.IsMainWindowBusy()) m_port.EnableModalityButtons(1);
}

void CFXSchedule::OnTimer(u16 id) {
  switch (id) {
    case kTimerStatus: m_fade.Tick(); break;
    case kTimerUpdate:
      if (m_port.IsPressHeld()) break;  // the one-shot timer ticks again
      m_port.StopTimer(kTimerUpdate);
      if (m_port.IsMainPreviewOn()) i_Update();
      break;
    case kTimerButtons: {
      const u8 busy = m_port.IsMainWindowBusy(), enabled = m_port.AreModalityButtonsEnabled();
      if (busy && enabled) m_port.EnableModalityButtons(0);
      if (!busy && !enabled) m_port.EnableModalityButtons(1);
      break;
    }
    default: break;
  }
}
