// The fade of a window's status line: a new text fades the shown one out
// by 65 opacity steps a tick, takes its place at 0 and fades in by 40 a
// tick up to 255. The window ticks it from its status timer and shows the
// text and opacity it gives. No window needed; costs nothing per tick.
#pragma once

#include "CKLF_String.h"

class CKLF_StatusFade {
 public:
  enum : u8 { kIdle = 0, kFadingIn = 1, kFadingOut = 2 };

  // The text to show next; the same pending text again changes nothing.
  // 1 when a fade starts.
  u8 SetText(const char* text);
  // One tick: the new opacity, and swap set when the pending text must be
  // shown now (at opacity 0). 0 when idle: nothing to draw.
  u8 Tick(u8& opacity, u8& swap);

  const CKLF_String& GetPending() const { return m_pending; }
  u8 GetState() const { return m_state; }
  u8 GetOpacity() const { return m_opacity; }

 private:
  CKLF_String m_pending;
  u8 m_state = kIdle;
  u8 m_opacity = 255;
};
