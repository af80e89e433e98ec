// The hue/saturation window ("FXhsl"): hue -180..180 degrees, saturation
// and lightness -100..100 each, of the listed pieces, one value or spread,
// each with its own "A" box (the hue is spread straight between the two
// numbers, not round the colour circle), previewed with the lightness
// applied before the hue and saturation.
#pragma once

#include "CWndFX_Base.h"

class CWndFX_HSL : public CWndFX_Base {
 public:
  CWndFX_HSL();
  ~CWndFX_HSL() override;

  void UpdatePreview() override;

 private:
  CFXParamSet m_hue;
  CFXParamSet m_saturation;
  CFXParamSet m_lightness;
};
