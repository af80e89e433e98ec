// The UI platform on GTK 3 (X11 and Wayland): undecorated top-level
// windows whose visible and input shapes follow the toolkit's outline,
// painted from a kept RGB24 surface (so GTK's own repaints after menus and
// dialogs need nothing from the toolkit). GDK events are turned into the
// platform's events and queued; an idle source dispatches them, and the
// queue probes let GTK run without dispatching. Ctrl stands for the Mac's
// Command, Alt for Option and Super for Control.
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <X11/extensions/shape.h>
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CKLP_UICore.h"
#include "KLP_Alert.h"
#include "KLP_Palette.h"

namespace {

struct KeyPair {
  guint keyval;
  uint8_t vk;
};

const KeyPair kKeys[] = {
    {GDK_KEY_Up, 0x7E},         {GDK_KEY_Down, 0x7D},        {GDK_KEY_Left, 0x7B},      {GDK_KEY_Right, 0x7C},
    {GDK_KEY_KP_Up, 0x7E},      {GDK_KEY_KP_Down, 0x7D},     {GDK_KEY_KP_Left, 0x7B},   {GDK_KEY_KP_Right, 0x7C},
    {GDK_KEY_BackSpace, 0x33},  {GDK_KEY_Return, 0x24},      {GDK_KEY_KP_Enter, 0x4C},  {GDK_KEY_Escape, 0x35},
    {GDK_KEY_Delete, 0x75},     {GDK_KEY_KP_Delete, 0x75},   {GDK_KEY_End, 0x77},       {GDK_KEY_KP_End, 0x77},
    {GDK_KEY_Home, 0x73},       {GDK_KEY_KP_Home, 0x73},     {GDK_KEY_Tab, 0x30},       {GDK_KEY_ISO_Left_Tab, 0x30},
    {GDK_KEY_space, 0x31},      {GDK_KEY_F1, 0x7A},          {GDK_KEY_F2, 0x78},        {GDK_KEY_F3, 0x63},
    {GDK_KEY_F4, 0x76},         {GDK_KEY_F5, 0x60},          {GDK_KEY_F6, 0x61},        {GDK_KEY_F7, 0x62},
    {GDK_KEY_F8, 0x64},         {GDK_KEY_F9, 0x65},          {GDK_KEY_F10, 0x6D},       {GDK_KEY_F11, 0x67},
    {GDK_KEY_F12, 0x6F},        {GDK_KEY_equal, 0x18},       {GDK_KEY_plus, 0x18},      {GDK_KEY_comma, 0x2B},
    {GDK_KEY_less, 0x2B},       {GDK_KEY_minus, 0x1B},       {GDK_KEY_underscore, 0x1B}, {GDK_KEY_period, 0x2F},
    {GDK_KEY_greater, 0x2F},    {GDK_KEY_semicolon, 0x29},   {GDK_KEY_colon, 0x29},     {GDK_KEY_slash, 0x2C},
    {GDK_KEY_question, 0x2C},   {GDK_KEY_grave, 0x32},       {GDK_KEY_asciitilde, 0x32}, {GDK_KEY_bracketleft, 0x21},
    {GDK_KEY_braceleft, 0x21},  {GDK_KEY_bracketright, 0x1E}, {GDK_KEY_braceright, 0x1E}, {GDK_KEY_backslash, 0x2A},
    {GDK_KEY_bar, 0x2A},        {GDK_KEY_apostrophe, 0x27},  {GDK_KEY_quotedbl, 0x27},  {GDK_KEY_KP_Add, 0x45},
    {GDK_KEY_KP_Subtract, 0x4E}, {GDK_KEY_exclam, 0x12},     {GDK_KEY_at, 0x13},        {GDK_KEY_numbersign, 0x14},
    {GDK_KEY_dollar, 0x15},     {GDK_KEY_percent, 0x17},     {GDK_KEY_asciicircum, 0x16}, {GDK_KEY_ampersand, 0x1A},
    {GDK_KEY_asterisk, 0x1C},   {GDK_KEY_parenleft, 0x19},   {GDK_KEY_parenright, 0x1D}};

uint8_t VirtualKey(guint keyval) {
  const guint lower = gdk_keyval_to_lower(keyval);
  if (lower >= GDK_KEY_a && lower <= GDK_KEY_z) return klpVKLetters[lower - GDK_KEY_a];
  if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return klpVKDigits[keyval - GDK_KEY_0];
  for (const KeyPair& k : kKeys)
    if (k.keyval == keyval) return k.vk;
  return klpVKNone;
}

uint32_t Modifiers(guint state) {
  uint32_t m = 0;
  if (state & GDK_CONTROL_MASK) m |= klpCmdKey;
  if (state & GDK_MOD1_MASK) m |= klpOptionKey;
  if (state & GDK_SHIFT_MASK) m |= klpShiftKey;
  if (state & (GDK_SUPER_MASK | GDK_META_MASK | GDK_MOD4_MASK)) m |= klpControlKey;
  if (state & GDK_LOCK_MASK) m |= klpAlphaLock;
  return m;
}

// Cursor names for the toolkit's ids; the arrow for any other.
const char* CursorName(int32_t id) {
  switch (id) {
    case 1: return "text";
    case 128: case 129: case 130: case 131: return "grab";
    case 132: return "zoom-out";
    case 133: return "zoom-in";
    case 134: return "pointer";
    case 135: case 136: return "crosshair";
    case 137: return "not-allowed";
    case 138: return "col-resize";
    case 139: return "row-resize";
    case 140: return "copy";
    case 141: return "no-drop";
    case 142: return "help";
    case 143: return "move";
    case 144: return "alias";
    default: return "default";
  }
}

// The style sheet that dresses GTK's own widgets in the product's palette:
// its names ("@face" ...) stand for the palette's colours.
const char kStyle[] = R"css(
@define-color theme_bg_color @face;
@define-color theme_fg_color @text;
@define-color theme_base_color @field;
@define-color theme_text_color @text;
@define-color theme_selected_bg_color @accent;
@define-color theme_selected_fg_color @bright;
@define-color insensitive_fg_color @dim;
window, dialog, messagedialog, .background, headerbar, .titlebar, actionbar, scrolledwindow, notebook {
  background-color: @face; background-image: none; color: @text; }
messagedialog .dialog-action-area, messagedialog .dialog-action-box { background-color: @face; }
menu, .menu, .context-menu { background-color: @face; color: @text; border: 1px solid @edge; padding: 3px 0; }
menu menuitem { color: @text; padding: 4px 12px; }
menu menuitem:hover { background-color: @accent; color: @bright; }
menu menuitem:hover label, menu menuitem:hover accelerator { color: @bright; }
menu menuitem:disabled, menu menuitem:disabled label { color: @dim; }
menu menuitem accelerator { color: @soft; }
menu separator { background-color: @line; margin: 3px 0; min-height: 1px; }
entry, treeview.view, textview text, iconview, list, row, placessidebar, viewport {
  background-color: @field; color: @text; }
entry { border-color: @edge; }
entry:focus { border-color: @accent; box-shadow: inset 0 0 0 1px @accent; }
treeview.view:selected, row:selected, *:selected, selection { background-color: @accent; color: @bright; }
colorswatch:selected, colorswatch:selected overlay { background-color: transparent; background-image: none; }
treeview.view header button { background-image: none; background-color: @face; color: @soft; }
button { background-image: linear-gradient(@button_top, @button_bottom); background-color: @button_bottom;
  color: @text; border-color: @edge; box-shadow: none; text-shadow: none; -gtk-icon-shadow: none; }
button:hover { background-image: linear-gradient(shade(@button_top, 1.2), shade(@button_bottom, 1.2)); }
button:active, button:checked { background-image: linear-gradient(@accent_dark, @accent); color: @bright; }
button:disabled { background-image: none; background-color: @face; color: @dim; }
button.suggested-action, button.default { background-image: linear-gradient(@accent, @accent_dark);
  color: @bright; border-color: @accent_dark; }
button.suggested-action:disabled, button.default:disabled { background-image: none; background-color: @face;
  color: @dim; border-color: @edge; }
label:disabled { color: @dim; }
)css";

