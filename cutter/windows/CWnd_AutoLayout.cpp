#include "CWnd_AutoLayout.h"

#include <cstdio>

#include "CKLF_App.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlSlider.h"
#include "CKLF_CtrlStaticImage.h"

const char* const CWnd_AutoLayout::kGroup = "AutoLayout";

namespace {

typedef CWnd_AutoLayout W;

const CCutterDialog::CONTROLENTRY kControls[W::kControlCount] = {
    {"AutoLayout_CloseX", klCtrlButton},      {"AutoLayout_Cancel", klCtrlButton},
    {"AutoLayout_Ok", klCtrlButton},          {"AutoLayout_Help", klCtrlButton},
    {"AutoLayout_Rows", klCtrlSlider},        {"AutoLayout_Cols", klCtrlSlider},
    {"AutoLayout_Rows", klCtrlEditLine},      {"AutoLayout_Cols", klCtrlEditLine},
    {"AutoLayout_Tri", klCtrlRadioButton},    {"AutoLayout_Hex", klCtrlRadioButton},
    {"AutoLayout_Regular", klCtrlCheckBox},   {"AutoLayout_Tri", klCtrlStaticImage},
    {"AutoLayout_Hex", klCtrlStaticImage},    {"AutoLayout_Status", klCtrlStaticText}};

}  // namespace

u8 CWnd_AutoLayout::Open(CKLF_Window* cutterWindow, CCutterMainPort* main) {
  CKLF_Storage* conf = main ? main->GetConfStore() : nullptr;
  CAutoLayoutSettings values;
  if (!values.Load(conf)) {
    if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", cutterWindow);
    return 0;
  }
  CWnd_AutoLayout dialog(main, values);
  if (dialog.Run("AutoLayout", cutterWindow) != 1) return 0;
  CAutoLayoutSettings chosen = dialog.GetValues();
  if (conf && !chosen.Save(conf) && m_App)
    m_App->PlatformMessageBox(
        chosen.GetError() == klErrNoMemory ? "Memory allocation problem..." : "Cannot write file...", "Error!",
        cutterWindow);
  chosen.Apply(main);
  return 1;
}

CWnd_AutoLayout::CWnd_AutoLayout(CCutterMainPort* main, const CAutoLayoutSettings& values)
    : CCutterDialog(main, "AutoLayout", "Cutter"), m_values(values) {
  m_values.SetShape(values.shape);
}

CKLF_CtrlSlider* CWnd_AutoLayout::i_Slider(u8 rows) const {
  return static_cast<CKLF_CtrlSlider*>(GetCtrl(rows ? kRowsSlider : kColsSlider));
}

CKLF_CtrlEditLine* CWnd_AutoLayout::i_Edit(u8 rows) const {
  return static_cast<CKLF_CtrlEditLine*>(GetCtrl(rows ? kRowsEdit : kColsEdit));
}

u8 CWnd_AutoLayout::OnCreate(CKLF_LayerSet*, u16, u16) {
  CKLF_Font* edit = i_Font("Edit Font");
  CKLF_Font* info = edit ? i_Font("Info Font") : nullptr;
  if (!info || !i_AddControls(kControls, kControlCount)) return 0;
  static_cast<CKLF_CtrlButton*>(GetCtrl(kHelp))->SetMenuMode(1);
  for (CONTROL c : {kRowsEdit, kColsEdit}) i_SetupEdit(c, edit, 1);
  for (CONTROL p : {kTriPicture, kHexPicture}) static_cast<CKLF_CtrlStaticImage*>(GetCtrl(p))->GetControlLayer()->SetVisible(0);
  if (!i_StartStatus(kStatus, info)) return 0;
  m_values.Clamp();
  GetCtrl(kRegular)->SetCheck(m_values.regular, 0);
  i_ShowShape();
  for (u8 rows = 0; rows < 2; ++rows) {
    i_Slider(rows)->SetValueD(i_Count(rows), 1, i_Limit(rows), 0);
    i_OnSlider(rows);
  }
  i_ShowTip(0xFFFFFFFFu, kGroup);
  m_built = 1;
  // Digits typed at once go to the rows.
  FocusFirstEditLine();
  return 1;
}

