// The window's event handler: keyboard, mouse and window events of the
// platform routed to the controls and to the window's own operations, and
// the event-queue operations that long operations call.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "CKLF_App.h"
#include "CKLF_CtrlEditLine.h"
#include "CKLF_Window.h"

namespace {

CKLP_UIPlatform* UI() { return KLP_GetUI(); }

struct KeyMapping {
  u8 key;     // toolkit key, 0 = none
  char ch;    // layout-independent accelerator character, 0 = none
};

// Virtual key code to toolkit key and accelerator character.
KeyMapping MapVirtualKey(u8 vk) {
  static const u8 kSpecial[][2] = {
      {0x7E, klKeyUp},     {0x7D, klKeyDown},      {0x7B, klKeyLeft},   {0x7C, klKeyRight},  {0x33, klKeyBackspace},
      {0x24, klKeyReturn}, {0x4C, klKeyReturn},    {0x35, klKeyEscape}, {0x75, klKeyDelete}, {0x77, klKeyEnd},
      {0x73, klKeyHome},   {0x30, klKeyTab},       {0x7A, 220},         {0x78, 221},         {0x63, 222},
      {0x76, 223},         {0x60, 224},            {0x61, 225},         {0x62, 226},         {0x64, 227},
      {0x65, 228},         {0x6D, 229},            {0x67, 230},         {0x6F, 231}};
  static const u8 kPunct[][2] = {{0x18, '='}, {0x2B, ','},  {0x1B, '-'},  {0x2F, '.'}, {0x29, ';'},
                                 {0x2C, '/'}, {0x32, '`'},  {0x21, '['},  {0x1E, ']'}, {0x2A, '\\'},
                                 {0x27, '\''}, {0x45, '+'}, {0x4E, '_'}};
  for (const auto& s : kSpecial)
    if (s[0] == vk) return {s[1], 0};
  for (u8 i = 0; i < 26; ++i)
    if (klpVKLetters[i] == vk) return {0, static_cast<char>('A' + i)};
  for (u8 i = 0; i < 10; ++i)
    if (klpVKDigits[i] == vk) return {0, static_cast<char>('0' + i)};
  for (const auto& p : kPunct)
    if (p[0] == vk) return {0, static_cast<char>(p[1])};
  return {0, 0};
}

}  // namespace

int32_t CKLF_Window::OnPlatformEvent(const KLP_Event& e) {
  switch (e.eventClass) {
    case klpClassKeyboard: return i_OnKeyboard(e);
    case klpClassMouse: return i_OnMouse(e);
    case klpClassWindow: return i_OnWindow(e);
    default: return 0;
  }
}

int32_t CKLF_Window::i_OnKeyboard(const KLP_Event& e) {
  const kltRECT_s r = GetWindowRect();
  OnSetCursor(static_cast<i16>(e.where.x - r.left), static_cast<i16>(e.where.y - r.top));
  const u8 mods = i_Mods(e.modifiers);
  const KeyMapping map = MapVirtualKey(e.virtualKey);
  const u8 ch = e.charCode;
  const u8 typed = ch && (mods & klModCommand) ? static_cast<u8>(ch - 0x60) : ch;
  // A key with neither a toolkit key nor a character (a modifier alone)
  // delivers nothing.
  if (e.kind == klpKeyUp) {
    // The release reaches the window too (a key closes the About window on release).
    if (map.key || ch) iKeyUp(map.key ? map.key : typed, mods);
    return 1;
  }
  if (e.kind != klpKeyDown && e.kind != klpKeyRepeat) return 0;
  m_used = 1;
  if (e.kind == klpKeyDown && m_App) {
    u8 accel = 0;
    if (std::isalnum(ch)) accel = ch;
    else if (map.key >= klKeyF1 && map.key <= klKeyF12) accel = map.key;
    else if (map.ch) accel = static_cast<u8>(map.ch);
    if (accel) m_App->TranslateAccelerator(accel, mods, this);
  }
  if (map.key) iKeyDown(map.key, mods);
  else if (ch) iKeyChar(typed, mods);
  return 1;
}

