// Progress sink of a run without the user interface: reports the percent
// to the host's progress bar and asks the host's abort callback whether to
// stop. Its user pointer is the plug-in object (a CKLF_8BFPluginVirtual).
#pragma once

#include "CKLF_Progress.h"

class CHostProgress : public CKLF_Progress {
 public:
  CHostProgress() : m_lastPercent(-1) {}
  ~CHostProgress() override {}

  // Stores the percent and calls the host's progressProc(percent, 100).
  i32 Progress(u8 percent, void* data) override;
  // The host's abort answer; 0 without a plug-in object or an abort callback.
  u8 IsCanceled() override;
  i32 GetLastPercent() const { return m_lastPercent; }

 private:
  i32 m_lastPercent;
};
