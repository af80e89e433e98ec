// The shape name dialog (UI resource window "ShapeName"): one text line
// for the name of a library shape, OK enabled only while the line holds
// more than white space. Asked by the Cutter's "Cutter_AddToPM" (empty
// name, position under "Cutter") and by the preset manager's rename (the
// shape's name) and import ("New Shape"), both under "Pres Mng".
#pragma once

#include "CCutterDialog.h"

class CWnd_ShapeName : public CCutterDialog {
 public:
  enum CONTROL : u32 {
    kCloseX = kModalCloseX, kCancel = kModalCancel, kOk = kModalOk, kHelp = kModalHelp, kName, kControlCount
  };

  // Asks the name over parent, starting from name; 1 with the text as
  // typed (white space kept) in name when the user confirmed, else 0 and
  // name unchanged. The dialog is gone when this returns.
  static u8 AskName(CKLF_Window* parent, const char* parentName, CCutterMainPort* main, CKLF_String& name);

  CWnd_ShapeName(CCutterMainPort* main, const char* parentName, const char* name);

  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  u8 OnKeyDown(u8 key, u8 mods) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  // The name: as given before the run, as typed after OK.
  const CKLF_String& GetName() const { return m_name; }

 private:
  void i_Confirm() override;

  CKLF_String m_name;
};
