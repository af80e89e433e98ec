#include "CKLF_CtrlTrack.h"

CKLF_CtrlTrack::CKLF_CtrlTrack()
    : m_backRect(klNullRect),
      m_knobRect(klNullRect),
      m_hasBack(0),
      m_hasKnob(0),
      m_backState(255),
      m_knobState(255),
      m_knobStale(0),
      m_dragging(0) {}

CKLF_CtrlTrack::~CKLF_CtrlTrack() {
  RemoveLayer(m_backLayer);
  RemoveLayer(m_knobLayer);
}

u8 CKLF_CtrlTrack::i_LoadLooks(const CKLF_String& folder) {
  CKLF_UIResources res = Resources();
  if (!m_back.Load(res, folder + ">Background_") || !m_knob.Load(res, folder + ">Thumb_"))
    return FailFrom(res, klErrNoMemory);
  m_backRect = m_back.GetUnion();
  m_knobRect = m_knob.GetUnion();
  return 1;
}

u8 CKLF_CtrlTrack::i_CreateLayers(kltRECT_s knob) {
  m_hasBack = m_back.HasAny();
  m_hasKnob = m_knob.HasAny();
  if (m_hasBack && (!m_backLayer.Create(m_backRect, 2) || !AddLayer(m_backLayer)))
    return FailFrom(m_backLayer, klErrNoMemory);
  if (m_hasKnob && (!m_knobLayer.Create(knob, 2) || !AddLayer(m_knobLayer)))
    return FailFrom(m_knobLayer, klErrNoMemory);
  m_created = 1;
  return 1;
}

void CKLF_CtrlTrack::i_DrawKnob(const CKLF_CtrlPicture* picture) {
  if (picture) picture->CopyTo(m_knobLayer, {m_knobRect.left, m_knobRect.top});
}

void CKLF_CtrlTrack::SetState(u8 state, u8 noRender) {
  if (!m_created) return;
  u8 dimBack = 0, dimKnob = 0;
  const CKLF_CtrlPicture* back = m_back.Pick(state, dimBack);
  const CKLF_CtrlPicture* knob = m_knob.Pick(state, dimKnob);
  kltRECT_s changed = klNullRect;
  // A new disabled opacity shows even when the state stays.
  if (m_hasBack && m_backLayer.GetOpacity() != (dimBack ? m_disabledOpacity : 255)) changed = m_backLayer.GetRect();
  if (m_hasKnob && m_knobLayer.GetOpacity() != (dimKnob ? m_disabledOpacity : 255))
    changed = KLF_UnionRect(changed, i_KnobRect());
  m_backLayer.SetOpacity(dimBack ? m_disabledOpacity : 255);
  m_knobLayer.SetOpacity(dimKnob ? m_disabledOpacity : 255);
  if (m_hasBack && state != m_backState) {
    if (back) back->CopyTo(m_backLayer);
    m_backLayer.SetVisible(back ? 1 : 0);
    m_backState = state;
    changed = m_backLayer.GetRect();
  }
  if (m_hasKnob && (state != m_knobState || m_knobStale)) {
    m_knobLayer.Set(kltRGBA8{0, 0, 0, 0}, 15);
    i_DrawKnob(knob);
    m_knobLayer.SetVisible(knob ? 1 : 0);
    m_knobState = state;
    m_knobStale = 0;
    changed = KLF_UnionRect(changed, i_KnobRect());
  }
  if (!noRender) RenderAndUpdate(changed);
}

void CKLF_CtrlTrack::Redraw() {
  if (!m_created) return;
  RenderAndUpdate(KLF_UnionRect(m_hasBack ? m_backLayer.GetRect() : klNullRect, m_hasKnob ? i_KnobRect() : klNullRect));
}

void CKLF_CtrlTrack::i_Hover(i16 x, i16 y) {
  if (!m_enabled) {
    StopHoverTimer();
    SetState(klStateDisabled, 0);
  } else if (PtInControl(x, y)) {
    SetState(klStateHighlighted, 0);
    StartHoverTimer();
  } else {
    StopHoverTimer();
    SetState(klStateNormal, 0);
  }
}

void CKLF_CtrlTrack::Enable(u8 on) {
  CKLF_Control::Enable(on);
  // Disabled while held: the drag or the repeat ends here.
  if (!on) m_dragging = 0, StopRepeat();
  const kltPOS p = GetMousePos();
  i_Hover(static_cast<i16>(p.x), static_cast<i16>(p.y));
}

void CKLF_CtrlTrack::OnTimer(u16 kind) {
  if (kind != klTimerHover || IsMouseOver()) return;
  StopHoverTimer();
  SetState(klStateNormal, 0);
}
