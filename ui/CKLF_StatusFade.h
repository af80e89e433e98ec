// The fade of a window's status line: a new text fades the shown one out
// by 65 opacity steps a tick, takes its place at 0 and fades in by 40 a
// tick up to 255. The window ticks it from its status timer and shows the
// text and opacity it gives, or lets it set its status line. The fade
// itself needs no window; costs nothing per tick.
#pragma once

#include "CKLF_String.h"

class CKLF_CtrlStaticText;

class CKLF_StatusFade {
 public:
  enum : u8 { kIdle = 0, kFadingIn = 1, kFadingOut = 2 };
  // How the fade turns at its ends: on the tick that reaches 0 (the text
  // swapped) and 255 (the fade over), or on a tick of its own after each,
  // as the effect windows and the layer picker do.
  enum Turn : u8 { kTurnAtOnce = 0, kTurnNextTick = 1 };

  explicit CKLF_StatusFade(Turn turn = kTurnAtOnce) : m_turn(turn) {}

  // The text to show next; the same pending text again changes nothing.
  // 1 when a fade starts.
  u8 SetText(const char* text);
  // One tick: the new opacity, and swap set when the pending text must be
  // shown now. 0 when there is nothing to draw.
  u8 Tick(u8& opacity, u8& swap);
  // One tick shown on a status line: the pending text put in when it is
  // due, the opacity set (the line redrawn). 0 when idle.
  u8 Tick(CKLF_CtrlStaticText& line);
  // The line shown at once at an opacity (a progress text over the pending
  // one): no fade runs until the next new text.
  void Stop(u8 opacity);
  // The pending text shown at once at an opacity, without a fade.
  void SetNow(const char* text, u8 opacity);

  const CKLF_String& GetPending() const { return m_pending; }
  u8 GetState() const { return m_state; }
  u8 GetOpacity() const { return m_opacity; }

 private:
  CKLF_String m_pending;
  Turn m_turn;
  u8 m_state = kIdle;
  u8 m_opacity = 255;
};
