// Progress of long operations in percent (0..100) with cancellation. The
// base reports nothing; owners override Progress and IsCanceled (pumping
// window events, asking the host). A sub-progress maps an inner 0..100 onto
// part of a master's range so nested loops report one progress.
#pragma once

#include "CKLF_ErrorManager.h"

class CKLF_Progress : public CKLF_FrameWork {
 public:
  CKLF_Progress() : m_userData(nullptr), m_cancelled(0) {}
  ~CKLF_Progress() override {}

  // The result carries no meaning for the base.
  virtual i32 Progress(u8 percent, void* data) {
    (void)percent;
    (void)data;
    return 0;
  }
  virtual void Cancel() { m_cancelled = 1; }
  virtual u8 IsCanceled() { return m_cancelled; }

  void Reset() { m_cancelled = 0; }
  u8 GetCancelState() const { return m_cancelled; }
  void SetUserDataPtr(void* p) { m_userData = p; }
  void* GetUserDataPtr() const { return m_userData; }

 private:
  void* m_userData;
  u8 m_cancelled;
};

class CKLF_SubProgress : public CKLF_Progress {
 public:
  CKLF_SubProgress() : m_start(0), m_end(100), m_master(nullptr) {}

  // start and end are clamped to 0..100; start above end runs backwards.
  void SetMasterProgress(CKLF_Progress* master, i32 start, i32 end);
  CKLF_Progress* GetMasterProgress() const { return m_master; }

  i32 Progress(u8 percent, void* data) override;
  // The master's answer; the sub-progress's own flag is not consulted.
  u8 IsCanceled() override { return m_master ? m_master->IsCanceled() : 0; }

 private:
  f64 m_start;
  f64 m_end;
  CKLF_Progress* m_master;
};
