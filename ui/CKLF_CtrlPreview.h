// The image view (type 11): an RGBA image shown inside a rectangle of its
// window (drawn into the window's first layer) at one of nine zoom levels,
// index z a scale of 2^(z-4) (0 = 1:16, 4 = 1:1, 8 = 16:1), over a checker
// of 8 x 8 displayed pixels that shows transparency; an image smaller than
// the view is centred, a larger one may be pulled 50 pixels past each edge.
// It pans by dragging with the space bar held, zooms at the mouse with the
// wheel and with space + Command (in) or space + Option (out) clicks, and
// keeps its companions in step: two scroll bars, two rulers and a
// navigator (a static image whose picture becomes the view frame's
// overlay), all optional and not owned. It can overlay an 8-bit mask as a
// hatch in the mark colour and wash the image out.
//
// Messages to the window (type 11): 0x140 zoom changed (data: the u8
// index), 0x141 mouse over the view (kltPOS image point, -1 before and
// 65535 past the image), 0x142 full and 0x143 fast redraw done (the offset
// as kltPOS).
//
// Not in the UI resources: the owner adds it with AddControl_External and
// binds it with SetData; the image, mask and companions must outlive it,
// and it must outlive its window (the window still reads it when it goes).
//
// Cost: a redraw writes every view pixel once, row by row; magnified rows
// that repeat are copied. Fast redraws (panning, scroll-bar and navigator
// drags) sample the nearest pixel and go straight to the screen; below
// 1:1 a full redraw is refined 200 ms after the last change by averaging
// each 2^(4-z) square block, summed row by row. Buffers are kept.
#pragma once

#include "CKLF_CtrlRuler.h"
#include "CKLF_CtrlScrollBar.h"

class CKLF_CtrlPreview : public CKLF_Control {
 public:
  CKLF_CtrlPreview();
  ~CKLF_CtrlPreview() override;

