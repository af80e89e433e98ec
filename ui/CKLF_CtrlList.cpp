#include "CKLF_CtrlList.h"

#include <algorithm>

#include "CKLF_CtrlScrollBar.h"
#include "CKLF_Window.h"

namespace {
const char* const kLooks[] = {"Normal", "Highlighted", "Working", "Disabled", "Selected"};
constexpr u8 kSelected = 4;
const kltRGBA8 kClear = {0, 0, 0, 0};
}  // namespace

CKLF_CtrlList::CKLF_CtrlList()
    : m_listRect{0, 0, 0, 0},
      m_backRect(klNullRect),
      m_state(255),
      m_leftMargin(5),
      m_topMargin(5),
      m_lineHeight(20),
      m_current(-1),
      m_firstVisible(0),
      m_multiple(0),
      m_showUnfocused(1),
      m_visibleLines(1),
      m_barId(0),
      m_bar(nullptr),
      m_lastSynced(-1) {
  m_type = klCtrlList;
}

CKLF_CtrlList::~CKLF_CtrlList() {
  RemoveAllItems(0, 0);
  RemoveLayer(m_backLayer);
  RemoveLayer(m_textLayer);
}

// Init and options

u8 CKLF_CtrlList::i_LoadPictures(const CKLF_String& folder) {
  CKLF_UIResources res = Resources();
  for (u8 i = 0; i < klPictures; ++i) {
    if (!m_back[i].LoadOptional(res, folder + ">Background_" + kLooks[i]) ||
        !m_fore[i].LoadOptional(res, folder + ">Foreground_" + kLooks[i]))
      return FailFrom(res, klErrNoMemory);
    if (m_back[i].IsPresent()) m_backRect = KLF_UnionRect(m_backRect, m_back[i].GetRect());
  }
  return 1;
}

u8 CKLF_CtrlList::Init(CKLF_Window* window, u32 id, const CKLF_String& name, CKLF_Storage* storage) {
  if (!CKLF_Control::Init(window, id, name, storage)) return 0;
  if (!storage) return Fail(klErrEmpty);
  const CKLF_String folder = CKLF_String(KLF_ControlFolder(klCtrlList)) + name;
  if (!i_LoadPictures(folder)) return 0;
  CKLF_UIResources res = Resources();
  const kltRECT_s& r = m_listRect;
  if (!m_back[kSelected].IsPresent() || !m_fore[kSelected].IsPresent() || !res.GetRectRecords(folder, m_listRect) ||
      r.right <= r.left || r.bottom <= r.top || r.right > 32767 || r.bottom > 32767)
    return FailLookup(res, klErrUIResource);
  if (!m_textLayer.Create(static_cast<i16>(r.left), static_cast<i16>(r.top), 1, static_cast<u16>(r.right - r.left),
                          static_cast<u16>(r.bottom - r.top)))
    return FailFrom(m_textLayer, klErrNoMemory);
  if (!m_backLayer.Create(m_backRect, 2)) return FailFrom(m_backLayer, klErrNoMemory);
  if (!AddLayer(m_backLayer) || !AddLayer(m_textLayer)) return 0;
  m_created = 1;
  SetState(1);
  return 1;
}

void CKLF_CtrlList::SetOptions(u8 multiple, u8 showSelectionUnfocused, u16 lineHeight, i16 leftMargin, i16 topMargin,
                               u32 scrollBarId) {
  m_multiple = multiple;
  m_showUnfocused = showSelectionUnfocused;
  m_lineHeight = std::max<u16>(lineHeight, 1);
  m_leftMargin = static_cast<u16>(std::max<i16>(leftMargin, 0));
  m_topMargin = static_cast<u16>(std::max<i16>(topMargin, 0));
  m_barId = scrollBarId;
  CKLF_Control* bar = GetControlByID(scrollBarId);
  m_bar = bar && bar->GetType() == klCtrlScrollBar ? static_cast<CKLF_CtrlScrollBar*>(bar) : nullptr;
  if (m_bar) {
    m_bar->SetFocusMaster(this);
    m_bar->EnableMessageForwardingToFocusMaster(1);
  }
  if (m_created) m_visibleLines = static_cast<u32>(m_listRect.bottom - m_listRect.top) / m_lineHeight + 1;
  SetState(254);
  i_SetBarInfo();
}

