#include "CKLF_CtrlPreview.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "CKLF_Window.h"

namespace {

const u32 kTimerMs = 200;
const i32 kPastEdge = 50;  // how far a larger image may be pulled past the view's edge
const i32 kOutside = 65535;

// A shift of a possibly negative coordinate by 2^shift (shift may be
// negative): multiplication left, flooring right.
i32 Scale(i32 v, i32 shift) { return shift >= 0 ? v * (1 << shift) : v >> -shift; }

u16 ClampU16(i32 v) { return static_cast<u16>(std::clamp(v, 0, 65535)); }

// The navigator frame along one axis: its start and length in navigator
// pixels (k navigator pixels per displayed pixel, thumb the thumbnail's
// length, origin its start).
void FrameSpan(i32 offset, i32 view, i32 displayed, f64 k, i32 thumb, i32 origin, i32& at, i32& length) {
  const i32 x0 = std::max(0, offset), x1 = std::min(offset + view, displayed);
  length = thumb;
  if (x1 - x0 != displayed) length = std::max(1, std::min(thumb, static_cast<i32>(k * (x1 - x0)) + 1));
  at = origin + static_cast<i32>(k * x0) + 3;
}

}  // namespace

CKLF_CtrlPreview::CKLF_CtrlPreview()
    : m_resV(0.0),
      m_resH(0.0),
      m_rulerUnit(CKLF_CtrlRuler::klUnitPixels),
      m_washedOut(0),
      m_imageA{255, 255, 255, 255},
      m_imageB{192, 192, 192, 255},
      m_outsideA{204, 204, 204, 255},
      m_outsideB{200, 200, 200, 255},
      m_view{0, 0, 0, 0},
      m_layer(nullptr),
      m_image(nullptr),
      m_vBar(nullptr),
      m_hBar(nullptr),
      m_hRuler(nullptr),
      m_vRuler(nullptr),
      m_navigator(nullptr),
      m_navRect{0, 0, 0, 0},
      m_navigating(0),
      m_frameSize{0, 0, 0, 0},
      m_thumbRect{0, 0, 0, 0},
      m_zoom(4),
      m_offX(0),
      m_offY(0),
      m_minX(0),
      m_minY(0),
      m_maxX(0),
      m_maxY(0),
      m_dw(0),
      m_dh(0),
      m_marginL(0),
      m_marginR(0),
      m_marginT(0),
      m_marginB(0),
      m_panning(0),
      m_panStart{0, 0, 0, 0},
      m_redrawn(1),
      m_scrollAccepted(1),
      m_renderPending(0),
      m_mouseX(kOutside),
      m_mouseY(kOutside),
      m_refine(0),
      m_mask(nullptr),
      m_maskStride(0),
      m_mark{255, 0, 0, 255} {
  m_type = klCtrlPreview;
}

CKLF_CtrlPreview::~CKLF_CtrlPreview() {}

// Binding

u8 CKLF_CtrlPreview::SetData(kltRECT_s rect, CKLF_Image* image, CKLF_CtrlScrollBar* vertical,
                             CKLF_CtrlScrollBar* horizontal, CKLF_CtrlRuler* horizontalRuler,
                             CKLF_CtrlRuler* verticalRuler, CKLF_CtrlStaticImage* navigator) {
  ResetError();
  m_image = nullptr;
  m_layer = nullptr;
  if (!image || image->GetImageMode() != 2 || !image->GetMemObj() || !m_window) return Fail(klErrBadArg);
  CKLF_Layer* layer = m_window->GetLayer(0u);
  if (!layer || !layer->GetMemObj()) return Fail(klErrBadArg);
  const kltRECT_s l = layer->GetRect();
  if (rect.left >= rect.right || rect.top >= rect.bottom || rect.left < l.left || rect.top < l.top ||
      rect.right > l.right || rect.bottom > l.bottom)
    return Fail(klErrBadArg);
  m_view = rect;
  if (!i_Buffers()) return 0;
  m_image = image;
  m_layer = layer;
  m_vBar = vertical;
  m_hBar = horizontal;
  m_hRuler = horizontalRuler;
  m_vRuler = verticalRuler;
  m_navigator = navigator && navigator->GetStateMemPtr(1, &m_navRect) ? navigator : nullptr;
  for (CKLF_Control* c : {static_cast<CKLF_Control*>(m_vBar), static_cast<CKLF_Control*>(m_hBar),
                          static_cast<CKLF_Control*>(m_navigator)})
    if (c) {
      c->SetFocusMaster(this);
      c->EnableMessageForwardingToFocusMaster(1);
    }
  RecalcCoors();
  UpdateScrollbars(0);
  return SetTimer(kTimerMs, klTimerMouseCheck);
}

