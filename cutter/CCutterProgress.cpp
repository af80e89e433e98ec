#include "CCutterProgress.h"

#include "CCutterModel.h"

CCutterProgress::CCutterProgress(CCutterModel* cutter) : m_cutter(cutter), m_last(-1) { SetUserDataPtr(cutter); }

i32 CCutterProgress::Progress(u8 percent, void* data) {
  (void)data;
  if (!m_cutter || percent == m_last) return 0;
  m_last = percent;
  if (percent % 5 == 0) m_cutter->GetWindowPort()->CuttingProgress(percent > 100 ? 100 : percent);
  return 0;
}

u8 CCutterProgress::IsCanceled() {
  if (!m_cutter) return 0;
  m_cutter->GetWindowPort()->ProcessEvents();
  return m_cutter->abortCut;
}
