#include "CWndFX_BC.h"

#include <cstddef>

namespace {

typedef CTessarette::SFX_BC BC;

const CFXParamSet::DESC kBright =
    CFXParamSet::Make("FXbc_Bright1", "FXbc_Bright2", "FXbc_Bright", "FXbc_ABrightness", "FXbc_RangeBright",
                      {offsetof(BC, brightness), CFXSpread::kI8, -100, 100}, -100, 100);
const CFXParamSet::DESC kContrast =
    CFXParamSet::Make("FXbc_Contrast1", "FXbc_Contrast2", "FXbc_Contrast", "FXbc_AContrast", "FXbc_RangeContrast",
                      {offsetof(BC, contrast), CFXSpread::kI8, -100, 100}, -100, 100);

}  // namespace

CWndFX_BC::CWndFX_BC() : CWndFX_Base("bc", 4), m_bright(kBright), m_contrast(kContrast) {
  AddParamSet(&m_bright);
  AddParamSet(&m_contrast);
}

CWndFX_BC::~CWndFX_BC() {}

void CWndFX_BC::UpdatePreview() {
  BC r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  Previewed(SampleFX().BrightnessContrast(r.brightness, r.contrast, 128));
  RedrawPreview();
}
