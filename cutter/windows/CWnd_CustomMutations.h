// The custom mutations dialog (UI resource window "CMuts"): the three
// amounts of the Cutter's custom clone mode in per cent, each on a slider
// and an edit line; moving a slider with Shift held moves the other two
// along. A thin layer over CCustomMutationsSettings.
#pragma once

#include "CCustomMutationsSettings.h"
#include "CCutterDialog.h"

class CKLF_CtrlSlider;

class CWnd_CustomMutations : public CCutterDialog {
 public:
  enum CONTROL : u32 {
    kCloseX = kModalCloseX, kCancel = kModalCancel, kOk = kModalOk, kHelp = kModalHelp,
    kSliderS, kSliderU, kSliderH, kEditS, kEditU, kEditH, kControlCount
  };

  // Menu command 22 of the Cutter's clone menu: the dialog over the Cutter
  // window with the stored amounts. On OK the amounts are stored and
  // returned as fractions (the Cutter then switches to clone mode 6 with
  // them): 1; Cancel changes nothing: 0.
  static u8 Open(CKLF_Window* cutterWindow, CCutterMainPort* main, f32& mutS, f32& mutU, f32& mutH);

  CWnd_CustomMutations(CCutterMainPort* main, const CCustomMutationsSettings& values);

  u8 OnCreate(CKLF_LayerSet* layers, u16 width, u16 height) override;
  u8 OnKeyDown(u8 key, u8 mods) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  void OnCtrlLostFocus(u32 id) override;

  const CCustomMutationsSettings& GetValues() const { return m_values; }

 private:
  CKLF_CtrlSlider* i_Slider(u32 k) const;
  CKLF_CtrlEditLine* i_Edit(u32 k) const;
  void i_OnSlider(u32 k, u32 value);
  void i_OnTyped(u32 k, const char* text);

  CCustomMutationsSettings m_values;
};
