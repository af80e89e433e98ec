#include "CCutterDialog.h"

#include "CKLF_App.h"
#include "CKLF_CtrlButton.h"
#include "CKLF_PlatformPopupMenu.h"

CCutterDialog::CCutterDialog(CCutterMainPort* main, const char* positionName, const char* parentName)
    : m_main(main), m_built(0), m_posName(positionName), m_posParent(parentName), m_status(-1) {}

CCutterDialog::~CCutterDialog() { KillTimer(1); }

i32 CCutterDialog::Run(const char* resource, CKLF_Window* parent) {
  kltSIZE_s at = klNullSize;
  if (m_main && !m_main->GetWindowPosition(m_posName, m_posParent, at)) {
    if (m_App) m_App->PlatformMessageBox("Memory allocation problem...", "Error!", parent);
    return Fail(klErrNoMemory, -1);
  }
  if (!CreateFromResource(resource, static_cast<i16>(at.horizontal), static_cast<i16>(at.vertical), parent, 1))
    return -1;
  RenderRect(klNullRect);
  return DoModal();
}

CKLF_Control* CCutterDialog::GetCtrl(u32 c) const {
  return c < m_ids.size() && m_ids[c] >= 0 ? GetControl(static_cast<u32>(m_ids[c])) : nullptr;
}

i32 CCutterDialog::ControlOf(u32 id) const {
  for (size_t c = 0; c < m_ids.size(); ++c)
    if (m_ids[c] >= 0 && static_cast<u32>(m_ids[c]) == id) return static_cast<i32>(c);
  return -1;
}

u8 CCutterDialog::i_AddControls(const CONTROLENTRY* table, u32 count, u32 from, u32 to) {
  if (m_ids.size() != count) m_ids.assign(count, -1);
  for (u32 c = from; c < count && c < to; ++c)
    if ((m_ids[c] = AddControl(table[c].name, table[c].type)) < 0) return FailFrom(*this, klErrUIResource);
  return 1;
}

CKLF_Font* CCutterDialog::i_Font(const char* name) {
  const i32 f = AddFont(name);
  return f < 0 ? Fail(klErrUIResource, static_cast<CKLF_Font*>(nullptr)) : GetFont(static_cast<u32>(f));
}

void CCutterDialog::i_SetupEdit(u32 c, CKLF_Font* font, u8 numeric) {
  auto* e = static_cast<CKLF_CtrlEditLine*>(GetCtrl(c));
  e->SetFont(font);
  e->SetOptions(numeric, 0, 0, 0, 1, 0);
  e->SetColors(CKLF_CtrlEditLine::kDarkColours);
}

void CCutterDialog::DoHelpMenu(u32 c) {
  CKLF_PlatformPopupMenu menu;
  menu.Create();
  if (m_main) m_main->FillHelpMenu(&menu, 0);
  const kltRECT_s r = GetCtrl(c)->GetRenderRect();
  if (menu.GetItemCount() > 0) menu.DoPopup(this, static_cast<i16>(r.left), static_cast<i16>(r.bottom), 0);
}

u32 CCutterDialog::i_OnMenu(const void* data) {
  return data && m_main ? m_main->HelpMenuDispatcher(*static_cast<const u16*>(data), this) : 0;
}

void CCutterDialog::i_Confirm() {
  const kltRECT_s r = GetWindowRect();
  if (m_main) m_main->PutWindowPosition(m_posName, m_posParent, kltPOS{r.left, r.top});
  EndModal(1);
}

u8 CCutterDialog::i_ModalKey(u8 key) {
  if (key == klKeyReturn) {
    if (GetCtrl(kModalOk)->IsEnabled()) i_Confirm();
    return 1;
  }
  if (key != klKeyEscape) return 0;
  EndModal(0);
  return 1;
}

u8 CCutterDialog::i_OnModalButton(i32 c, u32& handled) {
  handled = 1;
  switch (c) {
    case kModalCloseX:
    case kModalCancel: EndModal(0); return 1;
    case kModalOk: i_Confirm(); return 1;
    case kModalHelp:
      DoHelpMenu(kModalHelp);
      handled = 0;
      return 1;
    default: handled = 0; return 0;
  }
}

// ---- Status line.

u8 CCutterDialog::i_StartStatus(u32 c, CKLF_Font* font) {
  auto* text = static_cast<CKLF_CtrlStaticText*>(GetCtrl(c));
  text->SetFont(font);
  text->SetText("", 3, 0, 12);
  // Long tips wrap to a second line.
  text->SetFlow(1);
  text->Redraw();
  m_status = static_cast<i32>(c);
  return SetTimer(30, 1);
}

void CCutterDialog::UpdateStatus(const char* text) { m_fade.SetText(text); }

void CCutterDialog::i_ShowTip(u32 id, const char* group) {
  CKLF_Control* c = id == 0xFFFFFFFFu ? nullptr : GetControl(id);
  CKLF_String tip;
  if (m_main)
    m_main->GetStatusTip(c ? c->GetName().GetStr() : "", group, c ? c->IsEnabled() : 1, c ? c->GetType() : 128,
                         tip);
  UpdateStatus(tip.GetStr());
}

void CCutterDialog::OnTimer(u16 id) {
  if (id == 1 && m_status >= 0) m_fade.Tick(*static_cast<CKLF_CtrlStaticText*>(GetCtrl(static_cast<u32>(m_status))));
}