void CKLF_CtrlPreview::SetMaskChannel(const u8* mask, u32 stride) {
  m_mask = mask;
  m_maskStride = mask ? stride : 0;
}

// Coordinates

i32 CKLF_CtrlPreview::i_Displayed(i32 n) const { return Scale(n, m_zoom - 4); }

void CKLF_CtrlPreview::RecalcCoors() {
  if (!m_image) return;
  const i32 vw = i_ViewW(), vh = i_ViewH();
  m_dw = i_Displayed(m_image->GetImageWidth());
  m_dh = i_Displayed(m_image->GetImageHeight());
  m_marginL = m_marginR = m_marginT = m_marginB = kPastEdge;
  if (m_dw <= vw) {
    m_marginL = static_cast<u16>((vw - m_dw) / 2);
    m_marginR = static_cast<u16>(vw - m_dw - m_marginL);
  }
  if (m_dh <= vh) {
    m_marginT = static_cast<u16>((vh - m_dh) / 2);
    m_marginB = static_cast<u16>(vh - m_dh - m_marginT);
  }
  m_minX = -m_marginL;
  m_maxX = m_dw - vw + m_marginR;
  m_minY = -m_marginT;
  m_maxY = m_dh - vh + m_marginB;
  SetOffset(m_offX, m_offY, 0);
}

void CKLF_CtrlPreview::SetOffset(i32 x, i32 y, u8 updateScrollbars) {
  m_offX = std::min(std::max(x, m_minX), m_maxX);
  m_offY = std::min(std::max(y, m_minY), m_maxY);
  if (updateScrollbars) UpdateScrollbars(0);
}

kltPOS CKLF_CtrlPreview::GetImageCoorsByPreviewCoorsNoOverflowCheck(kltPOS p) const {
  return {Scale(p.x + m_offX, 4 - m_zoom), Scale(p.y + m_offY, 4 - m_zoom)};
}

kltPOS CKLF_CtrlPreview::GetImageCoorsByPreviewCoors(kltPOS p) const {
  kltPOS q = GetImageCoorsByPreviewCoorsNoOverflowCheck(p);
  const i32 w = m_image ? m_image->GetImageWidth() : 0, h = m_image ? m_image->GetImageHeight() : 0;
  q.x = q.x < 0 ? -1 : q.x >= w ? kOutside : q.x;
  q.y = q.y < 0 ? -1 : q.y >= h ? kOutside : q.y;
  return q;
}

u8 CKLF_CtrlPreview::i_InView(i32 x, i32 y) const {
  return x >= m_view.left && x < m_view.right && y >= m_view.top && y < m_view.bottom ? 1 : 0;
}

u8 CKLF_CtrlPreview::PtAboveControl(i16 x, i16 y) { return i_InView(x, y); }

// Zoom

u8 CKLF_CtrlPreview::SetZoom(u8 zoom, i16 x, i16 y, u8 full, u8 force) {
  if (zoom > 8) return Fail(klErrBadArg);
  if (zoom == m_zoom && !force) return 1;
  if (!i_Bound()) {
    m_zoom = zoom;  // taken up at binding
    return 1;
  }
  const kltPOS anchor = x == -1 || y == -1 ? kltPOS{i_ViewW() / 2, i_ViewH() / 2} : kltPOS{x, y};
  const kltPOS at = GetImageCoorsByPreviewCoors(anchor);
  m_zoom = zoom;
  RecalcCoors();
  SetOffset(Scale(at.x, zoom - 4) - anchor.x, Scale(at.y, zoom - 4) - anchor.y, 1);
  u8 index = m_zoom;
  SendMessage(klMsgPreviewZoom, &index);
  DoRedraw(full, 0);
  return 1;
}

void CKLF_CtrlPreview::ZoomIn(i16 x, i16 y) {
  if (m_zoom < 8) SetZoom(static_cast<u8>(m_zoom + 1), x, y, 1, 0);
}

