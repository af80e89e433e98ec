#include "CKLF_CtrlButton.h"

#include "CKLF_Window.h"

namespace {

const char* const kKeys[] = {">Normal", ">Highlighted", ">Pressed", ">Pressed Mouse Out", ">Disabled"};
// Pressed falls back to highlighted, then normal; disabled to normal, dimmed.
const KLF_BUTTONSTATE kStates[] = {
    {1, {0, -1, -1}, 0}, {2, {1, 0, -1}, 0}, {4, {2, 1, 0}, 0}, {16, {3, 0, -1}, 0}, {8, {4, 0, -1}, 1}};
const KLF_BUTTONKIND kButton = {klCtrlButton, kKeys, 5, kStates, 5, 1, {0, -1}};

}  // namespace

CKLF_CtrlButton::CKLF_CtrlButton() : CKLF_CtrlButton(&kButton) {}

CKLF_CtrlButton::CKLF_CtrlButton(const KLF_BUTTONKIND* kind)
    : m_kind(kind),
      m_mask(nullptr),
      m_maskRect{0, 0, 0, 0},
      m_renderRect(klNullRect),
      m_state(255),
      m_pressed(0),
      m_periodic(0),
      m_menu(0) {
  m_type = kind->type;
}

CKLF_CtrlButton::~CKLF_CtrlButton() { RemoveLayer(m_layer); }

u8 CKLF_CtrlButton::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  const CKLF_String folder = CKLF_String(KLF_ControlFolder(m_type)) + name;
  CKLF_UIResources res = Resources();
  for (u8 i = 0; i < m_kind->pictures; ++i) {
    if (!m_pictures[i].LoadOptional(res, folder + m_kind->keys[i])) return FailFrom(res, klErrNoMemory);
    if (m_pictures[i].IsPresent()) m_renderRect = KLF_UnionRect(m_renderRect, m_pictures[i].GetRect());
  }
  for (i8 r : m_kind->required)
    if (r >= 0 && !m_pictures[r].IsPresent()) return Fail(klErrUIResource);
  m_mask = res.LoadMaskData(folder + ">Data", &m_maskRect, &m_maskMem);
  if (!m_mask) return FailLookup(res, klErrUIResource);
  if (!m_layer.Create(m_renderRect, 2)) return FailFrom(m_layer, klErrNoMemory);
  if (!AddLayer(m_layer)) return 0;
  m_created = 1;
  SetState(m_kind->defaultState);
  return 1;
}

const CKLF_CtrlPicture* CKLF_CtrlButton::i_Pick(u8 state, u8& dimmed) const {
  const KLF_BUTTONSTATE* s = nullptr;
  for (u8 i = 0; i < m_kind->stateCount && !s; ++i)
    if (m_kind->states[i].state == state) s = &m_kind->states[i];
  for (u8 i = 0; i < m_kind->stateCount && !s; ++i)
    if (m_kind->states[i].state == m_kind->defaultState) s = &m_kind->states[i];
  dimmed = 0;
  for (i8 p : s->chain) {
    if (p < 0) break;
    if (!m_pictures[p].IsPresent()) continue;
    dimmed = s->disabled && p != s->chain[0];
    return &m_pictures[p];
  }
  return nullptr;
}

void CKLF_CtrlButton::SetState(u8 state) {
  if (!m_created) return;
  u8 dimmed = 0;
  const CKLF_CtrlPicture* pic = i_Pick(state, dimmed);
  if (!ShowPicture(m_layer, pic, dimmed, state == m_state)) return;
  m_state = state;
  Redraw();
}

void CKLF_CtrlButton::Redraw() {
  if (m_created) RenderAndUpdate(m_layer.GetRect());
}

u8 CKLF_CtrlButton::i_StateOf(u8 look) {
  static const u8 kLooks[] = {1, 2, 4, 16, 8};
  return kLooks[look];
}

u8 CKLF_CtrlButton::PtAboveControl(i16 x, i16 y) {
  if (!m_mask || x < m_maskRect.left || x >= m_maskRect.right || y < m_maskRect.top || y >= m_maskRect.bottom)
    return 0;
  const u32 w = static_cast<u32>(m_maskRect.right - m_maskRect.left);
  return m_mask[static_cast<u32>(y - m_maskRect.top) * w + static_cast<u32>(x - m_maskRect.left)] > 128 ? 1 : 0;
}

void CKLF_CtrlButton::i_Track(i16 x, i16 y) {
  if (!m_enabled) {
    // Disabled, whatever else changed (a check set while disabled stays dim).
    StopHoverTimer();
    i_Look(klLookDisabled);
  } else if (m_pressed) {
    i_Look(PtInControl(x, y) ? klLookPressed : klLookPressedOut);
  } else if (PtInControl(x, y) && i_Hovers()) {
    i_Look(klLookHighlighted);
    StartHoverTimer();
  } else {
    StopHoverTimer();
    i_Look(klLookNormal);
  }
}

void CKLF_CtrlButton::i_TrackMouse() {
  const kltPOS p = GetMousePos();
  i_Track(static_cast<i16>(p.x), static_cast<i16>(p.y));
}

void CKLF_CtrlButton::Enable(u8 on) {
  CKLF_Control::Enable(on);
  // Disabled while held: no more repeats, and no click at the release.
  if (!on) m_pressed = 0, StopRepeat();
  i_TrackMouse();
}

u8 CKLF_CtrlButton::OnMouseMove(i16 x, i16 y, u8) {
  i_Track(x, y);
  return 1;
}

u8 CKLF_CtrlButton::OnLMouseDown(i16 x, i16 y, u8 mods) {
  if (m_menu) {
    u32 bits = mods;
    SendMessage(klMsgClick, &bits);
    if (m_window) m_window->ReleaseCapture(x, y, mods);
    return 1;
  }
  m_pressed = 1;
  i_Look(klLookPressed);
  StopHoverTimer();
  if (m_periodic && !IsRepeating()) StartRepeatDelay();
  return 1;
}

void CKLF_CtrlButton::i_Clicked(u8 mods) {
  i_Look(klLookHighlighted);
  StartHoverTimer();
  u32 bits = mods;
  SendMessage(klMsgClick, &bits);
}

u8 CKLF_CtrlButton::OnLMouseUp(i16 x, i16 y, u8 mods) {
  const u8 pressed = m_pressed;
  m_pressed = 0;
  StopRepeat();
  if (pressed && !m_menu && PtInControl(x, y)) i_Clicked(mods);
  else i_Track(x, y);  // a button disabled meanwhile stays so
  return 1;
}

void CKLF_CtrlButton::OnTimer(u16 kind) {
  if (kind == klTimerHover && !IsMouseOver()) {
    StopHoverTimer();
    i_Look(klLookNormal);
  } else if (kind == klTimerRepeatDelay) {
    RepeatDelayDone();
  } else if (kind == klTimerRepeat) {
    u32 bits = CKLF_Window::GetKeysStatus() & ~u32{klModSpace};
    SendMessage(klMsgClick, &bits);
  }
}
