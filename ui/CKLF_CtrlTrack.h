// The common part of the scroll bar and the slider: a background and a
// knob (the thumb), each from four state pictures (prefix + ">Background_"
// and ">Thumb_" + "Normal", "Highlighted", "Pressed", "Disabled") in an
// RGBA layer of its own, in the states 1 normal, 2 highlighted (mouse
// over, checked every 50 ms), 4 pressed (dragging) and 8 disabled.
#pragma once

#include "CKLF_Control.h"
#include "CKLF_CtrlPicture.h"

class CKLF_CtrlTrack : public CKLF_Control {
 public:
  CKLF_CtrlTrack();
  ~CKLF_CtrlTrack() override;

  // On: the hover state at the mouse; off: the disabled state.
  void Enable(u8 on) override;
  void OnTimer(u16 kind) override;
  // Recomposes and updates the background and the knob's rectangle.
  void Redraw() override;

  // Both layers at opacity 255, or the disabled opacity where the disabled
  // state falls back to normal; a layer is redrawn when its state changed
  // (the knob also when marked stale), hidden without a picture; the
  // changed rectangles are recomposed unless noRender.
  void SetState(u8 state, u8 noRender);

 protected:
  enum : u8 { klStateNormal = 1, klStateHighlighted = 2, klStatePressed = 4, klStateDisabled = 8 };

  // Reads the eight pictures of folder; their unions become the background
  // and knob rectangles. 0 when memory ran out.
  [[nodiscard]] u8 i_LoadLooks(const CKLF_String& folder);
  // The background layer over its rectangle and the knob layer over knob,
  // each when it has pictures; then created.
  [[nodiscard]] u8 i_CreateLayers(kltRECT_s knob);
  // Draws the knob's picture into its layer (the slider copies it, the
  // scroll bar assembles its thumb).
  virtual void i_DrawKnob(const CKLF_CtrlPicture* picture);
  // Not dragging: highlighted with the hover check over the control, else
  // normal; disabled whatever the mouse.
  void i_Hover(i16 x, i16 y);
  // The window's rectangle of the knob layer.
  virtual kltRECT_s i_KnobRect() { return m_knobLayer.GetRect(); }

  CKLF_StatePictures m_back;
  CKLF_StatePictures m_knob;
  CKLF_Layer m_backLayer;
  CKLF_Layer m_knobLayer;
  kltRECT_s m_backRect;
  kltRECT_s m_knobRect;
  u8 m_hasBack;
  u8 m_hasKnob;
  u8 m_backState;
  u8 m_knobState;
  u8 m_knobStale;
  u8 m_dragging;
};
