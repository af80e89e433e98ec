#include "CKLF_CtrlRadioButton.h"

namespace {

const char* const kKeys[] = {">Normal On", ">Normal Off",   ">Highlighted", ">Pressed", ">Pressed Mouse Out",
                             ">Disabled On", ">Disabled Off"};
const KLF_BUTTONSTATE kStates[] = {{1, {0, -1, -1}, 0},  {2, {1, -1, -1}, 0},  {4, {2, 1, -1}, 0}, {8, {3, 2, 1}, 0},
                                   {16, {4, 1, -1}, 0}, {32, {5, 0, -1}, 1}, {64, {6, 1, -1}, 1}};
const KLF_BUTTONKIND kRadio = {klCtrlRadioButton, kKeys, 7, kStates, 7, 2, {0, 1}};

}  // namespace

CKLF_CtrlRadioButton::CKLF_CtrlRadioButton() : CKLF_CtrlButton(&kRadio) {}

CKLF_CtrlRadioButton::~CKLF_CtrlRadioButton() {}

u8 CKLF_CtrlRadioButton::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_CtrlButton::Init(window, id, name, storage)) return 0;
  // Optional: a button without the record belongs to no group.
  u8 group = 255;
  if (storage->GetRec(CKLF_String(KLF_ControlFolder(klCtrlRadioButton)) + name + ">Group ID", group))
    m_group = group;
  else if (!storage->IsRecordAbsent())
    return FailFrom(*storage, klErrNoMemory);
  return 1;
}

u8 CKLF_CtrlRadioButton::i_StateOf(u8 look) {
  static const u8 kLooks[] = {2, 4, 8, 16, 64};
  if (m_check && (look == klLookNormal || look == klLookDisabled)) return look == klLookNormal ? 1 : 32;
  return kLooks[look];
}

u8 CKLF_CtrlRadioButton::OnMouseMove(i16 x, i16 y, u8 mods) {
  return m_check ? 0 : CKLF_CtrlButton::OnMouseMove(x, y, mods);
}

u8 CKLF_CtrlRadioButton::OnLMouseDown(i16 x, i16 y, u8 mods) {
  return m_check ? 0 : CKLF_CtrlButton::OnLMouseDown(x, y, mods);
}

u8 CKLF_CtrlRadioButton::OnLMouseUp(i16 x, i16 y, u8 mods) {
  return m_check ? 0 : CKLF_CtrlButton::OnLMouseUp(x, y, mods);
}

// Checked: shown as such, no hover check.
void CKLF_CtrlRadioButton::i_Checked() {
  m_check = 1;
  SetState(m_enabled ? 1 : 32);
  StopHoverTimer();
}

void CKLF_CtrlRadioButton::i_Clicked(u8 mods) {
  i_Checked();
  NotifyGroup();
  u32 bits = mods;
  SendMessage(klMsgClick, &bits);
}

void CKLF_CtrlRadioButton::SetCheck(u8 check, u8 notify) {
  if ((check ? 1 : 0) == m_check) return;
  if (!check) {
    m_check = 0;
    i_TrackMouse();
    return;
  }
  i_Checked();
  if (!notify) return;
  NotifyGroup();
  u32 bits = 0;  // no mouse event behind it
  SendMessage(klMsgClick, &bits);
}
