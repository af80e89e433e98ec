#include "CKLF_Window.h"

#include <cerrno>

#include <algorithm>
#include <new>

#include "CKLF_App.h"

namespace {
constexpr u16 kCtrlTimerBase = 32000;
constexpr u16 kCtrlTimerStep = 10000;
constexpr u16 kCtrlTimerKinds = 4;  // kinds 0..3 keep every id within 16 bits

CKLP_UIPlatform* UI() { return KLP_GetUI(); }
}  // namespace

CKLF_Window::CKLF_Window()
    : m_timersOn(1),
      m_locked(0),
      m_captionLayer(0xFFFFFFFFu),
      m_creationFlag(1),
      m_width(0),
      m_height(0),
      m_modal(0),
      m_modalResult(0),
      m_movableModal(0),
      m_parent(nullptr),
      m_activeCaption(0xFFFFFFFFu),
      m_inactiveCaption(0xFFFFFFFFu),
      m_captured(-1),
      m_focused(-1),
      m_openingFocus(-1),
      m_used(0),
      m_dblTime(CKLF_App::GetDoubleClickTime()),
      m_lastClickX(klNotSet),
      m_lastClickY(klNotSet),
      m_tolX(4),
      m_tolY(4),
      m_lastClickTime(0),
      m_dblSeen(0),
      m_lastPressed(-1),
      m_hover(-16),
      m_closing(0),
      m_handle(0),
      m_shapeRowBytes(0),
      m_shapeW(0),
      m_shapeH(0),
      m_appLoop(0),
      m_modalFor(0),
      m_floating(0),
      m_modalHint(0),
      m_creating(0),
      m_noted(0) {}

CKLF_Window::~CKLF_Window() {
  for (u32 i = 0; i < m_controls.GetSize(); ++i)
    if (m_owned[i]) delete static_cast<CKLF_Control*>(m_controls[i]);
  m_controls.Empty();
  m_owned.clear();
  for (u32 i = 0; i < m_fonts.GetSize(); ++i) delete static_cast<CKLF_Font*>(m_fonts[i]);
  m_fonts.Empty();
  for (KLP_TimerID t : m_timerHandles)
    if (UI()) UI()->RemoveTimer(t);
  m_timerHandles.clear();
  m_timerIds.clear();
  if (m_handle && UI()) UI()->DestroyWindow(m_handle);
}

// Creation

kltPOS CKLF_Window::i_Place(i16 x, i16 y, u16 w, u16 h) {
  KLP_Rect screens[8];
  const u32 n = UI() ? UI()->GetScreens(screens, 8) : 0;
  if (x == klNotSet && y == klNotSet) {
    if (!n) return {40, 40};
    const KLP_Rect& m = screens[0];
    return {m.left + (m.right - m.left - w) / 2, m.top + (m.bottom - m.top - h) / 2};
  }
  for (u32 i = 0; i < n; ++i) {
    const KLP_Rect& s = screens[i];
    if (s.top <= y && y < s.bottom - 20 && s.left - w + 20 < x && x < s.right - 20) return {x, y};
  }
  if (!n) return {x, y};
  const KLP_Rect& m = screens[0];
  return {std::clamp<i32>(x, m.left - w + 20, std::max(m.left - w + 20, m.right - 20)),
          std::clamp<i32>(y, m.top, std::max(m.top, m.bottom - 20))};
}

u8 CKLF_Window::i_MakePlatformWindow(u16 w, u16 h, kltPOS at) {
  CKLP_UIPlatform* ui = UI();
  if (!ui) return Fail(klErrWindowCreate);
  KLP_WindowDesc desc;
  desc.bounds = {at.x, at.y, at.x + w, at.y + h};
  // What the window draws as its caption, else its resource name.
  const CKLF_String& title = m_resource.GetTitle();
  desc.title = (title.GetLength() ? title : m_name).GetStr();
  desc.parent = m_parent ? m_parent->m_handle : 0;
  desc.modal = m_movableModal || m_modalHint;
  desc.layer = m_movableModal ? klpLayerModal : klpLayerDocument;
  bool select = false;
  if (!m_parent && m_floating) desc.layer = klpLayerFloating, select = true;
  if (m_parent && (m_floating || m_parent->m_floating)) desc.layer = klpLayerModal, select = true;
  errno = 0;
  m_handle = ui->CreateWindow(desc, this);
  if (!m_handle) return Fail(errno == ENOMEM ? klErrNoMemory : klErrWindowCreate);
  if (m_shape.GetPtr()) {
    // The outline over the whole window; a smaller or larger picture is cut.
    const u32 rowBytes = w / 8u + 1;
    CKLF_Mem bits;
    if (!bits.Zalloc(rowBytes * h)) return FailFrom(bits, klErrNoMemory);
    for (u32 y = 0; y < std::min<u32>(h, m_shapeH); ++y)
      for (u32 x = 0; x < std::min<u32>(w, m_shapeW); ++x)
        if (m_shape.GetPtr()[y * m_shapeRowBytes + (x >> 3)] & (0x80 >> (x & 7)))
          bits.GetPtr()[y * rowBytes + (x >> 3)] |= static_cast<u8>(0x80 >> (x & 7));
    errno = 0;
    if (!ui->SetWindowShape(m_handle, bits.GetPtr(), rowBytes))
      return Fail(errno == ENOMEM ? klErrNoMemory : klErrWindowCreate);
  }
  if (select) ui->SelectWindow(m_handle);
  return 1;
}

