// The edit line's layout, drawing, focus and mouse.
#include "CKLF_CtrlEditLine.h"

#include <algorithm>
#include <cstdlib>

#include "CKLF_App.h"
#include "CKLF_Window.h"

namespace {

// The table's defaults: backgrounds normal, highlighted, editing; the
// selection; background disabled; texts normal, highlighted, editing;
// selected text; text disabled.
const kltRGBA8 kColours[10] = {{217, 217, 217, 128}, {223, 200, 235, 255}, {255, 255, 255, 255},
                               {11, 32, 235, 130},   {175, 175, 175, 80},  {77, 77, 77, 255},
                               {30, 30, 30, 255},    {0, 0, 0, 255},       {255, 255, 255, 255},
                               {0, 0, 0, 80}};
constexpr i32 kEndWidth = 5;

}  // namespace

const kltRGBA8 CKLF_CtrlEditLine::kLightColours[10] = {
    {0xE1, 0xE3, 0xCB, 255}, {0xFA, 0xF7, 0xC1, 255}, {0xF5, 0xF7, 0xE4, 255}, {0xBA, 0x6C, 0x0A, 255},
    {0xE1, 0xE3, 0xCB, 255}, {0xB1, 0x03, 0x03, 255}, {0xB1, 0x03, 0x03, 255}, {0x00, 0x00, 0x00, 255},
    {0xFF, 0xFF, 0xFF, 255}, {0xBF, 0xC1, 0xAA, 255}};

const kltRGBA8 CKLF_CtrlEditLine::kDarkColours[10] = {
    {0x1D, 0x1D, 0x20, 255}, {0x26, 0x26, 0x2A, 255}, {0x10, 0x10, 0x12, 255}, {0x2F, 0x5F, 0x95, 255},
    {0x24, 0x24, 0x26, 255}, {0xD2, 0xD2, 0xD8, 255}, {0xF0, 0xF0, 0xF4, 255}, {0xFF, 0xFF, 0xFF, 255},
    {0xFF, 0xFF, 0xFF, 255}, {0x6A, 0x6A, 0x70, 255}};

CKLF_CtrlEditLine::CKLF_CtrlEditLine()
    : m_state(255),
      m_editable(1),
      m_numeric(0),
      m_negatives(1),
      m_floating(0),
      m_step(0.0),
      m_tabEnds(0),
      m_endKeysToWindow(0),
      m_selStart(-1),
      m_selEnd(-1),
      m_anchor(0),
      m_clickArmed(1),
      m_dragSelecting(0),
      m_caret(0),
      m_caretDelay(500),
      m_caretShown(0),
      m_caretWidth(1),
      m_firstVisible(0),
      m_visibleCount(0),
      m_margins{1, 1, 1, 1},
      m_textOffsetY(0),
      m_textRect{0, 0, 0, 0},
      m_font(nullptr),
      m_caretTimer(0),
      m_undoSaved(0) {
  m_type = klCtrlEditLine;
  std::copy(kColours, kColours + 10, m_colours);
}

CKLF_CtrlEditLine::~CKLF_CtrlEditLine() { RemoveLayer(m_layer); }

u8 CKLF_CtrlEditLine::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  CKLF_UIResources res = Resources();
  kltRECT_s r;
  if (!res.GetRectRecords(CKLF_String(KLF_ControlFolder(klCtrlEditLine)) + name, r) || r.right <= r.left ||
      r.bottom <= r.top)
    return FailLookup(res, klErrUIResource);
  if (!m_layer.Create(r, 2)) return FailFrom(m_layer, klErrUIResource);
  if (!AddLayer(m_layer)) return 0;
  m_textRect = {r.left + m_margins[0], r.top + m_margins[1], r.right - m_margins[2], r.bottom - m_margins[3]};
  m_caretDelay = static_cast<u16>(std::min<u32>(CKLF_App::GetCaretDelay(), 65535));
  m_created = 1;
  i_DrawState(klStateNormal);
  Redraw();
  return 1;
}

void CKLF_CtrlEditLine::SetOptions(u8 numeric, u8 negatives, u8 floating, u8 readOnly, i16 textOffsetY, u8 tabEnds) {
  m_numeric = numeric;
  m_negatives = negatives;
  m_floating = floating;
  m_editable = readOnly ? 0 : 1;
  m_textOffsetY = textOffsetY;
  m_tabEnds = tabEnds;
  m_step = numeric ? (floating ? 0.1 : 1.0) : 0.0;
  i_DrawState(m_state);
  Redraw();
}

