#include "CWnd_Dialog.h"

#include "CExportWriters.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_PlatformPopupMenu.h"
#include "CLayoutView.h"
#include "CMainWindowPort.h"
#include "CPluginMain.h"

CWnd_Dialog::CWnd_Dialog(CMainWindowPort& port, const char* group, kltPOS helpAt)
    : m_port(port), m_group(group), m_helpAt(helpAt), m_table(nullptr), m_count(0), m_status(0) {
  for (i32& id : m_ids) id = -1;
}

CWnd_Dialog::~CWnd_Dialog() {}

void CWnd_Dialog::Close() {
  KillTimer(kStatusTimer);
  CKLF_Window::Close();
}

u8 CWnd_Dialog::i_AddControls(const CONTROLENTRY* table, u32 count, u32 status, i32 font) {
  if (count > kMaxControls || status >= count || font < 0) return Fail(klErrBadArg);
  for (u32 c = 0; c < count; ++c) {
    if ((m_ids[c] = AddControl(table[c].name, table[c].type)) < 0) return FailFrom(*this, klErrUIResource);
    if (table[c].role == kHelpMenu) static_cast<CKLF_CtrlButton*>(GetCtrl(c))->SetMenuMode(1);
  }
  m_table = table;
  m_count = count;
  m_status = status;
  auto* line = static_cast<CKLF_CtrlStaticText*>(GetCtrl(status));
  i_SetUpText(line, GetFont(static_cast<u32>(font)), 16);
  // Tips run over two lines, broken to the line's width.
  line->SetFlow(1);
  return 1;
}

u8 CWnd_Dialog::i_StartStatus() {
  if (!SetTimer(kStatusMs, kStatusTimer)) return 0;
  OnAboveControl(0xFFFFFFFFu);
  return 1;
}

void CWnd_Dialog::i_SetUpText(CKLF_CtrlStaticText* text, CKLF_Font* font, u16 lineHeight) {
  text->SetFont(font);
  text->SetText("", 0, 1, lineHeight);
  text->SetOpacity(255);
}

u8 CWnd_Dialog::i_SetUpStatistics(CKLF_CtrlStaticText* text, CKLF_Font* font) {
  i_SetUpText(text, font, 14);
  text->RemoveAllTabs();
  return text->AddTab(kStatisticsTab);
}

void CWnd_Dialog::i_ShowText(u32 c, const CKLF_String& text) {
  auto* t = static_cast<CKLF_CtrlStaticText*>(GetCtrl(c));
  if (!t || (t->GetText() == text && t->GetOpacity() == 255)) return;
  t->SetText(text.GetStr());
  t->SetOpacity(255);
  t->Redraw();
}

u8 CWnd_Dialog::i_Over(u32 c, i16 x, i16 y) const {
  CKLF_Control* ctrl = GetCtrl(c);
  if (!ctrl) return 0;
  const kltRECT_s r = ctrl->GetRenderRect();
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

CKLF_Control* CWnd_Dialog::GetCtrl(u32 c) const {
  return c < kMaxControls && m_ids[c] >= 0 ? GetControl(static_cast<u32>(m_ids[c])) : nullptr;
}

i32 CWnd_Dialog::i_EntryOf(u32 id) const {
  for (u32 c = 0; c < m_count; ++c)
    if (m_ids[c] >= 0 && static_cast<u32>(m_ids[c]) == id) return static_cast<i32>(c);
  return -1;
}

void CWnd_Dialog::i_FollowControl(const char* name, u8 enabled, u8 checked) {
  for (u32 c = 0; c < m_count; ++c) {
    CKLF_Control* ctrl = GetCtrl(c);
    const u8 type = ctrl ? ctrl->GetType() : 0;
    if (type != klCtrlButton && type != klCtrlRadioButton && type != klCtrlCheckBox) continue;
    if (!(ctrl->GetName() == name)) continue;
    if (ctrl->IsEnabled() != (enabled ? 1 : 0)) ctrl->Enable(enabled ? 1 : 0);
    if (type != klCtrlButton && ctrl->GetCheck() != (checked ? 1 : 0)) ctrl->SetCheck(checked ? 1 : 0, 0);
    return;
  }
}

// ---- Status line.

void CWnd_Dialog::UpdateStatus(const char* text) { m_fade.SetText(text); }

void CWnd_Dialog::i_Tip(const char* name, u8 state, u8 type) {
  CKLF_String tip;
  m_port.GetStatusTip(name, m_group, state, type, tip);
  UpdateStatus(tip.GetStr());
}

u8 CWnd_Dialog::OnAboveControl(u32 id) {
  const CKLF_Control* c = i_EntryOf(id) >= 0 ? GetControl(id) : nullptr;
  if (c)
    i_Tip(c->GetName().GetStr(), i_TipState(c), c->GetType());
  else
    i_Tip("", i_TipState(nullptr), 128);
  return 1;
}

void CWnd_Dialog::i_StatusTick() {
  u8 opacity = 0, swap = 0;
  if (!m_fade.Tick(opacity, swap)) return;
  auto* status = static_cast<CKLF_CtrlStaticText*>(GetCtrl(m_status));
  if (!status) return;
  if (swap) status->SetText(m_fade.GetPending().GetStr());
  status->SetOpacity(opacity);
  status->Redraw();
}

void CWnd_Dialog::OnTimer(u16 id) {
  if (id == kStatusTimer) i_StatusTick();
}

// ---- Help menu.

void CWnd_Dialog::i_HelpMenu() {
  CKLF_PlatformPopupMenu menu;
  if (!menu.Create()) return;
  m_port.FillHelpMenu(&menu);
  if (menu.GetItemCount() > 0) menu.DoPopup(this, static_cast<i16>(m_helpAt.x), static_cast<i16>(m_helpAt.y), 0);
}

u32 CWnd_Dialog::OnCtrlMessage(u16 msg, u32 id, const char*, u8 type, void* data) {
  if (msg == klMsgMenu && type == 255) {
    if (data) m_port.HelpMenuDispatcher(*static_cast<const u16*>(data), this);
    return 1;
  }
  const i32 c = i_EntryOf(id);
  if (c < 0 || msg != klMsgClick || m_table[c].role == kOwn) return 0;
  if (m_table[c].role == kEnds)
    EndModal(0);
  else
    i_HelpMenu();
  return 1;
}

u8 CWnd_Dialog::OnKeyDown(u8 key, u8) {
  if (key == klKeyReturn) return OnReturn();
  if (key != klKeyEscape) return 0;
  EndModal(0);
  return 1;
}

// ---- The plug-in object.

CPluginMain* CWnd_Dialog::i_Plugin() const { return m_port.GetPluginObject(); }

void CWnd_Dialog::i_StorePosition(const char* name, const char* parent) {
  CPluginMain* plugin = i_Plugin();
  if (!plugin) return;
  const kltRECT_s r = GetWindowRect();
  if (!plugin->PutWindowPosToConf(name, parent, kltPOS{r.left, r.top}))
    m_port.Alert(plugin->GetError() == klErrNoMemory ? CLayoutView::kMemoryProblem : CExportWriters::kCannotWrite,
                 CLayoutView::kErrorTitle);
}