u8 CKLF_Window::Create(const CKLF_String& name, i16 x, i16 y, u16 w, u16 h, u8 creationFlag, CKLF_Window* parent,
                       u8 movableModal, u8 callOnCreate) {
  ResetError();
  // Refused before anything is stored: a live window keeps its name, parent and size.
  if (m_handle) return Fail(klErrWindowExists);
  m_creationFlag = creationFlag;
  m_parent = parent;
  m_width = w;
  m_height = h;
  if ((m_name = name).IsError()) return FailFrom(m_name, klErrNoMemory);
  m_movableModal = movableModal;
  const kltPOS at = i_Place(x, y, w, h);
  if (!m_layers.Create(w, h)) return FailFrom(m_layers, klErrNoMemory);
  if (!m_offscreen.Create(w, h)) return FailFrom(m_offscreen, klErrOffscreen);
  if (!i_MakePlatformWindow(w, h, at)) return 0;
  return callOnCreate ? i_OnCreate() : 1;
}

u8 CKLF_Window::SetWindowShape(CKLF_Image* image) {
  if (!image || image->GetImageMode() != 2 || m_shape.GetPtr()) return Fail(klErrBadArg);
  const u16 w = image->GetImageWidth(), h = image->GetImageHeight();
  const u32 rowBytes = w / 8u + 1;
  if (!m_shape.Zalloc(rowBytes * h)) return FailFrom(m_shape, klErrNoMemory);
  const u8* alpha = image->GetMemObj()->GetPtr() + 3ull * w * h;
  for (u32 y = 0; y < h; ++y)
    for (u32 x = 0; x < w; ++x)
      if (alpha[y * w + x] > 128) m_shape.GetPtr()[y * rowBytes + (x >> 3)] |= static_cast<u8>(0x80 >> (x & 7));
  m_shapeRowBytes = rowBytes;
  m_shapeW = w;
  m_shapeH = h;
  return 1;
}

u8 CKLF_Window::i_AddResourceLayers() {
  CKLF_Layer& bg = m_resource.GetBackground();
  const kltPOS p = bg.GetPos();
  if (!m_background.Create(static_cast<i16>(p.x), static_cast<i16>(p.y), &bg, 1))
    return FailFrom(m_background, klErrNoMemory);
  if (m_layers.AddLayer(&m_background) < 0) return FailFrom(m_layers, klErrNoMemory);
  if (!m_resource.HasActiveCaption()) return 1;
  const i32 active = m_layers.AddLayer(&m_resource.GetCaptionActive());
  if (active < 0) return FailFrom(m_layers, klErrNoMemory);
  m_captionLayer = m_activeCaption = static_cast<u32>(active);
  if (!m_resource.HasInactiveCaption()) return 1;
  m_resource.GetCaptionInactive().SetVisible(0);
  const i32 inactive = m_layers.AddLayer(&m_resource.GetCaptionInactive());
  if (inactive < 0) return FailFrom(m_layers, klErrNoMemory);
  m_inactiveCaption = static_cast<u32>(inactive);
  return 1;
}

