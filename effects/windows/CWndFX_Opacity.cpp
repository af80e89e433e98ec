#include "CWndFX_Opacity.h"

#include <cstddef>

namespace {

const CFXParamSet::DESC kOpacity = CFXParamSet::Make(
    "FXopac_Opacity", "FXopac_Opacity2", "FXopac_Opacity", nullptr, "FXopac_RangeOpacity",
    {offsetof(CTessarette::SFX_OPACITY, opacity), CFXSpread::kU8, 0, 255}, 0, 100, 1, CFXSchedule::kAtOnce);

}  // namespace

CWndFX_Opacity::CWndFX_Opacity() : CWndFX_Base("opac", 6), m_opacity(kOpacity) {
  AddParamSet(&m_opacity);
  SetInitNotifies(1);
}

CWndFX_Opacity::~CWndFX_Opacity() {}

// The picture itself shows, at the edited opacity, instead of an effect's result.
void CWndFX_Opacity::OnCreated() {
  ResultLayer().SetVisible(0);
  SampleImage()->GetControlLayer()->SetVisible(1);
}

void CWndFX_Opacity::UpdatePreview() {
  CTessarette::SFX_OPACITY r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  SampleImage()->GetControlLayer()->SetOpacity(r.opacity);
  RedrawPreview();
}
