#include "CCutterProgress.h"

#include "CCutterModel.h"

CCutterProgress::CCutterProgress(CCutterModel* cutter) : m_cutter(cutter), m_last(-1) { SetUserDataPtr(cutter); }

// Threads finish pieces in bursts, so percentages jump: the bar moves to
// each step of 5 reached, also when the exact multiple was skipped.
i32 CCutterProgress::Progress(u8 percent, void* data) {
  (void)data;
  const i32 step = (percent > 100 ? 100 : percent) / 5 * 5;
  if (!m_cutter || step == m_last) return 0;
  m_last = step;
  m_cutter->GetWindowPort()->CuttingProgress(static_cast<u8>(step));
  return 0;
}

u8 CCutterProgress::IsCanceled() {
  if (!m_cutter) return 0;
  m_cutter->GetWindowPort()->ProcessEvents();
  return m_cutter->abortCut;
}