int32_t CKLF_Window::i_OnMouse(const KLP_Event& e) {
  const kltRECT_s r = GetWindowRect();
  const i16 x = static_cast<i16>(e.where.x - r.left), y = static_cast<i16>(e.where.y - r.top);
  const u8 mods = i_Mods(e.modifiers);
  OnSetCursor(x, y);
  const bool secondary = e.button == 2 || (e.button == 1 && (mods & klModControl));
  switch (e.kind) {
    case klpMouseDown:
      // A floating window that is not active only takes the click to become active.
      if (m_floating && UI() && UI()->GetActiveWindow() != m_handle) return 0;
      m_used = 1;
      if (e.button == 1 && !secondary) iLMouseDown(x, y, mods, e.where, e.time);
      else if (secondary) iRMouseDown(x, y, mods);
      return 0;
    case klpMouseUp:
      if (e.button == 1 && !secondary) iLMouseUp(x, y, mods);
      else if (secondary) OnRMouseUp(x, y, mods);
      return 1;
    case klpMouseMoved:
    case klpMouseDragged: iMouseMove(x, y, mods); return 1;
    case klpMouseWheel: {
      CKLF_Window* under = WindowFromPoint({e.where.x, e.where.y});
      if (!under) return 0;
      if (under != this) return UI()->DispatchEvent(e, under->m_handle);
      iMouseWheel(x, y, mods, static_cast<i16>(e.wheelDelta));
      return 0;
    }
    default: return 0;
  }
}

void CKLF_Window::OnCloseRequest() {
  static const char kCloseBox[] = "_CloseX";
  const size_t suffix = sizeof kCloseBox - 1;
  for (u32 i = 0; i < GetControlCount(); ++i) {
    CKLF_Control* c = GetControl(i);
    const CKLF_String& name = c->GetName();
    const size_t length = name.GetLength();
    if (c->GetType() != klCtrlButton || length < suffix ||
        std::strcmp(name.GetStr() + length - suffix, kCloseBox) != 0)
      continue;
    if (!c->IsEnabled()) return;
    // As its press does: a field's edit ends before the click, not later
    // when the closed window loses the keys.
    if (m_focused != static_cast<i32>(i)) c->SetFocus(1);
    u32 mods = 0;
    c->SendMessage(klMsgClick, &mods);
    return;
  }
  iKeyDown(klKeyEscape, 0);
}

int32_t CKLF_Window::i_OnWindow(const KLP_Event& e) {
  switch (e.kind) {
    case klpWindowDraw: OnRedraw(klNullRect); return 1;
    case klpWindowActivated: i_ShowCaption(1); return 0;
    case klpWindowDeactivated: i_ShowCaption(0); return 0;
    case klpWindowClose: OnCloseRequest(); return 1;
    case klpWindowDispose:
      if (!m_parent && m_appLoop && UI()) UI()->QuitLoop(0);
      // A modal window closed without EndModal would leave its loop running
      // with all input refused.
      i_QuitModalLoop();
      return 0;
    default: return 0;
  }
}

void CKLF_Window::i_ShowCaption(u8 active) {
  if (!m_resource.HasActiveCaption() || !m_resource.HasInactiveCaption()) return;
  m_resource.GetCaptionActive().SetVisible(active);
  m_resource.GetCaptionInactive().SetVisible(active ? 0 : 1);
  RenderLayer(m_activeCaption);
  UpdateLayer(m_activeCaption);
  // A window manager may hand the keys to another window for a moment
  // while windows open: a window not used yet gets its field back.
  if (!active) {
    const i32 had = m_used ? -1 : m_focused;
    OnCtrlFocused(0xFFFFFFFFu);
    m_openingFocus = had;
    return;
  }
  CKLF_Control* c = m_openingFocus >= 0 && m_focused < 0 ? GetControl(static_cast<u32>(m_openingFocus)) : nullptr;
  m_openingFocus = -1;
  if (c && c->IsEnabled() && !i_Unreachable(c)) c->SetFocus(1);
}

// Keys