void CKLF_CtrlList::SetFont(CKLF_Font* font) {
  // The rows are drawn again by SetState, where a failure clears the layer.
  (void)m_textLayer.SetFont(font);
  SetState(253);
}

// Items

CKLF_CtrlList::Item* CKLF_CtrlList::i_Item(u32 index) const {
  return index < m_items.GetSize() ? static_cast<Item*>(m_items[index]) : nullptr;
}

i32 CKLF_CtrlList::AddItem(const char* text, u8 selected, void* user, u8 deferUpdate) {
  const u32 index = m_items.GetSize();
  Item* item = new Item{selected ? u8{1} : u8{0}, user};
  if (m_items.Add(item) < 0) {
    delete item;
    return FailFrom(m_items, klErrNoMemory, -1);
  }
  if (m_texts.Add(text ? text : "", index) < 0) {
    m_items.DeleteAt(index);
    delete item;
    return FailFrom(m_texts, klErrNoMemory, -1);
  }
  if (!deferUpdate) UpdateAfterChanges();
  return static_cast<i32>(index);
}

void CKLF_CtrlList::UpdateAfterChanges() {
  SetState(254);
  i_SetBarInfo();
}

void CKLF_CtrlList::i_SetBarInfo() {
  if (m_bar) m_bar->SetInfo(GetItemsCount(), m_visibleLines - 1);
}

u8 CKLF_CtrlList::GetItem(u32 index, CKLF_String* text, u8* selected, void** user) const {
  const Item* item = i_Item(index);
  if (!item) return 0;
  if (text && !m_texts.GetAt(index, *text)) return 0;
  if (selected) *selected = item->selected;
  if (user) *user = item->user;
  return 1;
}

u8 CKLF_CtrlList::SetItem(u32 index, const CKLF_String* text, const u8* selected, void* const* user, u8 redraw) {
  Item* item = i_Item(index);
  if (!item) return 0;
  if (text && !m_texts.SetAt(index, *text, index)) return FailFrom(m_texts, klErrNoMemory);
  if (selected) item->selected = *selected ? 1 : 0;
  if (user) item->user = *user;
  if (redraw) SetState(254);
  return 1;
}

i32 CKLF_CtrlList::GetSelectedItem() const {
  for (u32 i = 0; i < m_items.GetSize(); ++i)
    if (i_Item(i)->selected) return static_cast<i32>(i);
  return -1;
}

void CKLF_CtrlList::RemoveAllItems(u8 redraw, u8 notify) {
  for (u32 i = 0; i < m_items.GetSize(); ++i) delete i_Item(i);
  m_items.Empty();
  m_texts.Empty();
  m_current = -1;
  m_firstVisible = 0;
  if (redraw) UpdateAfterChanges();
  if (notify) SendMessage(klMsgListSelection, nullptr);
}

void CKLF_CtrlList::RemoveSelection(u8 redraw, u8 notify) {
  for (u32 i = 0; i < m_items.GetSize(); ++i) i_Item(i)->selected = 0;
  if (redraw) SetState(254);
  if (notify) SendMessage(klMsgListSelection, nullptr);
}

// Selection

void CKLF_CtrlList::SelectItems(u32 from, u32 to, u8 clearOthers, u8 toggle, u8 scrollIntoView, u8 redraw,
                                u8 notify) {
  if (clearOthers)
    for (u32 i = 0; i < m_items.GetSize(); ++i) i_Item(i)->selected = 0;
  // Signed and cut to the list, so a walk down to item 0 ends.
  const i64 lo = std::min(from, to), hi = std::min<i64>(std::max(from, to), i64{m_items.GetSize()} - 1);
  const bool down = to <= from;
  for (i64 k = 0; k <= hi - lo; ++k) {
    const i64 i = down ? hi - k : lo + k;
    Item* item = i_Item(static_cast<u32>(i));
    item->selected = toggle ? !item->selected : 1;
    m_current = static_cast<i32>(i);
  }
  if (scrollIntoView && lo <= hi) i_ScrollTo(m_current);
  if (redraw) SetState(254);
  if (notify) SendMessage(klMsgListSelection, nullptr);
}

// The current item on screen: below the last whole line it becomes that
// line, above the first it becomes the first.
void CKLF_CtrlList::i_ScrollTo(i32 current) {
  if (current < 0) return;
  const u32 c = static_cast<u32>(current);
  if (m_visibleLines < 2) m_firstVisible = c;  // no whole line: the item alone
  else if (c >= m_firstVisible + m_visibleLines - 1) m_firstVisible = c - m_visibleLines + 2;
  else if (c < m_firstVisible) m_firstVisible = c;
}

