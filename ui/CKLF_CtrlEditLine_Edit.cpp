// The edit line's text editing: selection, keys, typing, clipboard, undo
// and numeric stepping.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "CKLF_App.h"
#include "CKLF_CtrlEditLine.h"

namespace {

bool IsTextChar(u8 c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

constexpr u8 kCtrlA = 1, kCtrlC = 3, kCtrlV = 22, kCtrlX = 24, kCtrlZ = 26;

}  // namespace

// Selection

void CKLF_CtrlEditLine::i_SetSelection(i32 a, i32 b) {
  const i32 length = static_cast<i32>(m_text.GetLength());
  if (a < 0 || b < 0) {
    m_selStart = m_selEnd = -1;
    return;
  }
  a = std::min(a, length);
  b = std::min(b, length);
  m_selStart = std::min(a, b);
  m_selEnd = std::max(a, b);
  if (m_selStart == m_selEnd) m_selStart = m_selEnd = -1;
}

void CKLF_CtrlEditLine::SetSelection(i32 start, i32 end) {
  i_SetSelection(start, end);
  i_DrawState(m_state);
  Redraw();
}

void CKLF_CtrlEditLine::GetSelection(i32* start, i32* end, CKLF_String* text) {
  if (start) *start = m_selStart;
  if (end) *end = m_selEnd;
  // A text that cannot be copied is left failed (IsError) for the caller.
  if (text)
    (void)(*text = i_HasSelection()
                       ? m_text.Mid(static_cast<u32>(m_selStart), static_cast<u32>(m_selEnd - m_selStart), 1)
                       : CKLF_String());
}

void CKLF_CtrlEditLine::SetCaretPos(i32 pos) {
  m_caret = std::max(0, std::min(pos, static_cast<i32>(m_text.GetLength())));
  i_DrawState(m_state);
  Redraw();
}

void CKLF_CtrlEditLine::SelectWord(i32 pos) {
  const u8* s = reinterpret_cast<const u8*>(m_text.GetStr());
  const i32 length = static_cast<i32>(m_text.GetLength());
  pos = std::max(0, std::min(pos, length));
  i32 a = pos, b = pos;
  while (a > 0 && IsTextChar(s[a - 1])) --a;
  while (b < length && IsTextChar(s[b])) ++b;
  if (a == b) {
    // Not on a word: the word before pos.
    a = b = i_WordLeft(pos);
    while (b < length && IsTextChar(s[b])) ++b;
  }
  SetSelection(a, b);
}

// Caret moves

i32 CKLF_CtrlEditLine::i_WordLeft(i32 from) const {
  const u8* s = reinterpret_cast<const u8*>(m_text.GetStr());
  while (from > 0 && !IsTextChar(s[from - 1])) --from;
  while (from > 0 && IsTextChar(s[from - 1])) --from;
  return from;
}

i32 CKLF_CtrlEditLine::i_WordRight(i32 from) const {
  const u8* s = reinterpret_cast<const u8*>(m_text.GetStr());
  const i32 length = static_cast<i32>(m_text.GetLength());
  while (from < length && !IsTextChar(s[from])) ++from;
  while (from < length && IsTextChar(s[from])) ++from;
  return from;
}

i32 CKLF_CtrlEditLine::MoveCursorToLeft() {
  const i32 old = m_caret;
  m_caret = std::max(0, m_caret - 1);
  return old;
}

i32 CKLF_CtrlEditLine::MoveCursorToRight() {
  const i32 old = m_caret;
  m_caret = std::min(static_cast<i32>(m_text.GetLength()), m_caret + 1);
  return old;
}

i32 CKLF_CtrlEditLine::MoveCursorToWordLeft() {
  const i32 old = m_caret;
  m_caret = i_WordLeft(m_caret);
  return old;
}

i32 CKLF_CtrlEditLine::MoveCursorToWordRight() {
  const i32 old = m_caret;
  m_caret = i_WordRight(m_caret);
  return old;
}

i32 CKLF_CtrlEditLine::MoveCursorToBegin() {
  const i32 old = m_caret;
  m_caret = 0;
  return old;
}

i32 CKLF_CtrlEditLine::MoveCursorToEnd() {
  const i32 old = m_caret;
  m_caret = static_cast<i32>(m_text.GetLength());
  return old;
}

// After a move from old: with Shift the selection spans anchor..caret (the
// anchor is old when nothing was selected), without it nothing is.
void CKLF_CtrlEditLine::i_MoveTo(i32 old, u8 shift) {
  if (!shift) {
    i_SetSelection(-1, -1);
  } else {
    if (!i_HasSelection()) m_anchor = old;
    i_SetSelection(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret));
  }
  i_DrawState(m_state);
  Redraw();
}

