// The status line's fade of the effect windows and the layer picker, on a
// 30 ms timer: a new tip fades the shown text out by 65 a tick, is put in
// when the opacity reaches 0 and fades in by 40 a tick up to 255. A tip
// equal to the one shown or coming changes nothing.
#pragma once

#include "CKLF_String.h"

class CFXStatusFade {
 public:
  enum : u8 { kIdle = 0, kIn = 1, kOut = 2 };
  enum : u32 { kTickMs = 30 };

  // The status text control as the fade sees it.
  class Port {
   public:
    virtual ~Port() {}
    virtual u8 GetStatusOpacity() = 0;
    virtual void SetStatusOpacity(u8 opacity) = 0;
    virtual void SetStatusText(const CKLF_String& text) = 0;
  };

  explicit CFXStatusFade(Port& port) : m_port(port), m_state(kIdle) {}

  void UpdateStatus(const char* text);
  // One tick of the timer.
  void Tick();
  u8 GetState() const { return m_state; }
  const CKLF_String& GetText() const { return m_text; }

 private:
  Port& m_port;
  CKLF_String m_text;
  u8 m_state;
};
