#include "CKLP_UICore.h"

#include <cerrno>
#include <new>

#include <algorithm>

const uint8_t klpVKLetters[26] = {0x00, 0x0B, 0x08, 0x02, 0x0E, 0x03, 0x05, 0x04, 0x22, 0x26, 0x28, 0x25, 0x2E,
                                  0x2D, 0x1F, 0x23, 0x0C, 0x0F, 0x01, 0x11, 0x20, 0x09, 0x0D, 0x07, 0x10, 0x06};
const uint8_t klpVKDigits[10] = {0x1D, 0x12, 0x13, 0x14, 0x15, 0x17, 0x16, 0x1A, 0x1C, 0x19};

namespace {
CKLP_UIPlatform* g_ui = nullptr;
}

CKLP_UIPlatform* KLP_GetUI() { return g_ui; }
void KLP_SetUI(CKLP_UIPlatform* ui) { g_ui = ui; }

std::string KLP_Latin1ToUTF8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string KLP_UTF8ToLatin1(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + len > s.size()) len = s.size() - i;
    uint32_t code = len == 1 ? c : c & (0x3F >> (len - 1));
    for (size_t k = 1; k < len; ++k) code = code << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += code <= 0xFF && (len > 1 || c < 0x80) ? static_cast<char>(code) : '?';
    i += len;
  }
  return out;
}

CKLP_UICore::CKLP_UICore() : m_active(0), m_nextId(1) {}

CKLP_UICore::~CKLP_UICore() {}

CKLP_UICore::Window* CKLP_UICore::Find(KLP_WindowID w) {
  for (auto& win : m_z)
    if (win->id == w) return win.get();
  return nullptr;
}

CKLP_UICore::Window* CKLP_UICore::AddRecord(const KLP_WindowDesc& desc, CKLP_WindowClient* client) {
  if (desc.bounds.right <= desc.bounds.left || desc.bounds.bottom <= desc.bounds.top || !client) return nullptr;
  auto win = std::make_unique<Window>();
  win->id = m_nextId++;
  win->client = client;
  win->bounds = desc.bounds;
  win->layer = desc.layer;
  win->parent = desc.parent;
  win->title = desc.title;
  win->modal = desc.modal;
  Window* raw = win.get();
  auto at = std::find_if(m_z.begin(), m_z.end(), [&](const auto& o) { return o->layer <= desc.layer; });
  m_z.insert(at, std::move(win));
  return raw;
}

void CKLP_UICore::DisposeRecord(KLP_WindowID w) {
  Window* win = Find(w);
  if (!win) return;
  KLP_Event e;
  e.eventClass = klpClassWindow;
  e.kind = klpWindowDispose;
  e.window = w;
  win->client->OnPlatformEvent(e);
  HandOver(w);  // its events, the deactivation too, go with it
  m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(), [w](const KLP_Event& q) { return q.window == w; }),
                m_queue.end());
  m_z.erase(std::remove_if(m_z.begin(), m_z.end(), [w](const auto& o) { return o->id == w; }), m_z.end());
}

void CKLP_UICore::Raise(KLP_WindowID w) {
  auto it = std::find_if(m_z.begin(), m_z.end(), [w](const auto& o) { return o->id == w; });
  if (it == m_z.end()) return;
  std::unique_ptr<Window> win = std::move(*it);
  m_z.erase(it);
  auto at = std::find_if(m_z.begin(), m_z.end(), [&](const auto& o) { return o->layer <= win->layer; });
  m_z.insert(at, std::move(win));
}

void CKLP_UICore::PostWindowEvent(KLP_WindowID w, uint16_t kind) {
  KLP_Event e;
  e.eventClass = klpClassWindow;
  e.kind = kind;
  e.window = w;
  Post(e);
}

void CKLP_UICore::Activate(KLP_WindowID w) {
  if (m_active == w) return;
  if (m_active) PostWindowEvent(m_active, klpWindowDeactivated);
  m_active = w;
  if (w) PostWindowEvent(w, klpWindowActivated);
}

void CKLP_UICore::HandOver(KLP_WindowID w) {
  if (m_active != w) return;
  const KLP_WindowID next = Successor(w);
  if (next)
    SelectWindow(next);
  else
    Activate(0);
}

KLP_WindowID CKLP_UICore::Successor(KLP_WindowID w) {
  const Window* win = Find(w);
  for (const Window* up = win ? Find(win->parent) : nullptr; up; up = Find(up->parent))
    if (up->visible) return up->id;
  for (const auto& o : m_z) {
    const Window* up = o.get();
    while (up && up->id != w) up = Find(up->parent);
    if (!up && o->visible) return o->id;
  }
  return 0;
}

KLP_WindowID CKLP_UICore::FrontWindow() {
  const Window* active = Find(m_active);
  if (active && active->visible) return m_active;
  for (const auto& win : m_z)
    if (win->visible) return win->id;
  return 0;
}

KLP_WindowID CKLP_UICore::DialogParent(KLP_WindowID parent) { return Find(parent) ? parent : FrontWindow(); }

bool CKLP_UICore::SetWindowShape(KLP_WindowID w, const uint8_t* bits, uint32_t rowBytes) {
  Window* win = Find(w);
  if (!win) return false;
  const uint32_t width = static_cast<uint32_t>(win->bounds.right - win->bounds.left);
  const uint32_t height = static_cast<uint32_t>(win->bounds.bottom - win->bounds.top);
  if (bits && rowBytes * 8 < width) return false;
  try {
    win->shape.assign(bits, bits ? bits + static_cast<size_t>(rowBytes) * height : bits);
  } catch (const std::bad_alloc&) {
    return errno = ENOMEM, false;
  }
  win->shapeRowBytes = bits ? rowBytes : 0;
  return true;
}