// Drawing

const CKLF_CtrlPicture* CKLF_CtrlList::i_Pick(u8 part, u8 state, u8& dimmed) const {
  const CKLF_CtrlPicture* pictures = part ? m_fore : m_back;
  const u8 look = state == 4 ? 2 : state == 8 ? 3 : state == 2 ? 1 : 0;
  dimmed = look == 3 && !pictures[3].IsPresent();
  if (pictures[look].IsPresent()) return &pictures[look];
  return pictures[0].IsPresent() ? &pictures[0] : nullptr;
}

// Rows of a picture from window row y on into a layer at their place.
void CKLF_CtrlList::i_PaintRow(CKLF_Layer& layer, const CKLF_CtrlPicture& picture, i32 y, i32 rows) {
  const kltRECT_s r = picture.GetRect();
  const kltPOS at = layer.GetPos();
  if (rows <= 0 || !picture.IsPresent()) return;
  CKLF_UIResources::SetDataToImage(&layer, static_cast<i16>(r.left - at.x), static_cast<i16>(y - at.y),
                                   picture.GetData(), r, static_cast<i16>(y - r.top), static_cast<i16>(rows));
}

void CKLF_CtrlList::i_PaintSelection() {
  const i32 height = m_listRect.bottom - m_listRect.top;
  for (u32 k = 0; k < m_visibleLines; ++k) {
    const Item* item = i_Item(m_firstVisible + k);
    if (!item) break;
    if (!item->selected) continue;
    const i32 top = static_cast<i32>(k * m_lineHeight + m_topMargin);
    const i32 rows = std::min<i32>(m_lineHeight, height - top);
    if (rows <= 0) break;
    i_PaintRow(m_textLayer, m_fore[kSelected], m_listRect.top + top, rows);
    i_PaintRow(m_backLayer, m_back[kSelected], m_listRect.top + top, rows);
    if (!m_multiple) break;
  }
}

// A text that cannot be made is returned failed (IsError).
CKLF_String CKLF_CtrlList::i_VisibleText() const {
  CKLF_String text;
  for (u32 k = 0; k <= m_visibleLines && m_firstVisible + k < m_texts.GetSize(); ++k)
    if ((text += *m_texts.GetPtrAt(m_firstVisible + k)).IsError() || (text += '\n').IsError()) break;
  return text;
}

void CKLF_CtrlList::SetState(u8 state) {
  if (!m_created) return;
  const u8 look = state >= 253 ? (m_state == 255 ? u8{1} : m_state) : state;
  u8 dimBack = 0, dimFore = 0;
  const CKLF_CtrlPicture* back = i_Pick(0, look, dimBack);
  const CKLF_CtrlPicture* fore = i_Pick(1, look, dimFore);
  m_backLayer.SetOpacity(dimBack ? m_disabledOpacity : 255);
  m_textLayer.SetOpacity(dimFore ? m_disabledOpacity : 255);
  if (back) back->CopyTo(m_backLayer);
  else m_backLayer.Set(kClear, 15);
  if (fore) fore->CopyTo(m_textLayer);
  else m_textLayer.Set(kClear, 15);
  if (m_focus || m_showUnfocused) i_PaintSelection();
  // The glyphs are the text layer's alpha over the foreground's colours.
  if (!m_textLayer.SetText(i_VisibleText(), kClear, m_lineHeight, m_leftMargin, m_topMargin)) {
    if (m_textLayer.GetError() == klErrNoMemory) NoteFailure(klErrNoMemory);
    m_textLayer.Set(kClear, 8);
  }
  m_state = look;
  Redraw();
  if (state != 253 && m_bar && static_cast<i32>(m_firstVisible) != m_lastSynced) {
    m_lastSynced = static_cast<i32>(m_firstVisible);
    m_bar->SetPosition(m_firstVisible);
  }
}

kltRECT_s CKLF_CtrlList::GetRenderRect() {
  return m_created ? KLF_UnionRect(m_backLayer.GetRect(), m_listRect) : klNullRect;
}

void CKLF_CtrlList::Redraw() { RenderAndUpdate(GetRenderRect()); }

// Focus, hover and input

