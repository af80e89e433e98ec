#include "CWnd_CustomMutations.h"

#include <cstdio>

#include "CKLF_App.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlSlider.h"

namespace {

typedef CWnd_CustomMutations W;
typedef CCustomMutationsSettings M;

const CCutterDialog::CONTROLENTRY kControls[W::kControlCount] = {
    {"CMuts_CloseX", klCtrlButton}, {"CMuts_Cancel", klCtrlButton}, {"CMuts_Ok", klCtrlButton},
    {"CMuts_Help", klCtrlButton},   {"CMuts_MutS", klCtrlSlider},   {"CMuts_MutU", klCtrlSlider},
    {"CMuts_MutH", klCtrlSlider},   {"CMuts_MutS", klCtrlEditLine}, {"CMuts_MutU", klCtrlEditLine},
    {"CMuts_MutH", klCtrlEditLine}};

void ShowPercent(CKLF_CtrlEditLine* line, u32 percent, u8 notify) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u", percent);
  line->SetText(text, notify);
}

}  // namespace

u8 CWnd_CustomMutations::Open(CKLF_Window* cutterWindow, CCutterMainPort* main, f32& mutS, f32& mutU, f32& mutH) {
  CKLF_Storage* conf = main ? main->GetConfStore() : nullptr;
  CCustomMutationsSettings values;
  if (!values.Load(conf)) {
    if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", cutterWindow);
    return 0;
  }
  CWnd_CustomMutations dialog(main, values);
  if (dialog.Run("CMuts", cutterWindow) != 1) return 0;
  CCustomMutationsSettings chosen = dialog.GetValues();
  if (conf && !chosen.Save(conf) && m_App)
    m_App->PlatformMessageBox(
        chosen.GetError() == klErrNoMemory ? "Memory allocation problem..." : "Cannot write file...", "Error!",
        cutterWindow);
  mutS = chosen.amount[M::kS];
  mutU = chosen.amount[M::kU];
  mutH = chosen.amount[M::kH];
  return 1;
}

CWnd_CustomMutations::CWnd_CustomMutations(CCutterMainPort* main, const CCustomMutationsSettings& values)
    : CCutterDialog(main, "CMuts", "Cutter"), m_values(values) {}

CKLF_CtrlSlider* CWnd_CustomMutations::i_Slider(u32 k) const {
  return static_cast<CKLF_CtrlSlider*>(GetCtrl(kSliderS + k));
}

CKLF_CtrlEditLine* CWnd_CustomMutations::i_Edit(u32 k) const {
  return static_cast<CKLF_CtrlEditLine*>(GetCtrl(kEditS + k));
}

u8 CWnd_CustomMutations::OnCreate(CKLF_LayerSet*, u16, u16) {
  CKLF_Font* edit = i_Font("Edit Font");
  if (!edit || !i_AddControls(kControls, kControlCount)) return 0;
  static_cast<CKLF_CtrlButton*>(GetCtrl(kHelp))->SetMenuMode(1);
  // A stored amount outside 0..1 comes to the slider's range.
  for (u32 k = 0; k < M::kAmounts; ++k) {
    i_SetupEdit(kEditS + k, edit, 1);
    i_Slider(k)->SetValue(M::Percent(m_values.amount[k]), 0);
    m_values.amount[k] = M::Fraction(i_Slider(k)->GetValue());
    ShowPercent(i_Edit(k), i_Slider(k)->GetValue(), 0);
  }
  m_built = 1;
  // Digits typed at once go to the first amount.
  FocusFirstEditLine();
  return 1;
}

// With Shift the other two lines take the value as if typed, so their
// sliders and amounts follow.
void CWnd_CustomMutations::i_OnSlider(u32 k, u32 value) {
  ShowPercent(i_Edit(k), value, 0);
  if (GetKeysStatus() & klModShift)
    for (u32 other = 0; other < M::kAmounts; ++other)
      if (other != k) ShowPercent(i_Edit(other), value, 1);
  m_values.amount[k] = M::Fraction(value);
}

void CWnd_CustomMutations::i_OnTyped(u32 k, const char* text) {
  const u32 n = M::PercentOfText(text);
  i_Slider(k)->SetValue(n, 0);
  m_values.amount[k] = M::Fraction(n);
}

void CWnd_CustomMutations::OnCtrlLostFocus(u32 id) {
  CCutterDialog::OnCtrlLostFocus(id);
  const u32 k = static_cast<u32>(ControlOf(id) - static_cast<i32>(kEditS));
  if (m_built && k < M::kAmounts) ShowPercent(i_Edit(k), M::PercentOfText(i_Edit(k)->GetText()), 1);
}

u8 CWnd_CustomMutations::OnKeyDown(u8 key, u8) { return i_ModalKey(key); }

u32 CWnd_CustomMutations::OnCtrlMessage(u16 msg, u32 id, const char*, u8 type, void* data) {
  if (!m_built) return 0;
  if (msg == klMsgMenu) return i_OnMenu(data);
  const i32 c = ControlOf(id);
  const u32 slider = static_cast<u32>(c - static_cast<i32>(kSliderS)), edit = static_cast<u32>(c - static_cast<i32>(kEditS));
  if (type == klCtrlSlider && (msg == klMsgValueSet || msg == klMsgValueDragging) && data && slider < M::kAmounts) {
    i_OnSlider(slider, *static_cast<u32*>(data));
    return 1;
  }
  if (type == klCtrlEditLine && msg == klMsgEditChanged && data && edit < M::kAmounts) {
    i_OnTyped(edit, static_cast<CKLF_String*>(data)->GetStr());
    return 1;
  }
  u32 handled = 0;
  if (msg == klMsgClick) i_OnModalButton(c, handled);
  return handled;
}
