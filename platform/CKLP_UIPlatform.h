// The windowing platform under the UI toolkit: borderless shaped windows
// in three z-order groups, an event queue the toolkit can peek, take and
// flush, application and modal run loops that nest, repeating timers, a
// millisecond clock, key and mouse state, and the services of beep, alert,
// clipboard, cursors, pop-up menus and file questions.
//
// Events carry the Mac's event classes and kinds, modifier bits and
// virtual key codes; each backend maps its own input onto them, so the
// toolkit's key table stays the Mac's. Positions are global (screen)
// unless said. Text handed to menus, alerts and the clipboard is the
// toolkit's Latin-1 bytes; paths are UTF-8.
//
// Two backends: CKLP_HeadlessUI (in process, virtual clock, scripted
// input and answers; every unit test) and the display backend of
// platform/gtk (KLP_OpenDisplayUI). The toolkit reaches the one in use
// through KLP_GetUI().
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

typedef uint32_t KLP_WindowID;  // 0 = none
typedef uint32_t KLP_TimerID;   // 0 = none

struct KLP_Point {
  int32_t x;
  int32_t y;
};

// Right and bottom exclusive.
struct KLP_Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// Event modifier bits.
enum : uint32_t {
  klpCmdKey = 0x0100,
  klpShiftKey = 0x0200,
  klpAlphaLock = 0x0400,
  klpOptionKey = 0x0800,
  klpControlKey = 0x1000,
  klpRightShiftKey = 0x2000,
  klpRightOptionKey = 0x4000,
  klpRightControlKey = 0x8000
};

// Virtual key codes the platform itself needs, and those of the letter
// keys A to Z and the digit row 0 to 9 of the US layout.
enum : uint8_t { klpVKEscape = 0x35, klpVKSpace = 0x31, klpVKNone = 0xFF };
extern const uint8_t klpVKLetters[26];
extern const uint8_t klpVKDigits[10];

enum : uint8_t { klpClassMouse = 1, klpClassKeyboard = 2, klpClassWindow = 3 };
// Masks of event classes for the queue operations.
enum : uint32_t {
  klpMaskMouse = 1u << klpClassMouse,
  klpMaskKeyboard = 1u << klpClassKeyboard,
  klpMaskWindow = 1u << klpClassWindow,
  klpMaskInput = klpMaskMouse | klpMaskKeyboard
};
enum : uint16_t { klpMouseDown = 1, klpMouseUp = 2, klpMouseMoved = 5, klpMouseDragged = 6, klpMouseWheel = 10 };
enum : uint16_t { klpKeyDown = 1, klpKeyRepeat = 2, klpKeyUp = 3 };
// Close is the window manager's request to close (its close button, the
// close key): the window decides, as with its own close box. It is held to
// the running modal loop's windows as input is.
enum : uint16_t {
  klpWindowDraw = 2,
  klpWindowActivated = 5,
  klpWindowDeactivated = 6,
  klpWindowClose = 72,
  klpWindowDispose = 1005
};

struct KLP_Event {
  uint8_t eventClass = 0;
  uint16_t kind = 0;
  KLP_WindowID window = 0;  // the window the event is for
  KLP_Point where = {0, 0};
  uint8_t button = 0;  // 1 left, 2 right, 3 other
  uint32_t modifiers = 0;
  int32_t wheelDelta = 0;  // positive away from the user
  uint8_t wheelAxis = 0;   // 0 vertical, 1 horizontal
  uint8_t charCode = 0;    // Latin-1
  uint8_t virtualKey = klpVKNone;
  // When the user made it, in ms of the platform's event clock (only the
  // difference between two events counts): an event that waited in the
  // queue keeps the time it was made.
  uint32_t time = 0;
};

// The toolkit's side of a platform window.
class CKLP_WindowClient {
 public:
  virtual ~CKLP_WindowClient() {}
  // 1 when handled. A mouse press left unhandled activates the window.
  virtual int32_t OnPlatformEvent(const KLP_Event& event) = 0;
};

// Z-order groups, lowest first: documents, floating windows, modal windows.
enum : uint8_t { klpLayerDocument = 0, klpLayerFloating = 1, klpLayerModal = 2 };

struct KLP_WindowDesc {
  KLP_Rect bounds;  // content, global
  uint8_t layer = klpLayerDocument;
  KLP_WindowID parent = 0;
  std::string title;  // what the desktop shows for the window (task bar, window list)
  // The window manager keeps the window in front of its parent and gives
  // it the keys when the parent is clicked: a dialog, modal to its parent
  // (the toolkit's own input rule is DispatchEvent's).
  bool modal = false;
};

