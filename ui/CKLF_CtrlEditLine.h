// A one-line text field (type 8, rectangle from "UIResources>Edits>" +
// name) drawn with a bitmap font into an RGBA layer of its own: caret,
// mouse and keyboard selection, word moves (words are ASCII letters and
// digits), the application's clipboard, one step of undo (undoing twice
// restores), horizontal scrolling, and a numeric mode in which the wheel
// and Up/Down step the number. Every change of the text by the user sends
// 0x120 with a pointer to the CKLF_String text.
//
// States: 1 normal, 2 highlighted (mouse over), 4 editing (focused),
// 8 disabled. A click that gives the focus selects all; the next click
// places the caret. Return ends editing, Escape ends it with the text seen
// when editing began (without a message); with SetEndKeysToWindow the key
// then reaches the window too, so a window whose Return and Escape act
// acts on the first press (a dialog's window always has them: the
// window's rule). Only the characters typing
// accepts are pasted: those the font has, and in numeric mode digits, "."
// (floating point) and "-" (negatives allowed). Laying out and drawing cost
// the visible characters.
#pragma once

#include "CKLF_Control.h"
#include "CKLF_Font.h"

class CKLF_CtrlEditLine : public CKLF_Control {
 public:
  CKLF_CtrlEditLine();
  ~CKLF_CtrlEditLine() override;

  // Error 192 without the four ">Rect ..." records.
  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  void Enable(u8 on) override;
  void SetFocus(u8 on) override;
  kltRECT_s GetRenderRect() override { return m_created ? m_layer.GetRect() : klNullRect; }
  void Redraw() override;
  void OnTimer(u16 kind) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  u8 OnMouseWheel(i16 x, i16 y, u8 mods, i16 delta) override;
  u8 OnKeyDown(u8 key, u8 mods) override;
  u8 OnKeyUp(u8, u8) override { return 0; }
  u8 OnKeyChar(u8 ch, u8 mods) override;
  u8 OnLMouseDoubleClick(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseTripleClick(i16 x, i16 y, u8 mods) override;
  u8 PtAboveControl(i16 x, i16 y) override;

  // The wheel step becomes 1.0 in numeric mode, 0.1 in numeric floating
  // point, else 0 (no stepping).
  void SetOptions(u8 numeric, u8 negatives, u8 floating, u8 readOnly, i16 textOffsetY, u8 tabEnds);
  void SetWheelStepValue(double step) { m_step = step; }
  // Return and Escape, once they have ended editing, go on to the window.
  void SetEndKeysToWindow(u8 on) { m_endKeysToWindow = on; }
  void SetText(const char* text, u8 notify);
  CKLF_String GetText() const { return m_text; }
  // The text differs from what it was when the line last took the focus.
  u8 IsEditedSinceFocus() const { return m_text == m_focusText ? 0 : 1; }
  u8 IsEditable() const { return m_editable; }
  void SetFont(CKLF_Font* font);
  // Background normal, highlighted, editing; selection; background
  // disabled; text normal, highlighted, editing; selected text; text
  // disabled. A colour of red 1 and alpha 0 keeps the current one.
  void SetColors(const kltRGBA8 (&colours)[10]);
  // The application's two field palettes in SetColors' order: light
  // fields (the main window, the effect windows) and the dark ones of the
  // knife shape editor and its dialogs.
  static const kltRGBA8 kLightColours[10];
  static const kltRGBA8 kDarkColours[10];

  // Both ends kept within 0..length and ordered; an empty selection is
  // none, and so is any negative end.
  void SetSelection(i32 start, i32 end);
  // Each pointer may be null; the text is empty without a selection.
  void GetSelection(i32* start, i32* end, CKLF_String* text);
  void SelectAll() { SetSelection(0, static_cast<i32>(m_text.GetLength())); }
  void SetCaretPos(i32 pos);
  i32 GetCaretPos() const { return m_caret; }
  i32 GetFirstVisible() const { return m_firstVisible; }

  void Visible(u8 on);
  u8 IsVisible() const { return m_layer.GetVisible(); }
  void SetVisibility(u8 on);

  // 0 when the selection could not be copied.
  [[nodiscard]] u8 Clipboard_Copy();
  void Clipboard_Cut();
  void Clipboard_Paste();
  void Undo();
  void DeleteSelection();
  void SelectWord(i32 pos);
  // Numeric mode with a step only: the number moved by steps x step.
  void StepDigitalEdit(i32 steps);
  // Each stores the new caret and returns the old one.
  i32 MoveCursorToLeft();
  i32 MoveCursorToRight();
  i32 MoveCursorToWordLeft();
  i32 MoveCursorToWordRight();
  i32 MoveCursorToBegin();
  i32 MoveCursorToEnd();

 private:
  enum : u8 { klStateNormal = 1, klStateHighlighted = 2, klStateEditing = 4, klStateDisabled = 8 };
  enum : u16 { klTimerCaret = 2 };

  // Editing (CKLF_CtrlEditLine_Edit.cpp).
  u8 i_Accepts(u8 ch) const;
  void i_Snapshot();
  void i_Insert(const CKLF_String& s);
  void i_Remove(i32 start, i32 end);
  void i_MoveTo(i32 caret, u8 shift);
  void i_Erase(u8 forward, u8 word);
  i32 i_WordLeft(i32 from) const;
  i32 i_WordRight(i32 from) const;
  u8 i_HasSelection() const { return m_selStart >= 0 && m_selEnd > m_selStart; }
  void i_SetSelection(i32 a, i32 b);
  void i_Changed(u8 notify);
  // Drawing and the mouse (CKLF_CtrlEditLine.cpp).
  void i_Layout();
  void i_LayoutFailed();
  void i_ShowCaret();
  i32 i_Nearest(i32 x) const;
  void i_DrawState(u8 state);
  void i_DrawText();
  void i_InvertCaret();
  void i_Hover(i16 x, i16 y);
  u8 i_Editing() const { return m_state == klStateEditing; }

  CKLF_Layer m_layer;
  u8 m_state;
  kltRGBA8 m_colours[10];
  CKLF_String m_text;
  u8 m_editable;
  u8 m_numeric;
  u8 m_negatives;
  u8 m_floating;
  double m_step;
  u8 m_tabEnds;
  u8 m_endKeysToWindow;
  i32 m_selStart;
  i32 m_selEnd;
  i32 m_anchor;
  u8 m_clickArmed;
  u8 m_dragSelecting;
  i32 m_caret;
  u16 m_caretDelay;
  u8 m_caretShown;
  u8 m_caretWidth;
  i32 m_firstVisible;
  i32 m_visibleCount;
  u16 m_margins[4];
  i16 m_textOffsetY;
  kltRECT_s m_textRect;
  CKLF_Font* m_font;
  CKLF_SDWordArray m_positions;
  CKLF_SDWordArray m_widths;
  u8 m_caretTimer;
  CKLF_String m_undoText;
  u8 m_undoSaved;
  CKLF_String m_focusText;
};
