#include "CKLF_CtrlSlider.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "KLF_BigEndian.h"

CKLF_CtrlSlider::CKLF_CtrlSlider()
    : m_count(0), m_circular(0), m_hotX(0), m_hotY(0), m_point(0), m_value(0), m_start(0), m_end(0) {
  m_type = klCtrlSlider;
}

CKLF_CtrlSlider::~CKLF_CtrlSlider() {}

// Init

u8 CKLF_CtrlSlider::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  if (!storage) return Fail(klErrEmpty);
  const CKLF_String folder = CKLF_String(KLF_ControlFolder(klCtrlSlider)) + name;
  if (!i_ReadPoints(folder) || !i_LoadLooks(folder)) return 0;
  u16 hotX = 0, hotY = 0;
  CKLF_UIResources res = Resources();
  if (!m_hotZone.Load(res, folder + ">Data_HotZone")) return FailLookup(res, klErrUIResource);
  if (!storage->GetRec(folder + ">HotSpot_X", hotX) || !storage->GetRec(folder + ">HotSpot_Y", hotY))
    return FailLookup(*storage, klErrUIResource);
  m_hotX = hotX - (klIsNullRect(m_knobRect) ? 0 : m_knobRect.left);
  m_hotY = hotY - (klIsNullRect(m_knobRect) ? 0 : m_knobRect.top);
  if (!i_CreateLayers(m_knobRect)) return 0;
  SetState(klStateNormal, 0);
  SetPtPos(0, 1);
  return 1;
}

u8 CKLF_CtrlSlider::i_ReadPoints(const CKLF_String& folder) {
  if (!m_storage->GetRec(folder + ">Data_NumPoints", m_count)) return FailLookup(*m_storage, klErrUIResource);
  if (m_count == 0) return Fail(klErrUIResource);
  CKLF_Mem coors;
  if (!m_storage->GetRec(folder + ">Data_Coors", coors)) return FailLookup(*m_storage, klErrUIResource);
  if (coors.GetSize() != 5u * m_count) return Fail(klErrUIResource);
  if (!m_points.alloc(static_cast<u32>(sizeof(KLF_SLIDERPOINT)) * m_count)) return FailFrom(m_points, klErrNoMemory);
  KLF_SLIDERPOINT* p = i_Points();
  for (u32 j = 0; j < m_count; ++j) p[j] = {KLF_GetBE16(coors.GetPtr() + 5 * j), KLF_GetBE16(coors.GetPtr() + 5 * j + 2), 0};
  if (!i_ReadValues(folder, coors.GetPtr())) return 0;
  const i64 dx = i64{p[0].x} - p[m_count - 1].x, dy = i64{p[0].y} - p[m_count - 1].y;
  m_circular = dx * dx + dy * dy < 3 ? 1 : 0;
  return 1;
}

// The valued points (the first, the flagged ones, the last) and the
// interpolation between each two of them, rounded half up.
u8 CKLF_CtrlSlider::i_ReadValues(const CKLF_String& folder, const u8* coors) {
  if (!m_storage->GetRec(folder + ">Data_ValueStart", m_start) || !m_storage->GetRec(folder + ">Data_ValueEnd", m_end))
    return FailLookup(*m_storage, klErrUIResource);
  KLF_SLIDERPOINT* p = i_Points();
  u32 k = 0, a = 0;
  p[0].value = m_start;
  for (u32 j = 1; j < m_count; ++j) {
    const bool flagged = coors[5 * j + 4] == 1;
    if (!flagged && j + 1 < m_count) continue;
    char key[32];
    std::snprintf(key, sizeof key, ">Data_Value_%u", k);
    if (flagged && !m_storage->GetRec(folder + key, p[j].value)) return FailLookup(*m_storage, klErrUIResource);
    k += flagged ? 1 : 0;
    if (j + 1 == m_count) p[j].value = m_end;  // the last point has the end value
    const double va = p[a].value, step = (static_cast<double>(p[j].value) - va) / (j - a);
    for (u32 i = a + 1; i < j; ++i) {
      const double x = va + step * (i - a), whole = std::trunc(x);
      p[i].value = static_cast<u32>(whole) + (x > whole + 0.5 ? 1 : 0);
    }
    a = j;
  }
  return 1;
}

// Points and values