// Changes

void CKLF_CtrlEditLine::i_Changed(u8 notify) {
  const i32 length = static_cast<i32>(m_text.GetLength());
  m_caret = std::max(0, std::min(m_caret, length));
  if (m_caret == m_firstVisible && m_firstVisible > 0) --m_firstVisible;
  m_firstVisible = std::max(0, std::min(m_firstVisible, length - 1));
  i_DrawState(m_state);
  Redraw();
  if (notify) SendMessage(klMsgEditChanged, &m_text);
}

// Without memory for the undo text there is no undo (the code stays).
void CKLF_CtrlEditLine::i_Snapshot() {
  if (m_undoSaved) return;
  if ((m_undoText = m_text).IsError()) return SetError(klErrNoMemory);
  m_undoSaved = 1;
}

// Removes [start, end) and puts the caret there; no selection is left.
void CKLF_CtrlEditLine::i_Remove(i32 start, i32 end) {
  if (end > start) m_text.DeleteFrom(static_cast<u32>(start), static_cast<u32>(end - start));
  m_caret = start;
  i_SetSelection(-1, -1);
}

void CKLF_CtrlEditLine::i_Insert(const CKLF_String& s) {
  if (i_HasSelection()) {
    i_Snapshot();
    i_Remove(m_selStart, m_selEnd);
  }
  // Without memory the text stays as it was (the code stays).
  if (!m_text.InsertAt(static_cast<u32>(m_caret), s)) return SetError(klErrNoMemory);
  m_caret += static_cast<i32>(s.GetLength());
}

void CKLF_CtrlEditLine::SetText(const char* text, u8 notify) {
  i_Snapshot();
  // Without memory the line is empty with the code (noted).
  if ((m_text = text ? text : "").IsError()) SetError(klErrNoMemory), NoteFailure(klErrNoMemory);
  i_SetSelection(-1, -1);
  m_caret = 0;
  i_Changed(notify);
}

void CKLF_CtrlEditLine::DeleteSelection() {
  if (!i_HasSelection()) return;
  i_Snapshot();
  i_Remove(m_selStart, m_selEnd);
  i_Changed(1);
}

void CKLF_CtrlEditLine::i_Erase(u8 forward, u8 word) {
  if (i_HasSelection()) return DeleteSelection();
  i_Snapshot();
  const i32 length = static_cast<i32>(m_text.GetLength());
  if (forward) i_Remove(m_caret, word ? i_WordRight(m_caret) : std::min(length, m_caret + 1));
  else i_Remove(word ? i_WordLeft(m_caret) : std::max(0, m_caret - 1), m_caret);
  i_Changed(1);
}

void CKLF_CtrlEditLine::Undo() {
  if (!m_editable) return;
  const CKLF_String text = m_text;
  CKLF_String undone = m_undoText;
  // Without memory for the swap nothing is undone (the code stays).
  if (text.IsError() || undone.IsError()) return SetError(klErrNoMemory);
  if ((m_text = undone).IsError() || (m_undoText = text).IsError()) SetError(klErrNoMemory);
  m_undoSaved = 0;
  i_SetSelection(-1, -1);
  m_caret = 0;
  i_Changed(1);
}

// Keys

u8 CKLF_CtrlEditLine::OnKeyDown(u8 key, u8 mods) {
  const u8 shift = mods & klModShift, word = mods & klModOption;
  const u8 controlAlone = (mods & (klModControl | klModCommand | klModOption | klModShift)) == klModControl;
  const u8 stepping = m_numeric && m_step != 0.0;
  switch (key) {
    case klKeyUp:
    case klKeyDown:
      if (stepping) StepDigitalEdit((key == klKeyUp ? 1 : -1) * (shift ? 10 : 1));
      else i_MoveTo(key == klKeyUp ? MoveCursorToBegin() : MoveCursorToEnd(), shift);
      break;
    case klKeyLeft:
      if (controlAlone) i_MoveTo(MoveCursorToBegin(), 0);
      else i_MoveTo(word ? MoveCursorToWordLeft() : MoveCursorToLeft(), shift);
      break;
    case klKeyRight:
      if (controlAlone) i_MoveTo(MoveCursorToEnd(), 0);
      else i_MoveTo(word ? MoveCursorToWordRight() : MoveCursorToRight(), shift);
      break;
    case klKeyHome: i_MoveTo(MoveCursorToBegin(), shift); break;
    case klKeyEnd: i_MoveTo(MoveCursorToEnd(), shift); break;
    case klKeyBackspace:
    case klKeyDelete:
      if (m_editable) i_Erase(key == klKeyDelete, word);
      break;
    case klKeyReturn: SetFocus(0); return m_endKeysToWindow ? 0 : 1;
    case klKeyEscape:
      SetText(m_focusText, 0);
      SetFocus(0);
      return m_endKeysToWindow ? 0 : 1;
    case klKeyTab:
      if (m_tabEnds) SetFocus(0);
      break;
    default: break;
  }
  return 1;
}

