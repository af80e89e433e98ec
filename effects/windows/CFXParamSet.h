// One numeric parameter of an effect window, edited through the set every
// effect window shares: a value-1 and a value-2 slider (slider value = the
// shown value minus the range's low end, so sliders start at 0), an edit
// line showing the value of the mode being edited, an optional "A" box that
// takes the parameter into the spread, and a range bar (a red RGBA layer
// whose columns between the two sliders' values show at alpha 80).
//
// A set without a value-2 slider edits value 1 alone: its slider does not
// change the mode, it has no range bar and it is not spread.
//
// The set reads and writes its field in the window's value 1 and value 2,
// and calls the window back for the mode, the sample preview and the
// main-window update (Changes). Cost: a slider move redraws the range bar
// and the sample preview only.
#pragma once

#include "CFXSchedule.h"
#include "CFXSpread.h"
#include "CKLF_CtrlCheckBox.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_CtrlSlider.h"

class CWndFX_Base;

class CFXParamSet {
 public:
  // The range bar's columns [from, to) of two slider values on a bar
  // width pixels wide; 0 when nothing is marked.
  typedef u8 (*ColumnsProc)(u32 a, u32 b, u32 width, u32& from, u32& to);

  struct DESC {
    const char* slider1;     // value 1's slider
    const char* slider2;     // value 2's slider; null: value 1 alone
    const char* edit;        // the edit line
    const char* box;         // the "A" box; null: spread whenever the spread is on
    const char* range;       // the range bar's rectangle (null without value 2)
    CFXSpread::FIELD field;  // in the effect record, with the stored range
    i32 low;                 // the shown range
    i32 high;
    u8 percent;           // shown in percent, stored 0..255
    u16 releaseChanges;   // the Changes delay when a slider is released
    ColumnsProc columns;  // null: linear over the shown range
  };

  // A description: the controls' names, the field, the shown range, and
  // by default no percent, 50 ms to the main-window update on release and
  // a linear range bar.
  static constexpr DESC Make(const char* slider1, const char* slider2, const char* edit, const char* box,
                             const char* range, CFXSpread::FIELD field, i32 low, i32 high, u8 percent = 0,
                             u16 releaseChanges = CFXSchedule::kDeferred, ColumnsProc columns = nullptr) {
    return {slider1, slider2, edit, box, range, field, low, high, percent, releaseChanges, columns};
  }

  explicit CFXParamSet(const DESC& desc);
  ~CFXParamSet();
  CFXParamSet(const CFXParamSet&) = delete;
  CFXParamSet& operator=(const CFXParamSet&) = delete;

  const DESC& Desc() const { return m_desc; }
  // Whether the set has value 2 (and so a mode, a range bar and a spread).
  u8 IsPair() const { return m_desc.slider2 ? 1 : 0; }
  // The field as the spread and the preview see it now.
  CFXSpread::FIELDSTATE State() const;

  // Creation, in the steps a window runs them: the range bar's rectangle
  // and layer, the "A" box, the edit line, the two sliders. 0 with the
  // window's error when a resource is missing.
  u8 CreateRange(CWndFX_Base& w);
  u8 AddBox(CWndFX_Base& w);
  u8 AddEdit(CWndFX_Base& w);
  u8 AddSliders(CWndFX_Base& w);

  // The shown value of a record, and a shown value stored into one.
  i32 Shown(const u8* record) const;
  void Store(u8* record, i32 shown) const;
  // Value 2's slider is value 1's in a set without value 2.
  CKLF_CtrlSlider* Slider(u8 which) const { return m_slider[which && IsPair() ? 1 : 0]; }
  CKLF_CtrlEditLine* Edit() const { return m_edit; }
  CKLF_CtrlCheckBox* Box() const { return m_box; }
  CKLF_Layer& RangeLayer() { return m_rangeLayer; }

  // A control message of this set's controls; 1 when it was one.
  u8 OnMessage(u16 msg, u32 id, u8 type, void* data);
  // The edit line lost the focus: its number clamped and written back,
  // then the main window updated.
  u8 OnLostFocus(u32 id);
  // A slider value of the mode's slider (dragging: no main-window update).
  void OnSlider(u32 value, u8 dragging);
  void OnEdit(const CKLF_String& text);
  void OnBox(u8 checked);
  // The spread switched on or off (after the window's own part).
  void EnableSpread(u8 on);
  void RedrawRange();
  // The sliders from value 1 and value 2 (Init); value 1's with a message
  // when notify is set.
  void SetSliders(u8 notify);

 private:
  // The value a slider handler writes: value 1 without value 2, else the mode's.
  u8 i_Which() const;

  CWndFX_Base* m_window;
  DESC m_desc;
  CKLF_CtrlSlider* m_slider[2];
  u32 m_sliderId[2];
  CKLF_CtrlEditLine* m_edit;
  u32 m_editId;
  CKLF_CtrlCheckBox* m_box;
  u32 m_boxId;
  kltRECT_s m_rangeRect;
  CKLF_Layer m_rangeLayer;
};
