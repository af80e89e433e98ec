// The brightness/contrast window ("FXbc"): brightness and contrast,
// -100..100 each, of the listed pieces, one value or spread, each with its
// own "A" box, previewed with the effect about the pivot 128 on the sample
// picture.
#pragma once

#include "CWndFX_Base.h"

class CWndFX_BC : public CWndFX_Base {
 public:
  CWndFX_BC();
  ~CWndFX_BC() override;

  void UpdatePreview() override;

 private:
  CFXParamSet m_bright;
  CFXParamSet m_contrast;
};
