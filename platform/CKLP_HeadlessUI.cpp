#include "CKLP_HeadlessUI.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

CKLP_HeadlessUI::CKLP_HeadlessUI()
    : m_screens{{0, 0, 1280, 1024}},
      m_nextTimer(1),
      m_now(0),
      m_mods(0),
      m_keys{},
      m_mouse{0, 0},
      m_grab(0),
      m_arrowStyle(1),
      m_hasClip(false) {}

CKLP_HeadlessUI::~CKLP_HeadlessUI() {}

uint32_t CKLP_HeadlessUI::GetScreens(KLP_Rect* out, uint32_t max) {
  const uint32_t n = std::min<uint32_t>(max, static_cast<uint32_t>(m_screens.size()));
  std::copy(m_screens.begin(), m_screens.begin() + n, out);
  return n;
}

KLP_WindowID CKLP_HeadlessUI::CreateWindow(const KLP_WindowDesc& desc, CKLP_WindowClient* client) {
  Window* win = AddRecord(desc, client);
  if (!win) return 0;
  const size_t w = static_cast<size_t>(desc.bounds.right - desc.bounds.left);
  const size_t h = static_cast<size_t>(desc.bounds.bottom - desc.bounds.top);
  m_pixels[win->id].assign(w * h * 4, 0);
  return win->id;
}

void CKLP_HeadlessUI::DestroyWindow(KLP_WindowID w) {
  if (!Find(w)) return;
  DisposeRecord(w);
  m_pixels.erase(w);
  if (m_grab == w) m_grab = 0;
}

void CKLP_HeadlessUI::ShowWindow(KLP_WindowID w, bool show) {
  Window* win = Find(w);
  if (!win || win->visible == show) return;
  win->visible = show;
  if (show) {
    PostWindowEvent(w, klpWindowDraw);
  } else {
    HandOver(w);
  }
}

void CKLP_HeadlessUI::SelectWindow(KLP_WindowID w) {
  if (!Find(w)) return;
  Raise(w);
  Activate(w);
}

void CKLP_HeadlessUI::MoveWindow(KLP_WindowID w, int32_t x, int32_t y) {
  Window* win = Find(w);
  if (!win) return;
  win->bounds = {x, y, x + win->bounds.right - win->bounds.left, y + win->bounds.bottom - win->bounds.top};
}

void CKLP_HeadlessUI::DrawPixels(KLP_WindowID w, const uint8_t* xrgb, uint32_t rowBytes, KLP_Rect src, KLP_Point to) {
  Window* win = Find(w);
  if (!win || !xrgb) return;
  const int64_t width = win->bounds.right - win->bounds.left, height = win->bounds.bottom - win->bounds.top;
  const int64_t x0 = std::max<int64_t>(to.x, 0), x1 = std::min<int64_t>(to.x + int64_t{src.right} - src.left, width);
  const int64_t y0 = std::max<int64_t>(to.y, 0), y1 = std::min<int64_t>(to.y + int64_t{src.bottom} - src.top, height);
  std::vector<uint8_t>& px = m_pixels[w];
  for (int64_t y = y0; y < y1 && x1 > x0; ++y) {
    const uint8_t* from = xrgb + (y - to.y + src.top) * int64_t{rowBytes} + (x0 - to.x + src.left) * 4;
    std::memcpy(&px[static_cast<size_t>((y * width + x0) * 4)], from, static_cast<size_t>(x1 - x0) * 4);
  }
}

std::string CKLP_HeadlessUI::GetWindowTitle(KLP_WindowID w) {
  Window* win = Find(w);
  return win ? win->title : std::string();
}

bool CKLP_HeadlessUI::IsWindowModal(KLP_WindowID w) {
  Window* win = Find(w);
  return win && win->modal;
}