// A dialog (movable-modal, or with the modal hint) answers Return and
// Escape with its default and cancel buttons also from a field: the field
// ends its editing with the key first (Escape restoring its text), then the
// window has it, so one press answers.
void CKLF_Window::iKeyDown(u8 key, u8 mods) {
  CKLF_Control* c = m_focused >= 0 ? GetControl(static_cast<u32>(m_focused)) : nullptr;
  if (key == klKeyTab && c && c->GetType() == klCtrlEditLine) return i_TabToEditLine(m_focused, mods & klModShift);
  const u8 answers = (key == klKeyReturn || key == klKeyEscape) && (m_movableModal || m_modalHint);
  if (c && c->OnKeyDown(key, mods) && (!answers || m_closing)) return;
  OnKeyDown(key, mods);
}

// Tab in an edit line: losing the focus commits the field (the window's
// OnCtrlLostFocus), then the next edit line that takes keys (the previous
// one with Shift, wrapping around; the same one when it is alone) gets the
// focus, so the next characters typed land in a field.
void CKLF_Window::i_TabToEditLine(i32 from, u8 backwards) {
  const i32 found = i_NextEditLine(from, backwards);
  const i32 next = found >= 0 ? found : from;
  GetControl(static_cast<u32>(from))->SetFocus(0);
  // The lost-focus handler may have moved the focus or closed the window.
  if (m_focused >= 0 || m_closing) return;
  if (CKLF_Control* c = GetControl(static_cast<u32>(next))) c->SetFocus(1);
}

i32 CKLF_Window::i_NextEditLine(i32 from, u8 backwards) {
  const i32 n = static_cast<i32>(m_controls.GetSize());
  for (i32 step = 1; step <= n; ++step) {
    const i32 i = ((backwards ? from - step : from + step) % n + n) % n;
    CKLF_Control* c = GetControl(static_cast<u32>(i));
    if (c->GetType() == klCtrlEditLine && c->IsEnabled() && !i_Unreachable(c) &&
        static_cast<CKLF_CtrlEditLine*>(c)->IsEditable())
      return i;
  }
  return -1;
}

u8 CKLF_Window::FocusFirstEditLine() {
  const i32 first = i_NextEditLine(-1, 0);
  if (first < 0) return 0;
  GetControl(static_cast<u32>(first))->SetFocus(1);
  return 1;
}

void CKLF_Window::iKeyUp(u8 key, u8 mods) {
  if (CKLF_Control* c = m_focused >= 0 ? GetControl(static_cast<u32>(m_focused)) : nullptr) c->OnKeyUp(key, mods);
  OnKeyUp(key, mods);
}

void CKLF_Window::iKeyChar(u8 key, u8 mods) {
  if (CKLF_Control* c = m_focused >= 0 ? GetControl(static_cast<u32>(m_focused)) : nullptr) c->OnKeyChar(key, mods);
  OnKeyChar(key, mods);
}

// Mouse

void CKLF_Window::i_CountClick(i16 x, i16 y, u32 now, u8& dbl, u8& triple) {
  dbl = triple = 0;
  const bool near = std::abs(x - m_lastClickX) <= static_cast<i32>(m_tolX) &&
                    std::abs(y - m_lastClickY) <= static_cast<i32>(m_tolY);
  if (near && now - m_lastClickTime <= m_dblTime) {
    if (m_dblSeen) triple = 1;
    else dbl = 1;
    m_dblSeen = dbl;
  } else {
    m_dblSeen = 0;
  }
  m_lastClickTime = now;
  m_lastClickX = x;
  m_lastClickY = y;
  if (triple) {
    // A fourth press starts anew, whatever the clock reads.
    m_lastClickTime = 0;
    m_lastClickX = m_lastClickY = klNotSet;
  }
}

