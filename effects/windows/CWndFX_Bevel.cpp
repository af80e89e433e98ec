#include "CWndFX_Bevel.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "CFXColorPair.h"
#include "CFXValues.h"

namespace {

typedef CTessarette::SFX_BEVEL Bevel;

const CFXParamSet::DESC kSize =
    CFXParamSet::Make("FXbevel_Size1", "FXbevel_Size2", "FXbevel_Size", "FXbevel_ASize", "FXbevel_RangeSize",
                      {offsetof(Bevel, size), CFXSpread::kU8, 0, 200}, 0, 200);
const CFXParamSet::DESC kDepth = CFXParamSet::Make(
    "FXbevel_Depth1", "FXbevel_Depth2", "FXbevel_Depth", "FXbevel_ADepth", "FXbevel_RangeDepth",
    {offsetof(Bevel, depth), CFXSpread::kU16, 0, 999}, 0, 999, 0, CFXSchedule::kDeferred, CFXValues::DepthRangeColumns);
const CFXParamSet::DESC kSoften =
    CFXParamSet::Make("FXbevel_Soften1", "FXbevel_Soften2", "FXbevel_Soften", "FXbevel_ASoften", "FXbevel_RangeSoften",
                      {offsetof(Bevel, soften), CFXSpread::kU8, 0, 20}, 0, 20);
const CFXParamSet::DESC kHighlight =
    CFXParamSet::Make("FXbevel_HLOpacity", nullptr, "FXbevel_HLOpacity", nullptr, nullptr,
                      {offsetof(Bevel, highlightOpacity), CFXSpread::kU8, 0, 255}, 0, 100, 1);
const CFXParamSet::DESC kShadow =
    CFXParamSet::Make("FXbevel_SHOpacity", nullptr, "FXbevel_SHOpacity", nullptr, nullptr,
                      {offsetof(Bevel, shadowOpacity), CFXSpread::kU8, 0, 255}, 0, 100, 1);
const char* const kSwatches[2] = {"FXbevel_HLColor", "FXbevel_SHColor"};
const char* const kLightEdits[2] = {"FXbevel_Angle", "FXbevel_Alt"};
// The status zones: the disc, the two swatches; their tips' names.
const char* const kZoneTips[3] = {"Zone_Bevel_3DLight", "Zone_Bevel_HLSwatch", "Zone_Bevel_SHSwatch"};
const u8 kNoZone = 255;
// Presses this far beyond the disc's rim still move the light.
const f64 kReach = 5;
// The area rendered around the disc when the thumb moves.
const i32 kThumbMargin = 15;

}  // namespace

CWndFX_Bevel::CWndFX_Bevel()
    : CWndFX_Base("bevel", 1),
      m_size(kSize),
      m_depth(kDepth),
      m_soften(kSoften),
      m_highlight(kHighlight),
      m_shadow(kShadow),
      m_swatchRect{},
      m_zone{0, 0, 0, 0},
      m_disc{0, 0, 1},
      m_thumb(nullptr),
      m_lightEdit{nullptr, nullptr},
      m_lightEditId{0xFFFFFFFFu, 0xFFFFFFFFu},
      m_dragging(0),
      m_lastZone(kNoZone) {
  for (CFXParamSet* s : {&m_size, &m_depth, &m_soften, &m_highlight, &m_shadow}) AddParamSet(s);
}

CWndFX_Bevel::~CWndFX_Bevel() {}

CTessarette::SFX_BEVEL& CWndFX_Bevel::i_Value1() { return *reinterpret_cast<Bevel*>(Records().GetValue(0)); }

// ---------------------------------------------------------------------------
// Creation and Init

