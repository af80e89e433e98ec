// A check box (type 7) from "UIResources>Check Boxes>" + name: the button's
// looks in an "On" and an "Off" set (">Normal On", ">Normal Off", both
// required, ">Highlighted On" ...). States: 1/2 normal on/off, 3/4
// highlighted, 5/6 pressed, 7/8 pressed with the mouse outside, 9/10
// disabled. A click flips the check and sends 0x110 with a pointer to the
// u8 check.
#pragma once

#include "CKLF_CtrlButton.h"

class CKLF_CtrlCheckBox : public CKLF_CtrlButton {
 public:
  CKLF_CtrlCheckBox();
  ~CKLF_CtrlCheckBox() override;

  // Nothing when unchanged; with notify a 0x110 message.
  void SetCheck(u8 check, u8 notify) override;

 protected:
  u8 i_StateOf(u8 look) override;
  void i_Clicked(u8 mods) override;
};
