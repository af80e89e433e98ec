#include "CKLF_CtrlCheckBox.h"

namespace {

// Pictures 0..4 are the "On" looks, 5..9 the "Off" ones.
const char* const kKeys[] = {">Normal On",
                             ">Highlighted On",
                             ">Pressed On",
                             ">Pressed Mouse Out On",
                             ">Disabled On",
                             ">Normal Off",
                             ">Highlighted Off",
                             ">Pressed Off",
                             ">Pressed Mouse Out Off",
                             ">Disabled Off"};
const KLF_BUTTONSTATE kStates[] = {{1, {0, -1, -1}, 0}, {2, {5, -1, -1}, 0}, {3, {1, 0, -1}, 0}, {4, {6, 5, -1}, 0},
                                   {5, {2, 1, 0}, 0},   {6, {7, 6, 5}, 0},   {7, {3, 0, -1}, 0}, {8, {8, 5, -1}, 0},
                                   {9, {4, 0, -1}, 1},  {10, {9, 5, -1}, 1}};
const KLF_BUTTONKIND kCheckBox = {klCtrlCheckBox, kKeys, 10, kStates, 10, 2, {0, 5}};

}  // namespace

CKLF_CtrlCheckBox::CKLF_CtrlCheckBox() : CKLF_CtrlButton(&kCheckBox), m_flipped(0), m_afterFlip(0) {}

CKLF_CtrlCheckBox::~CKLF_CtrlCheckBox() {}

u8 CKLF_CtrlCheckBox::i_StateOf(u8 look) { return static_cast<u8>(2 * look + (m_check ? 1 : 2)); }

void CKLF_CtrlCheckBox::i_Clicked(u8) {
  m_check = m_check ? 0 : 1;
  m_flipped = 1;
  i_Look(klLookHighlighted);
  StartHoverTimer();
  SendMessage(klMsgClick, &m_check);
}

u8 CKLF_CtrlCheckBox::OnLMouseDown(i16 x, i16 y, u8 mods) {
  m_afterFlip = m_flipped;
  m_flipped = 0;
  return CKLF_CtrlButton::OnLMouseDown(x, y, mods);
}

// The press just made completes a double click (the window gives one only
// when the press before was on this box too): when that press flipped the
// box, this one is let go without flipping it back.
u8 CKLF_CtrlCheckBox::OnLMouseDoubleClick(i16 x, i16 y, u8) {
  if (!m_pressed || !m_afterFlip) return 0;
  m_pressed = 0;
  m_flipped = 1;
  i_Track(x, y);
  return 1;
}

void CKLF_CtrlCheckBox::SetCheck(u8 check, u8 notify) {
  if ((check ? 1 : 0) == m_check) return;
  m_check = check ? 1 : 0;
  i_TrackMouse();
  if (notify) SendMessage(klMsgClick, &m_check);
}