u8 CWndFX_Bevel::OnCreateControls() {
  if (!CWndFX_Base::OnCreateControls()) return 0;
  for (u8 k = 0; k < 2; ++k)
    if (!AddRectLayer(kSwatches[k], m_swatchRect[k], m_swatchLayer[k], kltRGBA8{255, 0, 0, 0}, 1)) return 0;
  if (!GetResourceRect("FXbevel_LightZone", m_zone)) return Fail(klErrUIResource);
  m_disc = CFXLight::DiscOf(m_zone);
  // The thumb's own layer stays hidden; a copy of its picture moves over the disc.
  if (!(m_thumb = AddNamed<CKLF_CtrlStaticImage>("FXBevel_LightThumb", klCtrlStaticImage))) return 0;
  m_thumb->GetControlLayer()->SetVisible(0);
  if (!m_thumbLayer.Create(0, 0, m_thumb->GetControlLayer(), 2)) return FailFrom(m_thumbLayer, klErrNoMemory);
  m_thumbLayer.SetVisible(1);
  if (LSAddLayer(&m_thumbLayer) < 0) return Fail(klErrNoMemory);
  for (u8 k = 0; k < 2; ++k)
    if (!(m_lightEdit[k] = AddEdit(kLightEdits[k], 0, &m_lightEditId[k]))) return 0;
  return 1;
}

void CWndFX_Bevel::OnInitValues() {
  Bevel& v = i_Value1();
  const klt3D_VECTOR sane = CFXLight::Sane({v.light[0], v.light[1], v.light[2]});
  v.light[0] = sane.x, v.light[1] = sane.y, v.light[2] = sane.z;
}

void CWndFX_Bevel::Init() {
  CWndFX_Base::Init();
  const Bevel& v = i_Value1();
  RedrawByVector({v.light[0], v.light[1], v.light[2]});
  UpdatePreview();
  UpdateAnAl();
  RedrawColors();
}

// ---------------------------------------------------------------------------
// The light

void CWndFX_Bevel::RedrawByVector(klt3D_VECTOR light) {
  const kltPOS p = CFXLight::ToPoint(m_disc, light);
  m_thumbLayer.SetPos(static_cast<i16>(p.x - kThumbOffset), static_cast<i16>(p.y - kThumbOffset));
  const kltRECT_s r = {m_zone.left - kThumbMargin, m_zone.top - kThumbMargin, m_zone.right + kThumbMargin,
                       m_zone.bottom + kThumbMargin};
  RenderRect(r);
  UpdateRect(r);
}

void CWndFX_Bevel::RedrawByXY(i16 x, i16 y) {
  const klt3D_VECTOR l = CFXLight::FromPoint(m_disc, x, y);
  Bevel& v = i_Value1();
  v.light[0] = l.x, v.light[1] = l.y, v.light[2] = l.z;
  RedrawByVector(l);
}

void CWndFX_Bevel::UpdateAnAl() {
  const Bevel& v = i_Value1();
  i32 angle = 0, altitude = 0;
  CFXLight::ToAngles({v.light[0], v.light[1], v.light[2]}, angle, altitude);
  char text[16];
  std::snprintf(text, sizeof(text), "%d", CFXSpread::Clamp(angle, 0, 359));
  m_lightEdit[0]->SetText(text, 0);
  std::snprintf(text, sizeof(text), "%d", CFXSpread::Clamp(altitude, 1, 90));
  m_lightEdit[1]->SetText(text, 0);
}

// A typed angle keeps the light's altitude, a typed altitude its angle.
void CWndFX_Bevel::i_OnEditLight(u8 altitude, const CKLF_String& text) {
  Bevel& v = i_Value1();
  i32 an = 0, al = 0;
  CFXLight::ToAngles({v.light[0], v.light[1], v.light[2]}, an, al);
  (altitude ? al : an) =
      altitude ? CFXValues::ParseClamped(text.GetStr(), 1, 90) : CFXValues::ParseClamped(text.GetStr(), 0, 359);
  const klt3D_VECTOR l = CFXLight::FromAngles(an, al);
  v.light[0] = l.x, v.light[1] = l.y, v.light[2] = l.z;
  RedrawByVector(l);
  UpdatePreview();
}

u8 CWndFX_Bevel::OnLMouseDown(i16 x, i16 y, u8) {
  if (!IsCreated()) return 0;
  for (u8 k = 0; k < 2; ++k)
    if (CFXValues::InRect(m_swatchRect[k], x, y)) return i_PickColour(k), 1;
  const f64 dx = x - m_disc.cx, dy = y - m_disc.cy;
  if (std::sqrt(dx * dx + dy * dy) > m_disc.r + kReach) return 0;
  m_dragging = 1;
  RedrawByXY(x, y);
  UpdatePreview();
  UpdateAnAl();
  return 1;
}