u8 CKLF_CtrlSlider::SetPtPos(u16 point, u8 notify) {
  if (point >= m_count) return 0;
  m_point = point;
  const KLF_SLIDERPOINT& p = i_Points()[point];
  if (m_hasKnob) {
    const kltRECT_s old = m_knobLayer.GetRect();
    m_knobLayer.SetPos(static_cast<i16>(p.x - m_hotX), static_cast<i16>(p.y - m_hotY));
    RenderAndUpdate(KLF_UnionRect(old, m_knobLayer.GetRect()));
  }
  m_value = p.value;
  if (notify) SendMessage(m_dragging ? klMsgValueDragging : klMsgValueSet, &m_value);
  return 1;
}

void CKLF_CtrlSlider::SetPosByXY(i16 x, i16 y) {
  const KLF_SLIDERPOINT* p = i_Points();
  u16 best = 0;
  i64 bestD = -1;
  for (u16 j = 0; j < m_count; ++j) {
    const i64 dx = p[j].x - x, dy = p[j].y - y, d = dx * dx + dy * dy;
    if (bestD < 0 || d < bestD) best = j, bestD = d;
  }
  if (bestD >= 0) SetPtPos(best, 1);
}

void CKLF_CtrlSlider::SetValue(u32 value, u8 notify) {
  const KLF_SLIDERPOINT* p = i_Points();
  u16 best = 0;
  u32 bestD = 0xFFFFFFFFu;
  for (u16 j = 0; j < m_count && bestD; ++j) {
    const u32 d = p[j].value > value ? p[j].value - value : value - p[j].value;
    if (d < bestD) best = j, bestD = d;
  }
  if (m_count) SetPtPos(best, notify);
}

void CKLF_CtrlSlider::SetValueD(double value, double minimum, double maximum, u8 notify) {
  if (maximum == minimum || m_start == m_end) return SetValue(m_start, notify);
  double v = m_start + std::floor((value - minimum) / (maximum - minimum) * (static_cast<double>(m_end) - m_start) + 0.5);
  if (std::isnan(v)) v = m_start;
  SetValue(static_cast<u32>(std::clamp(v, 0.0, 4294967295.0)), notify);
}

double CKLF_CtrlSlider::GetValueD(double minimum, double maximum) const {
  if (maximum == minimum || m_start == m_end) return minimum;
  return minimum + std::floor((static_cast<double>(m_value) - m_start) / (static_cast<double>(m_end) - m_start) * (maximum - minimum) + 0.5);
}

u8 CKLF_CtrlSlider::SetCircularity(u8 on) {
  const u8 old = m_circular;
  m_circular = on;
  return old;
}

// Mouse

u8 CKLF_CtrlSlider::PtAboveControl(i16 x, i16 y) {
  if (!m_hotZone.Contains(x, y)) return 0;
  const kltRECT_s r = m_hotZone.GetRect();
  return m_hotZone.GetData()[(y - r.top) * (r.right - r.left) + (x - r.left)] > 128 ? 1 : 0;
}

u8 CKLF_CtrlSlider::OnLMouseDown(i16 x, i16 y, u8) {
  m_dragging = 1;
  SetState(klStatePressed, 0);
  StopHoverTimer();
  SetPosByXY(x, y);
  return 1;
}

u8 CKLF_CtrlSlider::OnMouseMove(i16 x, i16 y, u8) {
  if (!m_dragging) {
    i_Hover(x, y);
    return 1;
  }
  SetState(klStatePressed, 0);
  SetPosByXY(x, y);
  return 1;
}

u8 CKLF_CtrlSlider::OnLMouseUp(i16 x, i16 y, u8) {
  if (m_dragging) {
    m_dragging = 0;
    SetPosByXY(x, y);
  }
  i_Hover(x, y);
  return 1;
}

u8 CKLF_CtrlSlider::OnMouseWheel(i16, i16, u8 mods, i16 delta) {
  const i32 step = delta * m_wheelSpeed * ((mods & klModShift) ? 10 : 1);
  if (std::abs(step) >= m_count) return 1;
  i32 at = m_point + (m_invertWheel ? -step : step);
  if (m_circular) at += at < 0 ? m_count : at >= m_count ? -static_cast<i32>(m_count) : 0;
  else at = std::clamp<i32>(at, 0, m_count - 1);
  SetPtPos(static_cast<u16>(at), 1);
  return 1;
}