CKLP_WindowClient* CKLP_UICore::GetWindowClient(KLP_WindowID w) {
  Window* win = Find(w);
  return win ? win->client : nullptr;
}

bool CKLP_UICore::IsWindowVisible(KLP_WindowID w) {
  Window* win = Find(w);
  return win && win->visible;
}

KLP_Rect CKLP_UICore::GetWindowBounds(KLP_WindowID w) {
  Window* win = Find(w);
  return win ? win->bounds : KLP_Rect{0, 0, 0, 0};
}

bool CKLP_UICore::InsideShape(const Window& win, KLP_Point p) const {
  const KLP_Rect& b = win.bounds;
  if (p.x < b.left || p.x >= b.right || p.y < b.top || p.y >= b.bottom) return false;
  if (win.shape.empty()) return true;
  const uint32_t x = static_cast<uint32_t>(p.x - b.left), y = static_cast<uint32_t>(p.y - b.top);
  return (win.shape[static_cast<size_t>(y) * win.shapeRowBytes + (x >> 3)] & (0x80 >> (x & 7))) != 0;
}

KLP_WindowID CKLP_UICore::WindowAt(KLP_Point p) {
  for (const auto& win : m_z)
    if (win->visible && InsideShape(*win, p)) return win->id;
  return 0;
}

void CKLP_UICore::Post(const KLP_Event& e) {
  m_queue.push_back(e);
  Posted();
}

bool CKLP_UICore::ReleaseQueued(KLP_WindowID w) const {
  return std::any_of(m_queue.begin(), m_queue.end(), [w](const KLP_Event& e) {
    return e.window == w && e.eventClass == klpClassMouse && e.kind == klpMouseUp && e.button == 1;
  });
}

void CKLP_UICore::HoldInput(KLP_WindowID w, bool hold) {
  Window* win = Find(w);
  if (!win || (!hold && win->held == 0)) return;
  if (hold)
    ++win->held;
  else
    --win->held;
  if (win->held == 0 && !m_queue.empty()) Posted();
}

std::deque<KLP_Event>::iterator CKLP_UICore::NextEvent(uint32_t mask) {
  bool anyHeld = false;
  for (auto& win : m_z) {
    win->waiting = false;
    anyHeld = anyHeld || win->held > 0;
  }
  for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
    Window* win = anyHeld ? Find(it->window) : nullptr;
    const bool input = it->eventClass != klpClassWindow || it->kind == klpWindowClose;
    if (win && win->held > 0 && input) {
      const bool move = it->eventClass == klpClassMouse && (it->kind == klpMouseMoved || it->kind == klpMouseDragged);
      if (!move || win->waiting) {
        win->waiting = true;
        continue;
      }
    }
    if (mask & (1u << it->eventClass)) return it;
  }
  return m_queue.end();
}

bool CKLP_UICore::PeekEvent(uint32_t mask) { return NextEvent(mask) != m_queue.end(); }

bool CKLP_UICore::TakeEvent(uint32_t mask, KLP_Event& out) {
  const auto it = NextEvent(mask);
  if (it == m_queue.end()) return false;
  out = *it;
  m_queue.erase(it);
  return true;
}

bool CKLP_UICore::InputAllowed(KLP_WindowID w) {
  for (size_t f = m_frames.size(); f-- > 0;) {
    const KLP_WindowID modal = m_frames[f].modalFor;
    if (!modal) continue;
    for (Window* win = Find(w); win; win = Find(win->parent))
      if (win->id == modal) return true;
    return false;
  }
  return true;
}

int32_t CKLP_UICore::DispatchEvent(const KLP_Event& event, KLP_WindowID target) {
  Window* win = Find(target ? target : event.window);
  if (!win) return 0;
  const bool input = event.eventClass != klpClassWindow || event.kind == klpWindowClose;
  if (input && !InputAllowed(event.window)) return 0;
  const KLP_WindowID id = win->id;
  if (m_observer) m_observer(event);
  const int32_t handled = win->client->OnPlatformEvent(event);
  // An unhandled press activates its window, as the system's own handler does.
  if (event.eventClass == klpClassMouse && event.kind == klpMouseDown && !handled && m_active != id && Find(id))
    SelectWindow(id);
  return handled;
}

size_t CKLP_UICore::PushFrame(KLP_WindowID modalFor) {
  m_frames.push_back({modalFor, false});
  return m_frames.size() - 1;
}

int32_t CKLP_UICore::MarkQuit(KLP_WindowID modalFor) {
  for (size_t f = m_frames.size(); f-- > 0;)
    if (m_frames[f].modalFor == modalFor && !m_frames[f].done) {
      m_frames[f].done = true;
      return static_cast<int32_t>(f);
    }
  return -1;
}

void CKLP_UICore::QuitLoop(KLP_WindowID modalFor) { MarkQuit(modalFor); }

KLP_WindowID CKLP_UICore::GetModalWindow() {
  for (size_t f = m_frames.size(); f-- > 0;)
    if (m_frames[f].modalFor && !m_frames[f].done) return m_frames[f].modalFor;
  return 0;
}
