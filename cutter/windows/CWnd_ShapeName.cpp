#include "CWnd_ShapeName.h"

#include "CKLF_App.h"
#include "CKLF_CtrlButton.h"

namespace {

typedef CWnd_ShapeName W;

const CCutterDialog::CONTROLENTRY kControls[W::kControlCount] = {
    {"ShapeName_CloseX", klCtrlButton}, {"ShapeName_Cancel", klCtrlButton}, {"ShapeName_Ok", klCtrlButton},
    {"ShapeName_Help", klCtrlButton},   {"ShapeName_Name", klCtrlEditLine}};

}  // namespace

u8 CWnd_ShapeName::AskName(CKLF_Window* parent, const char* parentName, CCutterMainPort* main, CKLF_String& name) {
  CWnd_ShapeName dialog(main, parentName, name.GetStr());
  if (dialog.Run("ShapeName", parent) != 1) return 0;
  if (dialog.GetName().IsError() || (name = dialog.GetName()).IsError()) {
    if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", parent);
    return 0;
  }
  return 1;
}

CWnd_ShapeName::CWnd_ShapeName(CCutterMainPort* main, const char* parentName, const char* name)
    : CCutterDialog(main, "Shape Name", parentName), m_name(name ? name : "") {}

u8 CWnd_ShapeName::OnCreate(CKLF_LayerSet*, u16, u16) {
  CKLF_Font* font = i_Font("List Font");
  if (!font || !i_AddControls(kControls, kControlCount)) return 0;
  static_cast<CKLF_CtrlButton*>(GetCtrl(kHelp))->SetMenuMode(1);
  GetCtrl(kOk)->Enable(0);
  i_SetupEdit(kName, font, 0);
  m_built = 1;
  // The OK state follows the first text as it follows typing.
  auto* line = static_cast<CKLF_CtrlEditLine*>(GetCtrl(kName));
  line->SetText(m_name.GetStr(), 1);
  line->SetFocus(1);
  return 1;
}

// A name that cannot be copied stays failed (IsError) for AskName.
void CWnd_ShapeName::i_Confirm() {
  (void)(m_name = static_cast<CKLF_CtrlEditLine*>(GetCtrl(kName))->GetText());
  CCutterDialog::i_Confirm();
}

u8 CWnd_ShapeName::OnKeyDown(u8 key, u8) { return i_ModalKey(key); }

u32 CWnd_ShapeName::OnCtrlMessage(u16 msg, u32 id, const char*, u8, void* data) {
  if (!m_built) return 0;
  if (msg == klMsgMenu) return i_OnMenu(data);
  const i32 c = ControlOf(id);
  if (c == kName) {
    if (msg != klMsgEditChanged || !data) return 0;
    CKLF_String trimmed = *static_cast<CKLF_String*>(data);
    trimmed.TrimBoth();
    GetCtrl(kOk)->Enable(trimmed.GetLength() > 0);
    return 1;
  }
  u32 handled = 0;
  if (msg == klMsgClick) i_OnModalButton(c, handled);
  return handled;
}
