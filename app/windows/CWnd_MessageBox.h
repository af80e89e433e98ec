// The plug-in's modal question box from the resource "MessageBox": a
// header, a body text, and up to two buttons (left: OK or YES; right: OK,
// YES, NO or CANCEL); the others stay hidden. DoModal answers 1 for OK or
// YES, 0 for NO or CANCEL. Return (and keypad Enter) presses the default
// button: the left one, else the only one. Escape is the window manager's
// close: the box's Cancel, or its OK when that is its only button; a
// Yes/No question refuses both, as a button must answer it. Space, like
// any other key, does nothing (the buttons take no keys).
#pragma once

#include "CKLF_Window.h"

class CWnd_MessageBox : public CKLF_Window {
 public:
  // Buttons: left 1 OK, 2 YES; right 1 OK, 2 YES, 3 NO, 4 CANCEL; anything
  // else none.
  enum : u8 { kNone = 0, kOK = 1, kYes = 2, kNo = 3, kCancel = 4 };

  CWnd_MessageBox();
  ~CWnd_MessageBox() override;

  // Before CreateFromResource("MessageBox", -32000, -32000, parent, 1).
  // 0 without memory for the texts.
  [[nodiscard]] u8 Init(const char* header, const char* body, u8 leftButton, u8 rightButton);

  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  u8 OnKeyDown(u8 key, u8 mods) override;
  void OnCloseRequest() override;

  // Where a text starts inside a control of size w x h (x at least 3).
  static kltPOS CentredTextOrigin(u16 textWidth, u16 textHeight, i32 w, i32 h);

 private:
  enum : u32 { kOKl, kOKr, kYESl, kYESr, kCANCEL, kNO, kButtons };
  u8 i_PlaceText(i32 control, i32 font, const CKLF_String& text);

  i32 m_listFont;
  i32 m_messageFont;
  i32 m_text;
  i32 m_header;
  i32 m_buttons[kButtons];
  u8 m_left;
  u8 m_right;
  CKLF_String m_body;
  CKLF_String m_head;
};
