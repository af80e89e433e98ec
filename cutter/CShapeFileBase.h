// Base of the knife shape and shape set files: a framework object that
// also keeps the alert its last failure shows the user ("" when the
// failure is silent).
#pragma once

#include "CKLF_ErrorManager.h"

class CShapeFileBase : public CKLF_FrameWork {
 public:
  CShapeFileBase() : m_alert("") {}

  const char* GetAlert() const { return m_alert; }

 protected:
  void i_ClearAlert() { m_alert = ""; }
  u8 i_Fail(u16 code, const char* alert) {
    m_alert = alert;
    return Fail(code);
  }
  u8 i_FailFrom(const CKLF_ErrorManager& member, u16 fallback, const char* alert) {
    m_alert = alert;
    return FailFrom(member, fallback);
  }

 private:
  const char* m_alert;
};
