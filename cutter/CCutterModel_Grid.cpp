// The Cutter's grid controls: rows and columns (linked, or following with
// Shift while a slider is dragged, the lines previewed meanwhile),
// thickness, knob size and razor cut, and what the main window hears of
// them.
#include "CCutterModel.h"
#include "KLF_EditLineValue.h"

namespace {

// Rows, columns and thickness as typed: above 99 is 100, 0 or below is 1.
u16 CountOfText(const char* text) { return static_cast<u16>(klEditLineValueIn(text, 1, 100)); }

// The knob size as typed: above 99 is 100, below 0 is 0.
u16 KnobOfText(const char* text) { return static_cast<u16>(klEditLineValueIn(text, 0, 100)); }

}  // namespace

void CCutterModel::i_SldrCount(u8 isRows, u32 value, u8 dragging, u8 keys) {
  u16& own = isRows ? rows : columns;
  u16& other = isRows ? columns : rows;
  own = BringInto1to100(value);
  if (!dragging) {
    m_main->OnCutterUpdateRowsCols(rows, columns);
  } else {
    if ((keys & kShift) || linkRC)
      other = BringInto1to100(isRows ? m_main->icGetIdealColumnsForRows(own) : m_main->icGetIdealRowsForColumns(own));
    m_main->OnCutterUpdateRowsCols_ShowLines(rows, columns);
  }
  i_Controls();
}

void CCutterModel::OnSldrRows(u32 value, u8 dragging, u8 keys) { i_SldrCount(1, value, dragging, keys); }
void CCutterModel::OnSldrColumns(u32 value, u8 dragging, u8 keys) { i_SldrCount(0, value, dragging, keys); }

// Typing only moves the slider; the main window hears on focus loss.
void CCutterModel::OnEditRows(const char* text) {
  rows = CountOfText(text);
  i_Controls();
}

void CCutterModel::OnEditColumns(const char* text) {
  columns = CountOfText(text);
  i_Controls();
}

// The link does not act on typed counts.
void CCutterModel::i_EditCountLF(u8 isRows, const char* text) {
  const u16 v = CountOfText(text);
  (isRows ? rows : columns) = v;
  i_Controls();
  if (isRows)
    m_main->OnCutterUpdateRowsCols(v, CCutterMainPort::kKeepCount);
  else
    m_main->OnCutterUpdateRowsCols(CCutterMainPort::kKeepCount, v);
}

void CCutterModel::OnEditRowsLF(const char* text) { i_EditCountLF(1, text); }
void CCutterModel::OnEditColumnsLF(const char* text) { i_EditCountLF(0, text); }

void CCutterModel::i_TellThickness() {
  if (!notifyGuard) m_main->OnCutterUpdateKnifeThickness(thickness, razorCut);
}

void CCutterModel::OnSldrKnifeTh(u32 value, u8 dragging) {
  thickness = BringInto1to100(value);
  thicknessMixed = 0;
  i_Controls();
  if (!dragging) i_TellThickness();
}

void CCutterModel::OnEditKnifeTh(const char* text) {
  thickness = CountOfText(text);
  thicknessMixed = 0;
  i_Controls();
}

// A " ???" left untouched keeps every knife's own thickness.
void CCutterModel::OnEditKnifeThLF(const char* text) {
  if (thicknessMixed) return;
  thickness = CountOfText(text);
  i_Controls();
  i_TellThickness();
}

void CCutterModel::OnSldrKnobSize(u32 value, u8 dragging) {
  knobSize = CapAt100(value);
  knobSizeMixed = 0;
  i_Controls();
  if (!dragging && !notifyGuard) m_main->OnCutterUpdateKnifeSize(knobSize);
}

void CCutterModel::OnEditKnobSize(const char* text) {
  knobSize = KnobOfText(text);
  knobSizeMixed = 0;
  i_Controls();
}

void CCutterModel::OnEditKnobSizeLF(const char* text) {
  if (knobSizeMixed) return;
  knobSize = KnobOfText(text);
  i_Controls();
  if (!notifyGuard) m_main->OnCutterUpdateKnifeSize(knobSize);
}

// The thickness controls act only without razor cut.
void CCutterModel::OnRazorCut(u8 on) {
  razorCut = on ? 1 : 0;
  i_Controls();
  i_TellThickness();
}
