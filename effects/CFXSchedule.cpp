#include "CFXSchedule.h"

CFXSchedule::CFXSchedule(CFXSchedulePort& port) : m_port(port), m_fade(kFadeIdle), m_shown(0) {}

void CFXSchedule::Start() {
  m_port.StartTimer(kTimerButtons, kButtonsMs);
  m_port.StartTimer(kTimerStatus, kStatusMs);
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
  m_port.StartTimer(kTimerUpdate, t == kDeferred || t == kAtOnce ? u32{kDeferMs} : u32{t});
}

void CFXSchedule::i_Update() {
  m_port.EnableModalityButtons(0);
  m_port.UpdateMainWindow(0);
}

void CFXSchedule::OnTimer(u16 id) {
  switch (id) {
    case kTimerStatus: i_Fade(); break;
    case kTimerUpdate:
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

void CFXSchedule::UpdateStatus(const char* text) {
  if (!text || m_text.Compare(text) == 0) return;
  m_text = text;
  m_fade = kFadeOut;
}

void CFXSchedule::i_Fade() {
  const u8 opacity = m_port.GetStatusOpacity();
  if (m_fade == kFadeOut) {
    if (opacity == 0) {
      m_fade = kFadeIn;
      m_port.SetStatusText(m_text);
    } else {
      m_port.SetStatusOpacity(opacity > 65 ? static_cast<u8>(opacity - 65) : 0);
    }
  } else if (m_fade == kFadeIn) {
    if (opacity == 255)
      m_fade = kFadeIdle;
    else
      m_port.SetStatusOpacity(opacity < 215 ? static_cast<u8>(opacity + 40) : 255);
  }
}
