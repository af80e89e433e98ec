// The Gaussian blur window ("FXblur"): the blur radius 0..100 of the listed
// pieces, one value or spread (the radius always takes part: it has no "A"
// box), previewed with the blur on the sample picture (alpha kept, the
// colour of fully transparent pixels taken from their neighbours first).
#pragma once

#include "CWndFX_Base.h"

class CWndFX_Blur : public CWndFX_Base {
 public:
  CWndFX_Blur();
  ~CWndFX_Blur() override;

  void UpdatePreview() override;

 private:
  CFXParamSet m_radius;
};