u8 CKLF_Window::CreateFromResource(const CKLF_String& name, i16 x, i16 y, CKLF_Window* parent, u8 movableModal) {
  ResetError();
  if (m_handle) return Fail(klErrWindowExists);
  if (!m_resource.Load(m_App ? m_App->GetStorage() : nullptr, name)) return FailFrom(m_resource, klErrUIResource);
  // The outline at the background's own place in the window.
  if (!m_resource.MakeShape(m_shape, m_shapeRowBytes)) return FailFrom(m_resource, klErrNoMemory);
  m_shapeW = m_resource.GetWidth();
  m_shapeH = m_resource.GetHeight();
  if (!Create(name, x, y, m_resource.GetWidth(), m_resource.GetHeight(), 1, parent, movableModal, 0)) return 0;
  if (!i_AddResourceLayers() || !RenderRect(klNullRect)) return 0;
  return i_OnCreate();
}

u8 CKLF_Window::i_OnCreate() {
  m_creating = 1;
  m_noted = 0;
  const u8 made = OnCreate(&m_layers, m_width, m_height);
  m_creating = 0;
  if (made && !m_noted) return made;
  if (made || !GetError()) SetError(m_noted ? m_noted : static_cast<u16>(klErrWindowCreate));
  return 0;
}

void CKLF_Window::NoteFailure(u16 code) {
  if (m_creating && !m_noted) m_noted = code ? code : static_cast<u16>(klErrNoMemory);
}

void CKLF_Window::SetCaptionLayer(const CKLF_String& layerName) {
  const i32 i = m_layers.FindLayerByName(layerName);
  m_captionLayer = i < 0 ? 0xFFFFFFFFu : static_cast<u32>(i);
}

// Closing

void CKLF_Window::PreCloseWindow() {
  m_closing = 1;
  if (m_App) m_App->PreCloseWindow(this);
}

void CKLF_Window::Close() {
  PreCloseWindow();
  // A closed window gets no more ticks.
  for (KLP_TimerID t : m_timerHandles)
    if (UI()) UI()->RemoveTimer(t);
  m_timerHandles.clear();
  m_timerIds.clear();
  const KLP_WindowID h = m_handle;
  if (h && UI()) UI()->DestroyWindow(h);
  m_handle = 0;
}

// Appearance and place

void CKLF_Window::Show() {
  if (m_handle && UI()) UI()->ShowWindow(m_handle, true);
}

void CKLF_Window::Hide() {
  if (m_handle && UI()) UI()->ShowWindow(m_handle, false);
}

u8 CKLF_Window::IsVisible() { return m_handle && UI() && UI()->IsWindowVisible(m_handle) ? 1 : 0; }

void CKLF_Window::Minimize() {
  if (m_handle && UI()) UI()->CollapseWindow(m_handle);
}

void CKLF_Window::MoveWindow(i16 x, i16 y) {
  if (m_handle && UI()) UI()->MoveWindow(m_handle, x, y);
}

kltRECT_s CKLF_Window::GetWindowRect() {
  const KLP_Rect r = m_handle && UI() ? UI()->GetWindowBounds(m_handle) : KLP_Rect{0, 0, 0, 0};
  return {r.left, r.top, r.right, r.bottom};
}

void CKLF_Window::SetFocus() {
  if (!m_handle || !UI()) return;
  if (!UI()->IsWindowVisible(m_handle)) UI()->ShowWindow(m_handle, true);
  UI()->SelectWindow(m_handle);
}

kltPOS CKLF_Window::GetMousePos() {
  if (!UI()) return {0, 0};
  const KLP_Point p = UI()->GetMousePosition();
  const kltRECT_s r = GetWindowRect();
  return {p.x - r.left, p.y - r.top};
}

CKLF_Window* CKLF_Window::WindowFromPoint(kltPOS global) {
  if (!UI()) return nullptr;
  return dynamic_cast<CKLF_Window*>(UI()->GetWindowClient(UI()->WindowAt({global.x, global.y})));
}

u8 CKLF_Window::PtInCaption(i16 x, i16 y) {
  CKLF_Layer* l = m_captionLayer != 0xFFFFFFFFu ? m_layers.GetLayer(m_captionLayer) : nullptr;
  if (l && l->GetImageMode() == 2) {
    const kltRECT_s r = l->GetRect();
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom &&
        l->GetPixel(static_cast<u16>(x - r.left), static_cast<u16>(y - r.top)).alpha > 128)
      return 1;
  }
  return m_resource.PtInDragArea(x, y);
}

u8 CKLF_Window::PtInCaptionGCoors(i16 x, i16 y) {
  const kltRECT_s r = GetWindowRect();
  return PtInCaption(static_cast<i16>(x - r.left), static_cast<i16>(y - r.top));
}