void CWnd_AutoLayout::Close() {
  KillTimer(1);
  CCutterDialog::Close();
}

void CWnd_AutoLayout::i_ShowShape() {
  const u8 hex = m_values.shape == CAutoLayoutSettings::kHexagons;
  GetCtrl(kTri)->SetCheck(!hex, 0);
  GetCtrl(kHex)->SetCheck(hex, 0);
  auto* shown = static_cast<CKLF_CtrlStaticImage*>(GetCtrl(hex ? kHexPicture : kTriPicture));
  auto* hidden = static_cast<CKLF_CtrlStaticImage*>(GetCtrl(hex ? kTriPicture : kHexPicture));
  hidden->GetControlLayer()->SetVisible(0);
  hidden->DoRedraw();
  shown->GetControlLayer()->SetVisible(1);
  shown->DoRedraw();
}

// The slider's place on 1 .. limit becomes the count and the line's text.
void CWnd_AutoLayout::i_OnSlider(u8 rows) {
  const u32 v = static_cast<u32>(i_Slider(rows)->GetValueD(1, i_Limit(rows)));
  char text[16];
  std::snprintf(text, sizeof(text), "%u", v);
  i_Edit(rows)->SetText(text, 0);
  i_Count(rows) = v;
}

// Typing moves the slider and sets the count; the text stays as typed.
void CWnd_AutoLayout::i_OnTyped(u8 rows, const char* text) {
  const u32 n = CAutoLayoutSettings::CountOfText(text, i_Limit(rows));
  i_Slider(rows)->SetValueD(n, 1, i_Limit(rows), 0);
  i_Count(rows) = n;
}

void CWnd_AutoLayout::i_Commit(u8 rows) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u", CAutoLayoutSettings::CountOfText(i_Edit(rows)->GetText(), i_Limit(rows)));
  i_Edit(rows)->SetText(text, 1);
}

void CWnd_AutoLayout::OnCtrlLostFocus(u32 id) {
  CCutterDialog::OnCtrlLostFocus(id);
  const i32 c = ControlOf(id);
  if (m_built && (c == kRowsEdit || c == kColsEdit)) i_Commit(c == kRowsEdit);
}

u8 CWnd_AutoLayout::OnKeyDown(u8 key, u8) { return i_ModalKey(key); }

u8 CWnd_AutoLayout::OnAboveControl(u32 id) {
  const i32 c = ControlOf(id);
  if (c == kTriPicture || c == kHexPicture) return 0;
  i_ShowTip(id, kGroup);
  return 1;
}

u32 CWnd_AutoLayout::OnCtrlMessage(u16 msg, u32 id, const char*, u8 type, void* data) {
  if (!m_built) return 0;
  if (msg == klMsgMenu) return i_OnMenu(data);
  const i32 c = ControlOf(id);
  if (type == klCtrlSlider && (msg == klMsgValueSet || msg == klMsgValueDragging)) {
    i_OnSlider(c == kRowsSlider);
    return 1;
  }
  if (type == klCtrlEditLine && msg == klMsgEditChanged && data) {
    i_OnTyped(c == kRowsEdit, static_cast<CKLF_String*>(data)->GetStr());
    return 1;
  }
  u32 handled = 0;
  if (msg != klMsgClick || i_OnModalButton(c, handled)) return handled;
  switch (c) {
    case kRegular: m_values.regular = GetCtrl(kRegular)->GetCheck(); return 1;
    case kTri:
    case kHex:
      if (!GetCtrl(static_cast<u32>(c))->GetCheck()) return 1;
      m_values.shape = c == kHex ? CAutoLayoutSettings::kHexagons : CAutoLayoutSettings::kTriangles;
      // The counts are read again as typed, clamped to the new limits.
      i_Commit(1);
      i_Commit(0);
      i_ShowShape();
      return 1;
    default: return 0;
  }
}