  kltRECT_s GetRenderRect() override { return m_view; }
  void OnTimer(u16 kind) override;
  u8 OnMouseMove(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseDown(i16 x, i16 y, u8 mods) override;
  u8 OnLMouseUp(i16 x, i16 y, u8 mods) override;
  u8 OnMouseWheel(i16 x, i16 y, u8 mods, i16 delta) override;
  // The view rectangle, enabled or not.
  u8 PtInControl(i16 x, i16 y) override { return PtAboveControl(x, y); }
  u8 PtAboveControl(i16 x, i16 y) override;
  // From the scroll bars and the navigator.
  u32 OnCtrlMessage(u16 msg, u32 id, const char* name, u8 type, void* data) override;

  // Binds the view (window coordinates, inside the window's first layer),
  // the image (RGBA) and the companions (each may be null). Error 1 for
  // another image mode, no window or a view outside the first layer, 17
  // when the buffers cannot be had; the preview then stays unbound.
  [[nodiscard]] u8 SetData(kltRECT_s rect, CKLF_Image* image, CKLF_CtrlScrollBar* vertical,
                           CKLF_CtrlScrollBar* horizontal, CKLF_CtrlRuler* horizontalRuler,
                           CKLF_CtrlRuler* verticalRuler, CKLF_CtrlStaticImage* navigator);
  // One byte per image pixel, rows of stride bytes; null removes it. Takes
  // effect at the next redraw.
  void SetMaskChannel(const u8* mask, u32 stride);

  u8 GetZoom() const { return m_zoom; }
  kltPOS GetOffset() const { return {m_offX, m_offY}; }
  u8 IsInPanningMode() const { return m_panning; }
  // Zooms with the image point under (x, y) of the view (-1: its centre)
  // kept there; nothing when the zoom is the same unless forced. Error 1
  // past index 8.
  u8 SetZoom(u8 zoom, i16 x, i16 y, u8 full, u8 force);
  void ZoomIn(i16 x, i16 y);
  void ZoomOut(i16 x, i16 y);
  // Clamped to the offset range.
  void SetOffset(i32 x, i32 y, u8 updateScrollbars);
  void SetOffset(kltPOS p, u8 updateScrollbars) { SetOffset(p.x, p.y, updateScrollbars); }
  // The image pixel under a view point: -1 before the image, 65535 at or
  // past its end; the second form unclamped.
  kltPOS GetImageCoorsByPreviewCoors(kltPOS p) const;
  kltPOS GetImageCoorsByPreviewCoorsNoOverflowCheck(kltPOS p) const;

  // Composes the view into the layer: full redraws recompose the window
  // (and, below 1:1, refine 200 ms later), fast ones (without the wash-out)
  // go straight to the screen.
  void DoRedraw(u8 full, u8 refine);
  void UpdateScrollbars(u8 redraw);
  void UpdateRulers();
  void UpdateNavigator();
  // A point of the navigator's picture centres the frame there.
  void NavigateByNavigator(kltPOS p);
  // Margins and the offset range for the zoom; the offset clamped.
  void RecalcCoors();

  // Written by the owning window.
  void SetResolution(f64 horizontal, f64 vertical) {
    m_resH = horizontal;
    m_resV = vertical;
  }
  void SetRulerUnit(u8 unit) { m_rulerUnit = unit; }
  void SetWashedOut(u8 on) { m_washedOut = on; }
  u8 IsWashedOut() const { return m_washedOut; }
  void SetImageCheckerColors(kltRGBA8 a, kltRGBA8 b) {
    m_imageA = a;
    m_imageB = b;
  }
  void SetMarginCheckerColors(kltRGBA8 a, kltRGBA8 b) {
    m_outsideA = a;
    m_outsideB = b;
  }

  // Margins (left, top, right, bottom) and the offset's range.
  kltRECT_s GetMargins() const { return {m_marginL, m_marginT, m_marginR, m_marginB}; }
  kltRECT_s GetOffsetRange() const { return {m_minX, m_minY, m_maxX, m_maxY}; }

 private:
  enum : u16 { klTimerMouseCheck = 1, klTimerRefine = 2 };

  u8 i_Bound() const { return m_image && m_layer; }
  i32 i_ViewW() const { return m_view.right - m_view.left; }
  i32 i_ViewH() const { return m_view.bottom - m_view.top; }
  // Displayed size of n image pixels at the zoom.
  i32 i_Displayed(i32 n) const;
  u8 i_InView(i32 x, i32 y) const;
  CKLF_CtrlRuler::KLF_RulerData i_RulerRecord(CKLF_CtrlRuler* ruler, u8 vertical) const;
  void i_SyncBar(CKLF_CtrlScrollBar* bar, i32 visible, i32 range, i32 position);
  void i_ShowFast();
  // One zoom step per unit of delta at a view point, stopping at the ends.
  void i_ZoomSteps(i32 delta, i16 x, i16 y);

  // Composition (CKLF_CtrlPreview_Compose.cpp).
  [[nodiscard]] u8 i_Buffers();
  void i_Compose(u8 washed);
  void i_BuildCheckers();
  void i_BuildColumns(i32 xa, i32 n);
  void i_SampleRow(i32 iy, i32 n);
  void i_RefineRow(i32 iy, i32 n);
  void i_BlendRow(u8* const* dst, i32 dy, i32 xa, i32 n, u8 parity, u8 washed);

  f64 m_resV;
  f64 m_resH;
  u8 m_rulerUnit;
  u8 m_washedOut;
  kltRGBA8 m_imageA;
  kltRGBA8 m_imageB;
  kltRGBA8 m_outsideA;
  kltRGBA8 m_outsideB;
  kltRECT_s m_view;
  CKLF_Layer* m_layer;
  CKLF_Image* m_image;
  CKLF_CtrlScrollBar* m_vBar;
  CKLF_CtrlScrollBar* m_hBar;
  CKLF_CtrlRuler* m_hRuler;
  CKLF_CtrlRuler* m_vRuler;
  CKLF_CtrlStaticImage* m_navigator;
  kltRECT_s m_navRect;
  u8 m_navigating;
  kltRECT_s m_frameSize;
  kltRECT_s m_thumbRect;
  u8 m_zoom;
  i32 m_offX;
  i32 m_offY;
  i32 m_minX;
  i32 m_minY;
  i32 m_maxX;
  i32 m_maxY;
  i32 m_dw;
  i32 m_dh;
  u16 m_marginL;
  u16 m_marginR;
  u16 m_marginT;
  u16 m_marginB;
  u8 m_panning;
  i32 m_panStart[4];  // mouse x, y, offset x, y
  u8 m_redrawn;
  u8 m_scrollAccepted;
  u8 m_renderPending;
  i32 m_mouseX;
  i32 m_mouseY;
  u8 m_refine;
  const u8* m_mask;
  u32 m_maskStride;
  kltRGBA8 m_mark;

  // Kept work buffers: the checker rows (image and margin, two phases, R, G,
  // B planes each), the sampled row (R, G, B, A, mask), the image column of
  // each view column and the refining sums.
  CKLF_Mem m_checker;
  CKLF_Mem m_row;
  CKLF_Mem m_columns;
  CKLF_Mem m_sums;
};
