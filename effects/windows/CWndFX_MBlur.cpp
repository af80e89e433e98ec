#include "CWndFX_MBlur.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "CFXValues.h"

namespace {

typedef CTessarette::SFX_MBLUR MBlur;

const CFXParamSet::DESC kRadius =
    CFXParamSet::Make("FXmblur_Radius1", "FXmblur_Radius2", "FXmblur_Radius", "FXmblur_ARadius", "FXmblur_RangeRadius",
                      {offsetof(MBlur, radius), CFXSpread::kU8, 0, 100}, 0, 100);
const CFXSpread::FIELD kAngle = {offsetof(MBlur, angle), CFXSpread::kI8, -90, 90};
const char* const kDirNames[2] = {"FXmblur_Dir1", "FXmblur_Dir2"};
// The lines of value 1 and value 2 on their dials.
const kltRGBA8 kDirColours[2] = {{231, 179, 117, 0}, {0, 217, 56, 0}};
const f64 kPi = 3.14159265358979323846;

}  // namespace

CWndFX_MBlur::CWndFX_MBlur()
    : CWndFX_Base("mblur", 5),
      m_radius(kRadius),
      m_angleBox(nullptr),
      m_angleBoxId(0xFFFFFFFFu),
      m_dir{nullptr, nullptr},
      m_dirId{0xFFFFFFFFu, 0xFFFFFFFFu},
      m_dirEdit{nullptr, nullptr},
      m_dirEditId{0xFFFFFFFFu, 0xFFFFFFFFu},
      m_dirRect{} {
  AddParamSet(&m_radius);
}

CWndFX_MBlur::~CWndFX_MBlur() {}

CTessarette::SFX_MBLUR& CWndFX_MBlur::i_Value(u8 which) {
  return *reinterpret_cast<MBlur*>(Records().GetValue(which ? 1 : 0));
}

u8 CWndFX_MBlur::OnCreateControls() {
  for (u8 k = 0; k < 2; ++k)
    if (!AddRectLayer(kDirNames[k], m_dirRect[k], m_dirLayer[k], kDirColours[k])) return 0;
  if (!(m_angleBox = AddNamed<CKLF_CtrlCheckBox>("FXmblur_AAngle", klCtrlCheckBox, &m_angleBoxId)) ||
      !CWndFX_Base::OnCreateControls())
    return 0;
  for (u8 k = 0; k < 2; ++k)
    if (!(m_dirEdit[k] = AddEdit(kDirNames[k], 1, &m_dirEditId[k]))) return 0;
  for (u8 k = 0; k < 2; ++k)
    if (!(m_dir[k] = AddNamed<CKLF_CtrlSlider>(kDirNames[k], klCtrlSlider, &m_dirId[k]))) return 0;
  return 1;
}

// An angle of -90 comes back as 90: the same direction.
void CWndFX_MBlur::OnInitValues() {
  for (u8 k = 2; k-- > 0;) m_dir[k]->SetValue(CFXValues::UnfoldAngle(i_Value(k).angle), 0);
  for (u8 k = 0; k < 2; ++k) OnSldrDir(k, CFXValues::UnfoldAngle(i_Value(k).angle), 1);
}

u32 CWndFX_MBlur::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (!IsCreated()) return 0;
  if (CWndFX_Base::OnCtrlMessage(msg, id, name, type, data)) return 1;
  for (u8 k = 0; k < 2; ++k) {
    if (type == klCtrlSlider && id == m_dirId[k] && data && (msg == klMsgValueSet || msg == klMsgValueDragging)) {
      ChangeMode(k);
      OnSldrDir(k, *static_cast<const u32*>(data), msg == klMsgValueDragging ? 1 : 0);
      return 1;
    }
    if (type == klCtrlEditLine && id == m_dirEditId[k] && msg == klMsgEditChanged && data) {
      OnEditDir(k, *static_cast<const CKLF_String*>(data));
      return 1;
    }
  }
  if (type == klCtrlCheckBox && id == m_angleBoxId) {
    i_OnAngleBox(m_angleBox->GetCheck());
    return 1;
  }
  return 0;
}