struct KLP_MenuItem {
  std::string text;
  bool separator = false;
  bool checked = false;
  bool disabled = false;
  char shortcutKey = 0;  // 0 = none; shown only
  bool shortcutCommand = false;
  bool shortcutShift = false;
  bool shortcutOption = false;
};

struct KLP_FileQuestion {
  bool save = false;
  KLP_WindowID parent = 0;
  std::string title;         // empty = the platform's
  std::string folder;        // start folder, empty = the platform's
  std::string proposedName;  // save only
  bool confirmReplace = true;  // save only: ask before an existing file is chosen
  std::string filterName;
  // Whether a file of that name is offered; null offers every file.
  std::function<bool(const std::string& name)> offer;
};

struct KLP_FileAnswer {
  bool chosen = false;
  std::string path;
  // Memory ran out: the question was not asked, or its answer is lost.
  bool failed = false;
};

// A pop-up menu dismissed, or not shown for want of memory.
enum : int32_t { klpMenuDismissed = -1, klpMenuFailed = -2 };

// What the colour chooser came to; failed: not shown for want of memory.
enum class KLP_Picked { kCancelled, kChosen, kFailed };

enum : int32_t { klpLoopQuit = 0, klpLoopStalled = 1 };

class CKLP_UIPlatform {
 public:
  virtual ~CKLP_UIPlatform() {}

  // Available positioning bounds of the screens into out (at most max),
  // the main screen first; the count, 0 when unknown.
  virtual uint32_t GetScreens(KLP_Rect* out, uint32_t max) = 0;

  // Windows. Create answers 0 on failure (errno ENOMEM when memory ran
  // out); the window starts hidden and rectangular. A shape is one bit a
  // pixel over the content (most significant bit first), set = inside;
  // null restores the rectangle; false when it cannot be set (errno ENOMEM
  // when memory ran out).
  virtual KLP_WindowID CreateWindow(const KLP_WindowDesc& desc, CKLP_WindowClient* client) = 0;
  // Sends the dispose event to the client, then removes the window. The
  // active window, destroyed or hidden, hands the keys on at once: its
  // nearest visible owner, else the front window that is not its own, is
  // selected (as a desktop gives them back), so a press on it queued
  // behind is its own.
  virtual void DestroyWindow(KLP_WindowID w) = 0;
  virtual bool SetWindowShape(KLP_WindowID w, const uint8_t* bits, uint32_t rowBytes) = 0;
  virtual CKLP_WindowClient* GetWindowClient(KLP_WindowID w) = 0;
  virtual void ShowWindow(KLP_WindowID w, bool show) = 0;
  virtual bool IsWindowVisible(KLP_WindowID w) = 0;
  // Brings the window to the front of its group and activates it.
  virtual void SelectWindow(KLP_WindowID w) = 0;
  virtual KLP_WindowID GetActiveWindow() = 0;
  virtual void CollapseWindow(KLP_WindowID w) = 0;
  virtual void MoveWindow(KLP_WindowID w, int32_t x, int32_t y) = 0;
  virtual KLP_Rect GetWindowBounds(KLP_WindowID w) = 0;
  // The front visible window whose shape holds the point; 0 when none.
  virtual KLP_WindowID WindowAt(KLP_Point p) = 0;
  // Lets the user move the window from a press at a global point while
  // that press lasts: a press already released (its release queued behind
  // it) moves nothing, nor does a click that ends before the pointer moves.
  virtual void DragWindow(KLP_WindowID w, KLP_Point start) = 0;

  // Copies the rectangle src of an XRGB buffer (bytes 0, R, G, B; src
  // lies inside it) to the window at the window-local point to, clipped to
  // the window. Flush puts what was drawn on screen now.
  virtual void DrawPixels(KLP_WindowID w, const uint8_t* xrgb, uint32_t rowBytes, KLP_Rect src, KLP_Point to) = 0;
  virtual void FlushWindow(KLP_WindowID w, KLP_Rect rect) = 0;

