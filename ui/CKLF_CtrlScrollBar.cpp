#include "CKLF_CtrlScrollBar.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "CKLF_Window.h"

CKLF_CtrlScrollBar::CKLF_CtrlScrollBar()
    : m_rect{0, 0, 0, 0},
      m_band{0, 0, 0, 0},
      m_vertical(0),
      m_grabX(0),
      m_grabY(0),
      m_head(0),
      m_tile(0),
      m_tail(0),
      m_thumbLength(0),
      m_thumbRect{0, 0, 0, 0},
      m_total(100),
      m_visible(10),
      m_position(0),
      m_drawnTotal(0),
      m_drawnVisible(0),
      m_lessId(0),
      m_moreId(0),
      m_less(nullptr),
      m_more(nullptr) {
  m_type = klCtrlScrollBar;
}

CKLF_CtrlScrollBar::~CKLF_CtrlScrollBar() {}

// Init

u8 CKLF_CtrlScrollBar::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  if (!storage) return Fail(klErrEmpty);
  const CKLF_String folder = CKLF_String(KLF_ControlFolder(klCtrlScrollBar)) + name;
  u8 vertical = 0;
  // Optional: a bar without the record is horizontal.
  if (!storage->GetRec(folder + ">Is Vertical", vertical) && !storage->IsRecordAbsent())
    return FailFrom(*storage, klErrNoMemory);
  m_vertical = vertical == 1 ? 1 : 0;
  // The wheel turned toward the user (a negative delta) moves toward the
  // end on either axis: down a vertical bar, right along a horizontal one.
  InvertWheel(1);
  if (!i_LoadLooks(folder)) return 0;
  CKLF_UIResources res = Resources();
  if (!m_thumbData.Load(res, folder + ">Thumb_Data") || !res.GetRectRecords(folder, m_rect) ||
      m_rect.right < m_rect.left || m_rect.bottom < m_rect.top || !i_ReadThumbParts())
    return FailLookup(res, klErrUIResource);
  m_band = klIsNullRect(m_knobRect) ? m_rect : m_knobRect;
  if (m_vertical) m_band.top = m_rect.top, m_band.bottom = m_rect.bottom;
  else m_band.left = m_rect.left, m_band.right = m_rect.right;
  if (!i_CreateLayers(m_band)) return 0;
  m_knobLayer.SetClipRect(m_band);
  i_SizeThumb();
  SetState(klStateNormal, 0);
  i_Place(0);
  return 1;
}

// Head, tile and tail lengths along the first row (column) of the thumb
// data; refused when they reach past a thumb picture.
u8 CKLF_CtrlScrollBar::i_ReadThumbParts() {
  const i32 w = m_thumbData.GetWidth(), h = m_thumbData.GetHeight();
  const u64 plane = static_cast<u64>(w) * h;
  const u8* d = m_thumbData.GetData();
  const i32 length = plane ? (m_vertical ? h : w) : 0;
  for (i32 i = 0; i < length; ++i) {
    const u64 at = m_vertical ? static_cast<u64>(i) * w : static_cast<u64>(i);
    m_head += d[at] == 255;
    m_tail += d[plane + at] == 255;
    m_tile += d[2 * plane + at] == 255;
  }
  const i32 parts = m_head + m_tile + m_tail;
  for (u8 i = 0; i < 4; ++i) {
    const CKLF_CtrlPicture& p = m_knob.Get(i);
    if (p.IsPresent() && (m_vertical ? p.GetHeight() : p.GetWidth()) < parts) return 0;
  }
  return 1;
}

// The thumb

u32 CKLF_CtrlScrollBar::i_Track() const {
  return static_cast<u32>(m_vertical ? m_rect.bottom - m_rect.top : m_rect.right - m_rect.left);
}

// Head, middle and tail: the middle makes the thumb as long as the visible
// part of the track, within the track; no middle without a tile.
void CKLF_CtrlScrollBar::i_SizeThumb() {
  const u32 track = i_Track(), ends = u32{m_head} + m_tail;
  double proportional = 0;
  if (m_visible > 0) proportional = track / (static_cast<double>(m_total) / m_visible);
  const u32 whole = static_cast<u32>(std::clamp(proportional, 0.0, static_cast<double>(track)));
  u32 middle = 0;
  if (m_tile > 0 && whole > ends && track > ends) middle = std::min(whole - ends, track - ends);
  m_thumbLength = static_cast<u16>(std::min<u32>(ends + middle, 65535));
  m_drawnTotal = m_total;
  m_drawnVisible = m_visible;
}

