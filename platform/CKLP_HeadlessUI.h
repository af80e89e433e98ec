// The UI platform in process, for tests: deterministic and without a
// display. The clock is virtual and moves only through AdvanceClock, which
// fires the timers due on the way in order (each tick sees the clock at its
// own due time). Input is posted by the test in global coordinates: the
// mouse goes to the window under it, or to the window that took the press
// until the release (grab); keys go to the active window.
//
// Loops are frames on a stack: a loop dispatches queued events, then runs
// the next scripted step, then fires due timers, and when nothing is left
// it stops and reports a stall instead of waiting. The queue probes never
// fire timers. Pop-up menus, file questions and the colour chooser take
// scripted answers, then an answerer's when one is set (a random user),
// else they are dismissed / cancelled; they, alerts, beeps, cursors and
// drags (those started while their press lasts) are recorded. Window
// pixels are kept and can be read or saved as PNG (alpha = the window's
// shape).
#pragma once

#include <map>

#include "CKLP_UICore.h"

struct KLP_HeadlessLog {
  std::vector<std::vector<KLP_MenuItem>> menus;
  std::vector<KLP_Point> menuPoints;
  std::vector<KLP_FileQuestion> questions;
  std::vector<std::string> colourTitles;
  std::vector<std::pair<std::string, std::string>> alerts;  // title, text
  std::vector<KLP_WindowID> alertParents;                    // where each alert sat
  std::vector<KLP_WindowID> colourParents;                   // where each chooser sat
  uint32_t beeps = 0;
  uint32_t stalls = 0;
  uint32_t drags = 0;
  int32_t cursor = 0;
  uint32_t cursorSets = 0;
};

class CKLP_HeadlessUI : public CKLP_UICore {
 public:
  CKLP_HeadlessUI();
  ~CKLP_HeadlessUI() override;

  // Screens' positioning bounds, main first (one 1280 x 1024 by default).
  void SetScreens(const std::vector<KLP_Rect>& screens) { m_screens = screens; }
  void SetScrollArrowStyle(int32_t style) { m_arrowStyle = style; }

  // Driving.
  void AdvanceClock(uint32_t ms);
  // A step a loop runs when its queue is empty.
  void Script(std::function<void()> step) { m_script.push_back(std::move(step)); }
  // Dispatches every queued event outside any loop; the count.
  uint32_t Pump();
  void PostMouse(uint16_t kind, int32_t x, int32_t y, uint8_t button = 1, uint32_t mods = 0);
  void PostWheel(int32_t x, int32_t y, int32_t delta, uint32_t mods = 0);
  void PostKey(uint16_t kind, uint8_t virtualKey, uint8_t charCode, uint32_t mods = 0);
  // Press and release at one point.
  void PostClick(int32_t x, int32_t y, uint32_t mods = 0);
  // The window manager's close request for the window.
  void PostClose(KLP_WindowID w);
  void SetModifiers(uint32_t mods) { m_mods = mods; }

  // Scripted answers, taken in order.
  void AnswerMenu(int32_t index) { m_menuAnswers.push_back(index); }
  void AnswerFile(const KLP_FileAnswer& answer) { m_fileAnswers.push_back(answer); }
  // A colour chooser's answer (16-bit components); none left: cancelled.
  void AnswerColor(uint16_t red, uint16_t green, uint16_t blue) { m_colourAnswers.push_back({red, green, blue}); }
  // The next colour chooser fails for want of memory (as the next menu
  // does with AnswerMenu(klpMenuFailed), and the next file question with
  // an answer that failed).
  void FailColor() { m_colourAnswers.emplace_back(); }
  // Asked once the scripted answers are used up; the menu's answer is
  // checked as a scripted one is (a separator or disabled item dismisses).
  void SetMenuAnswerer(std::function<int32_t(const std::vector<KLP_MenuItem>&)> a) { m_menuAnswerer = std::move(a); }
  void SetFileAnswerer(std::function<KLP_FileAnswer(const KLP_FileQuestion&)> a) { m_fileAnswerer = std::move(a); }
  // True with the chosen colour in rgb (16-bit components); false leaves
  // rgb as it was.
  void SetColourAnswerer(std::function<bool(uint16_t rgb[3])> a) { m_colourAnswerer = std::move(a); }
  KLP_HeadlessLog& Log() { return m_log; }