u8 CKLF_Window::iLMouseDown(i16 x, i16 y, u8 mods, KLP_Point global, u32 time) {
  if (PtInCaption(x, y)) {
    if (UI()) UI()->DragWindow(m_handle, global);
    return 0;
  }
  u8 dbl = 0, triple = 0;
  i_CountClick(x, y, time, dbl, triple);
  i32 consumed = -1;
  for (i32 i = static_cast<i32>(m_controls.GetSize()) - 1; i >= 0; --i) {
    CKLF_Control* c = GetControl(static_cast<u32>(i));
    if (c->IsCtrlFiltered() || !c->PtInControl(x, y)) continue;
    m_captured = i;
    if (m_focused != i) c->SetFocus(1);
    if (c->OnLMouseDown(x, y, mods)) {
      consumed = i;
      break;
    }
  }
  if (consumed < 0) OnCtrlFocused(0xFFFFFFFFu);
  const u8 result = OnLMouseDown(x, y, mods);
  // A control takes a double click only when the press before was its own.
  const u8 same = consumed == m_lastPressed;
  m_lastPressed = consumed;
  CKLF_Control* hit = consumed >= 0 && same ? GetControl(static_cast<u32>(consumed)) : nullptr;
  if (dbl) {
    if (hit) hit->OnLMouseDoubleClick(x, y, mods);
    OnLMouseDoubleClick(x, y, mods);
  } else if (triple) {
    if (hit) hit->OnLMouseTripleClick(x, y, mods);
    OnLMouseTripleClick(x, y, mods);
  }
  return result;
}

u8 CKLF_Window::iLMouseUp(i16 x, i16 y, u8 mods) {
  if (CKLF_Control* c = m_captured >= 0 ? GetControl(static_cast<u32>(m_captured)) : nullptr) {
    m_captured = -1;
    c->OnLMouseUp(x, y, mods);
  } else {
    m_captured = -1;
    for (i32 i = static_cast<i32>(m_controls.GetSize()) - 1; i >= 0; --i) {
      CKLF_Control* o = GetControl(static_cast<u32>(i));
      if (!o->IsCtrlFiltered() && o->PtInControl(x, y) && o->OnLMouseUp(x, y, mods)) break;
    }
  }
  i_RefreshHover(x, y);
  return OnLMouseUp(x, y, mods);
}

// A click can hide the control under a resting pointer and show another in
// its place (a button swapped for its opposite): the hover moves on to
// what is there now without waiting for the mouse to move.
void CKLF_Window::i_RefreshHover(i16 x, i16 y) {
  CKLF_Control* hover = m_handle && m_hover >= 0 ? GetControl(static_cast<u32>(m_hover)) : nullptr;
  if (!hover || m_captured >= 0 || !i_Unreachable(hover)) return;
  i32 candidate = -1;
  for (i32 i = static_cast<i32>(m_controls.GetSize()) - 1; i >= 0 && candidate < 0; --i) {
    CKLF_Control* c = GetControl(static_cast<u32>(i));
    if (!i_Unreachable(c) && c->PtAboveControl(x, y)) i_OfferHover(i, candidate);
  }
  if (candidate != m_hover) {
    m_hover = candidate;
    OnAboveControl(candidate < 0 ? 0xFFFFFFFFu : static_cast<u32>(candidate));
  }
}

u8 CKLF_Window::i_Unreachable(CKLF_Control* c) {
  return c->IsCtrlFiltered() || (!c->IsEnabled() && c->GetDisabledOpacity() == 0) ? 1 : 0;
}

u8 CKLF_Window::iRMouseDown(i16 x, i16 y, u8 mods) {
  if (OnRMouseDown(x, y, mods)) return 1;
  return OnContextMenu(x, y, mods);
}

// Offers a control as the one under the mouse: the hover control stays the
// candidate; another becomes it when the window accepts it.
void CKLF_Window::i_OfferHover(i32 index, i32& candidate) {
  if (index == m_hover) {
    candidate = index;
  } else if (OnAboveControl(static_cast<u32>(index))) {
    m_hover = index;
    candidate = index;
  }
}

u8 CKLF_Window::iMouseMove(i16 x, i16 y, u8 mods) {
  i32 candidate = -1;
  if (CKLF_Control* cap = m_captured >= 0 ? GetControl(static_cast<u32>(m_captured)) : nullptr) {
    i_OfferHover(m_captured, candidate);
    cap->OnMouseMove(x, y, mods);
  } else {
    for (i32 i = static_cast<i32>(m_controls.GetSize()) - 1; i >= 0; --i) {
      CKLF_Control* c = GetControl(static_cast<u32>(i));
      if (i_Unreachable(c)) continue;
      if (candidate < 0 && c->PtAboveControl(x, y)) i_OfferHover(i, candidate);
      if (c->PtInControl(x, y) && c->OnMouseMove(x, y, mods)) break;
    }
  }
  if (candidate != m_hover) {
    m_hover = candidate;
    OnAboveControl(candidate < 0 ? 0xFFFFFFFFu : static_cast<u32>(candidate));
  }
  return OnMouseMove(x, y, mods);
}