std::string Hex(uint32_t c) {
  char s[8];
  std::snprintf(s, sizeof s, "#%06x", static_cast<unsigned>(c & 0xFFFFFF));
  return s;
}

// GTK's dark variant, then the palette's faces, text and accent over every
// widget GTK draws for the toolkit (menus, file choosers, alerts).
void DressInPalette() {
  if (GtkSettings* settings = gtk_settings_get_default())
    g_object_set(settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
  GdkScreen* screen = gdk_screen_get_default();
  if (!screen) return;
  using namespace klp_palette;
  const std::pair<const char*, uint32_t> names[] = {
      {"face", kFace},          {"line", kFaceLine},         {"edge", kEdge},     {"field", kField},
      {"button_top", kButtonTop}, {"button_bottom", kButtonBottom}, {"text", kText}, {"bright", kTextBright},
      {"soft", kTextSoft},      {"dim", kTextDim},           {"accent", kAccent}, {"accent_dark", kAccentDark}};
  std::string css;
  for (const auto& n : names) css += std::string("@define-color ") + n.first + " " + Hex(n.second) + ";\n";
  css += kStyle;
  GtkCssProvider* provider = gtk_css_provider_new();
  if (gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr))
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

#ifdef GDK_WINDOWING_X11
// The area and extents of count rectangles that do not overlap.
void Cover(const XRectangle* rects, int count, long& area, XRectangle& extents) {
  area = 0;
  extents = {0, 0, 0, 0};
  if (count <= 0) return;
  long left = rects[0].x, top = rects[0].y, right = left + rects[0].width, bottom = top + rects[0].height;
  area = 0;
  for (int i = 0; i < count; ++i) {
    area += long{rects[i].width} * rects[i].height;
    left = std::min<long>(left, rects[i].x);
    top = std::min<long>(top, rects[i].y);
    right = std::max<long>(right, rects[i].x + rects[i].width);
    bottom = std::max<long>(bottom, rects[i].y + rects[i].height);
  }
  extents = {static_cast<short>(left), static_cast<short>(top), static_cast<unsigned short>(right - left),
             static_cast<unsigned short>(bottom - top)};
}

// The area and extents of a window's shape of that kind as the server
// holds it; false when they cannot be had (no memory for the answer).
bool ServerShape(Display* x, ::Window id, int kind, long& area, XRectangle& extents) {
  int count = 0, ordering = 0;
  XRectangle* rects = XShapeGetRectangles(x, id, kind, &count, &ordering);
  if (!rects) return false;
  Cover(rects, count, area, extents);
  XFree(rects);
  return true;
}

// On X11 the shapes go to the server from here, bounding and input: GDK
// copies a shape before it sends it and sends an empty one when the copy
// finds no memory (the window would map invisible and take no click), and
// it sends the bounding shape only once the window shows, too late to be
// confirmed. Each shape is read back and must cover what was asked (at the
// window's scale); none (runs null) restores the rectangle. False when
// memory ran out for the rectangles or the answer, or the server holds
// another shape. A server without the shape extension keeps the window
// rectangular.
bool SetServerShapes(GdkWindow* window, const std::vector<cairo_rectangle_int_t>* runs) {
  GdkDisplay* display = gdk_window_get_display(window);
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  const ::Window id = GDK_WINDOW_XID(window);
  const int scale = gdk_window_get_scale_factor(window);
  std::vector<XRectangle> rects;
  try {
    for (size_t i = 0; runs && i < runs->size(); ++i) {
      const cairo_rectangle_int_t& r = (*runs)[i];
      rects.push_back({static_cast<short>(r.x * scale), static_cast<short>(r.y * scale),
                       static_cast<unsigned short>(r.width * scale), static_cast<unsigned short>(r.height * scale)});
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  long area = 0;
  XRectangle want;
  Cover(rects.data(), static_cast<int>(rects.size()), area, want);
  for (const int kind : {ShapeBounding, ShapeInput}) {
    if (!(kind == ShapeBounding ? gdk_display_supports_shapes(display) : gdk_display_supports_input_shapes(display)))
      continue;
    if (runs)
      XShapeCombineRectangles(x, id, kind, 0, 0, rects.data(), static_cast<int>(rects.size()), ShapeSet, YXBanded);
    else
      XShapeCombineMask(x, id, kind, 0, 0, None, ShapeSet);
    long held = 0;
    XRectangle extents;
    if (!runs) continue;
    if (!ServerShape(x, id, kind, held, extents)) return rects.empty();
    if (held != area || extents.x != want.x || extents.y != want.y || extents.width != want.width ||
        extents.height != want.height)
      return false;
  }
  return true;
}
#endif

class CKLP_GtkUI;

gboolean TakeKeysOnMap(GSignalInvocationHint*, guint, const GValue* params, gpointer data);

struct WinContext {
  CKLP_GtkUI* ui;
  KLP_WindowID id;
};

struct Native {
  GtkWidget* widget = nullptr;
  cairo_surface_t* surface = nullptr;
  std::unique_ptr<WinContext> context;
  int32_t cursor = -1;
};

struct TimerContext {
  CKLP_GtkUI* ui;
  KLP_TimerID id;
};

class CKLP_GtkUI : public CKLP_UICore {
 public:
  CKLP_GtkUI() : m_display(gdk_display_get_default()) {
    m_mapHook = g_signal_add_emission_hook(g_signal_lookup("map-event", GTK_TYPE_WIDGET), 0, TakeKeysOnMap, this,
                                           nullptr);
  }
  ~CKLP_GtkUI() override;

  uint32_t GetScreens(KLP_Rect* out, uint32_t max) override;
  KLP_WindowID CreateWindow(const KLP_WindowDesc& desc, CKLP_WindowClient* client) override;
  void DestroyWindow(KLP_WindowID w) override;
  bool SetWindowShape(KLP_WindowID w, const uint8_t* bits, uint32_t rowBytes) override;
  void ShowWindow(KLP_WindowID w, bool show) override;
  void SelectWindow(KLP_WindowID w) override;
  void CollapseWindow(KLP_WindowID w) override;
  void MoveWindow(KLP_WindowID w, int32_t x, int32_t y) override;
  void DragWindow(KLP_WindowID w, KLP_Point start) override;
  void DrawPixels(KLP_WindowID w, const uint8_t* xrgb, uint32_t rowBytes, KLP_Rect src, KLP_Point to) override;
  void FlushWindow(KLP_WindowID w, KLP_Rect rect) override;
  bool PeekEvent(uint32_t mask) override;
  bool TakeEvent(uint32_t mask, KLP_Event& out) override;
  int32_t RunLoop(KLP_WindowID modalFor) override;
  void QuitLoop(KLP_WindowID modalFor) override;
  KLP_TimerID AddTimer(uint32_t intervalMs, std::function<void()> tick) override;
  void RemoveTimer(KLP_TimerID t) override;
  uint32_t GetTickMs() override { return static_cast<uint32_t>(g_get_monotonic_time() / 1000); }
  uint32_t GetDoubleClickMs() override { return static_cast<uint32_t>(Setting("gtk-double-click-time", 400)); }
  uint32_t GetCaretBlinkMs() override { return static_cast<uint32_t>(Setting("gtk-cursor-blink-time", 1200) / 2); }
  uint32_t GetModifiers() override;
  bool IsKeyDown(uint8_t virtualKey) override { return m_keys[virtualKey] != 0; }
  KLP_Point GetMousePosition() override;
  int32_t GetScrollArrowStyle() override { return 1; }  // GTK puts its steppers one at each end
  void Beep() override { gdk_display_beep(m_display); }
  void Alert(const std::string& title, const std::string& text, KLP_WindowID parent) override;
  bool HasClipboardText() override;
  bool GetClipboardText(std::string& out) override;
  bool SetClipboardText(const std::string& text) override;
  void SetCursor(KLP_WindowID w, int32_t id) override;
  int32_t PopupMenu(KLP_WindowID w, const std::vector<KLP_MenuItem>& items, KLP_Point at) override;
  KLP_FileAnswer AskFile(const KLP_FileQuestion& question) override;
  KLP_Picked PickColor(KLP_WindowID parent, const std::string& title, uint16_t rgb[3]) override;

  // Signal handlers.
  void RequestClose(KLP_WindowID w) {
    if (Find(w)) PostWindowEvent(w, klpWindowClose);
  }
  // Runs a signal handler's work. What it throws (the toolkit's code, or
  // an allocation) must not unwind through GTK: it is kept, every loop is
  // quit, and the call that ran GTK throws it again on the toolkit's side.
  template <class R, class F>
  R Guarded(R failure, F&& f) {
    try {
      return f();
    } catch (...) {
      if (!m_thrown) m_thrown = std::current_exception();
      for (GMainLoop* loop : m_loops) g_main_loop_quit(loop);
      return failure;
    }
  }
  gboolean OnDraw(KLP_WindowID w, cairo_t* cr);
  gboolean OnInput(KLP_WindowID w, GdkEvent* event);
  void OnWidgetMapped(GtkWidget* widget);
  void OnTick(KLP_TimerID t);
  gboolean Dispatch();
  void FocusSettled();

 protected:
  void Posted() override;

 private:
  struct Timer {
    guint source;
    std::function<void()> tick;
  };
  int Setting(const char* name, int fallback);
  GtkWindow* Widget(KLP_WindowID w);
  // A platform dialog made modal, transient for and centred over the
  // window it is asked over (else the front window), then run.
  gint RunDialog(GtkWidget* dialog, KLP_WindowID parent);
  // Lets GTK turn pending input into queued events without dispatching them.
  void Gather();
  void Hold() { ++m_holding; }
  void Release();
  bool Convert(KLP_WindowID w, GdkEvent* event, KLP_Event& e);
  // Throws what a signal handler kept, once GTK has returned.
  void Rethrow();
  [[nodiscard]] bool i_MakeWindow(Window& rec, const KLP_WindowDesc& desc, const std::string& title);
  // Drops a record CreateWindow had made, without a dispose event.
  void i_ForgetRecord(KLP_WindowID id);
  void TrackOrigin(KLP_WindowID w, GdkEvent* event);
  bool i_PendingMove(KLP_WindowID w, GdkEvent* event);
  // Asks for the keys for a window on screen with the server's time of now.
  void i_TakeKeysNow(GtkWidget* widget);
  // Once a dialog of GTK's asked over a window is gone, that window takes
  // the keys back at once, as a window manager gives them back to it;
  // without one they would follow the pointer, and the toolkit would hear
  // of it only later.
  void i_KeysBack(KLP_WindowID over);
  // Puts a window just shown under the windows in front of it on screen.
  void i_StackAsRecorded(KLP_WindowID w);

  GdkDisplay* m_display;
  std::exception_ptr m_thrown;
  std::map<KLP_WindowID, Native> m_native;
  std::map<KLP_TimerID, Timer> m_timers;
  std::vector<GMainLoop*> m_loops;  // one per frame
  KLP_TimerID m_nextTimer = 1;
  guint m_dispatchSource = 0;
  int m_holding = 0;
  uint8_t m_keys[256] = {};
  GdkEvent* m_lastPress = nullptr;
  // A window that lost the keys, deactivated only if it has not had them
  // back once GDK's pending events are through.
  KLP_WindowID m_focusOut = 0;
  guint m_focusSource = 0;
  KLP_WindowID m_pendingMove = 0;  // moved by the held button's next motion
  KLP_Point m_pendingFrom = {0, 0};  // from the press's point
  KLP_WindowID m_keysOnMap = 0;  // selected last before it was on screen
  KLP_WindowID m_menuOwner = 0;  // the window whose pop-up menu is up
  gulong m_mapHook = 0;
};

gboolean DrawSignal(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* c = static_cast<WinContext*>(data);
  return c->ui->Guarded<gboolean>(FALSE, [&] { return c->ui->OnDraw(c->id, cr); });
}

gboolean InputSignal(GtkWidget*, GdkEvent* event, gpointer data) {
  auto* c = static_cast<WinContext*>(data);
  return c->ui->Guarded<gboolean>(FALSE, [&] { return c->ui->OnInput(c->id, event); });
}

// The window manager's close becomes the toolkit's close request; the
// window stays until the toolkit closes it.
gboolean DeleteSignal(GtkWidget*, GdkEvent*, gpointer data) {
  auto* c = static_cast<WinContext*>(data);
  return c->ui->Guarded<gboolean>(TRUE, [&] {
    c->ui->RequestClose(c->id);
    return TRUE;
  });
}

gboolean DispatchIdle(gpointer data) {
  CKLP_GtkUI* ui = static_cast<CKLP_GtkUI*>(data);
  return ui->Guarded<gboolean>(G_SOURCE_REMOVE, [ui] { return ui->Dispatch(); });
}

gboolean TimerTick(gpointer data) {
  auto* c = static_cast<TimerContext*>(data);
  return c->ui->Guarded<gboolean>(G_SOURCE_CONTINUE, [c] {
    c->ui->OnTick(c->id);
    return G_SOURCE_CONTINUE;
  });
}

void FreeTimerContext(gpointer data) { delete static_cast<TimerContext*>(data); }

gboolean FocusIdle(gpointer data) {
  CKLP_GtkUI* ui = static_cast<CKLP_GtkUI*>(data);
  return ui->Guarded<gboolean>(G_SOURCE_REMOVE, [ui] {
    ui->FocusSettled();
    return G_SOURCE_REMOVE;
  });
}

CKLP_GtkUI::~CKLP_GtkUI() {
  if (m_mapHook) g_signal_remove_emission_hook(g_signal_lookup("map-event", GTK_TYPE_WIDGET), m_mapHook);
  if (m_dispatchSource) g_source_remove(m_dispatchSource);
  if (m_focusSource) g_source_remove(m_focusSource);
  for (auto& t : m_timers) g_source_remove(t.second.source);
  for (auto& n : m_native) {
    gtk_widget_destroy(n.second.widget);
    cairo_surface_destroy(n.second.surface);
  }
  if (m_lastPress) gdk_event_free(m_lastPress);
}

int CKLP_GtkUI::Setting(const char* name, int fallback) {
  int v = fallback;
  if (GtkSettings* s = gtk_settings_get_default()) g_object_get(s, name, &v, nullptr);
  return v > 0 ? v : fallback;
}

GtkWindow* CKLP_GtkUI::Widget(KLP_WindowID w) {
  auto it = m_native.find(w);
  return it == m_native.end() ? nullptr : GTK_WINDOW(it->second.widget);
}

uint32_t CKLP_GtkUI::GetScreens(KLP_Rect* out, uint32_t max) {
  const int n = gdk_display_get_n_monitors(m_display);
  GdkMonitor* primary = gdk_display_get_primary_monitor(m_display);
  if (!primary && n > 0) primary = gdk_display_get_monitor(m_display, 0);
  uint32_t count = 0;
  auto add = [&](GdkMonitor* m) {
    GdkRectangle r;
    gdk_monitor_get_workarea(m, &r);
    if (count < max) out[count++] = {r.x, r.y, r.x + r.width, r.y + r.height};
  };
  if (primary) add(primary);
  for (int i = 0; i < n; ++i)
    if (gdk_display_get_monitor(m_display, i) != primary) add(gdk_display_get_monitor(m_display, i));
  return count;
}

// What needs memory is had before the native window is made: a window that
// cannot have it is not made (0), and nothing of it is left.
KLP_WindowID CKLP_GtkUI::CreateWindow(const KLP_WindowDesc& desc, CKLP_WindowClient* client) {
  Window* rec = nullptr;
  std::string title;
  try {
    title = KLP_Latin1ToUTF8(desc.title);
    std::unique_ptr<WinContext> context(new WinContext{this, 0});
    rec = AddRecord(desc, client);
    if (!rec) return errno = EINVAL, 0;
    context->id = rec->id;
    m_native[rec->id].context = std::move(context);
  } catch (...) {
    if (rec) i_ForgetRecord(rec->id);
    return errno = ENOMEM, 0;
  }
  if (!i_MakeWindow(*rec, desc, title)) {
    i_ForgetRecord(rec->id);
    return errno = ENOMEM, 0;
  }
  return rec->id;
}

void CKLP_GtkUI::i_ForgetRecord(KLP_WindowID id) {
  m_native.erase(id);
  m_z.erase(std::remove_if(m_z.begin(), m_z.end(), [id](const auto& o) { return o->id == id; }), m_z.end());
}

// The kept surface first: cairo answers a surface in error when its
// memory cannot be had, and a window painted from it would stay black.
bool CKLP_GtkUI::i_MakeWindow(Window& rec, const KLP_WindowDesc& desc, const std::string& title) {
  const int w = desc.bounds.right - desc.bounds.left, h = desc.bounds.bottom - desc.bounds.top;
  Native& n = m_native[rec.id];
  n.surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  if (cairo_surface_status(n.surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(n.surface);
    n.surface = nullptr;
    return false;
  }
  GtkWidget* win = n.widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(win), title.c_str());
  gtk_window_set_decorated(GTK_WINDOW(win), FALSE);
  gtk_window_set_resizable(GTK_WINDOW(win), FALSE);
  gtk_widget_set_app_paintable(win, TRUE);
  gtk_widget_set_size_request(win, w, h);
  gtk_window_move(GTK_WINDOW(win), desc.bounds.left, desc.bounds.top);
  if (GtkWindow* parent = Widget(desc.parent)) gtk_window_set_transient_for(GTK_WINDOW(win), parent);
  if (desc.modal) gtk_window_set_type_hint(GTK_WINDOW(win), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_widget_add_events(win, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                 GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK);
  g_signal_connect(win, "draw", G_CALLBACK(DrawSignal), n.context.get());
  for (const char* s : {"button-press-event", "button-release-event", "motion-notify-event", "scroll-event",
                        "key-press-event", "key-release-event", "focus-in-event", "focus-out-event",
                        "configure-event"})
    g_signal_connect(win, s, G_CALLBACK(InputSignal), n.context.get());
  g_signal_connect(win, "delete-event", G_CALLBACK(DeleteSignal), n.context.get());
  gtk_widget_realize(win);
  // Modal for the window manager only (gtk_window_set_modal would also take
  // every other window's input inside GTK): the toolkit keeps its own rule.
  if (desc.modal) gdk_window_set_modal_hint(gtk_widget_get_window(win), TRUE);
  return true;
}

void CKLP_GtkUI::DestroyWindow(KLP_WindowID w) {
  if (!Find(w)) return;
  if (m_pendingMove == w) m_pendingMove = 0;
  if (m_keysOnMap == w) m_keysOnMap = 0;
  DisposeRecord(w);
  auto it = m_native.find(w);
  if (it == m_native.end()) return;
  Native n = std::move(it->second);
  m_native.erase(it);
  gtk_widget_destroy(n.widget);
  cairo_surface_destroy(n.surface);
  // Gone from the server before the program goes on: a click or a key
  // aimed at the window behind would otherwise reach the closed one, which
  // still stands there (and may have the keys) until GTK's next flush.
  gdk_display_sync(m_display);
}

bool CKLP_GtkUI::SetWindowShape(KLP_WindowID w, const uint8_t* bits, uint32_t rowBytes) {
  if (!CKLP_UICore::SetWindowShape(w, bits, rowBytes)) return false;
  GtkWidget* widget = GTK_WIDGET(Widget(w));
  const Window* win = Find(w);
  // One rectangle per run of inside pixels.
  std::vector<cairo_rectangle_int_t> runs;
  const int width = win->bounds.right - win->bounds.left, height = win->bounds.bottom - win->bounds.top;
  try {
    for (int y = 0; bits && y < height; ++y)
      for (int x = 0; x < width;) {
        auto in = [&](int i) { return (bits[static_cast<size_t>(y) * rowBytes + (i >> 3)] & (0x80 >> (i & 7))) != 0; };
        if (!in(x)) {
          ++x;
          continue;
        }
        int end = x;
        while (end < width && in(end)) ++end;
        runs.push_back({x, y, end - x, 1});
        x = end;
      }
  } catch (const std::bad_alloc&) {
    return errno = ENOMEM, false;
  }
#ifdef GDK_WINDOWING_X11
  GdkWindow* window = gtk_widget_get_window(widget);
  if (window && GDK_IS_X11_WINDOW(window))
    return SetServerShapes(window, bits ? &runs : nullptr) || (errno = ENOMEM, false);
#endif
  cairo_region_t* region = nullptr;
  if (bits) {
    region = cairo_region_create_rectangles(runs.data(), static_cast<int>(runs.size()));
    // A region that found no memory is in error, its runs lost.
    if (cairo_region_status(region) != CAIRO_STATUS_SUCCESS) {
      cairo_region_destroy(region);
      return errno = ENOMEM, false;
    }
  }
  gtk_widget_shape_combine_region(widget, region);
  gtk_widget_input_shape_combine_region(widget, region);
  if (region) cairo_region_destroy(region);
  return true;
}

void CKLP_GtkUI::ShowWindow(KLP_WindowID w, bool show) {
  Window* win = Find(w);
  if (!win || win->visible == show) return;
  win->visible = show;
  if (show) {
    // The picture is in the surface before the window maps: no blank flash.
    KLP_Event draw;
    draw.eventClass = klpClassWindow;
    draw.kind = klpWindowDraw;
    draw.window = w;
    DispatchEvent(draw, 0);
    if (GtkWindow* widget = Widget(w)) gtk_widget_show(GTK_WIDGET(widget));
    i_StackAsRecorded(w);
  } else {
    gtk_widget_hide(GTK_WIDGET(Widget(w)));
    // Gone from the screen now, also when a long operation follows.
    gdk_display_flush(m_display);
    HandOver(w);
  }
}

// GTK maps the window it presents; one not shown yet is only put in front
// and activated, and stays off screen until its maker shows it whole. A
// window selected before it is on screen gets the keys once it is (its
// map): without a window manager nothing gives them to it, and a click
// into it would not ask again (it is active already). One on screen asks
// for them with the server's time of now, which the server cannot refuse
// as older than the last change of the keys: the display follows what the
// toolkit was told.
void CKLP_GtkUI::SelectWindow(KLP_WindowID w) {
  const Window* win = Find(w);
  if (!win) return;
  Raise(w);
  GtkWidget* widget = GTK_WIDGET(Widget(w));
  m_keysOnMap = gtk_widget_get_mapped(widget) ? 0 : w;
  if (m_focusOut == w) m_focusOut = 0;
  if (win->visible && !m_keysOnMap) i_TakeKeysNow(widget);
  Activate(w);
}

// GTK raises every window it maps: one shown after windows selected after
// it (in front of it) are on screen goes back under the nearest of them.
void CKLP_GtkUI::i_StackAsRecorded(KLP_WindowID w) {
  GtkWindow* own = Widget(w);
  GtkWindow* above = nullptr;
  for (const auto& win : m_z) {
    if (win->id == w) break;
    if (win->visible) above = Widget(win->id);
  }
  GdkWindow* window = own ? gtk_widget_get_window(GTK_WIDGET(own)) : nullptr;
  GdkWindow* sibling = above ? gtk_widget_get_window(GTK_WIDGET(above)) : nullptr;
  if (window && sibling) gdk_window_restack(window, sibling, FALSE);
}

void CKLP_GtkUI::CollapseWindow(KLP_WindowID w) {
  if (GtkWindow* win = Widget(w)) gtk_window_iconify(win);
}

void CKLP_GtkUI::MoveWindow(KLP_WindowID w, int32_t x, int32_t y) {
  Window* win = Find(w);
  if (!win) return;
  win->bounds = {x, y, x + win->bounds.right - win->bounds.left, y + win->bounds.bottom - win->bounds.top};
  gtk_window_move(Widget(w), x, y);
}

// The move starts with the first motion of the held button, as GTK's own
// title bars do: a move asked at a press that has already ended (its
// release queued, or the button up by now) or ended before any motion
// would follow the pointer until the next click, the window manager's
// move or GDK's own.
void CKLP_GtkUI::DragWindow(KLP_WindowID w, KLP_Point start) {
  GtkWindow* win = Widget(w);
  GdkWindow* gw = win ? gtk_widget_get_window(GTK_WIDGET(win)) : nullptr;
  GdkSeat* seat = gdk_display_get_default_seat(m_display);
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  m_pendingMove = 0;
  if (!gw || !pointer || ReleaseQueued(w)) return;
  GdkModifierType state = static_cast<GdkModifierType>(0);
  gdk_window_get_device_position(gw, pointer, nullptr, nullptr, &state);
  if (!(state & GDK_BUTTON1_MASK)) return;
  m_pendingMove = w;
  m_pendingFrom = start;
}

// True when the event (the held button's motion) started the pending move,
// which takes it; a release ends the move unstarted.
bool CKLP_GtkUI::i_PendingMove(KLP_WindowID w, GdkEvent* event) {
  if (!m_pendingMove) return false;
  if (event->type == GDK_BUTTON_RELEASE) {
    m_pendingMove = 0;
    return false;
  }
  if (event->type != GDK_MOTION_NOTIFY || m_pendingMove != w) return false;
  m_pendingMove = 0;
  if (!(event->motion.state & GDK_BUTTON1_MASK)) return false;
  gtk_window_begin_move_drag(Widget(w), 1, m_pendingFrom.x, m_pendingFrom.y, event->motion.time);
  return true;
}

void CKLP_GtkUI::DrawPixels(KLP_WindowID w, const uint8_t* xrgb, uint32_t rowBytes, KLP_Rect src, KLP_Point to) {
  auto it = m_native.find(w);
  if (it == m_native.end() || !xrgb) return;
  cairo_surface_t* s = it->second.surface;
  const int width = cairo_image_surface_get_width(s), height = cairo_image_surface_get_height(s);
  const int x0 = std::max(to.x, 0), x1 = std::min<int64_t>(to.x + int64_t{src.right} - src.left, width);
  const int y0 = std::max(to.y, 0), y1 = std::min<int64_t>(to.y + int64_t{src.bottom} - src.top, height);
  if (x1 <= x0 || y1 <= y0) return;
  cairo_surface_flush(s);
  const int stride = cairo_image_surface_get_stride(s);
  // The toolkit's bytes 0, R, G, B become native 0x00RRGGBB words.
  for (int y = y0; y < y1; ++y) {
    const uint8_t* from = xrgb + (int64_t{y} - to.y + src.top) * rowBytes + (int64_t{x0} - to.x + src.left) * 4;
    uint32_t* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + static_cast<size_t>(y) * stride);
    for (int x = x0; x < x1; ++x, from += 4) row[x] = uint32_t{from[1]} << 16 | uint32_t{from[2]} << 8 | from[3];
  }
  cairo_surface_mark_dirty_rectangle(s, x0, y0, x1 - x0, y1 - y0);
  gtk_widget_queue_draw_area(it->second.widget, x0, y0, x1 - x0, y1 - y0);
}

void CKLP_GtkUI::FlushWindow(KLP_WindowID w, KLP_Rect) {
  GtkWindow* win = Widget(w);
  if (!win || !gtk_widget_get_window(GTK_WIDGET(win))) return;
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gdk_window_process_updates(gtk_widget_get_window(GTK_WIDGET(win)), FALSE);
  G_GNUC_END_IGNORE_DEPRECATIONS
  gdk_display_sync(m_display);
}

// The kept surface goes to the server through shared memory. cairo, when
// it has no memory to manage a new segment, gives the segment up before
// the server has attached it, and the server refuses the attach: what the
// server refuses of this upload is let go (cairo has drawn without the
// segment), where GDK would end the process on it. A picture cairo could
// not paint for want of memory is painted again on the next frame, or the
// window would stay dark until something else redraws it.
gboolean CKLP_GtkUI::OnDraw(KLP_WindowID w, cairo_t* cr) {
  auto it = m_native.find(w);
  if (it == m_native.end()) return FALSE;
#ifdef GDK_WINDOWING_X11
  const bool x11 = GDK_IS_X11_DISPLAY(m_display);
  if (x11) gdk_x11_display_error_trap_push(m_display);
#endif
  cairo_set_source_surface(cr, it->second.surface, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
#ifdef GDK_WINDOWING_X11
  if (x11) gdk_x11_display_error_trap_pop_ignored(m_display);
#endif
  if (cairo_status(cr) == CAIRO_STATUS_NO_MEMORY) gtk_widget_queue_draw(GTK_WIDGET(Widget(w)));
  return TRUE;
}

bool CKLP_GtkUI::Convert(KLP_WindowID w, GdkEvent* event, KLP_Event& e) {
  e.window = w;
  // The display server's time of the event, not of its conversion.
  const guint32 made = gdk_event_get_time(event);
  e.time = made != GDK_CURRENT_TIME ? made : GetTickMs();
  guint state = 0;
  gdk_event_get_state(event, reinterpret_cast<GdkModifierType*>(&state));
  e.modifiers = Modifiers(state);
  double x = 0, y = 0;
  if (gdk_event_get_root_coords(event, &x, &y)) e.where = {static_cast<int32_t>(x), static_cast<int32_t>(y)};
  switch (event->type) {
    case GDK_BUTTON_PRESS:
    case GDK_BUTTON_RELEASE: {
      const guint b = event->button.button;
      e.eventClass = klpClassMouse;
      e.kind = event->type == GDK_BUTTON_PRESS ? klpMouseDown : klpMouseUp;
      e.button = b == 1 ? 1 : b == 3 ? 2 : 3;
      if (event->type == GDK_BUTTON_PRESS) {
        if (m_lastPress) gdk_event_free(m_lastPress);
        m_lastPress = gdk_event_copy(event);
      }
      return true;
    }
    case GDK_MOTION_NOTIFY:
      e.eventClass = klpClassMouse;
      e.kind = (state & GDK_BUTTON1_MASK) ? klpMouseDragged : klpMouseMoved;
      return true;
    case GDK_SCROLL: {
      const GdkScrollDirection d = event->scroll.direction;
      if (d == GDK_SCROLL_SMOOTH) return false;
      e.eventClass = klpClassMouse;
      e.kind = klpMouseWheel;
      e.wheelAxis = d == GDK_SCROLL_LEFT || d == GDK_SCROLL_RIGHT ? 1 : 0;
      e.wheelDelta = d == GDK_SCROLL_UP || d == GDK_SCROLL_LEFT ? 1 : -1;
      return true;
    }
    case GDK_KEY_PRESS:
    case GDK_KEY_RELEASE: {
      const guint32 u = gdk_keyval_to_unicode(event->key.keyval);
      e.where = GetMousePosition();
      e.eventClass = klpClassKeyboard;
      e.virtualKey = VirtualKey(event->key.keyval);
      e.charCode = u <= 0xFF ? static_cast<uint8_t>(u) : 0;
      const bool down = event->type == GDK_KEY_PRESS;
      e.kind = !down ? klpKeyUp : m_keys[e.virtualKey] ? klpKeyRepeat : klpKeyDown;
      if (e.virtualKey != klpVKNone) m_keys[e.virtualKey] = down;
      return true;
    }
    default: return false;
  }
}

gboolean CKLP_GtkUI::OnInput(KLP_WindowID w, GdkEvent* event) {
  Window* win = Find(w);
  if (!win) return FALSE;
  switch (event->type) {
    case GDK_FOCUS_CHANGE:
      // A window that has the keys through the pointer and is then given
      // them outright hears out, then in, at once: only a loss that
      // stays deactivates, or the window would drop its control's focus.
      // Its own pop-up menu takes the keys through a grab, which is no
      // loss either: the window stays active through its menu.
      if (event->focus_change.in) {
        if (m_focusOut == w) m_focusOut = 0;
        Activate(w);
      } else if (m_active == w && m_menuOwner != w) {
        m_focusOut = w;
        if (!m_focusSource) m_focusSource = g_idle_add_full(G_PRIORITY_LOW, FocusIdle, this, nullptr);
      }
      return FALSE;
    case GDK_CONFIGURE: {
      const int width = win->bounds.right - win->bounds.left, height = win->bounds.bottom - win->bounds.top;
      win->bounds = {event->configure.x, event->configure.y, event->configure.x + width, event->configure.y + height};
      return FALSE;
    }
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS: return TRUE;  // the toolkit counts its own clicks
    default: break;
  }
  TrackOrigin(w, event);
  if (i_PendingMove(w, event)) return TRUE;
  KLP_Event e;
  if (!Convert(w, event, e)) return FALSE;
  Post(e);
  return TRUE;
}

void CKLP_GtkUI::FocusSettled() {
  m_focusSource = 0;
  const KLP_WindowID w = m_focusOut;
  m_focusOut = 0;
  if (w && m_active == w) Activate(0);
}

// A configure notice's position is worked out when it is handled, and a
// window manager may still move its frame after that without a word: the
// pointer's events, which carry both the window's and the screen's point,
// keep the window's place true for the mapping of their own points.
void CKLP_GtkUI::TrackOrigin(KLP_WindowID w, GdkEvent* event) {
  Window* win = Find(w);
  auto it = m_native.find(w);
  double x = 0, y = 0, rx = 0, ry = 0;
  if (!win || it == m_native.end() || event->any.window != gtk_widget_get_window(it->second.widget) ||
      !gdk_event_get_coords(event, &x, &y) || !gdk_event_get_root_coords(event, &rx, &ry))
    return;
  const int32_t left = static_cast<int32_t>(std::lround(rx - x)), top = static_cast<int32_t>(std::lround(ry - y));
  win->bounds = {left, top, left + win->bounds.right - win->bounds.left, top + win->bounds.bottom - win->bounds.top};
}

void CKLP_GtkUI::Posted() {
  if (!m_dispatchSource && !m_holding) m_dispatchSource = g_idle_add_full(G_PRIORITY_DEFAULT, DispatchIdle, this, nullptr);
}

gboolean CKLP_GtkUI::Dispatch() {
  m_dispatchSource = 0;
  // The events behind one that ended the innermost loop are the outer
  // loop's: dispatched now they would meet the ended loop's input rule.
  for (KLP_Event e; !m_holding && !(GetLoopDepth() > 0 && FrameDone(GetLoopDepth() - 1)) &&
                    CKLP_UICore::TakeEvent(~0u, e);)
    DispatchEvent(e, 0);
  return G_SOURCE_REMOVE;
}

void CKLP_GtkUI::Release() {
  if (--m_holding == 0 && !m_queue.empty()) Posted();
}

void CKLP_GtkUI::Gather() {
  Hold();
  for (int i = 0; i < 64 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
  Release();
  Rethrow();
}

void CKLP_GtkUI::Rethrow() {
  if (!m_thrown) return;
  std::exception_ptr thrown = m_thrown;
  m_thrown = nullptr;
  std::rethrow_exception(thrown);
}

bool CKLP_GtkUI::PeekEvent(uint32_t mask) {
  Gather();
  return CKLP_UICore::PeekEvent(mask);
}

bool CKLP_GtkUI::TakeEvent(uint32_t mask, KLP_Event& out) {
  Gather();
  return CKLP_UICore::TakeEvent(mask, out);
}

int32_t CKLP_GtkUI::RunLoop(KLP_WindowID modalFor) {
  const size_t frame = PushFrame(modalFor);
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  m_loops.push_back(loop);
  if (!m_queue.empty()) Posted();
  if (!FrameDone(frame)) g_main_loop_run(loop);
  m_loops.pop_back();
  g_main_loop_unref(loop);
  PopFrame();
  if (!m_queue.empty()) Posted();
  Rethrow();
  return klpLoopQuit;
}

void CKLP_GtkUI::QuitLoop(KLP_WindowID modalFor) {
  const int32_t f = MarkQuit(modalFor);
  if (f >= 0 && static_cast<size_t>(f) < m_loops.size()) g_main_loop_quit(m_loops[static_cast<size_t>(f)]);
}

KLP_TimerID CKLP_GtkUI::AddTimer(uint32_t intervalMs, std::function<void()> tick) {
  if (intervalMs == 0 || !tick) return 0;
  const KLP_TimerID id = m_nextTimer;
  TimerContext* context = new (std::nothrow) TimerContext{this, id};
  if (!context) return errno = ENOMEM, 0;
  try {
    m_timers[id].tick = std::move(tick);
  } catch (...) {  // no memory for the entry: no timer
    delete context;
    return errno = ENOMEM, 0;
  }
  ++m_nextTimer;
  m_timers[id].source = g_timeout_add_full(G_PRIORITY_DEFAULT, intervalMs, TimerTick, context, FreeTimerContext);
  return id;
}

void CKLP_GtkUI::RemoveTimer(KLP_TimerID t) {
  auto it = m_timers.find(t);
  if (it == m_timers.end()) return;
  g_source_remove(it->second.source);
  m_timers.erase(it);
}

void CKLP_GtkUI::OnTick(KLP_TimerID t) {
  auto it = m_timers.find(t);
  if (it == m_timers.end()) return;
  std::function<void()> tick = it->second.tick;  // the tick may remove its timer
  tick();
}

uint32_t CKLP_GtkUI::GetModifiers() {
  return Modifiers(gdk_keymap_get_modifier_state(gdk_keymap_get_for_display(m_display)));
}

KLP_Point CKLP_GtkUI::GetMousePosition() {
  GdkSeat* seat = gdk_display_get_default_seat(m_display);
  GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
  int x = 0, y = 0;
  if (pointer) gdk_device_get_position(pointer, nullptr, &x, &y);
  return {x, y};
}

gboolean TakeKeysOnMap(GSignalInvocationHint*, guint, const GValue* params, gpointer data) {
  static_cast<CKLP_GtkUI*>(data)->OnWidgetMapped(GTK_WIDGET(g_value_get_object(&params[0])));
  return TRUE;
}

// A dialog of GTK's over our windows (alert, file question, colour
// chooser) asks for the keys as it maps with the time of the last input,
// which the server refuses when the focus changed since (a menu's or
// another dialog's closing, after that input): without a window manager
// its keys then only come through the window that kept the focus. Once on
// screen it asks again with the server's time of now; so does the window of
// ours selected last before it was on screen, while it is still the active
// one.
void CKLP_GtkUI::OnWidgetMapped(GtkWidget* widget) {
  if (m_keysOnMap) {
    auto it = m_native.find(m_keysOnMap);
    if (it != m_native.end() && it->second.widget == widget) {
      if (m_active == m_keysOnMap) i_TakeKeysNow(widget);
      m_keysOnMap = 0;
      return;
    }
  }
  GtkWindow* over = GTK_IS_DIALOG(widget) ? gtk_window_get_transient_for(GTK_WINDOW(widget)) : nullptr;
  bool ours = false;
  for (const auto& n : m_native) ours = ours || GTK_WIDGET(over) == n.second.widget;
  if (ours) i_TakeKeysNow(widget);
}

void CKLP_GtkUI::i_TakeKeysNow(GtkWidget* widget) {
#ifdef GDK_WINDOWING_X11
  GdkWindow* gw = gtk_widget_get_window(widget);
  if (gw && GDK_IS_X11_WINDOW(gw)) {
    // The server's time is read through a property change on the window.
    gdk_window_set_events(gw, static_cast<GdkEventMask>(gdk_window_get_events(gw) | GDK_PROPERTY_CHANGE_MASK));
    gtk_window_present_with_time(GTK_WINDOW(widget), gdk_x11_get_server_time(gw));
    return;
  }
#endif
  gtk_window_present(GTK_WINDOW(widget));
}

void CKLP_GtkUI::i_KeysBack(KLP_WindowID over) {
  const Window* win = Find(over);
  if (win && win->visible) SelectWindow(over);
}

gint CKLP_GtkUI::RunDialog(GtkWidget* d, KLP_WindowID parent) {
  GtkWindow* over = Widget(DialogParent(parent));
  gtk_window_set_transient_for(GTK_WINDOW(d), over);
  gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  gtk_window_set_position(GTK_WINDOW(d), over ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  Hold();
  const gint response = gtk_dialog_run(GTK_DIALOG(d));
  Release();
  return response;
}

// Ends an alert whose picture GTK could not draw (out of memory: it would
// show black, without its text).
gboolean AlertDrawn(GtkWidget* dialog, cairo_t* cr, gpointer failed) {
  if (cairo_status(cr) == CAIRO_STATUS_SUCCESS) return FALSE;
  *static_cast<bool*>(failed) = true;
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_NONE);
  return FALSE;
}

// An alert that cannot be shown, or whose text cannot be drawn, is told
// on the standard error instead, as without a display.
void CKLP_GtkUI::Alert(const std::string& title, const std::string& text, KLP_WindowID parent) {
  std::string utf8Text, utf8Title;
  try {
    utf8Text = KLP_Latin1ToUTF8(text);
    utf8Title = KLP_Latin1ToUTF8(title);
  } catch (...) {  // no memory for the texts
    KLP_ShowAlert(title.c_str(), text.c_str());
    return;
  }
  GtkWidget* d =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", utf8Text.c_str());
  gtk_window_set_title(GTK_WINDOW(d), utf8Title.c_str());
  bool failed = false;
  g_signal_connect_after(d, "draw", G_CALLBACK(AlertDrawn), &failed);
  const KLP_WindowID over = DialogParent(parent);
  RunDialog(d, over);
  gtk_widget_destroy(d);
  i_KeysBack(over);
  if (failed) KLP_ShowAlert(title.c_str(), text.c_str());
  Rethrow();
}

bool CKLP_GtkUI::HasClipboardText() {
  return gtk_clipboard_wait_is_text_available(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
}

bool CKLP_GtkUI::GetClipboardText(std::string& out) {
  gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  if (!text) return false;
  bool got = true;
  try {
    out = KLP_UTF8ToLatin1(text);
  } catch (...) {  // no memory for the text
    got = false;
  }
  g_free(text);
  return got;
}

bool CKLP_GtkUI::SetClipboardText(const std::string& text) {
  std::string utf8;
  try {
    utf8 = KLP_Latin1ToUTF8(text);
  } catch (...) {  // no memory for the text
    return false;
  }
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), utf8.c_str(), static_cast<gint>(utf8.size()));
  return true;
}

void CKLP_GtkUI::SetCursor(KLP_WindowID w, int32_t id) {
  auto it = m_native.find(w);
  GdkWindow* gw = it == m_native.end() ? nullptr : gtk_widget_get_window(it->second.widget);
  if (!gw || it->second.cursor == id) return;
  it->second.cursor = id;
  GdkCursor* c = gdk_cursor_new_from_name(m_display, CursorName(id));
  if (!c) c = gdk_cursor_new_from_name(m_display, "default");
  gdk_window_set_cursor(gw, c);
  if (c) g_object_unref(c);
}

struct MenuRun {
  GMainLoop* loop;
  int32_t chosen;
};

void MenuItemChosen(GtkMenuItem* item, gpointer data) {
  static_cast<MenuRun*>(data)->chosen = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "klp-index"));
}

gboolean QuitMenuLoop(gpointer data) {
  g_main_loop_quit(static_cast<MenuRun*>(data)->loop);
  return G_SOURCE_REMOVE;
}

// The choice comes right after the menu closes: the loop ends at the next idle.
void MenuClosed(GtkMenuShell*, gpointer data) { g_idle_add(QuitMenuLoop, data); }

GtkWidget* MenuItem(const KLP_MenuItem& it, int index, MenuRun* run) {
  if (it.separator) return gtk_separator_menu_item_new();
  const std::string label = KLP_Latin1ToUTF8(it.text);
  GtkWidget* item = it.checked ? gtk_check_menu_item_new_with_label(label.c_str())
                               : gtk_menu_item_new_with_label(label.c_str());
  if (it.checked) gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
  gtk_widget_set_sensitive(item, !it.disabled);
  if (it.shortcutKey) {
    guint mods = (it.shortcutCommand ? GDK_CONTROL_MASK : 0) | (it.shortcutShift ? GDK_SHIFT_MASK : 0) |
                 (it.shortcutOption ? GDK_MOD1_MASK : 0);
    const guint key = gdk_unicode_to_keyval(static_cast<unsigned char>(it.shortcutKey));
    gtk_accel_label_set_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(item))), key,
                              static_cast<GdkModifierType>(mods));
  }
  g_object_set_data(G_OBJECT(item), "klp-index", GINT_TO_POINTER(index));
  g_signal_connect(item, "activate", G_CALLBACK(MenuItemChosen), run);
  return item;
}