void CKLF_CtrlList::SetFocus(u8 on) {
  if (on) {
    m_focus = 0;  // the window clears every control's focus first
    NotifyParentCtrlFocuseed();
    m_focus = 1;
    StopHoverTimer();
    SetState(4);
    return;
  }
  if (!m_focus) return;
  m_focus = 0;
  NotifyParentCtrlLostFocus();
  const kltPOS p = GetMousePos();
  i_Hover(static_cast<i16>(p.x), static_cast<i16>(p.y));
}

void CKLF_CtrlList::i_Hover(i16 x, i16 y) {
  const u8 over = PtInControl(x, y);
  if (over) StartHoverTimer();
  else StopHoverTimer();
  if (m_state != (over ? 2 : 1)) SetState(over ? 2 : 1);
}

void CKLF_CtrlList::Enable(u8 on) {
  CKLF_Control::Enable(on);
  if (!on) {
    SetFocus(0);  // keys reach the focused control, enabled or not
    StopHoverTimer();
  }
  SetState(on ? 1 : 8);
}

void CKLF_CtrlList::OnTimer(u16 kind) {
  if (kind != klTimerHover || m_focus || IsMouseOver()) return;
  StopHoverTimer();
  SetState(1);
}

u8 CKLF_CtrlList::OnMouseMove(i16 x, i16 y, u8) {
  if (!m_focus && m_enabled) i_Hover(x, y);
  return 1;
}

u8 CKLF_CtrlList::PtAboveControl(i16 x, i16 y) {
  const kltRECT_s& r = m_listRect;
  return m_created && x >= r.left && x < r.right && y >= r.top && y < r.bottom ? 1 : 0;
}

u8 CKLF_CtrlList::OnLMouseDown(i16 x, i16 y, u8 mods) {
  const i32 px = x - m_listRect.left - m_leftMargin, py = y - m_listRect.top - m_topMargin;
  if (px < 1 || py < 1 || px >= m_listRect.right - m_listRect.left - m_leftMargin ||
      py >= m_listRect.bottom - m_listRect.top - m_topMargin)
    return 1;
  i_Clicked(static_cast<u32>(py) / m_lineHeight + m_firstVisible, mods);
  return 1;
}

void CKLF_CtrlList::i_Clicked(u32 line, u8 mods) {
  const u8 command = mods & klModCommand, shift = mods & klModShift;
  // A range ends at the current item, which it visits last and so keeps.
  const u32 anchor = m_current >= 0 ? static_cast<u32>(m_current) : line;
  if (!m_multiple || (!command && !shift)) SelectItems(line, line, 1, 0, 1, 1, 1);
  else if (command && !shift) SelectItems(line, line, 0, 1, 1, 1, 1);
  else SelectItems(line, anchor, command ? 0 : 1, 0, 1, 1, 1);
}

u8 CKLF_CtrlList::OnKeyDown(u8 key, u8 mods) {
  const i64 last = i64{m_items.GetSize()} - 1, cur = m_current;
  i64 target = 0;
  switch (key) {
    case klKeyUp: target = cur < 0 ? 0 : std::max<i64>(cur - 1, 0); break;
    case klKeyDown: target = cur < 0 ? 0 : std::min(cur + 1, last); break;
    case klKeyEnd: target = last; break;
    case klKeyHome: target = 0; break;
    default: return 0;
  }
  if (target < 0) target = 0;  // an empty list: nothing to visit
  const u32 t = static_cast<u32>(target);
  if (!(mods & klModShift)) {
    SelectItems(t, t, 1, 0, 1, 1, 1);
  } else if (cur < 0 && (key == klKeyUp || key == klKeyDown)) {
    SetState(254);
    SendMessage(klMsgListSelection, nullptr);
  } else {
    SelectItems(cur < 0 ? 0u : static_cast<u32>(cur), t, 0, 0, 1, 1, 1);
  }
  return 1;
}

u8 CKLF_CtrlList::OnMouseWheel(i16 x, i16 y, u8 mods, i16 delta) {
  return m_bar ? m_bar->OnMouseWheel(x, y, mods, delta) : 0;
}

u32 CKLF_CtrlList::OnCtrlMessage(u16 msg, u32 id, const char*, u8, void* data) {
  if (!m_bar || id != m_barId || (msg != klMsgValueSet && msg != klMsgValueDragging)) return 0;
  m_firstVisible = data ? *static_cast<const u32*>(data) : 0;
  // The bar is there already.
  m_lastSynced = static_cast<i32>(m_firstVisible);
  SetState(253);
  return 1;
}
