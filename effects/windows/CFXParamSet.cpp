#include "CFXParamSet.h"

#include <cstdio>

#include "CFXValues.h"
#include "CWndFX_Base.h"

namespace {

const u8 kRangeAlpha = 80;

}  // namespace

CFXParamSet::CFXParamSet(const DESC& desc)
    : m_window(nullptr),
      m_desc(desc),
      m_slider{nullptr, nullptr},
      m_sliderId{0xFFFFFFFFu, 0xFFFFFFFFu},
      m_edit(nullptr),
      m_editId(0xFFFFFFFFu),
      m_box(nullptr),
      m_boxId(0xFFFFFFFFu),
      m_rangeRect{0, 0, 0, 0} {}

CFXParamSet::~CFXParamSet() {}

CFXSpread::FIELDSTATE CFXParamSet::State() const {
  return {m_desc.field, static_cast<u8>(m_desc.box ? 1 : 0), static_cast<u8>(m_box && m_box->GetCheck() ? 1 : 0)};
}

u8 CFXParamSet::i_Which() const { return IsPair() && m_window->GetMode() ? 1 : 0; }

u8 CFXParamSet::CreateRange(CWndFX_Base& w) {
  m_window = &w;
  return !m_desc.range || w.AddRectLayer(m_desc.range, m_rangeRect, m_rangeLayer, kltRGBA8{255, 0, 0, 0}) ? 1 : 0;
}

u8 CFXParamSet::AddBox(CWndFX_Base& w) {
  m_window = &w;
  return !m_desc.box || (m_box = w.AddNamed<CKLF_CtrlCheckBox>(m_desc.box, klCtrlCheckBox, &m_boxId)) ? 1 : 0;
}

u8 CFXParamSet::AddEdit(CWndFX_Base& w) {
  m_window = &w;
  return (m_edit = w.AddEdit(m_desc.edit, m_desc.low < 0 ? 1 : 0, &m_editId)) ? 1 : 0;
}

u8 CFXParamSet::AddSliders(CWndFX_Base& w) {
  m_window = &w;
  for (u8 k = 0; k < (IsPair() ? 2 : 1); ++k)
    if (!(m_slider[k] = w.AddNamed<CKLF_CtrlSlider>(k ? m_desc.slider2 : m_desc.slider1, klCtrlSlider, &m_sliderId[k])))
      return 0;
  if (!IsPair()) m_slider[1] = m_slider[0];
  return 1;
}

i32 CFXParamSet::Shown(const u8* record) const {
  const i32 v = CFXSpread::GetField(record, m_desc.field);
  return m_desc.percent ? static_cast<i32>(CFXValues::OpacityToPercent(static_cast<u8>(v))) : v;
}

void CFXParamSet::Store(u8* record, i32 shown) const {
  CFXSpread::SetField(record, m_desc.field,
                      m_desc.percent ? CFXValues::PercentToOpacity(static_cast<u32>(shown < 0 ? 0 : shown)) : shown);
}

u8 CFXParamSet::OnMessage(u16 msg, u32 id, u8 type, void* data) {
  if (!m_window) return 0;
  if (type == klCtrlSlider && (id == m_sliderId[0] || id == m_sliderId[1]) && data &&
      (msg == klMsgValueSet || msg == klMsgValueDragging)) {
    if (IsPair()) m_window->ChangeMode(id == m_sliderId[1] ? 1 : 0);
    OnSlider(*static_cast<const u32*>(data), msg == klMsgValueDragging ? 1 : 0);
    return 1;
  }
  if (type == klCtrlEditLine && id == m_editId && msg == klMsgEditChanged && data) {
    OnEdit(*static_cast<const CKLF_String*>(data));
    return 1;
  }
  if (type == klCtrlCheckBox && m_box && id == m_boxId) {
    OnBox(m_box->GetCheck());
    return 1;
  }
  return 0;
}

