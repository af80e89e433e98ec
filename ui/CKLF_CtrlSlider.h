// A slider (type 1) from "UIResources>Sliders>" + name: a knob that stops
// on the points of a path laid down in the resources (a track, an arc or a
// closed dial), each point carrying a u32 value, so the value is always
// one of the points'. ">Data_Coors" holds N records of a big-endian u16 x,
// u16 y (window coordinates) and a flag byte: flagged points read their
// value from ">Data_Value_k" (k counting the flagged points), point 0 has
// ">Data_ValueStart" and point N-1 ">Data_ValueEnd", and the points between
// two valued ones are interpolated. A path whose ends meet is circular: the
// wheel wraps around it. The knob's ">HotSpot_X", ">HotSpot_Y" is placed on
// the point; ">Data_HotZone" (first plane above 128) takes the mouse.
// Messages: 0x100 when a value is set, 0x105 while dragging, with a pointer
// to the u32 value.
#pragma once

#include "CKLF_CtrlTrack.h"

class CKLF_CtrlSlider : public CKLF_CtrlTrack {
 public:
  CKLF_CtrlSlider();
  ~CKLF_CtrlSlider() override;

  // Error 192 for a missing or malformed record (no points, coordinates of
  // another size); ends with 0x100 carrying the first point's value.
  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  // Steps of delta x wheel speed points (ten times with Shift); none when
  // that is the point count or more.
  u8 OnMouseWheel(i16 x, i16 y, u8 mods, i16 delta) override;
  u8 PtAboveControl(i16 x, i16 y) override;

  // The first point with that value, else the nearest one (the first on a
  // tie).
  void SetValue(u32 value, u8 notify);
  u32 GetValue() const { return m_value; }
  // value maps linearly from minimum..maximum onto the first..last point's
  // values, rounded; an empty range gives the first point's value.
  void SetValueD(double value, double minimum, double maximum, u8 notify);
  // The value mapped back onto minimum..maximum, rounded to a whole number.
  double GetValueD(double minimum, double maximum) const;
  u8 SetCircularity(u8 on);
  u8 GetCircularity() const { return m_circular; }
  // 0 for a point past the count.
  u8 SetPtPos(u16 point, u8 notify);
  // The point nearest to (x, y), the first on a tie.
  void SetPosByXY(i16 x, i16 y);
  u16 GetPoint() const { return m_point; }
  u16 GetPointCount() const { return m_count; }

 private:
  struct KLF_SLIDERPOINT {
    u16 x;
    u16 y;
    u32 value;
  };
  KLF_SLIDERPOINT* i_Points() const { return reinterpret_cast<KLF_SLIDERPOINT*>(m_points.GetPtr()); }
  [[nodiscard]] u8 i_ReadPoints(const CKLF_String& folder);
  [[nodiscard]] u8 i_ReadValues(const CKLF_String& folder, const u8* coors);

  CKLF_Mem m_points;
  u16 m_count;
  u8 m_circular;
  CKLF_CtrlPicture m_hotZone;
  i32 m_hotX;
  i32 m_hotY;
  u16 m_point;
  u32 m_value;
  u32 m_start;
  u32 m_end;
};