void CKLF_CtrlPreview::ZoomOut(i16 x, i16 y) {
  if (m_zoom > 0) SetZoom(static_cast<u8>(m_zoom - 1), x, y, 1, 0);
}

void CKLF_CtrlPreview::i_ZoomSteps(i32 delta, i16 x, i16 y) {
  for (i32 i = 0; i < std::abs(delta) && (delta > 0 ? m_zoom < 8 : m_zoom > 0); ++i) {
    if (delta > 0) ZoomIn(x, y);
    else ZoomOut(x, y);
  }
}

// Redraw

void CKLF_CtrlPreview::DoRedraw(u8 full, u8 refine) {
  m_refine = refine;
  m_redrawn = 1;
  if (!i_Bound()) return;
  i_Compose(full ? m_washedOut : 0);
  kltPOS offset = GetOffset();
  if (full) {
    // The refined picture comes on the timer, or at once when it cannot run.
    if (m_zoom < 4 && !refine) {
      KillTimer(klTimerRefine);
      if (!SetTimer(kTimerMs, klTimerRefine)) return DoRedraw(1, 1);
    }
    SendMessage(klMsgPreviewRedrawn, &offset);
    RenderAndUpdate(m_view);
    m_renderPending = 0;
  } else {
    SendMessage(klMsgPreviewRedrawn2, &offset);
    i_ShowFast();
    m_renderPending = 1;
  }
  UpdateRulers();
  UpdateNavigator();
}

// The layer's view straight to the screen; the window is recomposed later.
void CKLF_CtrlPreview::i_ShowFast() {
  const kltPOS at = m_layer->GetPos();
  if (at.x == 0 && at.y == 0) m_window->UpdateRect_Direct(m_layer, m_view);
  else RenderAndUpdate(m_view);
}

void CKLF_CtrlPreview::OnTimer(u16 kind) {
  if (kind == klTimerMouseCheck) {
    const kltPOS m = GetMousePos();
    if (i_InView(m.x, m.y)) return;
    m_mouseX = m_mouseY = kOutside;  // the rulers' markers go out of sight
    UpdateRulers();
  } else if (kind == klTimerRefine) {
    KillTimer(klTimerRefine);
    DoRedraw(1, 1);
  }
}

// Mouse

u8 CKLF_CtrlPreview::OnLMouseDown(i16 x, i16 y, u8 mods) {
  const u8 keys = static_cast<u8>(CKLF_Window::GetKeysStatus() | mods);
  if (!(keys & klModSpace)) return 0;
  const i16 px = static_cast<i16>(x - m_view.left), py = static_cast<i16>(y - m_view.top);
  if (keys & klModOption) {
    ZoomOut(px, py);
  } else if (keys & klModCommand) {
    ZoomIn(px, py);
  } else {
    m_panning = 1;
    m_panStart[0] = x;
    m_panStart[1] = y;
    m_panStart[2] = m_offX;
    m_panStart[3] = m_offY;
    DoRedraw(0, 0);
  }
  return 1;
}

u8 CKLF_CtrlPreview::OnMouseMove(i16 x, i16 y, u8) {
  m_mouseX = x;
  m_mouseY = y;
  if (m_panning) {
    SetOffset(m_panStart[2] + m_panStart[0] - x, m_panStart[3] + m_panStart[1] - y, 1);
    DoRedraw(0, 0);
  } else if (i_Bound()) {
    kltPOS at = GetImageCoorsByPreviewCoors({x - m_view.left, y - m_view.top});
    SendMessage(klMsgPreviewMouse, &at);
    UpdateRulers();
  }
  return 1;
}

u8 CKLF_CtrlPreview::OnLMouseUp(i16, i16, u8) {
  if (m_panning) {
    m_panning = 0;
    DoRedraw(1, 0);
  }
  if (m_renderPending) {
    m_renderPending = 0;
    RenderAndUpdate(m_view);
  }
  return 0;
}

u8 CKLF_CtrlPreview::OnMouseWheel(i16 x, i16 y, u8, i16 delta) {
  i_ZoomSteps(delta, static_cast<i16>(x - m_view.left), static_cast<i16>(y - m_view.top));
  return 1;
}

// Companions

