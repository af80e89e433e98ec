// The effect window base: value 1 and value 2, the mode, the spread and the
// road of the results to the main window.
#include "CWndFX_Base.h"

void CWndFX_Base::Init() {
  m_records.InitValues(mainWindow ? mainWindow->GetCurrentPiece() : 0xFFFFFFFFu);
  OnInitValues();
  for (u32 i = 0; i < m_setCount; ++i) m_sets[i]->SetSliders(m_initNotifies);
  if (!m_initNotifies)
    for (u32 i = 0; i < m_setCount; ++i) m_sets[i]->OnSlider(m_sets[i]->Slider(0)->GetValue(), 1);
  m_auto->SetCheck(0, 1);
  for (u32 i = 0; i < m_setCount; ++i) m_sets[i]->RedrawRange();
  Changes(CFXSchedule::kDeferred);
}

void CWndFX_Base::EnableAutoAdjustments(u8 on) {
  if (!on) {
    SetMode(0);
    ResetAADirection();
  }
  m_random->Enable(on);
  for (CKLF_CtrlRadioButton* d : m_direction) d->Enable(on);
  for (u32 i = 0; i < m_setCount; ++i) m_sets[i]->EnableSpread(on);
  OnEnableSpread(on);
  UpdatePreview();
}

void CWndFX_Base::OnAutoAdjustments(u8 on) {
  EnableAutoAdjustments(on);
  Changes(CFXSchedule::kDeferred);
}

void CWndFX_Base::ResetAADirection() {
  for (CKLF_CtrlRadioButton* d : m_direction) d->SetCheck(0, 0);
}

u8 CWndFX_Base::GetAAMode() const {
  u8 checked[8];
  for (u32 k = 0; k < 8; ++k) checked[k] = m_direction[k] && m_direction[k]->GetCheck() ? 1 : 0;
  return CFXSpread::GetAAMode(checked);
}

void CWndFX_Base::SetMode(u8 mode) {
  m_mode = mode ? 1 : 0;
  CKLF_Layer* frame = m_frame->GetControlLayer();
  frame->SetVisible(m_mode);
  RenderRect(frame->GetRect());
  UpdateRect(frame->GetRect());
  UpdatePreview();
  OnChangeMode(m_mode);
}

void CWndFX_Base::OnChangeMode(u8 mode) {
  for (u32 i = 0; i < m_setCount; ++i)
    if (m_sets[i]->IsPair()) m_sets[i]->OnSlider(m_sets[i]->Slider(mode)->GetValue(), 1);
}

void CWndFX_Base::RedrawPreview() {
  RenderRect(m_previewRect);
  UpdateRect(m_previewRect);
}

void CWndFX_Base::GetSpread(CFXEffectRecords::SPREAD& spread) {
  u32 n = 0;
  for (u32 i = 0; i < m_setCount; ++i)
    if (m_sets[i]->IsPair()) m_fields[n++] = m_sets[i]->State();
  n += AddSpreadFields(m_fields + n, kMaxFields - n);
  spread = {IsAutoOn(), GetAAMode(), m_fields, n, m_randomSource};
}

void CWndFX_Base::PreviewRecord(u8* out) {
  CFXEffectRecords::SPREAD spread;
  GetSpread(spread);
  m_records.GetPreview(GetMode(), spread, out);
}

void CWndFX_Base::DoRegenerateData() {
  CFXEffectRecords::SPREAD spread;
  GetSpread(spread);
  m_records.Regenerate(spread);
}

void CWndFX_Base::DoUpdateMainWindow(u8 force) {
  if (!mainWindow) return;
  CFXEffectRecords::SPREAD spread;
  GetSpread(spread);
  m_records.UpdateMainWindow(*mainWindow, IsMainPreviewOn(), force, spread);
  if (m_closePending) Close();
}
