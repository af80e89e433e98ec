// A radio button (type 6) from "UIResources>Radio Buttons>" + name, one of
// the group ">Group ID": ">Normal On" and ">Normal Off" (required),
// ">Highlighted", ">Pressed", ">Pressed Mouse Out" (shown while off),
// ">Disabled On", ">Disabled Off". States: 1 normal on, 2 normal off, 4
// highlighted, 8 pressed, 16 pressed with the mouse outside, 32 / 64
// disabled on / off. A click checks it, unchecks the rest of its group
// through the window and sends 0x110 with a pointer to the modifier bits;
// a checked radio button ignores the mouse.
#pragma once

#include "CKLF_CtrlButton.h"

class CKLF_CtrlRadioButton : public CKLF_CtrlButton {
 public:
  CKLF_CtrlRadioButton();
  ~CKLF_CtrlRadioButton() override;

  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  // Checking with notify tells the group and sends 0x110 with modifier
  // bits 0; unchecking never notifies.
  void SetCheck(u8 check, u8 notify) override;

 protected:
  u8 i_StateOf(u8 look) override;
  u8 i_Hovers() override { return m_check ? 0 : 1; }
  void i_Clicked(u8 mods) override;
  void i_Checked();
};
