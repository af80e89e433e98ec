// A scroll bar (type 9) from "UIResources>Scroll Bars>" + name: its value
// is the first visible item of total items of which visible are shown
// (0..total - visible). The thumb is assembled from a three-part picture
// (">Thumb_Data" marks along its first row, or column when vertical, the
// head in the first plane, the tail in the second and the tiled middle in
// the third) to a length proportional to visible / total. It moves by
// dragging the thumb (0x105 while the position changes, 0x100 at the end),
// by pages on a press beside the thumb (repeated after 500 ms every 50 ms
// until the thumb is under the mouse), by single steps from two optional
// arrow buttons and by the wheel; every placement sends 0x100. Message
// data: a pointer to the u32 position.
#pragma once

#include "CKLF_CtrlButton.h"
#include "CKLF_CtrlTrack.h"

class CKLF_CtrlScrollBar : public CKLF_CtrlTrack {
 public:
  CKLF_CtrlScrollBar();
  ~CKLF_CtrlScrollBar() override;

  // Error 192 without ">Thumb_Data" or a ">Rect ..." record, or when the
  // thumb's parts are longer than a thumb picture.
  [[nodiscard]] u8 Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) override;
  void Enable(u8 on) override;
  void OnTimer(u16 kind) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  u8 OnMouseWheel(i16 x, i16 y, u8 mods, i16 delta) override;
  u8 PtAboveControl(i16 x, i16 y) override;
  // Clicks of the arrow buttons step the position.
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  // total becomes at least visible; the position is kept in range.
  void SetInfo(u32 total, u32 visible);
  void GetInfo(u32& total, u32& visible) const {
    total = m_total;
    visible = m_visible;
  }
  void SetPosition(u32 position);
  u32 GetPosition() const { return m_position; }
  // Each returns the position before it: one item, or a page of
  // max(1, visible - 1) items.
  u32 StepLess();
  u32 StepMore();
  u32 PageLess();
  u32 PageMore();
  // The arrow buttons by control id: they report to the bar and repeat
  // while held. 0 when either is not a button of the window.
  u8 SetButtons(u32 lessId, u32 moreId);
  u8 IsVertical() const { return m_vertical; }
  kltRECT_s GetThumbRect() const { return m_thumbRect; }

 private:
  [[nodiscard]] u8 i_ReadThumbParts();
  void i_SizeThumb();
  void i_DrawKnob(const CKLF_CtrlPicture* picture) override;
  kltRECT_s i_KnobRect() override { return m_band; }
  void i_Place(u8 notify);
  void i_MoveThumb(i32 start);
  void i_PageToward(i16 x, i16 y);
  u32 i_Range() const { return m_total - m_visible; }
  u32 i_Track() const;
  i32 i_Along(i32 x, i32 y) const { return m_vertical ? y : x; }
  i32 i_Start() const { return m_vertical ? m_rect.top : m_rect.left; }
  double i_Ratio() const;

  CKLF_CtrlPicture m_thumbData;
  kltRECT_s m_rect;
  kltRECT_s m_band;  // the thumb pictures' union stretched along the bar
  u8 m_vertical;
  i32 m_grabX;
  i32 m_grabY;
  u16 m_head;
  u16 m_tile;
  u16 m_tail;
  u16 m_thumbLength;
  kltRECT_s m_thumbRect;
  u32 m_total;
  u32 m_visible;
  u32 m_position;
  u32 m_drawnTotal;
  u32 m_drawnVisible;
  u32 m_lessId;
  u32 m_moreId;
  CKLF_CtrlButton* m_less;
  CKLF_CtrlButton* m_more;
};