int32_t CKLP_GtkUI::PopupMenu(KLP_WindowID w, const std::vector<KLP_MenuItem>& items, KLP_Point at) {
  GtkWindow* win = Widget(w);
  const Window* rec = Find(w);
  if (!win || !rec || items.empty()) return klpMenuDismissed;
  MenuRun run = {g_main_loop_new(nullptr, FALSE), klpMenuDismissed};
  GtkWidget* menu = gtk_menu_new();
  try {
    for (size_t i = 0; i < items.size(); ++i)
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), MenuItem(items[i], static_cast<int>(i), &run));
  } catch (...) {  // no memory for a label: no menu
    gtk_widget_destroy(menu);
    g_main_loop_unref(run.loop);
    return klpMenuFailed;
  }
  gtk_widget_show_all(menu);
  g_signal_connect(menu, "deactivate", G_CALLBACK(MenuClosed), &run);
  const GdkRectangle r = {at.x - rec->bounds.left, at.y - rec->bounds.top, 1, 1};
  // The menu wants the event that opened it.
  GdkEvent* trigger = m_lastPress ? gdk_event_copy(m_lastPress) : gtk_get_current_event();
  Hold();
  const KLP_WindowID owner = m_menuOwner;
  m_menuOwner = w;
  gtk_menu_popup_at_rect(GTK_MENU(menu), gtk_widget_get_window(GTK_WIDGET(win)), &r, GDK_GRAVITY_NORTH_WEST,
                         GDK_GRAVITY_NORTH_WEST, trigger);
  if (gtk_widget_get_visible(menu)) g_main_loop_run(run.loop);
  m_menuOwner = owner;
  Release();
  if (trigger) gdk_event_free(trigger);
  gtk_widget_destroy(menu);
  g_main_loop_unref(run.loop);
  Rethrow();
  return run.chosen;
}

