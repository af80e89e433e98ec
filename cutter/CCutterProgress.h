// Progress of the Cutter's cutting run: the Cutter's progress bar follows
// in steps of 5 percent (each step reached once, in order), and every cancel test lets the pending window
// events run and answers the Cutter's abort flag (Escape or the abort
// button while cutting). Its user pointer is the Cutter.
#pragma once

#include "CKLF_Progress.h"

class CCutterModel;

class CCutterProgress : public CKLF_Progress {
 public:
  explicit CCutterProgress(CCutterModel* cutter);
  ~CCutterProgress() override {}

  i32 Progress(u8 percent, void* data) override;
  u8 IsCanceled() override;

 private:
  CCutterModel* m_cutter;
  i32 m_last;
};