void CKLF_CtrlEditLine::SetFont(CKLF_Font* font) {
  m_font = font;
  i_DrawState(m_state);
  Redraw();
}

void CKLF_CtrlEditLine::SetColors(const kltRGBA8 (&colours)[10]) {
  for (u32 i = 0; i < 10; ++i)
    if (colours[i].red != 1 || colours[i].alpha != 0) m_colours[i] = colours[i];
  i_DrawState(m_state);
  Redraw();
}

void CKLF_CtrlEditLine::Visible(u8 on) {
  m_layer.SetVisible(on);
  Redraw();
}

void CKLF_CtrlEditLine::SetVisibility(u8 on) {
  m_layer.SetVisible(on);
  i_DrawState(m_state);
  Redraw();
}

void CKLF_CtrlEditLine::Redraw() {
  if (m_created) RenderAndUpdate(m_layer.GetRect());
}

// Layout: the positions of the characters that fit from the first visible
// one, and the end after them. Without memory for them the line lays out
// none (the code stays in the control).
void CKLF_CtrlEditLine::i_Layout() {
  m_positions.Empty();
  m_widths.Empty();
  m_visibleCount = 0;
  if (!m_font) return;
  const u8* s = reinterpret_cast<const u8*>(m_text.GetStr());
  i64 pen = m_textRect.left;
  for (u32 i = static_cast<u32>(m_firstVisible); i < m_text.GetLength(); ++i) {
    i16 a = 0, c = 0, y = 0;
    u32 w = 0, h = 0;
    if (!m_font->GetChar(s[i], a, c, y, w, h)) a = c = 0, w = 0;
    const i64 x = pen + a;
    if (x + w + c > m_textRect.right) break;
    if (m_positions.Add(static_cast<i32>(x)) < 0 || m_widths.Add(static_cast<i32>(w)) < 0) return i_LayoutFailed();
    ++m_visibleCount;
    pen = x + w + c;
  }
  if (m_positions.Add(static_cast<i32>(pen)) < 0 || m_widths.Add(kEndWidth) < 0) return i_LayoutFailed();
}

void CKLF_CtrlEditLine::i_LayoutFailed() {
  m_positions.Empty();
  m_widths.Empty();
  m_visibleCount = 0;
  SetError(klErrNoMemory);
  NoteFailure(klErrNoMemory);
}

// The boundary nearest to x (the first on a tie).
i32 CKLF_CtrlEditLine::i_Nearest(i32 x) const {
  i32 best = 0;
  i64 bestDistance = -1;
  for (u32 k = 0; k < m_positions.GetSize(); ++k) {
    const i64 d = std::llabs(static_cast<i64>(m_positions[k]) - x);
    if (bestDistance < 0 || d < bestDistance) best = static_cast<i32>(k), bestDistance = d;
  }
  return m_firstVisible + best;
}

// Editing keeps the caret on screen: the first visible character is not
// after it, and moves right until the caret is among the laid out ones.
void CKLF_CtrlEditLine::i_ShowCaret() {
  m_firstVisible = std::max(0, std::min(m_firstVisible, m_caret));
  i_Layout();
  while (m_font && m_caret > m_firstVisible + m_visibleCount) {
    ++m_firstVisible;
    i_Layout();
  }
}

// Drawing

void CKLF_CtrlEditLine::i_DrawState(u8 state) {
  if (!m_created) return;
  m_state = state;
  const bool editing = state == klStateEditing;
  if (editing) {
    i_ShowCaret();
  } else {
    m_firstVisible = 0;
    i_Layout();
  }
  const u8 back = editing ? 2 : state == klStateHighlighted ? 1 : state == klStateDisabled ? 4 : 0;
  m_layer.Set(m_colours[back], 15);
  const kltPOS at = m_layer.GetPos();
  if (editing && i_HasSelection() && m_positions.GetSize() > 0) {
    const i32 first = std::max(m_selStart, m_firstVisible) - m_firstVisible;
    const i32 last = m_selEnd - m_firstVisible;
    const i32 left = first <= m_visibleCount ? m_positions[first] : m_textRect.right;
    const i32 right = last <= m_visibleCount ? m_positions[last] : m_textRect.right;
    const kltRECT_s sel = {std::max(left, m_textRect.left) - at.x, m_textRect.top - at.y,
                           std::min(right, m_textRect.right) - at.x, m_textRect.bottom - at.y};
    if (sel.right > sel.left) m_layer.Set(m_colours[3], 15, sel);
  }
  i_DrawText();
  m_caretShown = 0;
  if (editing && !i_HasSelection()) i_InvertCaret();
}

