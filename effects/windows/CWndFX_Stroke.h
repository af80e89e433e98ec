// The stroke window ("FXstroke"): a band of one colour along the inside
// edge of each listed piece, its colour (picked with the host's colour
// picker on a swatch of each value), opacity (in percent, stored 0..255)
// and width (0..100 pixels), one value or spread, each with its own "A"
// box; the colour's eight bytes are spread one by one.
#pragma once

#include "CWndFX_ColourBase.h"

class CWndFX_Stroke : public CWndFX_ColourBase {
 public:
  CWndFX_Stroke();
  ~CWndFX_Stroke() override;

  void UpdatePreview() override;

 private:
  CFXParamSet m_opacity;
  CFXParamSet m_size;
};