bool CKLP_HeadlessUI::GetPixel(KLP_WindowID w, int32_t x, int32_t y, uint8_t rgb[3]) {
  Window* win = Find(w);
  const int32_t width = win ? win->bounds.right - win->bounds.left : 0;
  if (!win || x < 0 || y < 0 || x >= width || y >= win->bounds.bottom - win->bounds.top) return false;
  const uint8_t* p = &m_pixels[w][(static_cast<size_t>(y) * width + x) * 4];
  std::copy(p + 1, p + 4, rgb);
  return true;
}

bool CKLP_HeadlessUI::SavePNG(KLP_WindowID w, const std::string& path) {
  Window* win = Find(w);
  if (!win) return false;
  const int32_t width = win->bounds.right - win->bounds.left, height = win->bounds.bottom - win->bounds.top;
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* d = &rgba[(static_cast<size_t>(y) * width + x) * 4];
      GetPixel(w, x, y, d);
      d[3] = InsideShape(*win, {win->bounds.left + x, win->bounds.top + y}) ? 255 : 0;
    }
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  img.width = static_cast<png_uint_32>(width);
  img.height = static_cast<png_uint_32>(height);
  img.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&img, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
}

bool CKLP_HeadlessUI::i_FireNext(uint64_t limit) {
  auto next = m_timers.end();
  for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
    if (it->second.due <= limit && (next == m_timers.end() || it->second.due < next->second.due)) next = it;
  if (next == m_timers.end()) return false;
  m_now = next->second.due;
  next->second.due += next->second.interval;
  std::function<void()> tick = next->second.tick;  // the tick may remove its timer
  tick();
  return true;
}

void CKLP_HeadlessUI::AdvanceClock(uint32_t ms) {
  const uint64_t target = m_now + ms;
  while (i_FireNext(target)) {
  }
  // A tick that advanced the clock itself (a long operation pumping
  // events) has taken it past the target: time does not run back.
  if (m_now < target) m_now = target;
}

KLP_TimerID CKLP_HeadlessUI::AddTimer(uint32_t intervalMs, std::function<void()> tick) {
  if (intervalMs == 0 || !tick) return 0;
  try {
    m_timers[m_nextTimer] = {intervalMs, m_now + intervalMs, std::move(tick)};
  } catch (const std::bad_alloc&) {
    return errno = ENOMEM, 0;
  }
  return m_nextTimer++;
}

uint32_t CKLP_HeadlessUI::Pump() {
  uint32_t n = 0;
  for (KLP_Event e; TakeEvent(~0u, e); ++n) DispatchEvent(e, 0);
  return n;
}

int32_t CKLP_HeadlessUI::RunLoop(KLP_WindowID modalFor) {
  const size_t frame = PushFrame(modalFor);
  int32_t end = klpLoopQuit;
  while (!FrameDone(frame)) {
    KLP_Event e;
    if (TakeEvent(~0u, e)) {
      DispatchEvent(e, 0);
    } else if (!m_script.empty()) {
      std::function<void()> step = std::move(m_script.front());
      m_script.pop_front();
      step();
    } else if (!i_FireNext(m_now)) {
      end = klpLoopStalled;
      ++m_log.stalls;
      break;
    }
  }
  PopFrame();
  return end;
}

std::vector<KLP_WindowID> CKLP_HeadlessUI::GetInputWindows() {
  std::vector<KLP_WindowID> out;
  for (const auto& win : m_z)
    if (win->visible && InputAllowed(win->id)) out.push_back(win->id);
  return out;
}

void CKLP_HeadlessUI::PostMouse(uint16_t kind, int32_t x, int32_t y, uint8_t button, uint32_t mods) {
  i_PostMouse(kind, x, y, button, mods, 0);
}

void CKLP_HeadlessUI::i_PostMouse(uint16_t kind, int32_t x, int32_t y, uint8_t button, uint32_t mods, int32_t delta) {
  m_mouse = {x, y};
  m_mods = mods;
  KLP_Event e;
  e.eventClass = klpClassMouse;
  e.kind = kind;
  e.where = m_mouse;
  e.button = button;
  e.modifiers = mods;
  e.wheelDelta = delta;
  e.time = static_cast<uint32_t>(m_now);
  e.window = m_grab ? m_grab : WindowAt(m_mouse);
  if (kind == klpMouseDown) m_grab = e.window;
  if (kind == klpMouseUp) m_grab = 0;
  if (e.window) Post(e);
}

