// A check box (type 7) from "UIResources>Check Boxes>" + name: the button's
// looks in an "On" and an "Off" set (">Normal On", ">Normal Off", both
// required, ">Highlighted On" ...). States: 1/2 normal on/off, 3/4
// highlighted, 5/6 pressed, 7/8 pressed with the mouse outside, 9/10
// disabled. A click flips the check and sends 0x110 with a pointer to the
// u8 check. A double or triple click on the box flips it once: its later
// presses do not flip it back.
#pragma once

#include "CKLF_CtrlButton.h"

class CKLF_CtrlCheckBox : public CKLF_CtrlButton {
 public:
  CKLF_CtrlCheckBox();
  ~CKLF_CtrlCheckBox() override;

  // Nothing when unchanged; with notify a 0x110 message.
  void SetCheck(u8 check, u8 notify) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDoubleClick(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseTripleClick(i16 x, i16 y, u8 mods) override { return OnLMouseDoubleClick(x, y, mods); }

 protected:
  u8 i_StateOf(u8 look) override;
  void i_Clicked(u8 mods) override;

 private:
  // The last press on the box flipped it (or was a further press of the
  // double click that did); so did the one before the press now held.
  u8 m_flipped;
  u8 m_afterFlip;
};