u8 CWndFX_Bevel::OnMouseMove(i16 x, i16 y, u8) {
  if (!IsCreated()) return 0;
  i_StatusZone(x, y);
  if (!m_dragging) return 0;
  RedrawByXY(x, y);
  UpdatePreview();
  UpdateAnAl();
  return 1;
}

u8 CWndFX_Bevel::OnLMouseUp(i16, i16, u8) {
  if (!m_dragging) return 0;
  m_dragging = 0;
  Changes(CFXSchedule::kDeferred);
  return 1;
}

// Over no control (or the value-2 frame), the disc and the swatches have
// tips of their own.
void CWndFX_Bevel::i_StatusZone(i16 x, i16 y) {
  const u32 hover = GetHoverControl();
  if (hover != 0xFFFFFFFFu && GetControl(hover) != FrameImage()) {
    m_lastZone = kNoZone;
    return;
  }
  const kltRECT_s zones[3] = {m_zone, m_swatchRect[0], m_swatchRect[1]};
  u8 zone = kNoZone;
  for (u8 k = 0; k < 3 && zone == kNoZone; ++k)
    if (CFXValues::InRect(zones[k], x, y)) zone = k;
  if (zone == m_lastZone) return;
  m_lastZone = zone;
  CKLF_String tip;
  if (mainWindow) mainWindow->GetStatusTip(zone == kNoZone ? "" : kZoneTips[zone], "Effect", 1, 255, tip);
  UpdateStatus(tip.GetStr());
}

// ---------------------------------------------------------------------------
// Colours and messages

void CWndFX_Bevel::i_PickColour(u8 shadow) {
  Bevel& v = i_Value1();
  if (!CFXColorPair::Pick(*this, shadow ? v.shadowColor : v.highlightColor)) return;
  RedrawColors();
  UpdatePreview();
  Changes(CFXSchedule::kDeferred);
}

void CWndFX_Bevel::RedrawColors() {
  const Bevel& v = i_Value1();
  CFXColorPair::Fill(*this, m_swatchLayer[0], m_swatchRect[0], v.highlightColor);
  CFXColorPair::Fill(*this, m_swatchLayer[1], m_swatchRect[1], v.shadowColor);
}

u32 CWndFX_Bevel::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (!IsCreated()) return 0;
  if (CWndFX_Base::OnCtrlMessage(msg, id, name, type, data)) return 1;
  for (u8 k = 0; k < 2; ++k)
    if (type == klCtrlEditLine && id == m_lightEditId[k] && msg == klMsgEditChanged && data) {
      i_OnEditLight(k, *static_cast<const CKLF_String*>(data));
      return 1;
    }
  return 0;
}

void CWndFX_Bevel::OnCtrlLostFocus(u32 id) {
  CWndFX_Base::OnCtrlLostFocus(id);
  if (!IsCreated()) return;
  for (u8 k = 0; k < 2; ++k) {
    if (id != m_lightEditId[k]) continue;
    char text[16];
    std::snprintf(text, sizeof(text), "%d",
                  CFXValues::ParseClamped(m_lightEdit[k]->GetText().GetStr(), k ? 1 : 0, k ? 90 : 359));
    m_lightEdit[k]->SetText(text, 1);
    Changes(CFXSchedule::kDeferred);
  }
}

// Size, depth and soften are the mode's (the engine's default where the
// spread leaves a box unchecked); the light, the opacities and the colours
// are value 1's.
void CWndFX_Bevel::UpdatePreview() {
  Bevel r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  const Bevel& v = i_Value1();
  u8 highlight[3], shadow[3];
  CFXValues::RenderColour(v.highlightColor, GetColorKind(), highlight);
  CFXValues::RenderColour(v.shadowColor, GetColorKind(), shadow);
  const klt3D_VECTOR light = CFXLight::Sane({v.light[0], v.light[1], v.light[2]});
  Previewed(SampleFX().Bevel(r.size, r.depth, static_cast<f64>(r.soften), light, highlight, v.highlightOpacity, shadow,
                             v.shadowOpacity));
  RedrawPreview();
}