u32 CKLF_CtrlPreview::OnCtrlMessage(u16 msg, u32 id, const char*, u8 type, void* data) {
  const bool bar = type == klCtrlScrollBar && ((m_hBar && id == m_hBar->GetControlID()) ||
                                              (m_vBar && id == m_vBar->GetControlID()));
  if (bar && (msg == klMsgValueSet || msg == klMsgValueDragging)) {
    if (!m_scrollAccepted) return 0;
    SetOffset(m_hBar ? static_cast<i32>(m_hBar->GetPosition()) - m_marginL : m_offX,
              m_vBar ? static_cast<i32>(m_vBar->GetPosition()) - m_marginT : m_offY, 0);
    if (m_redrawn) DoRedraw(msg == klMsgValueSet, 0);
    return 0;
  }
  if (!m_navigator || id != m_navigator->GetControlID() || type != m_navigator->GetType() || !data) return 0;
  // x, y and, for the wheel, the delta: three 32-bit values.
  const i32* v = static_cast<const i32*>(data);
  const kltPOS at = {v[0] - m_navRect.left, v[1] - m_navRect.top};
  switch (msg) {
    case klMsgImageDown:
      m_navigating = 1;
      NavigateByNavigator(at);
      break;
    case klMsgImageMove:
      if (m_navigating) NavigateByNavigator(at);
      break;
    case klMsgImageUp:
      m_navigating = 0;
      DoRedraw(1, 0);
      break;
    case klMsgImageWheel: i_ZoomSteps(v[2], -1, -1); break;
    default: break;
  }
  return 0;
}

void CKLF_CtrlPreview::i_SyncBar(CKLF_CtrlScrollBar* bar, i32 visible, i32 range, i32 position) {
  const u32 total = static_cast<u32>(visible + range);
  u32 t = 0, v = 0;
  bar->GetInfo(t, v);
  if (t != total || v != static_cast<u32>(visible)) {
    bar->SetInfo(total, static_cast<u32>(visible));
    bar->Enable(static_cast<u32>(visible) < total);
  }
  bar->SetPosition(static_cast<u32>(std::max(0, position)));
}

void CKLF_CtrlPreview::UpdateScrollbars(u8 redraw) {
  if (!i_Bound()) return;
  m_scrollAccepted = 0;
  m_redrawn = 0;
  if (m_hBar) i_SyncBar(m_hBar, i_ViewW(), m_maxX - m_minX, m_marginL + m_offX);
  if (m_vBar) i_SyncBar(m_vBar, i_ViewH(), m_maxY - m_minY, m_marginT + m_offY);
  m_scrollAccepted = 1;
  if (redraw) DoRedraw(0, 0);
}

CKLF_CtrlRuler::KLF_RulerData CKLF_CtrlPreview::i_RulerRecord(CKLF_CtrlRuler* ruler, u8 vertical) const {
  const kltRECT_s r = ruler->GetRenderRect(), v = m_view;
  const i32 off = vertical ? m_offY : m_offX, view = vertical ? i_ViewH() : i_ViewW();
  const i32 displayed = vertical ? m_dh : m_dw, shift = m_zoom - 4;
  const i32 rStart = vertical ? r.top : r.left, rEnd = vertical ? r.bottom : r.right;
  const i32 vStart = vertical ? v.top : v.left, vEnd = vertical ? v.bottom : v.right;
  const i32 mouse = (vertical ? m_mouseY : m_mouseX) - rStart;
  const kltPOS first = GetImageCoorsByPreviewCoorsNoOverflowCheck({0, 0});
  CKLF_CtrlRuler::KLF_RulerData d;
  d.unit = m_rulerUnit;
  d.lead = ClampU16(vStart - rStart + (off < 0 ? -off : 0));
  d.trail = ClampU16(rEnd - vEnd + std::max(0, view - (displayed - off)));
  d.nearInset = vertical ? 2 : 1;
  d.farInset = 0;
  d.zoomShift = static_cast<i8>(shift);
  d.firstPixel = static_cast<u32>(std::max(0, vertical ? first.y : first.x));
  d.phase = static_cast<u8>(shift > 0 && off >= 0 ? off % (1 << shift) : 0);
  d.marker = mouse < 0 ? 65535 : ClampU16(mouse);
  d.resolution = vertical ? m_resV : m_resH;
  if (m_rulerUnit == CKLF_CtrlRuler::klUnitPercent)
    d.resolution = vertical ? m_image->GetImageHeight() : m_image->GetImageWidth();
  return d;
}