struct OfferContext {
  CKLP_GtkUI* ui;
  const KLP_FileQuestion* question;
};

gboolean OfferFile(const GtkFileFilterInfo* info, gpointer data) {
  const auto* c = static_cast<const OfferContext*>(data);
  return c->ui->Guarded<gboolean>(FALSE, [&]() -> gboolean {
    return info->display_name && c->question->offer(info->display_name);
  });
}

KLP_FileAnswer CKLP_GtkUI::AskFile(const KLP_FileQuestion& q) {
  const KLP_WindowID over = DialogParent(q.parent);
  GtkFileChooserNative* n = gtk_file_chooser_native_new(q.title.empty() ? nullptr : q.title.c_str(), Widget(q.parent),
                                                        q.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
                                                        nullptr, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(n);
  if (!q.folder.empty()) gtk_file_chooser_set_current_folder(chooser, q.folder.c_str());
  if (q.save) {
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, q.confirmReplace ? TRUE : FALSE);
    if (!q.proposedName.empty()) gtk_file_chooser_set_current_name(chooser, q.proposedName.c_str());
  }
  OfferContext offer = {this, &q};
  if (q.offer) {
    GtkFileFilter* f = gtk_file_filter_new();
    gtk_file_filter_set_name(f, q.filterName.empty() ? "Files" : q.filterName.c_str());
    gtk_file_filter_add_custom(f, GTK_FILE_FILTER_DISPLAY_NAME, OfferFile, &offer, nullptr);
    gtk_file_chooser_add_filter(chooser, f);
  }
  Hold();
  // Escape answers "deleted", not "cancelled": anything but accept is a cancel.
  const gint response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(n));
  Release();
  KLP_FileAnswer a;
  if (response == GTK_RESPONSE_ACCEPT) {
    if (gchar* path = gtk_file_chooser_get_filename(chooser)) {
      try {
        a.path = path;
        a.chosen = true;
      } catch (...) {  // no memory for the path: the answer is lost
        a.failed = true;
      }
      g_free(path);
    }
  }
  g_object_unref(n);
  i_KeysBack(over);
  Rethrow();
  return a;
}

