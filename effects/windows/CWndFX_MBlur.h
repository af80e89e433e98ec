// The motion blur window ("FXmblur"): the blur's direction (an angle of
// -90..90 degrees; a direction and its opposite blur alike) and distance
// (0..100) of the listed pieces, one value or spread, each with its own "A"
// box. Each value's direction is set on a dial of its own (0..359 degrees,
// folded into an angle) or typed, and shown on the dial as a line through
// its centre; typing an angle does not change the mode. The distance is a
// parameter set.
#pragma once

#include "CKLF_ImageDrawing.h"
#include "CWndFX_Base.h"

class CWndFX_MBlur : public CWndFX_Base {
 public:
  CWndFX_MBlur();
  ~CWndFX_MBlur() override;

  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  void OnCtrlLostFocus(u32 id) override;
  void UpdatePreview() override;
  void OnChangeMode(u8 mode) override;

  // A dial's value for value 1 (which 0) or value 2, as the user moves it.
  void OnSldrDir(u8 which, u32 value, u8 dragging);
  // A typed angle of value 1 or value 2, clamped to -90..90.
  void OnEditDir(u8 which, const CKLF_String& text);
  // The two dials' lines from the values' angles.
  void RedrawSlidersBG();
  CKLF_Layer& DirectionLayer(u8 which) { return m_dirLayer[which ? 1 : 0]; }

 protected:
  u8 OnCreateControls() override;
  void OnInitValues() override;
  u32 AddSpreadFields(CFXSpread::FIELDSTATE* out, u32 room) override;
  void OnEnableSpread(u8 on) override;

 private:
  void i_OnAngleBox(u8 checked);
  CTessarette::SFX_MBLUR& i_Value(u8 which);

  CFXParamSet m_radius;
  CKLF_CtrlCheckBox* m_angleBox;
  u32 m_angleBoxId;
  CKLF_CtrlSlider* m_dir[2];
  u32 m_dirId[2];
  CKLF_CtrlEditLine* m_dirEdit[2];
  u32 m_dirEditId[2];
  kltRECT_s m_dirRect[2];
  CKLF_Layer m_dirLayer[2];
  CKLF_ImageDrawing m_lines;
};