  // The visible windows that input can reach now (those of the innermost
  // modal loop, or all), front first.
  std::vector<KLP_WindowID> GetInputWindows();

  // The title and the modal mark the window was created with.
  std::string GetWindowTitle(KLP_WindowID w);
  bool IsWindowModal(KLP_WindowID w);

  // The window's pixel (window-local); false outside it.
  bool GetPixel(KLP_WindowID w, int32_t x, int32_t y, uint8_t rgb[3]);
  bool SavePNG(KLP_WindowID w, const std::string& path);

  // CKLP_UIPlatform
  uint32_t GetScreens(KLP_Rect* out, uint32_t max) override;
  KLP_WindowID CreateWindow(const KLP_WindowDesc& desc, CKLP_WindowClient* client) override;
  void DestroyWindow(KLP_WindowID w) override;
  void ShowWindow(KLP_WindowID w, bool show) override;
  void SelectWindow(KLP_WindowID w) override;
  void CollapseWindow(KLP_WindowID w) override { ShowWindow(w, false); }
  void MoveWindow(KLP_WindowID w, int32_t x, int32_t y) override;
  void DragWindow(KLP_WindowID w, KLP_Point) override {
    if (!ReleaseQueued(w)) ++m_log.drags;
  }
  void DrawPixels(KLP_WindowID w, const uint8_t* xrgb, uint32_t rowBytes, KLP_Rect src, KLP_Point to) override;
  void FlushWindow(KLP_WindowID, KLP_Rect) override {}
  int32_t RunLoop(KLP_WindowID modalFor) override;
  KLP_TimerID AddTimer(uint32_t intervalMs, std::function<void()> tick) override;
  void RemoveTimer(KLP_TimerID t) override { m_timers.erase(t); }
  uint32_t GetTickMs() override { return m_now; }
  uint32_t GetDoubleClickMs() override { return 500; }
  uint32_t GetCaretBlinkMs() override { return 500; }
  uint32_t GetModifiers() override { return m_mods; }
  bool IsKeyDown(uint8_t virtualKey) override { return m_keys[virtualKey] != 0; }
  KLP_Point GetMousePosition() override { return m_mouse; }
  int32_t GetScrollArrowStyle() override { return m_arrowStyle; }
  void Beep() override { ++m_log.beeps; }
  void Alert(const std::string& title, const std::string& text, KLP_WindowID parent) override;
  bool HasClipboardText() override { return m_hasClip; }
  bool GetClipboardText(std::string& out) override;
  bool SetClipboardText(const std::string& text) override;
  void SetCursor(KLP_WindowID w, int32_t id) override;
  int32_t PopupMenu(KLP_WindowID w, const std::vector<KLP_MenuItem>& items, KLP_Point at) override;
  KLP_FileAnswer AskFile(const KLP_FileQuestion& question) override;
  KLP_Picked PickColor(KLP_WindowID parent, const std::string& title, uint16_t rgb[3]) override;

 private:
  struct Timer {
    uint32_t interval;
    uint64_t due;
    std::function<void()> tick;
  };
  // Fires the earliest timer due by limit; false when none is.
  bool i_FireNext(uint64_t limit);
  // Queued for the grab or the window under the point; nothing over none.
  void i_PostMouse(uint16_t kind, int32_t x, int32_t y, uint8_t button, uint32_t mods, int32_t delta);

  std::vector<KLP_Rect> m_screens;
  std::map<KLP_WindowID, std::vector<uint8_t>> m_pixels;
  std::map<KLP_TimerID, Timer> m_timers;
  std::deque<std::function<void()>> m_script;
  std::deque<int32_t> m_menuAnswers;
  std::deque<KLP_FileAnswer> m_fileAnswers;
  std::deque<std::vector<uint16_t>> m_colourAnswers;
  std::function<int32_t(const std::vector<KLP_MenuItem>&)> m_menuAnswerer;
  std::function<KLP_FileAnswer(const KLP_FileQuestion&)> m_fileAnswerer;
  std::function<bool(uint16_t rgb[3])> m_colourAnswerer;
  KLP_HeadlessLog m_log;
  KLP_TimerID m_nextTimer;
  uint64_t m_now;
  uint32_t m_mods;
  uint8_t m_keys[256];
  KLP_Point m_mouse;
  KLP_WindowID m_grab;
  int32_t m_arrowStyle;
  std::string m_clip;
  bool m_hasClip;
};
