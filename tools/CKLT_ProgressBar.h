// The host's progress display: on a terminal a bar redrawn in place when
// the percent grows, elsewhere (a log, a pipe) a line at each quarter
// passed. It never goes backwards: the plug-in reports each phase of its
// work from its own start, and only a higher figure is shown.
#pragma once

#include <cstdint>
#include <cstdio>

class CKLT_ProgressBar {
 public:
  // out null shows nothing; terminal picks the redrawn bar.
  void SetOutput(FILE* out, bool terminal);
  // done of total (any scale; total <= 0 is ignored).
  void Show(int32_t done, int32_t total);
  // Ends the bar's line on a terminal.
  void End();

 private:
  FILE* m_out = nullptr;
  bool m_terminal = false;
  int m_shown = -1;  // percent on the bar, or the last quarter's
};