// Layers and drawing

CKLF_Layer* CKLF_Window::GetLayer(const CKLF_String& name) {
  const i32 i = m_layers.FindLayerByName(name);
  return i < 0 ? Fail(klErrLayerNotFound, nullptr) : m_layers.GetLayer(static_cast<u32>(i));
}

CKLF_Layer* CKLF_Window::GetLayer(u32 index) {
  CKLF_Layer* l = m_layers.GetLayer(index);
  return l ? l : Fail(klErrLayerNotFound, nullptr);
}

u8 CKLF_Window::RenderRect(kltRECT_s rect) {
  if (m_locked) return 1;
  if (!m_layers.Render(rect)) return FailFrom(m_layers, klErrEmpty);
  return 1;
}

u8 CKLF_Window::RenderLayer(const CKLF_String& name) {
  CKLF_Layer* l = GetLayer(name);
  return l ? RenderRect(l->GetRect()) : 0;
}

u8 CKLF_Window::RenderLayer(u32 index) {
  CKLF_Layer* l = GetLayer(index);
  return l ? RenderRect(l->GetRect()) : 0;
}

void CKLF_Window::OnRedraw(kltRECT_s rect) {
  if (!m_handle) return;
  const kltRECT_s r = klIsNullRect(rect) ? kltRECT_s{0, 0, m_width, m_height} : rect;
  m_offscreen.Set(m_layers.GetCanvas(), r.left, r.top, r);
  m_offscreen.Draw(m_handle, r.left, r.top, r);
}

void CKLF_Window::UpdateRect(kltRECT_s rect) {
  if (!m_locked && !m_closing) OnRedraw(rect);
}

u8 CKLF_Window::UpdateLayer(const CKLF_String& name) {
  CKLF_Layer* l = GetLayer(name);
  if (!l) return 0;
  UpdateRect(l->GetRect());
  return 1;
}

u8 CKLF_Window::UpdateLayer(u32 index) {
  CKLF_Layer* l = GetLayer(index);
  if (!l) return 0;
  UpdateRect(l->GetRect());
  return 1;
}

void CKLF_Window::UpdateRect_Direct(CKLF_Image* rgb, kltRECT_s rect) {
  if (m_locked || m_closing || !m_handle) return;
  const kltRECT_s r = klIsNullRect(rect) ? kltRECT_s{0, 0, m_width, m_height} : rect;
  if (m_offscreen.Set(rgb, r.left, r.top, r)) m_offscreen.Draw(m_handle, r.left, r.top, r);
}

void CKLF_Window::ForceRedrawRect(kltRECT_s rect) {
  if (!m_handle || !UI()) return;
  const kltRECT_s r = klIsNullRect(rect) ? kltRECT_s{0, 0, m_width, m_height} : rect;
  UI()->FlushWindow(m_handle, {r.left, r.top, r.right, r.bottom});
}

// Controls and fonts

i32 CKLF_Window::AddControl(const CKLF_String& name, u8 type) {
  ResetError();
  CKLF_Storage* store = m_App ? m_App->GetStorage() : nullptr;
  if (!store) return Fail(klErrEmpty, -1);
  const char* folder = KLF_ControlFolder(type);
  if (!folder) return Fail(klErrBadArg, -1);
  const u8 kind = store->GetRecType(CKLF_String(folder) + name);
  if (kind == CKLF_Storage::klRecMissing) return FailLookup(*store, klErrBadArg, -1);
  if (kind != CKLF_Storage::klRecFolder) return Fail(klErrBadArg, -1);
  if (!i_RoomForControl()) return -1;
  CKLF_Control* c = NewControl(type);
  if (!c) return Fail(klErrNoMemory, -1);
  const i32 id = m_controls.Add(c);
  if (id < 0) {
    delete c;
    return FailFrom(m_controls, klErrNoMemory, -1);
  }
  m_owned.push_back(1);
  if (!c->Init(this, static_cast<u32>(id), name, store)) {
    const u16 code = c->GetError();
    m_controls.DeleteAt(static_cast<u32>(id));
    m_owned.pop_back();
    delete c;
    return Fail(code ? code : static_cast<u16>(klErrUIResource), -1);
  }
  return id;
}