void CKLP_HeadlessUI::PostWheel(int32_t x, int32_t y, int32_t delta, uint32_t mods) {
  i_PostMouse(klpMouseWheel, x, y, 0, mods, delta);
}

void CKLP_HeadlessUI::PostClick(int32_t x, int32_t y, uint32_t mods) {
  PostMouse(klpMouseDown, x, y, 1, mods);
  PostMouse(klpMouseUp, x, y, 1, mods);
}

void CKLP_HeadlessUI::PostKey(uint16_t kind, uint8_t virtualKey, uint8_t charCode, uint32_t mods) {
  m_mods = mods;
  m_keys[virtualKey] = kind != klpKeyUp;
  KLP_Event e;
  e.eventClass = klpClassKeyboard;
  e.kind = kind;
  e.where = m_mouse;
  e.modifiers = mods;
  e.charCode = charCode;
  e.virtualKey = virtualKey;
  e.time = static_cast<uint32_t>(m_now);
  e.window = m_active;
  if (e.window) Post(e);
}

void CKLP_HeadlessUI::PostClose(KLP_WindowID w) {
  if (Find(w)) PostWindowEvent(w, klpWindowClose);
}

void CKLP_HeadlessUI::Alert(const std::string& title, const std::string& text, KLP_WindowID parent) {
  m_log.alerts.push_back({title, text});
  m_log.alertParents.push_back(DialogParent(parent));
}

bool CKLP_HeadlessUI::GetClipboardText(std::string& out) {
  if (!m_hasClip) return false;
  out = m_clip;
  return true;
}

bool CKLP_HeadlessUI::SetClipboardText(const std::string& text) {
  m_clip = text;
  m_hasClip = true;
  return true;
}

void CKLP_HeadlessUI::SetCursor(KLP_WindowID, int32_t id) {
  m_log.cursor = id;
  ++m_log.cursorSets;
}

int32_t CKLP_HeadlessUI::PopupMenu(KLP_WindowID, const std::vector<KLP_MenuItem>& items, KLP_Point at) {
  m_log.menus.push_back(items);
  m_log.menuPoints.push_back(at);
  int32_t answer = -1;
  if (!m_menuAnswers.empty()) {
    answer = m_menuAnswers.front();
    m_menuAnswers.pop_front();
  } else if (m_menuAnswerer) {
    answer = m_menuAnswerer(items);
  }
  const bool usable = answer >= 0 && static_cast<size_t>(answer) < items.size() && !items[answer].separator &&
                      !items[answer].disabled;
  return usable || answer == klpMenuFailed ? answer : klpMenuDismissed;
}

KLP_FileAnswer CKLP_HeadlessUI::AskFile(const KLP_FileQuestion& question) {
  m_log.questions.push_back(question);
  if (m_fileAnswers.empty()) return m_fileAnswerer ? m_fileAnswerer(question) : KLP_FileAnswer{};
  KLP_FileAnswer a = m_fileAnswers.front();
  m_fileAnswers.pop_front();
  return a;
}

KLP_Picked CKLP_HeadlessUI::PickColor(KLP_WindowID parent, const std::string& title, uint16_t rgb[3]) {
  m_log.colourTitles.push_back(title);
  m_log.colourParents.push_back(DialogParent(parent));
  if (m_colourAnswers.empty())
    return m_colourAnswerer && m_colourAnswerer(rgb) ? KLP_Picked::kChosen : KLP_Picked::kCancelled;
  const std::vector<uint16_t> answer = std::move(m_colourAnswers.front());
  m_colourAnswers.pop_front();
  if (answer.empty()) return KLP_Picked::kFailed;
  for (int i = 0; i < 3; ++i) rgb[i] = answer[static_cast<size_t>(i)];
  return KLP_Picked::kChosen;
}
