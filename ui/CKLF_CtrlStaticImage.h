// A picture control (type 2) from "UIResources>Static Images>" + name: a
// normal and a disabled picture (both optional), drawn in one RGBA layer
// over their union. A disabled control without its own picture shows the
// normal one at the disabled opacity. With message forwarding on, its
// mouse events go to its focus master as 0x150 move, 0x151 down, 0x152 up
// (data: x, y as two i32) and 0x153 wheel (x, y, delta as three i32); the
// navigator and the rulers are built on it.
#pragma once

#include "CKLF_Control.h"
#include "CKLF_CtrlPicture.h"

class CKLF_CtrlStaticImage : public CKLF_Control {
 public:
  CKLF_CtrlStaticImage();
  ~CKLF_CtrlStaticImage() override;

  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  void Enable(u8 on) override;
  void Redraw() override;
  kltRECT_s GetRenderRect() override { return m_created ? m_layer.GetRect() : klNullRect; }
  // Shown wherever the picture is, enabled or not.
  u8 PtInControl(i16 x, i16 y) override { return PtAboveControl(x, y); }
  u8 PtAboveControl(i16 x, i16 y) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  u8 OnMouseWheel(i16 x, i16 y, u8 mods, i16 delta) override;

  // 1 normal or 8 disabled (0 with error 1 for others). The same state
  // again only sets the opacity unless forced.
  u8 SetState(u8 state, u8 force);
  u8 GetState() const { return m_state; }
  void DoRedraw() { SetState(m_state, 1); }
  void SetOpacity(u8 opacity);
  CKLF_Layer* GetControlLayer() { return &m_layer; }
  // The picture of state 1, or of state 8 (the normal one when there is no
  // disabled picture), with its rectangle; null before creation. Its owner
  // may draw into it: the layer shows it from the next DoRedraw on.
  u8* GetStateMemPtr(u8 state, kltRECT_s* rect);

 protected:
  u32 i_Forward(u16 msg, i32 x, i32 y, const i32* delta);

  CKLF_StatePictures m_pictures;  // normal and disabled
  CKLF_Layer m_layer;
  kltRECT_s m_renderRect;
  u8 m_state;
};
