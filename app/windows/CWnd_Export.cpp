#include "CWnd_Export.h"

#include "CKLF_CtrlStaticText.h"
#include "CLayoutView.h"
#include "CMainWindowPort.h"

const char* const CWnd_Export::kName = "Export";

namespace {

typedef CWnd_Dialog D;

const D::CONTROLENTRY kControls[CWnd_Export::kControlCount] = {
    {"Export_Help", klCtrlButton, D::kHelpMenu},
    {"Export_CloseX", klCtrlButton, D::kEnds},
    {"Export_Export", klCtrlButton, D::kOwn},
    {"Export_Cancel", klCtrlButton, D::kEnds},
    {"Export_Merged", klCtrlRadioButton, D::kOwn},
    {"Export_Selected", klCtrlRadioButton, D::kOwn},
    {"Export_All", klCtrlRadioButton, D::kOwn},
    {"Export_ToPSD", klCtrlRadioButton, D::kOwn},
    {"Export_ToPNG", klCtrlRadioButton, D::kOwn},
    {"Export_NamingSimple", klCtrlRadioButton, D::kOwn},
    {"Export_NamingExtended", klCtrlRadioButton, D::kOwn},
    {"Export_Composite", klCtrlCheckBox, D::kOwn},
    {"Export_WOBevel", klCtrlCheckBox, D::kOwn},
    {"Export_Hidden", klCtrlCheckBox, D::kOwn},
    {"Export_FullCanvas", klCtrlCheckBox, D::kOwn},
    {"Export_Status", klCtrlStaticText, D::kOwn},
    {"Export_Display", klCtrlStaticText, D::kOwn},
    {"Export_NamingDisp", klCtrlStaticText, D::kOwn},
};

}  // namespace

CWnd_Export::CWnd_Export(CMainWindowPort& port, const CExportDialogModel::FACTS& facts,
                         const CExportDialogModel::SETTINGS& settings)
    : CWnd_Dialog(port, kName, kltPOS{306, 30}), m_model(facts, settings) {}

CWnd_Export::~CWnd_Export() {}

u8 CWnd_Export::OnCreate(CKLF_LayerSet*, u16, u16) {
  const i32 font = AddFont("Info Font");
  if (font < 0 || !i_AddControls(kControls, kControlCount, kStatus, font)) return 0;
  if (!i_SetUpStatistics(static_cast<CKLF_CtrlStaticText*>(GetCtrl(kDisplay)), GetFont(static_cast<u32>(font))))
    return Fail(klErrNoMemory);
  i_SetUpText(static_cast<CKLF_CtrlStaticText*>(GetCtrl(kNamingDisp)), GetFont(static_cast<u32>(font)), 16);
  OnChangeSettings();
  return i_StartStatus();
}

void CWnd_Export::OnChangeSettings() {
  const CExportDialogModel::CONTROL* c = m_model.Controls();
  for (u32 i = 0; i < CExportDialogModel::kControls; ++i) i_FollowControl(c[i].name, c[i].enabled, c[i].checked);
  UpdateDisplay();
}

// Texts that cannot be made (no memory) are not shown: the user is told.
void CWnd_Export::UpdateDisplay() {
  CKLF_String text, example;
  if (!m_model.DisplayText(text) || !m_model.NamingExample(example))
    return GetPort().Alert(CLayoutView::kMemoryProblem, CLayoutView::kErrorTitle);
  i_ShowText(kDisplay, text);
  i_ShowText(kNamingDisp, example);
}

void CWnd_Export::OnOK() {
  if (!m_model.CanExport()) return;
  CKLF_String header, text;
  u8 ask = 0;
  if (!m_model.Question(header, text, ask)) return GetPort().Alert(CLayoutView::kMemoryProblem, CLayoutView::kErrorTitle);
  if (ask && GetPort().AskMessageBox(header.GetStr(), text.GetStr(), 1, 4) != 1) return;
  i_StorePosition(kName, "Main");
  EndModal(1);
}

u32 CWnd_Export::OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) {
  if (CWnd_Dialog::OnCtrlMessage(msg, id, name, type, data)) return 1;
  const i32 c = i_EntryOf(id);
  if (c < 0 || msg != klMsgClick) return 0;
  if (c == kExport) {
    OnOK();
  } else if (type == klCtrlRadioButton || type == klCtrlCheckBox) {
    const u8 on = type == klCtrlRadioButton ? 1 : GetCtrl(static_cast<u32>(c))->GetCheck();
    m_model.OnControl(name, on);
    OnChangeSettings();
  }
  return 1;
}

u8 CWnd_Export::OnMouseMove(i16 x, i16 y, u8) {
  if (GetHoverControl() != 0xFFFFFFFFu) return 0;
  if (i_Over(kDisplay, x, y))
    i_Tip("Zone_Display", 1, 255);
  else if (i_Over(kNamingDisp, x, y))
    i_Tip("Zone_DisplayNaming", 1, 255);
  else
    i_Tip("", 1, 128);
  return 0;
}