void CKLF_CtrlPreview::UpdateRulers() {
  if (!i_Bound()) return;
  for (CKLF_CtrlRuler* ruler : {m_hRuler, m_vRuler}) {
    if (!ruler) continue;
    const CKLF_CtrlRuler::KLF_RulerData d = i_RulerRecord(ruler, ruler == m_vRuler);
    if (d != *ruler->GetData()) ruler->SetData(&d, 1);
  }
}

// The navigator's normal picture becomes the frame's overlay: lines
// through the frame's edges across the whole picture, the outside dimmed,
// the inside clear. Drawn into the picture, not the layer, the frame stays
// through every state the navigator shows it in. The thumbnail itself lies
// in a layer below, drawn by the owner.
void CKLF_CtrlPreview::UpdateNavigator() {
  if (!m_navigator || !i_Bound()) return;
  u8* picture = m_navigator->GetStateMemPtr(1, nullptr);  // over m_navRect
  if (!picture) return;
  const i32 nw = m_navRect.right - m_navRect.left, nh = m_navRect.bottom - m_navRect.top;
  const i32 aw = nw - 6, ah = nh - 6, w = m_image->GetImageWidth(), h = m_image->GetImageHeight();
  if (aw <= 0 || ah <= 0 || w == 0 || h == 0) return;
  const f64 sx = static_cast<f64>(aw) / w, sy = static_cast<f64>(ah) / h, s = sx <= sy ? sx : sy;
  const i32 tw = static_cast<i32>(std::min<f64>(aw, s * w)), th = static_cast<i32>(std::min<f64>(ah, s * h));
  const i32 ox = static_cast<i32>((aw - tw) * 0.5), oy = static_cast<i32>((ah - th) * 0.5);
  const f64 k = m_zoom < 4 ? s * (1 << (4 - m_zoom)) : s / (1 << (m_zoom - 4));
  i32 fx, fw, fy, fh;
  FrameSpan(m_offX, i_ViewW(), m_dw, k, tw, ox, fx, fw);
  FrameSpan(m_offY, i_ViewH(), m_dh, k, th, oy, fy, fh);
  m_thumbRect = {ox + 3, oy + 3, nw - ox - 3, nh - oy - 3};
  m_frameSize = {0, 0, static_cast<i32>(k * i_ViewW()), static_cast<i32>(k * i_ViewH())};
  const u64 plane = static_cast<u64>(nw) * nh;
  for (i32 y = 0; y < nh; ++y) {
    const bool lineRow = y == fy || y == fy + fh, outRow = y <= fy || y >= fy + fh;
    u8* row = picture + static_cast<u64>(y) * nw;
    for (i32 x = 0; x < nw; ++x) {
      const bool line = lineRow || x == fx || x == fx + fw, out = outRow || x <= fx || x >= fx + fw;
      row[x] = row[plane + x] = row[2 * plane + x] = line || !out ? 0 : 200;
      row[3 * plane + x] = line ? 255 : out ? 100 : 0;
    }
  }
  m_navigator->DoRedraw();
}

void CKLF_CtrlPreview::NavigateByNavigator(kltPOS p) {
  if (!i_Bound()) return;
  const i32 fw = m_frameSize.right - m_frameSize.left, tw = m_thumbRect.right - m_thumbRect.left;
  const i32 fh = m_frameSize.bottom - m_frameSize.top, th = m_thumbRect.bottom - m_thumbRect.top;
  i64 x = m_offX, y = m_offY;
  if (fw < tw) x = m_minX + static_cast<i64>(p.x - m_thumbRect.left - fw / 2) * (m_maxX - m_minX) / (tw - fw);
  if (fh < th) y = m_minY + static_cast<i64>(p.y - m_thumbRect.top - fh / 2) * (m_maxY - m_minY) / (th - fh);
  SetOffset(static_cast<i32>(std::clamp<i64>(x, m_minX, m_maxX)), static_cast<i32>(std::clamp<i64>(y, m_minY, m_maxY)),
            1);
  DoRedraw(0, 0);
}
