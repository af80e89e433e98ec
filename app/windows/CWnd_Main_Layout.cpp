// Layout mode's window side: the buttons that follow the knife and knot
// selection, the knot handles shown or hidden, the three random-knots
// controls kept in step with each other and the layout, the split lines
// inserted and deleted at window points, and the document files the
// settings are saved to and loaded from.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "CKLF_PlatformFileDialog.h"
#include "CWnd_Main.h"

namespace {

const char kCannotWrite[] = "Cannot write file...";

// The decimal number a text starts with, brought into 0..100.
u32 Percent(const char* text) {
  const i64 n = std::strtol(text ? text : "", nullptr, 10);
  return n < 0 ? 0 : n > 99 ? 100 : static_cast<u32>(n);
}

}  // namespace

// ---------------------------------------------------------------------------
// Buttons that follow the selection

void CWnd_Main::OnKnifeSelectionChanged() {
  if (!m_puzzle.layoutMode || !m_created) return;
  u8 anyExtra = 0, anyHidden = 0, anyShown = 0;
  m_editor.model.GetConsideredKnifeStates(anyExtra, anyHidden, anyShown);
  GetNamedControl(kDelKnives)->Enable(anyExtra);
  GetNamedControl(kShow)->Enable(anyHidden);
  GetNamedControl(kHide)->Enable(anyShown);
}

void CWnd_Main::OnKnotSelectionChanged() {
  if (!m_puzzle.layoutMode || !m_created) return;
  GetNamedControl(kAddKnives)->Enable(m_editor.model.CanAddExtraKnife());
}

void CWnd_Main::cmop_Extras(u8 show, u8 redraw) {
  if (!m_puzzle.layoutMode || m_drag.knotDrag) return;
  m_editor.drawing.cmop_Extras(show, 0);
  OnChangeExtrasState();
  if (redraw) RedrawSplitting();
}

// ---------------------------------------------------------------------------
// The random-knots slider, edit line and button

void CWnd_Main::ShowKnotRandomAmount(u32 percent) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u", percent);
  static_cast<CKLF_CtrlSlider*>(GetNamedControl(kRndKnotsSlider))->SetValue(percent, 0);
  m_rndKnotsEdit->SetText(text, 0);
  // The amount the button deals is the one the controls show.
  m_puzzle.randomKnotsAmount = static_cast<f32>(percent) / 100.0f;
  GetNamedControl(kRndKnotsButton)->Enable(percent != 0);
}

void CWnd_Main::OnSldrRandomKnots(u32 value, u8 dragging) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u", value);
  m_rndKnotsEdit->SetText(text, 0);
  m_puzzle.randomKnotsAmount = static_cast<f32>(value) / 100.0f;
  if (!dragging) OnUpdateKnotRandomize(m_puzzle.randomKnotsAmount);
}

void CWnd_Main::OnEditRandomKnots(const CKLF_String* text) {
  const u32 n = Percent(text ? text->GetStr() : "");
  static_cast<CKLF_CtrlSlider*>(GetNamedControl(kRndKnotsSlider))->SetValue(n, 0);
  m_puzzle.randomKnotsAmount = static_cast<f32>(n) / 100.0f;
}

void CWnd_Main::OnEditRandomKnotsLF() {
  const u32 n = Percent(m_rndKnotsEdit->GetText().GetStr());
  char text[16];
  std::snprintf(text, sizeof(text), "%u", n);
  m_rndKnotsEdit->SetText(text, 1);
  m_puzzle.randomKnotsAmount = static_cast<f32>(n) / 100.0f;
  OnUpdateKnotRandomize(m_puzzle.randomKnotsAmount);
}

void CWnd_Main::OnCtrlLostFocus(u32 id) {
  CKLF_Window::OnCtrlLostFocus(id);
  if (m_ids[kRndKnotsEdit] >= 0 && static_cast<u32>(m_ids[kRndKnotsEdit]) == id) OnEditRandomKnotsLF();
}

void CWnd_Main::OnUpdateKnotRandomize(f32 amount) {
  if (!m_puzzle.layoutMode) return;
  if (m_created) GetNamedControl(kRndKnotsButton)->Enable(m_puzzle.randomKnotsAmount != 0.0f);
  CLayoutModel& m = m_editor.model;
  m_editor.undo.uncm_PreSave(CLayoutUndo::kKnots);
  m.knotRandomAmount = amount < 0 ? 0.0f : amount > 1 ? 1.0f : amount;
  m.spl_AutoFillKnots(0);
  RedrawSplitting();
  m_editor.undo.uncm_SaveState(CLayoutUndo::kKnots, CLayoutUndo::kSubNone);
}

