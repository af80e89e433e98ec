#include "CWndFX_HSL.h"

#include <cstddef>

namespace {

typedef CTessarette::SFX_HSL HSL;

const CFXParamSet::DESC kHue = CFXParamSet::Make("FXhsl_H1", "FXhsl_H2", "FXhsl_H", "FXhsl_AH", "FXhsl_RangeH",
                                                 {offsetof(HSL, hue), CFXSpread::kI16, -180, 180}, -180, 180);
const CFXParamSet::DESC kSaturation =
    CFXParamSet::Make("FXhsl_S1", "FXhsl_S2", "FXhsl_S", "FXhsl_AS", "FXhsl_RangeS",
                      {offsetof(HSL, saturation), CFXSpread::kI8, -100, 100}, -100, 100);
const CFXParamSet::DESC kLightness =
    CFXParamSet::Make("FXhsl_L1", "FXhsl_L2", "FXhsl_L", "FXhsl_AL", "FXhsl_RangeL",
                      {offsetof(HSL, lightness), CFXSpread::kI8, -100, 100}, -100, 100);

}  // namespace

CWndFX_HSL::CWndFX_HSL() : CWndFX_Base("hsl", 2), m_hue(kHue), m_saturation(kSaturation), m_lightness(kLightness) {
  AddParamSet(&m_hue);
  AddParamSet(&m_saturation);
  AddParamSet(&m_lightness);
}

CWndFX_HSL::~CWndFX_HSL() {}

void CWndFX_HSL::UpdatePreview() {
  HSL r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  Previewed(SampleFX().HSLCorrection(r.hue, r.saturation, r.lightness, 1));
  RedrawPreview();
}