u8 CKLF_Window::iMouseWheel(i16 x, i16 y, u8 mods, i16 delta) {
  CKLF_Control* focused = m_focused >= 0 ? GetControl(static_cast<u32>(m_focused)) : nullptr;
  if (focused && focused->GetType() == klCtrlEditLine && focused->OnMouseWheel(x, y, mods, delta)) return 1;
  if (CKLF_Control* cap = m_captured >= 0 ? GetControl(static_cast<u32>(m_captured)) : nullptr) {
    if (cap->OnMouseWheel(x, y, mods, delta)) return 1;
  } else {
    for (i32 i = static_cast<i32>(m_controls.GetSize()) - 1; i >= 0; --i) {
      CKLF_Control* c = GetControl(static_cast<u32>(i));
      if (!c->IsCtrlFiltered() && c->PtInControl(x, y) && c->OnMouseWheel(x, y, mods, delta)) return 1;
    }
  }
  return OnMouseWheel(x, y, mods, delta);
}

i32 CKLF_Window::i_ControlAt(i16 x, i16 y) {
  for (i32 i = static_cast<i32>(m_controls.GetSize()) - 1; i >= 0; --i) {
    CKLF_Control* c = GetControl(static_cast<u32>(i));
    if (!c->IsCtrlFiltered() && c->PtInControl(x, y)) return i;
  }
  return -1;
}

u8 CKLF_Window::OnSetCursor(i16 x, i16 y) {
  const i32 at = m_captured >= 0 ? m_captured : i_ControlAt(x, y);
  CKLF_Control* c = at >= 0 ? GetControl(static_cast<u32>(at)) : nullptr;
  if (c && c->GetType() == klCtrlEditLine) {
    SetIBeamCursor();
    return 1;
  }
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0;
  SetNormalCursor();
  return 1;
}

// The event queue

void CKLF_Window::SubProcessMessages(CKLF_Window* target, u8 keepTimers, u8 windowEvents, u8 keyboard, u8 mouse) {
  CKLP_UIPlatform* ui = UI();
  if (!ui) return;
  const u32 mask = (mouse ? u32{klpMaskMouse} : 0u) | (keyboard ? u32{klpMaskKeyboard} : 0u) | (windowEvents ? u32{klpMaskWindow} : 0u);
  const u8 saved = m_timersOn;
  m_timersOn = keepTimers;
  for (KLP_Event e; ui->TakeEvent(mask, e);) ui->DispatchEvent(e, target ? target->m_handle : 0);
  // An outer caller's suspension stays in force.
  m_timersOn = saved;
}

void CKLF_Window::HoldInput(u8 on) {
  if (m_handle && UI()) UI()->HoldInput(m_handle, on != 0);
}

u8 CKLF_Window::CheckForInputMessagesInQueue() {
  CKLP_UIPlatform* ui = UI();
  const u8 saved = m_timersOn;
  m_timersOn = 0;
  const bool queued = ui && ui->PeekEvent(klpMaskInput);
  m_timersOn = saved;
  return queued ? 1 : 0;
}

u8 CKLF_Window::ESCIsInMessageQueue() {
  CKLP_UIPlatform* ui = UI();
  const u8 saved = m_timersOn;
  m_timersOn = 0;
  u8 found = 0;
  for (KLP_Event e; !found && ui && ui->TakeEvent(klpMaskKeyboard, e);) {
    const bool commandPeriod = (e.modifiers & klpCmdKey) && e.charCode == '.';
    found = e.kind != klpKeyUp && (e.virtualKey == klpVKEscape || commandPeriod) ? 1 : 0;
  }
  m_timersOn = saved;
  return found;
}

void CKLF_Window::CleanMessageQueue() {
  if (UI()) UI()->FlushEvents();
}