void CKLF_CtrlEditLine::i_DrawText() {
  u8* planes[5];
  u32 stride = 0;
  if (!m_font || !m_layer.GetImageChannels(planes, stride)) return;
  const u8 normal = m_state == klStateEditing ? 7 : m_state == klStateHighlighted ? 6 : m_state == klStateDisabled ? 9 : 5;
  i16 ascent = 0, descent = 0;
  m_font->GetMaxAB(ascent, descent);
  const kltPOS at = m_layer.GetPos();
  const i64 lw = m_layer.GetImageWidth(), lh = m_layer.GetImageHeight();
  const u8* s = reinterpret_cast<const u8*>(m_text.GetStr());
  for (i32 k = 0; k < m_visibleCount; ++k) {
    const i32 index = m_firstVisible + k;
    const bool selected = m_state == klStateEditing && index >= m_selStart && index < m_selEnd;
    const kltRGBA8 c = m_colours[selected ? 8 : normal];
    i16 a, after, yOffset;
    u32 w, h;
    const u8* cov = m_font->GetChar(s[index], a, after, yOffset, w, h);
    if (!cov) continue;
    const i64 x0 = m_positions[k] - at.x, y0 = m_textRect.top + m_textOffsetY + ascent + yOffset - at.y;
    for (i64 y = std::max<i64>(y0, 0); y < std::min<i64>(y0 + h, lh); ++y)
      for (i64 x = std::max<i64>(x0, 0); x < std::min<i64>(x0 + w, lw); ++x) {
        const u32 weight = u32{cov[(y - y0) * w + (x - x0)]} * c.alpha >> 8;
        const u8 ink[3] = {c.red, c.green, c.blue};
        for (u32 p = 0; p < 3; ++p) {
          u8& d = planes[p][y * stride + x];
          d = static_cast<u8>((ink[p] * weight + d * (255 - weight)) / 255);
        }
      }
  }
}

// The caret: a column at the caret's boundary, drawn and blinked by
// inverting the colour planes.
void CKLF_CtrlEditLine::i_InvertCaret() {
  u8* planes[5];
  u32 stride = 0;
  const i32 k = m_caret - m_firstVisible;
  if (k < 0 || k >= static_cast<i32>(m_positions.GetSize()) || !m_layer.GetImageChannels(planes, stride)) return;
  const kltPOS at = m_layer.GetPos();
  const i32 x0 = std::max<i32>(m_positions[k] - m_caretWidth / 2 - 1, m_textRect.left) - at.x;
  const i32 lw = m_layer.GetImageWidth(), lh = m_layer.GetImageHeight();
  for (i32 y = std::max(m_textRect.top - at.y, 0); y < std::min(m_textRect.bottom - at.y, lh); ++y)
    for (i32 x = std::max(x0, 0); x < std::min(x0 + m_caretWidth, lw); ++x)
      for (u32 p = 0; p < 3; ++p) planes[p][y * stride + x] = static_cast<u8>(255 - planes[p][y * stride + x]);
  m_caretShown ^= 1;
}

// Focus, hover and timers

void CKLF_CtrlEditLine::SetFocus(u8 on) {
  if (!on) {
    if (!m_focus) return;
    m_focus = 0;
    NotifyParentCtrlLostFocus();
    if (m_caretTimer) KillTimer(klTimerCaret);
    m_caretTimer = 0;
    m_dragSelecting = 0;
    m_firstVisible = 0;
    const kltPOS p = GetMousePos();
    i_Hover(static_cast<i16>(p.x), static_cast<i16>(p.y));
    return;
  }
  m_focus = 0;  // the window clears every control's focus first
  NotifyParentCtrlFocuseed();
  m_focus = 1;
  StopHoverTimer();
  i_SetSelection(0, static_cast<i32>(m_text.GetLength()));
  m_caret = m_firstVisible = 0;
  m_clickArmed = 0;
  i_DrawState(klStateEditing);
  Redraw();
  if (!m_caretTimer) m_caretTimer = SetTimer(m_caretDelay ? m_caretDelay : 500, klTimerCaret);
  // Without memory for them the undo and the focus text stay empty with
  // the code; the text itself is kept.
  if ((m_focusText = m_text).IsError() || (m_undoText = m_text).IsError()) SetError(klErrNoMemory);
}

