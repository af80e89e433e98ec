#include "CWndFX_Blur.h"

#include <cstddef>

namespace {

const CFXParamSet::DESC kRadius =
    CFXParamSet::Make("FXblur_Radius", "FXblur_Radius2", "FXblur_Radius", nullptr, "FXblur_RangeRadius",
                      {offsetof(CTessarette::SFX_BLUR, radius), CFXSpread::kU8, 0, 100}, 0, 100);

}  // namespace

CWndFX_Blur::CWndFX_Blur() : CWndFX_Base("blur", 0), m_radius(kRadius) {
  AddParamSet(&m_radius);
  SetInitNotifies(1);
}

CWndFX_Blur::~CWndFX_Blur() {}

void CWndFX_Blur::UpdatePreview() {
  CTessarette::SFX_BLUR r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  Previewed(SampleFX().GaussianBlur(r.radius, 0, 1));
  RedrawPreview();
}