i32 CKLF_Window::AddControl_External(CKLF_Control* control) {
  ResetError();
  if (!control) return Fail(klErrBadArg, -1);
  if (!i_RoomForControl()) return -1;
  const i32 id = m_controls.Add(control);
  if (id < 0) return FailFrom(m_controls, klErrNoMemory, -1);
  m_owned.push_back(0);
  control->m_external = 1;
  if (!control->Init(this, static_cast<u32>(id), "", nullptr)) {
    m_controls.DeleteAt(static_cast<u32>(id));
    m_owned.pop_back();
    return FailFrom(*control, klErrBadArg, -1);
  }
  return id;
}

// The ownership flags take their entry before the control is listed (the
// push that follows finds room): both lists always have one entry a control.
u8 CKLF_Window::i_RoomForControl() {
  try {
    if (m_owned.size() == m_owned.capacity()) m_owned.reserve(std::max<size_t>(16, 2 * m_owned.size()));
  } catch (const std::bad_alloc&) {
    return Fail(klErrNoMemory);
  }
  return 1;
}

CKLF_Control* CKLF_Window::GetControl(u32 id) const {
  return id < m_controls.GetSize() ? static_cast<CKLF_Control*>(m_controls[id]) : nullptr;
}

void CKLF_Window::FilterControl(u8 on, u32 id) {
  const bool all = id == 0xFFFFFFFFu;
  if (!all && !GetControl(id)) return;
  for (u32 i = 0; i < m_controls.GetSize(); ++i)
    if (all || i == id) GetControl(i)->SetCtrlFiltered(on);
  if (on && (all || static_cast<i32>(id) == m_focused)) {
    OnCtrlFocused(0xFFFFFFFFu);
    m_captured = -1;
  }
}

i32 CKLF_Window::AddFont(const CKLF_String& name) {
  ResetError();
  CKLF_UIResources res(m_App ? m_App->GetStorage() : nullptr);
  CKLF_Font* font = new (std::nothrow) CKLF_Font();
  if (!font) return Fail(klErrNoMemory, -1);
  if (!res.OpenFont(name, *font)) {
    delete font;
    return FailFrom(res, klErrFontRecord, -1);
  }
  const i32 i = m_fonts.Add(font);
  if (i < 0) delete font;
  return i < 0 ? FailFrom(m_fonts, klErrNoMemory, -1) : i;
}

CKLF_Font* CKLF_Window::GetFont(u32 index) const {
  return index < m_fonts.GetSize() ? static_cast<CKLF_Font*>(m_fonts[index]) : nullptr;
}

u8 CKLF_Window::GetResourceString(const char* name, CKLF_String& out) {
  CKLF_UIResources res(m_App ? m_App->GetStorage() : nullptr);
  return res.GetResourceString(name, out) ? 1 : FailFrom(res, klErrEmpty);
}

u8 CKLF_Window::GetResourceRect(const char* name, kltRECT_s& out) {
  CKLF_UIResources res(m_App ? m_App->GetStorage() : nullptr);
  return res.GetResourceRect(name, out) ? 1 : FailFrom(res, klErrEmpty);
}

// Focus

void CKLF_Window::OnCtrlFocused(u32 id) {
  m_openingFocus = -1;
  const i32 target = id == 0xFFFFFFFFu ? -1 : static_cast<i32>(id);
  if (target == m_focused) return;
  for (u32 i = 0; i < m_controls.GetSize(); ++i) GetControl(i)->SetFocus(0);
  m_focused = target;
}

void CKLF_Window::OnCtrlLostFocus(u32 id) {
  if (static_cast<i32>(id) == m_focused) m_focused = -1;
}

void CKLF_Window::OnCtrlNewGroupMaster(u32 id, u8 group) {
  // 255 is no group: every control without one would be unchecked.
  if (group == 255) return;
  for (u32 i = 0; i < m_controls.GetSize(); ++i)
    if (i != id && GetControl(i)->GetGroupID() == group) GetControl(i)->SetCheck(0, 0);
}

// Timers

u8 CKLF_Window::i_TimerIndex(u16 id, u32& at) const {
  for (u32 i = 0; i < m_timerIds.size(); ++i)
    if (m_timerIds[i] == id) {
      at = i;
      return 1;
    }
  return 0;
}