void CWndFX_MBlur::i_OnAngleBox(u8 checked) {
  for (u8 k = 0; k < 2; ++k) {
    m_dir[k]->Enable(checked);
    m_dirLayer[k].SetVisible(checked);
  }
  UpdatePreview();
  m_radius.RedrawRange();
  RedrawSlidersBG();
  Changes(CFXSchedule::kDeferred);
}

void CWndFX_MBlur::OnCtrlLostFocus(u32 id) {
  CWndFX_Base::OnCtrlLostFocus(id);
  if (!IsCreated()) return;
  for (u8 k = 0; k < 2; ++k) {
    if (id != m_dirEditId[k]) continue;
    char text[16];
    std::snprintf(text, sizeof(text), "%d", CFXValues::ParseClamped(m_dirEdit[k]->GetText().GetStr(), -90, 90));
    m_dirEdit[k]->SetText(text, 1);
    Changes(CFXSchedule::kDeferred);
  }
}

void CWndFX_MBlur::OnSldrDir(u8 which, u32 value, u8 dragging) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", CFXValues::FoldDirection(value));
  m_dirEdit[which]->SetText(text, 0);
  i_Value(which).angle = static_cast<i8>(CFXValues::FoldDirection(m_dir[which]->GetValue()));
  RedrawSlidersBG();
  UpdatePreview();
  if (!dragging) Changes(CFXSchedule::kDeferred);
}

void CWndFX_MBlur::OnEditDir(u8 which, const CKLF_String& text) {
  const i32 a = CFXValues::ParseClamped(text.GetStr(), -90, 90);
  m_dir[which]->SetValue(CFXValues::UnfoldAngle(a), 0);
  i_Value(which).angle = static_cast<i8>(a);
  RedrawSlidersBG();
  UpdatePreview();
}

void CWndFX_MBlur::OnChangeMode(u8 mode) {
  CWndFX_Base::OnChangeMode(mode);
  OnSldrDir(mode, m_dir[mode ? 1 : 0]->GetValue(), 1);
}

u32 CWndFX_MBlur::AddSpreadFields(CFXSpread::FIELDSTATE* out, u32 room) {
  if (!room) return 0;
  out[0] = {kAngle, 1, static_cast<u8>(m_angleBox && m_angleBox->GetCheck() ? 1 : 0)};
  return 1;
}

void CWndFX_MBlur::OnEnableSpread(u8 on) {
  if (on) {
    m_angleBox->Enable(1);
    m_angleBox->SetCheck(1, 1);
  } else {
    m_angleBox->SetCheck(0, 0);
    m_dir[0]->Enable(1);
    m_dirLayer[0].SetVisible(1);
    m_angleBox->Enable(0);
    m_dir[1]->Enable(0);
    m_dirLayer[1].SetVisible(0);
  }
  RedrawSlidersBG();
}

void CWndFX_MBlur::RedrawSlidersBG() {
  for (u8 k = 0; k < 2; ++k) {
    CKLF_Layer& l = m_dirLayer[k];
    if (!m_lines.SetDestination(&l)) continue;
    l.Set(kltRGBA8{0, 0, 0, 0}, 8);
    const f64 a = i_Value(k).angle * kPi / 180, c = (m_dirRect[k].right - m_dirRect[k].left) * 0.5, r = c - 10;
    if (!m_lines.DrawHQLine(c + r * std::cos(a), c - r * std::sin(a), c - r * std::cos(a), c + r * std::sin(a), 4, 1, 1,
                            1))
      TellNoMemory();
    RenderRect(m_dirRect[k]);
    UpdateRect(m_dirRect[k]);
  }
}

void CWndFX_MBlur::UpdatePreview() {
  MBlur r;
  PreviewRecord(reinterpret_cast<u8*>(&r));
  Previewed(SampleFX().MotionBlur(r.angle, r.radius, 0, 1));
  RedrawPreview();
}