  // The queue: events of the classes in mask, without waiting.
  virtual bool PeekEvent(uint32_t mask) = 0;
  virtual bool TakeEvent(uint32_t mask, KLP_Event& out) = 0;
  virtual void FlushEvents() = 0;
  // Sends an event to target's client (0 = the event's own window). Input
  // for windows outside the running modal loop's window is dropped.
  virtual int32_t DispatchEvent(const KLP_Event& event, KLP_WindowID target) = 0;
  // Sees every event dispatched, before its window does (null = none).
  virtual void SetEventObserver(std::function<void(const KLP_Event&)> observer) = 0;
  // While a window is held (holds nest), its presses, releases, wheel
  // turns, keys and close requests wait in the queue, and so does every
  // event for it behind one of them; moves ahead of them pass, so the
  // window still follows the pointer. The probes and takes pass the
  // waiting events by; once released they are dispatched in order.
  virtual void HoldInput(KLP_WindowID w, bool hold) = 0;

  // Runs until QuitLoop with the same window (0 = the application loop);
  // loops nest. klpLoopQuit, or klpLoopStalled when a headless loop had
  // nothing left to do.
  virtual int32_t RunLoop(KLP_WindowID modalFor) = 0;
  // Ends the innermost loop run for that window; nothing when none runs.
  virtual void QuitLoop(KLP_WindowID modalFor) = 0;
  // The window the innermost modal loop still running is for; 0 for none.
  virtual KLP_WindowID GetModalWindow() = 0;

  // Repeating timers; 0 when refused (interval 0) or when memory ran out
  // (errno ENOMEM).
  virtual KLP_TimerID AddTimer(uint32_t intervalMs, std::function<void()> tick) = 0;
  virtual void RemoveTimer(KLP_TimerID t) = 0;

  virtual uint32_t GetTickMs() = 0;
  virtual uint32_t GetDoubleClickMs() = 0;
  virtual uint32_t GetCaretBlinkMs() = 0;
  // Live modifier bits and keys.
  virtual uint32_t GetModifiers() = 0;
  virtual bool IsKeyDown(uint8_t virtualKey) = 0;
  virtual KLP_Point GetMousePosition() = 0;
  // 1 one scroll arrow at each end, 0 both together, -1 unknown.
  virtual int32_t GetScrollArrowStyle() = 0;

  virtual void Beep() = 0;
  // A modal alert with its title, centred over parent (0 = the front
  // window).
  virtual void Alert(const std::string& title, const std::string& text, KLP_WindowID parent) = 0;
  virtual bool HasClipboardText() = 0;
  virtual bool GetClipboardText(std::string& out) = 0;
  virtual bool SetClipboardText(const std::string& text) = 0;
  // Cursor ids: 0 arrow, 1 I-beam, 128 and up the toolkit's named cursors.
  virtual void SetCursor(KLP_WindowID w, int32_t id) = 0;
  // The chosen item's index, klpMenuDismissed or klpMenuFailed.
  virtual int32_t PopupMenu(KLP_WindowID w, const std::vector<KLP_MenuItem>& items, KLP_Point at) = 0;
  virtual KLP_FileAnswer AskFile(const KLP_FileQuestion& question) = 0;
  // The platform's colour chooser, modal over parent (0 = the front
  // window), starting at rgb (16-bit components); chosen with the colour
  // in rgb, else rgb unchanged.
  virtual KLP_Picked PickColor(KLP_WindowID parent, const std::string& title, uint16_t rgb[3]) = 0;
};

// The display of this machine (platform/gtk); null when there is none
// (errno ENXIO) or memory ran out for it (ENOMEM).
CKLP_UIPlatform* KLP_OpenDisplayUI();
// Whether the environment names a display (X11 or Wayland) to open.
bool KLP_DisplayNamed();
// The display backend built as a module of its own (platform/gtk), loaded
// from path and opened once; later calls answer the same platform. Null
// when the module cannot be loaded (errno ENOENT) or no display opens, with
// errno ENOMEM when memory ran out for either. The module stays
// loaded for the life of the process (the toolkit it brings cannot be
// unloaded).
CKLP_UIPlatform* KLP_LoadDisplayModule(const char* path);
// The module's file name, and the entry it exports.
#define KLP_DISPLAY_MODULE_FILE "libtessarette_display.so"
extern "C" typedef CKLP_UIPlatform* (*KLP_DisplayModuleEntry)();
#define KLP_DISPLAY_MODULE_ENTRY "KLP_DisplayModuleOpen"

// The platform in use (null until set); the caller keeps ownership.
CKLP_UIPlatform* KLP_GetUI();
void KLP_SetUI(CKLP_UIPlatform* ui);

// Latin-1 bytes to UTF-8 and back (characters past Latin-1 become '?').
std::string KLP_Latin1ToUTF8(const std::string& s);
std::string KLP_UTF8ToLatin1(const std::string& s);
