// The common ground of the Cutter's modal dialogs (preset manager, shape
// name, auto layout, custom mutations): the run from the stored window
// position to the end of the modal loop, the controls from a table, edit
// lines in the house's field colours, the Help pop-up menu, confirming
// with the position stored, and the status line that fades in and out
// (timer 1, every 30 ms). The main window's services come through its port
// (configuration store, window positions, status tips, help menu); without
// one a dialog still runs, centred, and stores nothing.
#pragma once

#include <vector>

#include "CCutterMainPort.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlStaticText.h"
#include "CKLF_StatusFade.h"
#include "CKLF_Window.h"

class CCutterDialog : public CKLF_Window {
 public:
  struct CONTROLENTRY {
    const char* name;
    u8 type;
  };

  // The names under which the dialog's position is stored ("Windows
  // Positions" > window > parent).
  CCutterDialog(CCutterMainPort* main, const char* positionName, const char* parentName);
  ~CCutterDialog() override;

  // Created from the resource at the stored position over parent, movable-
  // modal, drawn whole, then the modal loop. The loop's result; -1 when the
  // window could not be created or its position could not be read for
  // want of memory (17), its error kept.
  i32 Run(const char* resource, CKLF_Window* parent);

  // A control by its place in the dialog's table (null before creation).
  CKLF_Control* GetCtrl(u32 c) const;
  // The table place of a control id, or -1.
  i32 ControlOf(u32 id) const;
  CCutterMainPort* GetMainPort() const { return m_main; }
  const CKLF_StatusFade& GetStatusFade() const { return m_fade; }

  void OnTimer(u16 id) override;

 protected:
  // Adds the controls from..to-1 of the dialog's table (count entries) in
  // order: 0 with error 192 when one is missing.
  u8 i_AddControls(const CONTROLENTRY* table, u32 count, u32 from = 0, u32 to = 0xFFFFFFFFu);
  // A font of the UI resources; null with error 192 when missing.
  CKLF_Font* i_Font(const char* name);
  // A whole-number line (numeric) or a text line in the house's colours.
  void i_SetupEdit(u32 c, CKLF_Font* font, u8 numeric);
  // The help items under the button at table place c; their choice comes
  // back as a menu message, which i_OnMenu hands to the help dispatcher.
  void DoHelpMenu(u32 c);
  u32 i_OnMenu(const void* data);
  // OK: the position stored, the loop ended with 1.
  virtual void i_Confirm();
  // The small dialogs (shape name, auto layout, custom mutations) start
  // their tables with the close box, Cancel, OK and Help buttons.
  enum : u32 { kModalCloseX, kModalCancel, kModalOk, kModalHelp };
  // Their keys: Return confirms while OK is enabled, Escape ends the loop
  // with 0; both handled.
  u8 i_ModalKey(u8 key);
  // A press on one of their four buttons: 1 with handled set (Help's menu
  // choice comes back as a menu message: not handled), 0 for any other
  // control.
  u8 i_OnModalButton(i32 c, u32& handled);

  // The status line: the static text at table place c in the font,
  // emptied; the fade runs on timer 1.
  u8 i_StartStatus(u32 c, CKLF_Font* font);
  void UpdateStatus(const char* text);
  // The main window's tip of a control of the group (id all ones: the
  // group's default tip).
  void i_ShowTip(u32 id, const char* group);

  CCutterMainPort* m_main;
  // Set at the end of a successful OnCreate: controls report while they
  // are made (a slider its first value), before the dialog can take it.
  u8 m_built;

 private:
  CKLF_String m_posName;
  CKLF_String m_posParent;
  std::vector<i32> m_ids;  // table place -> control id
  CKLF_StatusFade m_fade;
  i32 m_status;  // table place of the status line, -1 for none
};
