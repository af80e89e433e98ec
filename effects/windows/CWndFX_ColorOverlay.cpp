#include "CWndFX_ColorOverlay.h"

#include <cstddef>

namespace {

typedef CTessarette::SFX_COLOROVERLAY Overlay;

const CFXParamSet::DESC kOpacity =
    CFXParamSet::Make("FXcovr_Opacity", "FXcovr_Opacity2", "FXcovr_Opacity", "FXcovr_AOpacity", "FXcovr_RangeOpacity",
                      {offsetof(Overlay, opacity), CFXSpread::kU8, 0, 255}, 0, 100, 1);

}  // namespace

CWndFX_ColorOverlay::CWndFX_ColorOverlay()
    : CWndFX_ColourBase("covr", 3, offsetof(Overlay, color)), m_opacity(kOpacity) {
  AddParamSet(&m_opacity);
  SetInitNotifies(1);
}

CWndFX_ColorOverlay::~CWndFX_ColorOverlay() {}

void CWndFX_ColorOverlay::UpdatePreview() {
  Overlay r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  u8 rgb[3];
  PreviewColour(reinterpret_cast<const u8*>(&r), rgb);
  Previewed(SampleFX().ColorOverlay(rgb, r.opacity));
  RedrawPreview();
}
