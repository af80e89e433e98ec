// The main window's progress: long operations (a re-render, a large
// redraw of the knives) report on its status line as the caption, the
// percent and a text bar of one "I" a percent. It never cancels; asked
// whether to, it runs the window's pending events, so the window stays
// responsive while the work goes on.
#pragma once

#include "CKLF_Progress.h"
#include "CKLF_String.h"

class CWnd_Main;

class CMainProgress : public CKLF_Progress {
 public:
  explicit CMainProgress(CWnd_Main* window) : m_window(window), m_last(-1) { SetUserDataPtr(window); }
  ~CMainProgress() override {}

  // The caption's text outlives the progress (the callers' constants).
  void SetCaption(const char* caption) {
    m_caption = caption ? caption : "";
    m_last = -1;
  }
  // A percent other than the last one shows at once.
  i32 Progress(u8 percent, void* data) override;
  // Runs the main window's pending events; 0.
  u8 IsCanceled() override;
  i32 GetLastPercent() const { return m_last; }

 private:
  CWnd_Main* m_window;
  const char* m_caption = "";
  i32 m_last;
};