KLP_Picked CKLP_GtkUI::PickColor(KLP_WindowID parent, const std::string& title, uint16_t rgb[3]) {
  std::string utf8;
  try {
    utf8 = KLP_Latin1ToUTF8(title);
  } catch (...) {  // no memory for the title: no chooser
    return KLP_Picked::kFailed;
  }
  GtkWidget* d = gtk_color_chooser_dialog_new(utf8.empty() ? nullptr : utf8.c_str(), nullptr);
  gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(d), FALSE);
  const GdkRGBA start = {rgb[0] / 65535.0, rgb[1] / 65535.0, rgb[2] / 65535.0, 1.0};
  gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(d), &start);
  const KLP_WindowID over = DialogParent(parent);
  const gint response = RunDialog(d, over);
  const bool chosen = response == GTK_RESPONSE_OK;
  if (chosen) {
    GdkRGBA c;
    gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(d), &c);
    const double parts[3] = {c.red, c.green, c.blue};
    for (int i = 0; i < 3; ++i) {
      const double v = parts[i] < 0 ? 0 : parts[i] > 1 ? 1 : parts[i];
      rgb[i] = static_cast<uint16_t>(v * 65535.0 + 0.5);
    }
  }
  gtk_widget_destroy(d);
  i_KeysBack(over);
  Rethrow();
  return chosen ? KLP_Picked::kChosen : KLP_Picked::kCancelled;
}

}  // namespace

CKLP_UIPlatform* KLP_OpenDisplayUI() {
  // GTK does not say why the display did not open; an allocation that
  // failed meanwhile (the display's connection) left its errno.
  errno = 0;
  if (!gtk_init_check(nullptr, nullptr)) return errno = errno == ENOMEM ? ENOMEM : ENXIO, nullptr;
  try {
    DressInPalette();
    return new CKLP_GtkUI();
  } catch (...) {  // no memory for the platform
    return errno = ENOMEM, nullptr;
  }
}