u8 CFXParamSet::OnLostFocus(u32 id) {
  if (!m_window || !m_edit || id != m_editId) return 0;
  const i32 v = CFXValues::ParseClamped(m_edit->GetText().GetStr(), m_desc.low, m_desc.high);
  char text[16];
  std::snprintf(text, sizeof(text), "%d", v);
  m_edit->SetText(text, 1);
  m_window->Changes(CFXSchedule::kDeferred);
  return 1;
}

void CFXParamSet::OnSlider(u32 value, u8 dragging) {
  if (!m_window || !m_edit) return;
  char text[16];
  std::snprintf(text, sizeof(text), "%d", static_cast<i32>(value) + m_desc.low);
  m_edit->SetText(text, 0);
  const u8 which = i_Which();
  Store(m_window->Records().GetValue(which), static_cast<i32>(m_slider[which]->GetValue()) + m_desc.low);
  RedrawRange();
  m_window->UpdatePreview();
  if (!dragging) m_window->Changes(m_desc.releaseChanges);
}

void CFXParamSet::OnEdit(const CKLF_String& text) {
  if (!m_window || !m_slider[0]) return;
  const i32 v = CFXValues::ParseClamped(text.GetStr(), m_desc.low, m_desc.high);
  m_slider[i_Which()]->SetValue(static_cast<u32>(v - m_desc.low), 0);
  for (u8 k = 0; k < (IsPair() ? 2 : 1); ++k)
    Store(m_window->Records().GetValue(k), static_cast<i32>(m_slider[k]->GetValue()) + m_desc.low);
  RedrawRange();
  m_window->UpdatePreview();
}

void CFXParamSet::OnBox(u8 checked) {
  if (!m_window || !m_slider[0]) return;
  m_slider[0]->Enable(checked);
  m_slider[1]->Enable(checked);
  m_rangeLayer.SetVisible(checked);
  m_window->UpdatePreview();
  RedrawRange();
  m_window->Changes(CFXSchedule::kDeferred);
}

void CFXParamSet::EnableSpread(u8 on) {
  if (!m_window || !m_slider[0] || !IsPair()) return;
  if (m_box && on) {
    m_box->Enable(1);
    m_box->SetCheck(1, 1);
    return;
  }
  if (m_box) m_box->SetCheck(0, 0);
  m_slider[0]->Enable(1);
  if (m_box) m_box->Enable(0);
  m_slider[1]->Enable(on);
  m_rangeLayer.SetVisible(on);
  RedrawRange();
}

void CFXParamSet::RedrawRange() {
  if (!m_window || !m_slider[0] || !m_rangeLayer.GetMemObj() || !m_rangeLayer.GetMemObj()->GetPtr()) return;
  const u32 width = static_cast<u32>(m_rangeRect.right - m_rangeRect.left);
  const u32 height = static_cast<u32>(m_rangeRect.bottom - m_rangeRect.top);
  m_rangeLayer.Set(kltRGBA8{0, 0, 0, 0}, 8);
  u32 from = 0, to = 0;
  const u32 a = m_slider[0]->GetValue(), b = m_slider[1]->GetValue();
  const u8 marked = m_desc.columns
                        ? m_desc.columns(a, b, width, from, to)
                        : CFXValues::RangeColumns(a, b, static_cast<u32>(m_desc.high - m_desc.low), width, from, to);
  if (marked)
    m_rangeLayer.Set(kltRGBA8{0, 0, 0, kRangeAlpha}, 8,
                     kltRECT_s{static_cast<i32>(from), 0, static_cast<i32>(to), static_cast<i32>(height)});
  m_window->RenderRect(m_rangeRect);
  m_window->UpdateRect(m_rangeRect);
}

void CFXParamSet::SetSliders(u8 notify) {
  if (!m_window || !m_slider[0]) return;
  CFXEffectRecords& r = m_window->Records();
  if (IsPair()) m_slider[1]->SetValue(static_cast<u32>(Shown(r.GetValue(1)) - m_desc.low), 0);
  m_slider[0]->SetValue(static_cast<u32>(Shown(r.GetValue(0)) - m_desc.low), notify);
}
