// The colour overlay window ("FXcovr"): the overlay colour (picked with
// the host's colour picker on a swatch of each value) and its opacity (in
// percent, stored 0..255) of the listed pieces, one value or spread, each
// with its own "A" box; the colour's eight bytes are spread one by one.
#pragma once

#include "CWndFX_ColourBase.h"

class CWndFX_ColorOverlay : public CWndFX_ColourBase {
 public:
  CWndFX_ColorOverlay();
  ~CWndFX_ColorOverlay() override;

  void UpdatePreview() override;

 private:
  CFXParamSet m_opacity;
};
