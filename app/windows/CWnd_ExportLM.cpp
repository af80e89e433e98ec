#include "CWnd_ExportLM.h"

#include "CKLF_CtrlStaticText.h"
#include "CLayoutView.h"
#include "CMainWindowPort.h"

const char* const CWnd_ExportLM::kName = "ExportLM";

namespace {

typedef CWnd_Dialog D;

const D::CONTROLENTRY kControls[CWnd_ExportLM::kControlCount] = {
    {"ExportLM_CloseX", klCtrlButton, D::kEnds},
    {"ExportLM_Cancel", klCtrlButton, D::kEnds},
    {"ExportLM_Export", klCtrlButton, D::kOwn},
    {"ExportLM_Help", klCtrlButton, D::kHelpMenu},
    {"ExportLM_Selected", klCtrlRadioButton, D::kOwn},
    {"ExportLM_All", klCtrlRadioButton, D::kOwn},
    {"ExportLM_ToEPS", klCtrlRadioButton, D::kOwn},
    {"ExportLM_ToAI", klCtrlRadioButton, D::kOwn},
    {"ExportLM_Status", klCtrlStaticText, D::kOwn},
    {"ExportLM_Display", klCtrlStaticText, D::kOwn},
};

}  // namespace

CWnd_ExportLM::CWnd_ExportLM(CMainWindowPort& port, const CExportLMDialogModel::FACTS& facts,
                             const CExportLMDialogModel::SETTINGS& settings)
    : CWnd_Dialog(port, kName, kltPOS{278, 30}), m_model(facts, settings) {}

CWnd_ExportLM::~CWnd_ExportLM() {}

u8 CWnd_ExportLM::OnCreate(CKLF_LayerSet*, u16, u16) {
  const i32 font = AddFont("Info Font");
  if (font < 0 || !i_AddControls(kControls, kControlCount, kStatus, font)) return 0;
  if (!i_SetUpStatistics(static_cast<CKLF_CtrlStaticText*>(GetCtrl(kDisplay)), GetFont(static_cast<u32>(font))))
    return Fail(klErrNoMemory);
  OnChangeSettings();
  return i_StartStatus();
}

void CWnd_ExportLM::OnChangeSettings() {
  const CExportLMDialogModel::CONTROL* c = m_model.Controls();
  for (u32 i = 0; i < CExportLMDialogModel::kControls; ++i) i_FollowControl(c[i].name, c[i].enabled, c[i].checked);
  UpdateDisplay();
}

// A text that cannot be made (no memory) is not shown: the user is told.
void CWnd_ExportLM::UpdateDisplay() {
  CKLF_String text;
  if (!m_model.DisplayText(text)) return GetPort().Alert(CLayoutView::kMemoryProblem, CLayoutView::kErrorTitle);
  i_ShowText(kDisplay, text);
}

void CWnd_ExportLM::OnOK() {
  if (!m_model.CanExport()) return;
  i_StorePosition(kName, "Main");
  EndModal(1);
}

u32 CWnd_ExportLM::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (CWnd_Dialog::OnCtrlMessage(msg, id, name, type, data)) return 1;
  const i32 c = i_EntryOf(id);
  if (c < 0 || msg != klMsgClick) return 0;
  if (c == kExport) {
    OnOK();
  } else if (type == klCtrlRadioButton) {
    m_model.OnControl(name, 1);
    OnChangeSettings();
  }
  return 1;
}

u8 CWnd_ExportLM::OnMouseMove(i16 x, i16 y, u8) {
  if (GetHoverControl() != 0xFFFFFFFFu) return 0;
  if (i_Over(kDisplay, x, y))
    i_Tip("Zone_Display", 1, 255);
  else
    i_Tip("", 1, 128);
  return 0;
}