void CKLF_CtrlEditLine::i_Hover(i16 x, i16 y) {
  const u8 over = PtInControl(x, y);
  if (over) StartHoverTimer();
  else StopHoverTimer();
  const u8 state = over ? klStateHighlighted : klStateNormal;
  if (state == m_state) return;
  i_DrawState(state);
  Redraw();
}

void CKLF_CtrlEditLine::Enable(u8 on) {
  CKLF_Control::Enable(on);
  if (on) {
    const kltPOS p = GetMousePos();
    i_Hover(static_cast<i16>(p.x), static_cast<i16>(p.y));
    return;
  }
  // A disabled line takes no keys.
  SetFocus(0);
  StopHoverTimer();
  i_DrawState(klStateDisabled);
  Redraw();
}

void CKLF_CtrlEditLine::OnTimer(u16 kind) {
  if (kind == klTimerCaret && m_focus && !i_HasSelection()) {
    i_InvertCaret();
    Redraw();
  } else if (kind == klTimerHover && !m_focus && !IsMouseOver()) {
    StopHoverTimer();
    if (m_enabled) i_DrawState(klStateNormal);
    Redraw();
  }
}

// Mouse

u8 CKLF_CtrlEditLine::PtAboveControl(i16 x, i16 y) {
  if (!m_created) return 0;
  const kltRECT_s r = m_layer.GetRect();
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom ? 1 : 0;
}

u8 CKLF_CtrlEditLine::OnMouseMove(i16 x, i16 y, u8) {
  if (!m_focus) {
    if (m_enabled) i_Hover(x, y);
    return 1;
  }
  if (!m_dragSelecting) return 1;
  const kltRECT_s r = m_layer.GetRect();
  if (x < r.left && m_firstVisible > 0) --m_firstVisible;
  else if (x >= r.right && m_firstVisible + m_visibleCount < static_cast<i32>(m_text.GetLength())) ++m_firstVisible;
  i_Layout();
  m_caret = i_Nearest(x);
  i_SetSelection(std::min(m_anchor, m_caret), std::max(m_anchor, m_caret));
  i_DrawState(klStateEditing);
  Redraw();
  return 1;
}

u8 CKLF_CtrlEditLine::OnLMouseDown(i16 x, i16, u8 mods) {
  i_Layout();
  const i32 at = i_Nearest(x);
  if (m_clickArmed && (mods & klModShift)) {
    m_caret = at;
    if (!i_HasSelection()) {
      i_SetSelection(std::min(m_anchor, at), std::max(m_anchor, at));
    } else if (std::abs(m_selStart - at) < std::abs(m_selEnd - at)) {
      i_SetSelection(at, m_selEnd);
    } else {
      i_SetSelection(m_selStart, at);
    }
  } else {
    // The click that gave the focus keeps the whole text selected.
    if (m_clickArmed) i_SetSelection(-1, -1);
    m_caret = m_anchor = at;
  }
  m_dragSelecting = 1;
  i_DrawState(m_focus ? u8{klStateEditing} : m_state);
  Redraw();
  return 1;
}

u8 CKLF_CtrlEditLine::OnLMouseUp(i16, i16, u8) {
  m_clickArmed = 1;
  m_dragSelecting = 0;
  return 1;
}

u8 CKLF_CtrlEditLine::OnLMouseDoubleClick(i16, i16, u8) {
  SelectWord(m_caret);
  return 0;
}

u8 CKLF_CtrlEditLine::OnLMouseTripleClick(i16, i16, u8) {
  SelectAll();
  return 1;
}

u8 CKLF_CtrlEditLine::OnMouseWheel(i16, i16, u8 mods, i16 delta) {
  if (!m_focus || !m_numeric || m_step == 0.0) return 0;
  StepDigitalEdit(delta * ((mods & klModShift) ? 10 : 1));
  return 1;
}
