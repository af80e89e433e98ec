// When an effect window's edits reach the main window, and its status line
// fade, on the window's timers:
//   - timer 5 (one-shot): Changes(t) brings the results up to date at once
//     and starts it (50 ms for 65535, else t ms); a burst of edits within
//     the delay gives one main-window update. When the timer cannot run,
//     the main window is updated at once. Changes(0) updates at once,
//     and only while the main preview is on. While the mouse is held on a
//     control the update waits for the release: it disables OK, and a
//     press on OK (which ends a field's edit, and so asks for an update)
//     would lose its click.
//   - timer 6 (every 50 ms): OK is disabled while the main window renders
//     and enabled again after (Cancel and the close box stay: they stop
//     the render).
//   - timer 1 (every 30 ms): a new tip fades the status text out by 65 a
//     tick, is put in at 0 and fades in by 40 up to 255.
// Until the main window has shown the window (SetShown), an update asked
// for at once waits for timer 5 like the others: an update during creation
// would render the pieces before the main window marks its undo point.
#pragma once

#include "CFXStatusFade.h"

// The window's side of the schedule.
class CFXSchedulePort {
 public:
  virtual ~CFXSchedulePort() {}
  // 0 when the timer cannot run.
  [[nodiscard]] virtual u8 StartTimer(u16 id, u32 ms) = 0;
  virtual void StopTimer(u16 id) = 0;
  // The per-piece results brought up to date.
  virtual void RegenerateData() = 0;
  virtual u8 IsMainPreviewOn() = 0;
  virtual u8 IsMainWindowBusy() = 0;
  // A control of the window holds the left button's press.
  virtual u8 IsPressHeld() = 0;
  // OK (the buttons that close the window without waiting stay on).
  virtual void EnableModalityButtons(u8 on) = 0;
  virtual u8 AreModalityButtonsEnabled() = 0;
  virtual void UpdateMainWindow(u8 force) = 0;
};

class CFXSchedule {
 public:
  enum : u16 { kTimerStatus = 1, kTimerUpdate = 5, kTimerButtons = 6 };
  enum : u16 { kAtOnce = 0, kDeferred = 65535 };
  enum : u32 { kStatusMs = CFXStatusFade::kTickMs, kDeferMs = 50, kButtonsMs = 50 };
  enum : u8 { kFadeIdle = CFXStatusFade::kIdle, kFadeIn = CFXStatusFade::kIn, kFadeOut = CFXStatusFade::kOut };

  // status: the status line's text the fade works on.
  CFXSchedule(CFXSchedulePort& port, CFXStatusFade::Port& status);

  // Timers 6 and 1 run (0 when one cannot); Stop ends 1, 5 and 6.
  [[nodiscard]] u8 Start();
  void Stop();
  void SetShown(u8 shown) { m_shown = shown; }

  void Changes(u16 t);
  void OnTimer(u16 id);
  // A tip equal to the one shown or coming changes nothing.
  void UpdateStatus(const char* text) { m_fade.UpdateStatus(text); }
  u8 GetFadeState() const { return m_fade.GetState(); }
  const CKLF_String& GetStatusText() const { return m_fade.GetText(); }

 private:
  void i_Update();

  CFXSchedulePort& m_port;
  CFXStatusFade m_fade;
  u8 m_shown;
};