void CKLF_CtrlScrollBar::i_DrawKnob(const CKLF_CtrlPicture* picture) {
  u8* dst[5];
  u32 stride = 0;
  if (!picture || !m_knobLayer.GetImageChannels(dst, stride)) return;
  const kltRECT_s r = picture->GetRect();
  const i32 pw = picture->GetWidth(), ph = picture->GetHeight();
  const i32 lw = m_knobLayer.GetImageWidth(), lh = m_knobLayer.GetImageHeight();
  const i32 across = m_vertical ? pw : ph, at = m_vertical ? r.left - m_band.left : r.top - m_band.top;
  const i32 middle = m_thumbLength - m_head - m_tail, length = std::min<i32>(m_thumbLength, m_vertical ? lh : lw);
  const u64 plane = static_cast<u64>(pw) * ph;
  const u8* src = picture->GetData();
  for (i32 i = 0; i < length; ++i) {
    const i32 s = i < m_head ? i : i < m_head + middle ? m_head + (i - m_head) % m_tile : i - middle + m_tile;
    for (i32 c = std::max(0, -at); c < across && at + c < (m_vertical ? lw : lh); ++c) {
      const u64 from = m_vertical ? static_cast<u64>(s) * pw + c : static_cast<u64>(c) * pw + s;
      const u64 to = m_vertical ? static_cast<u64>(i) * stride + at + c : static_cast<u64>(at + c) * stride + i;
      for (u32 p = 0; p < 4; ++p) dst[p][to] = src[p * plane + from];
    }
  }
}

double CKLF_CtrlScrollBar::i_Ratio() const {
  const u32 range = i_Range();
  return range ? (static_cast<double>(i_Track()) - m_thumbLength) / range : 0.0;
}

// The thumb at start along the bar, kept inside it (its start never before
// the bar's when the thumb is longer than the track).
void CKLF_CtrlScrollBar::i_MoveThumb(i32 start) {
  start = std::max(std::min(start, i_Start() + static_cast<i32>(i_Track()) - m_thumbLength), i_Start());
  const i32 end = start + m_thumbLength;
  m_thumbRect = m_vertical ? kltRECT_s{m_band.left, start, m_band.right, end}
                           : kltRECT_s{start, m_band.top, end, m_band.bottom};
  if (m_hasKnob) m_knobLayer.SetPos(static_cast<i16>(m_thumbRect.left), static_cast<i16>(m_thumbRect.top));
  Redraw();
}

void CKLF_CtrlScrollBar::i_Place(u8 notify) {
  if (m_created) i_MoveThumb(i_Start() + static_cast<i32>(std::trunc(i_Ratio() * m_position)));
  if (notify) SendMessage(klMsgValueSet, &m_position);
}

// Values

void CKLF_CtrlScrollBar::SetInfo(u32 total, u32 visible) {
  m_total = std::max(total, visible);
  m_visible = visible;
  m_position = std::min(m_position, i_Range());
  if (m_total != m_drawnTotal || m_visible != m_drawnVisible) {
    i_SizeThumb();
    m_knobStale = 1;
    SetState(m_knobState == 255 ? u8{klStateNormal} : m_knobState, 1);
  }
  i_Place(1);
}

void CKLF_CtrlScrollBar::SetPosition(u32 position) {
  m_position = std::min(position, i_Range());
  i_Place(1);
}

u32 CKLF_CtrlScrollBar::StepLess() {
  const u32 old = m_position;
  SetPosition(old > 0 ? old - 1 : 0);
  return old;
}

u32 CKLF_CtrlScrollBar::StepMore() {
  const u32 old = m_position;
  SetPosition(old < i_Range() ? old + 1 : old);
  return old;
}

u32 CKLF_CtrlScrollBar::PageLess() {
  const u32 old = m_position, page = m_visible > 1 ? m_visible - 1 : 1;
  SetPosition(old > page ? old - page : 0);
  return old;
}

u32 CKLF_CtrlScrollBar::PageMore() {
  const u32 old = m_position, page = m_visible > 1 ? m_visible - 1 : 1;
  SetPosition(i_Range() - old > page ? old + page : i_Range());
  return old;
}

// Arrow buttons

