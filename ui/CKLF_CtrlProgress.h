// A progress bar (type 4) from "UIResources>Progresses>" + name: the full
// bar (">Normal") shows where the ramp (">Data", its first plane) is not
// above the level 255 x (value - minimum) / (maximum - minimum), clamped
// to 0..255. SetValue sends 0x100 with a pointer to the u32 percent,
// clamped to 0..100; an empty range (maximum = minimum) counts as 0.
#pragma once

#include "CKLF_Control.h"
#include "CKLF_CtrlPicture.h"

class CKLF_CtrlProgress : public CKLF_Control {
 public:
  CKLF_CtrlProgress();
  ~CKLF_CtrlProgress() override;

  // Error 192 without either picture.
  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  kltRECT_s GetRenderRect() override { return m_renderRect; }
  void Redraw() override;

  void SetMinMax(double minimum, double maximum) {
    m_min = minimum;
    m_max = maximum;
  }
  void GetMinMax(double& minimum, double& maximum) const {
    minimum = m_min;
    maximum = m_max;
  }
  void SetValue(double value);
  double GetValue() const { return m_value; }
  void Draw();
  // The layer's visibility, without redrawing.
  void Visible(u8 on) { m_layer.SetVisible(on); }
  u8 IsVisible() const { return m_layer.GetVisible(); }

 private:
  // (value - minimum) / (maximum - minimum) x scale, truncated and clamped
  // to 0..scale; 0 for an empty range or no number.
  u32 i_Fraction(double scale) const;

  CKLF_CtrlPicture m_normal;
  CKLF_CtrlPicture m_ramp;
  CKLF_Layer m_layer;
  kltRECT_s m_renderRect;
  double m_min;
  double m_max;
  double m_value;
};
