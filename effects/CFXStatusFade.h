// The status line's fade of the effect windows and the layer picker, on a
// 30 ms timer: the toolkit's fade turning on a tick of its own at each end
// (a new tip fades the shown text out by 65 a tick, is put in on the tick
// after it reached 0, fades in by 40 a tick up to 255), shown through the
// window's status text control. A tip equal to the one shown or coming
// changes nothing.
#pragma once

#include "CKLF_StatusFade.h"

class CFXStatusFade {
 public:
  enum : u8 { kIdle = CKLF_StatusFade::kIdle, kIn = CKLF_StatusFade::kFadingIn, kOut = CKLF_StatusFade::kFadingOut };
  enum : u32 { kTickMs = 30 };

  // The status text control as the fade sees it.
  class Port {
   public:
    virtual ~Port() {}
    virtual void SetStatusOpacity(u8 opacity) = 0;
    virtual void SetStatusText(const CKLF_String& text) = 0;
  };

  explicit CFXStatusFade(Port& port) : m_port(port), m_fade(CKLF_StatusFade::kTurnNextTick) {}

  void UpdateStatus(const char* text) {
    if (text) m_fade.SetText(text);
  }
  // One tick of the timer.
  void Tick();
  u8 GetState() const { return m_fade.GetState(); }
  const CKLF_String& GetText() const { return m_fade.GetPending(); }

 private:
  Port& m_port;
  CKLF_StatusFade m_fade;
};
