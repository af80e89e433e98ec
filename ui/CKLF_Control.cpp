#include "CKLF_Control.h"

#include "CKLF_CtrlPicture.h"
#include "CKLF_Window.h"

CKLF_Control::CKLF_Control()
    : m_type(0),
      m_invertWheel(0),
      m_wheelSpeed(1),
      m_enabled(1),
      m_disabledOpacity(80),
      m_focus(0),
      m_group(255),
      m_check(0),
      m_window(nullptr),
      m_storage(nullptr),
      m_created(0),
      m_external(0),
      m_id(0),
      m_master(nullptr),
      m_forward(0),
      m_filtered(0),
      m_hoverTimer(0),
      m_repeatDelay(0),
      m_repeat(0) {}

CKLF_Control::~CKLF_Control() {}

u8 CKLF_Control::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  m_window = window;
  m_id = id;
  m_storage = storage;
  return (m_name = name).IsError() ? FailFrom(m_name, klErrNoMemory) : 1;
}

void CKLF_Control::SetDisabledOpacity(u8 opacity) {
  m_disabledOpacity = opacity;
  // A disabled control shows the new opacity at once.
  if (!m_enabled) Enable(0);
  Redraw();
}

CKLF_Control* CKLF_Control::GetControlByID(u32 id) const { return m_window ? m_window->GetControl(id) : nullptr; }

kltPOS CKLF_Control::GetMousePos() const { return m_window ? m_window->GetMousePos() : kltPOS{0, 0}; }

u8 CKLF_Control::GetFocus() const {
  const CKLF_Control* c = this;
  for (u32 i = 0; i < 9 && c->m_master; ++i) c = c->m_master;
  return c->m_focus;
}

void CKLF_Control::SetFocus(u8 on) {
  if (m_master) {
    if (on && !GetFocus()) m_master->SetFocus(1);
    return;
  }
  m_focus = on;
  if (on && m_window) m_window->OnCtrlFocused(m_id);
}

u8 CKLF_Control::SetTimer(u32 intervalMs, u16 kind) {
  if (!m_window) return Fail(klErrBadArg);
  return m_window->SetCtrlTimer(intervalMs, kind, this) ? 1 : FailFrom(*m_window, klErrBadArg);
}

u8 CKLF_Control::KillTimer(u16 kind) {
  if (!m_window) return Fail(klErrBadArg);
  return m_window->KillCtrlTimer(kind, this) ? 1 : FailFrom(*m_window, klErrBadArg);
}

u32 CKLF_Control::SendMessage(u16 msg, void* data) {
  if (m_forward) return m_master ? m_master->OnCtrlMessage(msg, m_id, m_name.GetStr(), m_type, data) : 0;
  return m_window ? m_window->OnCtrlMessage(msg, m_id, m_name.GetStr(), m_type, data) : 0;
}

void CKLF_Control::NotifyParentCtrlFocuseed() {
  if (m_window) m_window->OnCtrlFocused(m_id);
}

void CKLF_Control::NotifyParentCtrlLostFocus() {
  if (m_window) m_window->OnCtrlLostFocus(m_id);
}

void CKLF_Control::NotifyGroup() {
  if (m_window) m_window->OnCtrlNewGroupMaster(m_id, m_group);
}

u8* CKLF_Control::LoadImageData(const CKLF_String& key, kltRECT_s* rect, CKLF_Mem* out) {
  CKLF_UIResources res = Resources();
  u8* data = res.LoadImageData(key, rect, out);
  return data ? data : FailFrom(res, klErrUIResource, nullptr);
}

CKLF_UIResources CKLF_Control::Resources() const {
  return CKLF_UIResources(m_storage, m_window ? m_window->GetClientRect() : klNullRect);
}

void CKLF_Control::StartHoverTimer() {
  if (!m_hoverTimer) m_hoverTimer = SetTimer(klHoverMs, klTimerHover);
}

void CKLF_Control::StopHoverTimer() {
  if (m_hoverTimer) KillTimer(klTimerHover);
  m_hoverTimer = 0;
}

void CKLF_Control::StartRepeatDelay() {
  if (!m_repeatDelay && !m_repeat) m_repeatDelay = SetTimer(klRepeatDelayMs, klTimerRepeatDelay);
}

void CKLF_Control::RepeatDelayDone() {
  KillTimer(klTimerRepeatDelay);
  m_repeatDelay = 0;
  if (!m_repeat) m_repeat = SetTimer(klRepeatMs, klTimerRepeat);
}

void CKLF_Control::StopRepeat() {
  if (m_repeatDelay) KillTimer(klTimerRepeatDelay);
  if (m_repeat) KillTimer(klTimerRepeat);
  m_repeatDelay = m_repeat = 0;
}

u8 CKLF_Control::IsMouseOver() {
  CKLP_UIPlatform* ui = KLP_GetUI();
  if (!m_window || !ui) return 0;
  const KLP_Point g = ui->GetMousePosition();
  if (CKLF_Window::WindowFromPoint({g.x, g.y}) != m_window) return 0;
  const kltPOS p = m_window->GetMousePos();
  return PtInControl(static_cast<i16>(p.x), static_cast<i16>(p.y));
}

u8 CKLF_Control::AddLayer(CKLF_Layer& layer) {
  if (!m_window) return Fail(klErrBadArg);
  return m_window->LSAddLayer(&layer) >= 0 ? 1 : FailFrom(*m_window->GetLayerSet(), klErrNoMemory);
}

void CKLF_Control::RemoveLayer(CKLF_Layer& layer) {
  CKLF_LayerSet* set = m_window ? m_window->GetLayerSet() : nullptr;
  for (u32 i = set ? set->GetLayerCount() : 0; i-- > 0;)
    if (set->GetLayer(i) == &layer) set->DeleteLayer(i);
}

void CKLF_Control::NoteFailure(u16 code) {
  if (m_window) m_window->NoteFailure(code);
}

void CKLF_Control::RenderAndUpdate(kltRECT_s rect) {
  if (!m_window || klIsNullRect(rect)) return;
  m_window->RenderRect(rect);
  m_window->UpdateRect(rect);
}

u8 CKLF_Control::ShowPicture(CKLF_Layer& layer, const CKLF_CtrlPicture* picture, u8 dimmed, u8 again) {
  // Opacity 0 hides a disabled control, its own disabled picture too.
  const u8 hidden = !m_enabled && m_disabledOpacity == 0;
  const u8 opacity = dimmed || hidden ? m_disabledOpacity : 255, changed = opacity != layer.GetOpacity();
  layer.SetOpacity(opacity);
  if (again) {
    if (changed) Redraw();  // the disabled opacity may have changed meanwhile
    return 0;
  }
  if (picture) picture->CopyTo(layer);
  else layer.Set(kltRGBA8{0, 0, 0, 0}, 15);
  return 1;
}
