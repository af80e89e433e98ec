// The opacity window ("FXopac"): the pieces' opacity, shown in percent
// 0..100 and stored 0..255, one value or spread (always: no "A" box). Its
// preview is the sample picture itself at the edited opacity over the
// checkerboard. A released slider updates the main window at once.
#pragma once

#include "CWndFX_Base.h"

class CWndFX_Opacity : public CWndFX_Base {
 public:
  CWndFX_Opacity();
  ~CWndFX_Opacity() override;

  void UpdatePreview() override;

 protected:
  void OnCreated() override;

 private:
  CFXParamSet m_opacity;
};