// ---------------------------------------------------------------------------
// Split lines at window points

// A line is not put on another one: a click on the preview pixel a line
// crosses is refused as the line's own position is.
u8 CWnd_Main::TestAllowRCInsertion(u8 column, i16 x, i16 y) {
  const kltRECT_s v = m_previewRect;
  if (column ? !(x > v.left && x < v.right - 1) : !(y > v.top && y < v.bottom - 1)) return 0;
  const kltRECT_s r = m_splitRulerRect[column ? 0 : 1];
  const i32 offset = column ? x - r.left : y - r.top;
  const CLayoutDrawing& d = m_editor.drawing;
  const f64 p = d.RulerOffsetToPosition(column, offset);
  const CLayoutModel& m = m_editor.model;
  const f64 size = column ? d.AreaWidth() : d.AreaHeight(), origin = column ? m_viewOffset.x : m_viewOffset.y;
  const f32* P = column ? m.verticalLines : m.horizontalLines;
  for (u32 i = 0; i < (column ? m.verticalLineCount : m.horizontalLineCount); ++i)
    if (std::fabs(P[i] * size - origin - offset) < 1.0) return 0;
  return m_editor.grid.op_TestAllowRCInsertion(column, p);
}

// The undo point is made only for a line that goes in: a refused point
// (outside the image, on a line) leaves the layout and its undo alone.
u8 CWnd_Main::InsertLineAt(u8 column, i16 x, i16 y) {
  if (!TestAllowRCInsertion(column, x, y)) return 0;
  const kltRECT_s r = m_splitRulerRect[column ? 0 : 1];
  const f64 p = m_editor.drawing.RulerOffsetToPosition(column, column ? x - r.left : y - r.top);
  m_editor.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubLine);
  return m_editor.grid.op_InsertRC(column, p);
}

u8 CWnd_Main::DeleteLine(u8 column, u16 line) {
  const CLayoutModel& m = m_editor.model;
  if (line >= (column ? m.verticalLineCount : m.horizontalLineCount) || !m.cutter) return 0;
  m_editor.undo.uncm_SaveState(CLayoutUndo::kGlobal, CLayoutUndo::kSubLine);
  return m_editor.grid.op_DeleteRC(column, line);
}

// ---------------------------------------------------------------------------
// Document files through the platform's questions

namespace {

// The caller's writer, and whether it ran and what it answered: a writer
// that failed has told the user already.
struct WRITING {
  CMainWindowPort::WriterProc writer;
  void* data;
  u8 ran;
  u8 wrote;
};

u8 Write(CKLF_StdFile* file, void* data) {
  WRITING* w = static_cast<WRITING*>(data);
  w->ran = 1;
  w->wrote = w->writer(file, w->data);
  return w->wrote;
}

// 0 without memory for the question.
u8 Ask(CKLF_PlatformFileDialog& dialog, const CMainWindowPort::FILEQUESTION& q) {
  CKLF_StringArray extensions;
  if (extensions.Add(q.extension ? q.extension : "", 0) < 0 || !dialog.AddFilter(q.filterText, &extensions, q.fileType))
    return 0;
  dialog.SetWindowTitle(q.title);
  return 1;
}

}  // namespace

u8 CWnd_Main::AskSaveFile(const FILEQUESTION& q, WriterProc writer, void* data) {
  if (!writer) return 0;
  CKLF_PlatformFileDialog dialog;
  if (!Ask(dialog, q)) return Alert(kMemoryProblem, kErrorTitle), 0;
  dialog.SetDefaultSaveName(q.defaultName);
  WRITING w = {writer, data, 0, 0};
  if (dialog.DoFileSaveDialog(Write, &w, this, q.fileType, 0)) return 1;
  // The dialog tells of its memory running out, the writer of its own failure.
  if (dialog.GetError() && dialog.GetError() != klErrNoMemory && !(w.ran && !w.wrote)) Alert(kCannotWrite, kErrorTitle);
  return 0;
}

u8 CWnd_Main::AskOpenFile(const FILEQUESTION& q, CKLF_String& path) {
  CKLF_PlatformFileDialog dialog;
  if (!Ask(dialog, q)) return Alert(kMemoryProblem, kErrorTitle), 0;
  if (!dialog.DoFileOpenDialog(this, 0)) return 0;
  if ((path = dialog.GetResultPath().Path().c_str()).IsError()) return Alert(kMemoryProblem, kErrorTitle), 0;
  return 1;
}