u8 CKLF_CtrlScrollBar::SetButtons(u32 lessId, u32 moreId) {
  m_lessId = lessId;
  m_moreId = moreId;
  CKLF_CtrlButton* arrows[2] = {};
  for (u32 i = 0; i < 2; ++i) {
    CKLF_Control* c = GetControlByID(i ? moreId : lessId);
    arrows[i] = c && c->GetType() == klCtrlButton ? dynamic_cast<CKLF_CtrlButton*>(c) : nullptr;
    if (!arrows[i]) continue;
    arrows[i]->SetFocusMaster(this);
    arrows[i]->EnableMessageForwardingToFocusMaster(1);
    arrows[i]->SetPeriodicMode(1);
  }
  m_less = arrows[0];
  m_more = arrows[1];
  return m_less && m_more ? 1 : Fail(klErrBadArg);
}

u32 CKLF_CtrlScrollBar::OnCtrlMessage(u16 msg, u32 id, const char*, u8, void*) {
  if (msg != klMsgClick) return 0;
  if (m_less && id == m_lessId) return StepLess(), 1;
  if (m_more && id == m_moreId) return StepMore(), 1;
  return 0;
}

void CKLF_CtrlScrollBar::Enable(u8 on) {
  CKLF_CtrlTrack::Enable(on);
  if (m_less) m_less->Enable(on);
  if (m_more) m_more->Enable(on);
}

// Mouse

u8 CKLF_CtrlScrollBar::PtAboveControl(i16 x, i16 y) {
  return x >= m_rect.left && x < m_rect.right && y >= m_rect.top && y < m_rect.bottom ? 1 : 0;
}

void CKLF_CtrlScrollBar::i_PageToward(i16 x, i16 y) {
  const i32 at = i_Along(x, y);
  if (at < i_Along(m_thumbRect.left, m_thumbRect.top)) PageLess();
  else if (at >= i_Along(m_thumbRect.right, m_thumbRect.bottom)) PageMore();
}

u8 CKLF_CtrlScrollBar::OnLMouseDown(i16 x, i16 y, u8) {
  if (x >= m_thumbRect.left && x < m_thumbRect.right && y >= m_thumbRect.top && y < m_thumbRect.bottom) {
    m_grabX = x - m_thumbRect.left;
    m_grabY = y - m_thumbRect.top;
    m_dragging = 1;
    SetState(klStatePressed, 0);
    StopHoverTimer();
    return 1;
  }
  i_PageToward(x, y);
  StartRepeatDelay();
  return 1;
}

u8 CKLF_CtrlScrollBar::OnMouseMove(i16 x, i16 y, u8) {
  if (!m_dragging) {
    i_Hover(x, y);
    return 1;
  }
  SetState(klStatePressed, 0);
  i_MoveThumb(i_Along(x, y) - i_Along(m_grabX, m_grabY));
  // A thumb that fills the track has nowhere to go: the position stays.
  const double ratio = i_Ratio();
  if (ratio <= 0) return 1;
  const double at = (i_Along(m_thumbRect.left, m_thumbRect.top) - i_Start()) / ratio;
  const u32 position = static_cast<u32>(std::clamp(at, 0.0, static_cast<double>(i_Range())));
  if (position != m_position) {
    m_position = position;
    SendMessage(klMsgValueDragging, &m_position);
  }
  return 1;
}

u8 CKLF_CtrlScrollBar::OnLMouseUp(i16 x, i16 y, u8) {
  if (m_dragging) {
    m_dragging = 0;
    SendMessage(klMsgValueSet, &m_position);
  }
  StopRepeat();
  i_Hover(x, y);
  return 1;
}

void CKLF_CtrlScrollBar::OnTimer(u16 kind) {
  if (kind == klTimerRepeatDelay) {
    RepeatDelayDone();
  } else if (kind == klTimerRepeat) {
    const kltPOS p = GetMousePos();
    i_PageToward(static_cast<i16>(p.x), static_cast<i16>(p.y));
  } else {
    CKLF_CtrlTrack::OnTimer(kind);
  }
}

u8 CKLF_CtrlScrollBar::OnMouseWheel(i16, i16, u8, i16 delta) {
  i32 n = static_cast<i32>(delta) * m_wheelSpeed;
  if (m_invertWheel) n = -n;
  // Steps past the end change nothing more.
  const u32 steps = std::min<u32>(static_cast<u32>(std::abs(n)), std::max<u32>(1, i_Range()));
  for (u32 i = 0; n != 0 && i < steps; ++i) n < 0 ? StepLess() : StepMore();
  return 1;
}