// What typing and pasting let in: no control bytes on one line, only codes
// the font has, and in numeric mode only the number's characters.
u8 CKLF_CtrlEditLine::i_Accepts(u8 ch) const {
  if (!m_editable || !m_font || ch < 32 || ch == 127) return 0;
  if (ch < m_font->GetFirstCharCode() || ch > m_font->GetLastCharCode()) return 0;
  if (!m_numeric || (ch >= '0' && ch <= '9')) return 1;
  return (ch == '.' && m_floating) || (ch == '-' && m_negatives) ? 1 : 0;
}

u8 CKLF_CtrlEditLine::OnKeyChar(u8 ch, u8 mods) {
  if (mods & klModCommand) {
    switch (ch) {
      case kCtrlA: SelectAll(); break;
      case kCtrlC: (void)Clipboard_Copy(); break;  // a failure is kept in the control
      case kCtrlV: Clipboard_Paste(); break;
      case kCtrlX: Clipboard_Cut(); break;
      case kCtrlZ: Undo(); break;
      default: break;
    }
    return 1;
  }
  if (!i_Accepts(ch)) return 1;
  CKLF_String typed;
  typed = static_cast<char>(ch);
  i_Insert(typed);
  m_undoSaved = 0;
  i_Changed(1);
  return 1;
}

// Clipboard

// A selection that cannot be copied (no memory, or the system refuses)
// leaves the clipboard as it was and the code in the control; a cut then
// keeps the text.
u8 CKLF_CtrlEditLine::Clipboard_Copy() {
  CKLF_String selected;
  GetSelection(nullptr, nullptr, &selected);
  if (selected.IsError()) return FailFrom(selected, klErrNoMemory);
  if (!m_App || selected.GetLength() == 0) return 1;
  return m_App->Clipboard_SetText(selected) ? 1 : Fail(klErrBadArg);
}

void CKLF_CtrlEditLine::Clipboard_Cut() {
  if (Clipboard_Copy() && m_editable) DeleteSelection();
}

void CKLF_CtrlEditLine::Clipboard_Paste() {
  CKLF_String clip;
  if (!m_App || !m_App->Clipboard_GetText(clip)) return;
  if (!m_editable) return m_App->SystemBeep();
  CKLF_String kept;
  for (u32 i = 0; i < clip.GetLength(); ++i)
    if (i_Accepts(static_cast<u8>(clip[i])) && (kept += clip[i]).IsError()) return m_App->SystemBeep();
  if (kept.GetLength() == 0) return;
  i_Insert(kept);
  const i32 end = m_caret;
  i_SetSelection(end - static_cast<i32>(kept.GetLength()), end);
  i_Changed(1);
}

// Numbers

void CKLF_CtrlEditLine::StepDigitalEdit(i32 steps) {
  if (!m_numeric || m_step == 0.0 || !std::isfinite(m_step)) return;
  CKLF_String text;
  if (!m_floating) {
    // In 64 bits and kept within 32, whatever the field holds.
    const i64 step = static_cast<i64>(std::clamp(std::trunc(m_step), -2147483648.0, 2147483647.0));
    i64 n = std::clamp<i64>(std::strtol(m_text.GetStr(), nullptr, 10), INT32_MIN, INT32_MAX) + step * steps;
    if (!m_negatives && n < 0) n = 0;
    if (!text.Format("%d", static_cast<i32>(std::clamp<i64>(n, INT32_MIN, INT32_MAX)))) return SetError(klErrNoMemory);
  } else {
    double x = std::strtod(m_text.GetStr(), nullptr);
    if (!std::isfinite(x)) x = 0.0;
    x += steps * m_step;
    if (!m_negatives && x < 0) x = 0.0;
    const double d = std::trunc(std::fabs(m_step) * 100);
    if (!text.Format(d > 99 ? "%.0f" : d >= 10 ? "%.1f" : "%.2f", x)) return SetError(klErrNoMemory);
  }
  SetText(text, 1);
}
