#include "CWndFX_Stroke.h"

#include <cstddef>

namespace {

typedef CTessarette::SFX_STROKE Stroke;

const CFXParamSet::DESC kOpacity =
    CFXParamSet::Make("FXstroke_Opacity", "FXstroke_Opacity2", "FXstroke_Opacity", "FXstroke_AOpacity",
                      "FXstroke_RangeOpacity", {offsetof(Stroke, opacity), CFXSpread::kU8, 0, 255}, 0, 100, 1);
const CFXParamSet::DESC kSize =
    CFXParamSet::Make("FXstroke_Size", "FXstroke_Size2", "FXstroke_Size", "FXstroke_ASize", "FXstroke_RangeSize",
                      {offsetof(Stroke, size), CFXSpread::kU8, 0, 100}, 0, 100);

}  // namespace

CWndFX_Stroke::CWndFX_Stroke()
    : CWndFX_ColourBase("stroke", 8, offsetof(Stroke, color)), m_opacity(kOpacity), m_size(kSize) {
  AddParamSet(&m_opacity);
  AddParamSet(&m_size);
  SetInitNotifies(1);
}

CWndFX_Stroke::~CWndFX_Stroke() {}

void CWndFX_Stroke::UpdatePreview() {
  Stroke r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  u8 rgb[3];
  PreviewColour(reinterpret_cast<const u8*>(&r), rgb);
  Previewed(SampleFX().StrokeInside(rgb, r.size, r.opacity));
  RedrawPreview();
}
