#include "CFXParamSet.h"

#include "CFXValues.h"
#include "CWndFX_Base.h"

namespace {

const u8 kRangeAlpha = 80;

template <class C>
C* Add(CWndFX_Base& w, const char* name, u8 type, u32& id) {
  const i32 i = w.AddControl(name, type);
  if (i < 0) return nullptr;
  id = static_cast<u32>(i);
  return static_cast<C*>(w.GetControl(id));
}

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
      m_rangeRect{0, 0, 0, 0},
      m_rangeLayerId(0xFFFFFFFFu) {}

CFXParamSet::~CFXParamSet() {}

CFXSpread::FIELDSTATE CFXParamSet::State() const {
  return {m_desc.field, static_cast<u8>(m_desc.box ? 1 : 0), static_cast<u8>(m_box && m_box->GetCheck() ? 1 : 0)};
}

u8 CFXParamSet::CreateRange(CWndFX_Base& w) {
  m_window = &w;
  if (!w.GetResourceRect(m_desc.range, m_rangeRect)) return w.Fail(klErrUIResource);
  if (!m_rangeLayer.Create(m_rangeRect, 2)) return w.FailFrom(m_rangeLayer, klErrNoMemory);
  m_rangeLayer.Set(kltRGBA8{255, 0, 0, 0}, 255);
  const i32 id = w.LSAddLayer(&m_rangeLayer);
  if (id < 0) return w.Fail(klErrNoMemory);
  m_rangeLayerId = static_cast<u32>(id);
  return 1;
}

u8 CFXParamSet::AddBox(CWndFX_Base& w) {
  m_window = &w;
  return !m_desc.box || (m_box = Add<CKLF_CtrlCheckBox>(w, m_desc.box, klCtrlCheckBox, m_boxId)) ? 1 : 0;
}

u8 CFXParamSet::AddEdit(CWndFX_Base& w, CKLF_Font* font) {
  m_window = &w;
  m_edit = Add<CKLF_CtrlEditLine>(w, m_desc.edit, klCtrlEditLine, m_editId);
  if (!m_edit) return 0;
  m_edit->SetFont(font);
  m_edit->SetOptions(1, m_desc.low < 0 ? 1 : 0, 0, 0, -1, 0);
  m_edit->SetColors(CWndFX_Base::kEditColors);
  return 1;
}

u8 CFXParamSet::AddSliders(CWndFX_Base& w) {
  m_window = &w;
  for (u8 k = 0; k < 2; ++k)
    if (!(m_slider[k] = Add<CKLF_CtrlSlider>(w, k ? m_desc.slider2 : m_desc.slider1, klCtrlSlider, m_sliderId[k])))
      return 0;
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
    m_window->ChangeMode(id == m_sliderId[1] ? 1 : 0);
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
  CKLF_String text;
  text.Format("%d", v);
  m_edit->SetText(text.GetStr(), 1);
  m_window->Changes(CFXSchedule::kDeferred);
  return 1;
}

void CFXParamSet::OnSlider(u32 value, u8 dragging) {
  if (!m_window || !m_edit) return;
  CKLF_String text;
  text.Format("%d", static_cast<i32>(value) + m_desc.low);
  m_edit->SetText(text.GetStr(), 0);
  const u8 mode = m_window->GetMode() ? 1 : 0;
  Store(m_window->Records().GetValue(mode), static_cast<i32>(m_slider[mode]->GetValue()) + m_desc.low);
  RedrawRange();
  m_window->UpdatePreview();
  if (!dragging) m_window->Changes(m_desc.releaseChanges);
}

void CFXParamSet::OnEdit(const CKLF_String& text) {
  if (!m_window || !m_slider[0]) return;
  const i32 v = CFXValues::ParseClamped(text.GetStr(), m_desc.low, m_desc.high);
  m_slider[m_window->GetMode() ? 1 : 0]->SetValue(static_cast<u32>(v - m_desc.low), 0);
  for (u8 k = 0; k < 2; ++k) Store(m_window->Records().GetValue(k), static_cast<i32>(m_slider[k]->GetValue()) + m_desc.low);
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
  if (!m_window || !m_slider[0]) return;
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
  if (!m_window || !m_slider[0] || !m_rangeLayer.GetMemObj()->GetPtr()) return;
  const u32 width = static_cast<u32>(m_rangeRect.right - m_rangeRect.left);
  const u32 height = static_cast<u32>(m_rangeRect.bottom - m_rangeRect.top);
  m_rangeLayer.Set(kltRGBA8{0, 0, 0, 0}, 8);
  u32 from = 0, to = 0;
  const u32 span = static_cast<u32>(m_desc.high - m_desc.low);
  if (CFXValues::RangeColumns(m_slider[0]->GetValue(), m_slider[1]->GetValue(), span, width, from, to))
    m_rangeLayer.Set(kltRGBA8{0, 0, 0, kRangeAlpha}, 8,
                     kltRECT_s{static_cast<i32>(from), 0, static_cast<i32>(to), static_cast<i32>(height)});
  m_window->RenderRect(m_rangeRect);
  m_window->UpdateRect(m_rangeRect);
}

void CFXParamSet::SetSliders(u8 notify) {
  if (!m_window || !m_slider[0]) return;
  CFXEffectRecords& r = m_window->Records();
  m_slider[1]->SetValue(static_cast<u32>(Shown(r.GetValue(1)) - m_desc.low), 0);
  m_slider[0]->SetValue(static_cast<u32>(Shown(r.GetValue(0)) - m_desc.low), notify);
}
