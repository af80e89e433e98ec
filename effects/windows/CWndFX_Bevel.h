// The bevel window ("FXbevel"): size (0..200), depth (0..999, its range
// bar in two halves) and soften (0..20) of the listed pieces, one value or
// spread, each with its own "A" box; and one light, highlight and shadow
// (their opacities in percent and their colours) for all of them, which
// belong to value 1 alone and show in the preview in both modes.
//
// The light is set by dragging a thumb on a disc (the centre is the light
// straight above, the rim the horizon) or by typing an angle (0..359) and
// an altitude (1..90); the main window follows when the drag ends. A light
// read from a piece that is zero or not finite starts as (0, 0, 1).
#pragma once

#include "CFXLight.h"
#include "CWndFX_Base.h"

class CWndFX_Bevel : public CWndFX_Base {
 public:
  CWndFX_Bevel();
  ~CWndFX_Bevel() override;

  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;
  void OnCtrlLostFocus(u32 id) override;
  void Init() override;
  void UpdatePreview() override;

  // The thumb at the light's point on the disc.
  void RedrawByVector(klt3D_VECTOR light);
  // Value 1's light from a window point, and the thumb there.
  void RedrawByXY(i16 x, i16 y);
  // The angle and altitude edit lines from value 1's light.
  void UpdateAnAl();
  // The highlight and shadow swatches from value 1's colours.
  void RedrawColors();
  const CFXLight::DISC& Disc() const { return m_disc; }
  CKLF_Layer& ThumbLayer() { return m_thumbLayer; }
  CKLF_Layer& SwatchLayer(u8 shadow) { return m_swatchLayer[shadow ? 1 : 0]; }
  kltRECT_s SwatchRect(u8 shadow) const { return m_swatchRect[shadow ? 1 : 0]; }
  // The window point the thumb's image is centred on.
  static constexpr i32 kThumbOffset = 10;

 protected:
  u8 OnCreateControls() override;
  void OnInitValues() override;

 private:
  CTessarette::SFX_BEVEL& i_Value1();
  void i_OnEditLight(u8 altitude, const CKLF_String& text);
  void i_StatusZone(i16 x, i16 y);
  // The highlight (0) or shadow (1) swatch pressed.
  void i_PickColour(u8 shadow);

  CFXParamSet m_size;
  CFXParamSet m_depth;
  CFXParamSet m_soften;
  CFXParamSet m_highlight;
  CFXParamSet m_shadow;
  kltRECT_s m_swatchRect[2];
  CKLF_Layer m_swatchLayer[2];
  kltRECT_s m_zone;
  CFXLight::DISC m_disc;
  CKLF_CtrlStaticImage* m_thumb;
  CKLF_Layer m_thumbLayer;
  // The angle (0) and altitude (1) edit lines.
  CKLF_CtrlEditLine* m_lightEdit[2];
  u32 m_lightEditId[2];
  u8 m_dragging;
  // The status zone the mouse was last seen in (255 none).
  u8 m_lastZone;
};