u8 CKLF_Window::SetTimer(u32 intervalMs, u16 id) {
  if (!m_handle || !UI()) return Fail(klErrWindowCreate);
  if (intervalMs == 0) return Fail(klErrBadArg);
  KillTimer(id);  // a running id is replaced, never doubled
  // Room in both lists before the timer runs: it is recorded once it does.
  try {
    const size_t room = std::max<size_t>(8, 2 * m_timerIds.size());
    if (m_timerHandles.size() == m_timerHandles.capacity()) m_timerHandles.reserve(room);
    if (m_timerIds.size() == m_timerIds.capacity()) m_timerIds.reserve(room);
  } catch (const std::bad_alloc&) {
    return Fail(klErrNoMemory);
  }
  errno = 0;
  const KLP_TimerID t = UI()->AddTimer(intervalMs, [this, id] { iOnTimer(id); });
  if (!t) return Fail(errno == ENOMEM ? klErrNoMemory : klErrBadArg);
  m_timerHandles.push_back(t);
  m_timerIds.push_back(id);
  return 1;
}

u8 CKLF_Window::KillTimer(u16 id) {
  u32 at = 0;
  if (!i_TimerIndex(id, at)) return 1;
  if (UI()) UI()->RemoveTimer(m_timerHandles[at]);
  m_timerHandles.erase(m_timerHandles.begin() + at);
  m_timerIds.erase(m_timerIds.begin() + at);
  return 1;
}

u8 CKLF_Window::SetCtrlTimer(u32 intervalMs, u16 kind, CKLF_Control* control) {
  if (kind >= kCtrlTimerKinds || !control || GetControl(control->GetControlID()) != control) return Fail(klErrBadArg);
  const u32 id = kCtrlTimerBase + kCtrlTimerStep * kind + control->GetControlID();
  if (id > 0xFFFF) return Fail(klErrBadArg);
  return SetTimer(intervalMs, static_cast<u16>(id));
}

u8 CKLF_Window::KillCtrlTimer(u16 kind, CKLF_Control* control) {
  if (kind >= kCtrlTimerKinds || !control || GetControl(control->GetControlID()) != control) return Fail(klErrBadArg);
  const u32 id = kCtrlTimerBase + kCtrlTimerStep * kind + control->GetControlID();
  return id > 0xFFFF ? Fail(klErrBadArg) : KillTimer(static_cast<u16>(id));
}

void CKLF_Window::iOnTimer(u16 id) {
  if (!m_timersOn) return;
  if (id < kCtrlTimerBase) {
    OnTimer(id);
    return;
  }
  const u32 rest = id - kCtrlTimerBase;
  if (CKLF_Control* c = GetControl(rest % kCtrlTimerStep)) c->OnTimer(static_cast<u16>(rest / kCtrlTimerStep));
}

// Modal loop

i32 CKLF_Window::DoModal() {
  if (!m_handle || !UI()) return -1;
  m_modal = 1;
  Show();
  // The loop's window takes the keys from the start (Return, Escape).
  UI()->SelectWindow(m_handle);
  m_modalFor = m_handle;
  UI()->RunLoop(m_modalFor);
  m_modalFor = 0;
  m_modal = 0;
  return m_modalResult;
}

// Only this window's modal loop ends; the application loop is not touched.
void CKLF_Window::i_QuitModalLoop() {
  if (m_modalFor && UI()) UI()->QuitLoop(m_modalFor);
  m_modalFor = 0;
}

void CKLF_Window::EndModal(i32 code) {
  Close();
  i_QuitModalLoop();
  m_modalResult = code;
  m_modal = 0;
}

// Cursors and keys

void CKLF_Window::SetNormalCursor() { SetCursorByID(0); }

void CKLF_Window::SetIBeamCursor() { SetCursorByID(1); }

void CKLF_Window::SetCursorByID(i32 id) {
  if (m_handle && UI()) UI()->SetCursor(m_handle, id);
}

u8 CKLF_Window::i_Mods(u32 m) {
  u8 mods = 0;
  if (m & (klpOptionKey | klpRightOptionKey)) mods |= klModOption;
  if (m & (klpShiftKey | klpRightShiftKey)) mods |= klModShift;
  if (m & (klpControlKey | klpRightControlKey)) mods |= klModControl;
  if (m & klpCmdKey) mods |= klModCommand;
  return mods;
}

u8 CKLF_Window::GetKeysStatus() {
  if (!UI()) return 0;
  return static_cast<u8>(i_Mods(UI()->GetModifiers()) | (UI()->IsKeyDown(klpVKSpace) ? klModSpace : 0));
}

u8 CKLF_Window::IsKeyDown_Spacebar() { return UI() && UI()->IsKeyDown(klpVKSpace) ? 1 : 0; }
