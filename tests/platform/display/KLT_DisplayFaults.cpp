// The display backend on a real display when the toolkit's code throws
// under one of GTK's handlers (a tick, an event dispatched from the idle
// source) and when the backend's own allocations fail: the loop that ran
// GTK throws the exception again on the toolkit's side (none unwinds
// through GTK), and a window or
// timer that finds no memory is refused (0) without a throw; a window
// whose keys go and come back at once stays active, one that loses them is
// deactivated; a press queued behind the one that ends a modal loop
// reaches its window once the loop has returned; a window selected before
// it is on screen stays off it until shown, then has the keys, and stacks
// as it was selected; a destroyed window has left the server when its
// destruction returns; a shape is set on the server as asked, or refused
// when memory runs out. Prints "ok"
// and ends with 0, else names each fault on standard error and ends with 1.
// Run under Xvfb by display_faults_test.sh.
#include <X11/extensions/shape.h>
#include <gtk/gtk.h>

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <vector>

#include "CKLP_UIPlatform.h"
#include "FailingAllocations.h"

#include <gdk/gdkx.h>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  if (ok) return;
  ++g_failures;
  std::fprintf(stderr, "FAILED: %s\n", what);
}

// Throws when its window is activated, from the idle dispatch.
struct ThrowingClient : CKLP_WindowClient {
  int32_t OnPlatformEvent(const KLP_Event& e) override {
    if (e.eventClass == klpClassWindow && e.kind == klpWindowActivated) throw std::runtime_error("activated");
    return 0;
  }
};

struct QuietClient : CKLP_WindowClient {
  int32_t OnPlatformEvent(const KLP_Event&) override { return 0; }
};

KLP_WindowDesc Desc() {
  KLP_WindowDesc d;
  d.bounds = {40, 40, 240, 140};
  d.title = "A window whose title is longer than a short string";
  return d;
}

void ThrownUnderGtkComesBack(CKLP_UIPlatform& ui) {
  bool back = false;
  const KLP_TimerID t = ui.AddTimer(1, [] { throw std::bad_alloc(); });
  try {
    ui.RunLoop(0);
  } catch (const std::bad_alloc&) {
    back = true;
  }
  ui.RemoveTimer(t);
  Check(back, "a tick's exception comes back from the loop that ran it");
  // An exception unwound through GLib's dispatch would leave it counted.
  Check(g_main_depth() == 0, "GLib's dispatch ended whole");

  ThrowingClient client;
  const KLP_WindowID w = ui.CreateWindow(Desc(), &client);
  Check(w != 0, "a window is made");
  back = false;
  ui.SelectWindow(w);
  try {
    ui.RunLoop(0);
  } catch (const std::runtime_error&) {
    back = true;
  }
  Check(back, "a dispatched event's exception comes back from the loop");
  Check(g_main_depth() == 0, "GLib's dispatch ended whole after the event");
  ui.DestroyWindow(w);
}

// Counts its window's activations and deactivations.
struct FocusClient : CKLP_WindowClient {
  int activated = 0, deactivated = 0;
  int32_t OnPlatformEvent(const KLP_Event& e) override {
    if (e.eventClass == klpClassWindow && e.kind == klpWindowActivated) ++activated;
    if (e.eventClass == klpClassWindow && e.kind == klpWindowDeactivated) ++deactivated;
    return 0;
  }
};

// Runs GTK until the server's answers and the queued events are through.
void Settle() {
  for (int i = 0; i < 2; ++i) {
    gdk_display_sync(gdk_display_get_default());
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }
}

// GDK's focus notices for the only window on screen, one after the other
// before the loop runs.
void SendFocus(std::initializer_list<bool> changes) {
  GList* all = gtk_window_list_toplevels();
  GtkWidget* widget = nullptr;
  for (GList* l = all; l; l = l->next)
    if (gtk_widget_get_visible(GTK_WIDGET(l->data))) widget = GTK_WIDGET(l->data);
  g_list_free(all);
  Check(widget != nullptr, "the window is on screen");
  if (!widget) return;
  for (bool in : changes) {
    GdkEvent* e = gdk_event_new(GDK_FOCUS_CHANGE);
    e->focus_change.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
    e->focus_change.send_event = TRUE;
    e->focus_change.in = in;
    gtk_widget_send_focus_change(widget, e);
    gdk_event_free(e);
  }
}

// A window given the keys outright while it had them through the pointer
// hears out, then in: it keeps its activation (and its control's focus).
void FocusBackAtOnceStays(CKLP_UIPlatform& ui) {
  FocusClient client;
  const KLP_WindowID w = ui.CreateWindow(Desc(), &client);
  Check(w != 0, "a window is made for the focus");
  ui.ShowWindow(w, true);
  ui.SelectWindow(w);
  Settle();
  Check(client.activated > 0 && client.deactivated == 0, "a selected window is active");
  SendFocus({false, true});
  Settle();
  Check(client.deactivated == 0, "keys gone and back at once do not deactivate");
  SendFocus({false});
  Settle();
  Check(client.deactivated == 1, "keys gone for good deactivate");
  ui.DestroyWindow(w);
}

// Counts its window's presses; the modal one ends its loop on its first.
struct PressClient : CKLP_WindowClient {
  CKLP_UIPlatform* ui = nullptr;
  KLP_WindowID quits = 0;
  int presses = 0;
  int32_t OnPlatformEvent(const KLP_Event& e) override {
    if (e.eventClass != klpClassMouse || e.kind != klpMouseDown) return 0;
    if (++presses == 1 && quits) ui->QuitLoop(quits);
    return 1;
  }
};

// The GTK window on screen whose corner is at (left, top).
GtkWidget* WidgetAt(gint left, gint top) {
  GList* all = gtk_window_list_toplevels();
  GtkWidget* widget = nullptr;
  for (GList* l = all; l; l = l->next) {
    gint x = 0, y = 0;
    if (!gtk_widget_get_visible(GTK_WIDGET(l->data))) continue;
    gtk_window_get_position(GTK_WINDOW(l->data), &x, &y);
    if (x == left && y == top) widget = GTK_WIDGET(l->data);
  }
  g_list_free(all);
  return widget;
}

// A press of the first button at the window's point (5, 5), put into
// GDK's queue as the server's would come.
void PutPress(KLP_WindowID w, CKLP_UIPlatform& ui) {
  const KLP_Rect b = ui.GetWindowBounds(w);
  GtkWidget* widget = WidgetAt(b.left, b.top);
  Check(widget != nullptr, "the window to press is on screen");
  if (!widget) return;
  GdkEvent* e = gdk_event_new(GDK_BUTTON_PRESS);
  e->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(widget)));
  e->button.send_event = TRUE;
  e->button.time = GDK_CURRENT_TIME;
  e->button.x = e->button.y = 5;
  e->button.x_root = b.left + 5;
  e->button.y_root = b.top + 5;
  e->button.button = 1;
  gdk_event_set_device(e, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
  gdk_event_put(e);
  gdk_event_free(e);
}

// Two presses wait in the queue when a modal loop starts: the first ends
// the loop, the second is for another window, which gets it from the loop
// the modal one returns to (it was dropped under the ended loop's rule).
void PressBehindTheLoopsEndArrives(CKLP_UIPlatform& ui) {
  PressClient modal, other;
  modal.ui = other.ui = &ui;
  KLP_WindowDesc d = Desc();
  d.bounds = {300, 40, 500, 140};
  const KLP_WindowID w = ui.CreateWindow(d, &other);
  d.bounds = {40, 200, 240, 300};
  d.modal = true;
  const KLP_WindowID m = ui.CreateWindow(d, &modal);
  modal.quits = m;
  ui.ShowWindow(w, true);
  ui.ShowWindow(m, true);
  Settle();
  PutPress(m, ui);
  PutPress(w, ui);
  // Both converted and queued, none dispatched yet.
  Check(ui.PeekEvent(klpMaskMouse), "the presses are queued");
  ui.RunLoop(m);
  Check(modal.presses == 1, "the modal window's press ends its loop");
  const KLP_TimerID t = ui.AddTimer(50, [&ui] { ui.QuitLoop(0); });
  ui.RunLoop(0);
  ui.RemoveTimer(t);
  Check(other.presses == 1, "the press behind the loop's end reaches its window");
  ui.DestroyWindow(m);
  ui.DestroyWindow(w);
}

// A window selected as it is made, before it is shown (a floating window's
// child), while another has the keys outright: without a window manager
// nothing else gives them to it, and a click into it (active already)
// would not ask for them.
void SelectedBeforeShownGetsTheKeys(CKLP_UIPlatform& ui) {
  QuietClient client;
  KLP_WindowDesc d = Desc();
  const KLP_WindowID a = ui.CreateWindow(d, &client);
  ui.ShowWindow(a, true);
  Settle();
  ui.SelectWindow(a);
  Settle();
  d.bounds = {300, 40, 500, 140};
  const KLP_WindowID b = ui.CreateWindow(d, &client);
  ui.SelectWindow(b);
  ui.ShowWindow(b, true);
  bool keys = false;
  for (int i = 0; i < 50 && !keys; ++i, g_usleep(20000)) {
    Settle();
    GtkWidget* widget = WidgetAt(d.bounds.left, d.bounds.top);
    keys = widget && gtk_window_has_toplevel_focus(GTK_WINDOW(widget));
  }
  Check(keys, "a window selected before it was shown has the keys once on screen");
  ui.DestroyWindow(b);
  ui.DestroyWindow(a);
}

// Whether another client of the server sees a top-level window of that id.
bool OnServer(Display* display, ::Window id) {
  ::Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  bool found = false;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count; ++i) found = found || children[i] == id;
    XFree(children);
  }
  return found;
}

// A window destroyed (a box answered) leaves the screen before the program
// goes on: a click or a key made at once, aimed at the window behind it,
// would otherwise reach the closed window, there until GTK's next flush.
void DestroyedLeavesTheServerAtOnce(CKLP_UIPlatform& ui) {
  QuietClient client;
  const KLP_WindowID w = ui.CreateWindow(Desc(), &client);
  ui.ShowWindow(w, true);
  ui.SelectWindow(w);
  Settle();
  const KLP_Rect b = ui.GetWindowBounds(w);
  GtkWidget* widget = WidgetAt(b.left, b.top);
  Display* other = XOpenDisplay(nullptr);
  Check(widget != nullptr && other != nullptr, "the window to destroy is on screen");
  if (!widget || !other) {
    if (other) XCloseDisplay(other);
    return ui.DestroyWindow(w);
  }
  const ::Window id = GDK_WINDOW_XID(gtk_widget_get_window(widget));
  Check(OnServer(other, id), "another client sees the window");
  ui.DestroyWindow(w);
  Check(!OnServer(other, id), "a destroyed window has left the server when its destruction returns");
  XCloseDisplay(other);
}

// Two windows selected before they are shown stay off the screen until
// then, and shown in the other order (the keys with a third window) they
// stack as they were selected: the one the pointer finds in their overlap
// is the one selected last.
void SelectedStayOffScreenAndStackAsSelected(CKLP_UIPlatform& ui) {
  QuietClient client;
  KLP_WindowDesc d = Desc();
  d.bounds = {500, 300, 700, 400};
  const KLP_WindowID under = ui.CreateWindow(d, &client);
  d.bounds = {550, 320, 750, 420};
  const KLP_WindowID over = ui.CreateWindow(d, &client);
  d.bounds = {40, 500, 140, 560};
  const KLP_WindowID keys = ui.CreateWindow(d, &client);
  ui.ShowWindow(keys, true);
  ui.SelectWindow(under);
  ui.SelectWindow(over);
  Settle();
  Check(!WidgetAt(500, 300) && !WidgetAt(550, 320), "a window selected before it is shown stays off the screen");
  ui.SelectWindow(keys);
  ui.ShowWindow(over, true);
  ui.ShowWindow(under, true);
  Settle();
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
  gdk_device_warp(pointer, gdk_screen_get_default(), 600, 350);
  Settle();
  GdkWindow* found = gdk_device_get_window_at_position(pointer, nullptr, nullptr);
  GtkWidget* front = WidgetAt(550, 320);
  Check(found && front && gdk_window_get_toplevel(found) == gtk_widget_get_window(front),
        "the window selected last is in front, though shown first");
  ui.DestroyWindow(keys);
  ui.DestroyWindow(over);
  ui.DestroyWindow(under);
}

// The area of a window's shape of that kind as another client sees it; -1
// when it cannot be had.
long ServerShapeArea(Display* display, ::Window id, int kind) {
  int count = 0, ordering = 0;
  XRectangle* r = XShapeGetRectangles(display, id, kind, &count, &ordering);
  if (!r) return -1;
  long area = 0;
  for (int i = 0; i < count; ++i) area += long{r[i].width} * r[i].height;
  XFree(r);
  return area;
}

// Each allocation of 4 KiB or more failing in turn while a triangle's shape
// (300 runs) is set: the shape is refused for want of memory, or the shown
// window has it on the server, bounding and input. (GDK sends an empty
// shape when its copy finds no memory: the window would be invisible.)
void ShapeSetAsAskedOrRefused(CKLP_UIPlatform& ui) {
  QuietClient client;
  KLP_WindowDesc d = Desc();
  const int32_t side = 300, rowBytes = side / 8 + 1;
  d.bounds = {40, 40, 40 + side, 40 + side};
  std::vector<uint8_t> bits(static_cast<size_t>(rowBytes * side), 0);
  long area = 0;
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x <= y; ++x, ++area) bits[y * rowBytes + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  Display* other = XOpenDisplay(nullptr);
  Check(other != nullptr, "another client opens the display");
  uint32_t refused = 0, set = 0;
  for (uint64_t n = 1; other && n < 100; ++n) {
    const KLP_WindowID id = ui.CreateWindow(d, &client);
    klftest::AllocationPoints::Arm(n, 4096);
    errno = 0;
    const bool made = ui.SetWindowShape(id, bits.data(), static_cast<uint32_t>(rowBytes));
    const int why = errno;
    const bool failed = klftest::AllocationPoints::Failed();
    klftest::AllocationPoints::Disarm();
    if (made) {
      ++set;
      ui.ShowWindow(id, true);
      Settle();
      GtkWidget* widget = WidgetAt(d.bounds.left, d.bounds.top);
      const ::Window xid = widget ? GDK_WINDOW_XID(gtk_widget_get_window(widget)) : 0;
      Check(xid && ServerShapeArea(other, xid, ShapeBounding) == area && ServerShapeArea(other, xid, ShapeInput) == area,
            "a shape set is on the server as asked, bounding and input");
    } else {
      ++refused;
      Check(why == ENOMEM, "a shape refused for want of memory says so");
    }
    ui.DestroyWindow(id);
    if (!failed) break;
  }
  if (other) XCloseDisplay(other);
  Check(refused > 0 && set > 0, "shapes are refused without memory and set with it");
}

// Every allocation failing in turn: windows and timers are made or refused.
void OwnAllocationsFail(CKLP_UIPlatform& ui) {
  QuietClient client;
  const KLP_WindowDesc desc = Desc();
  uint32_t refused = 0;
  for (uint64_t after = 0; after < 1000; ++after) {
    KLP_WindowID w = 0;
    KLP_TimerID t = 0;
    bool threw = false;
    uint64_t failed = 0;
    {
      klftest::FailingAllocations failing(klftest::FailingAllocations::kAnyThread, after);
      try {
        w = ui.CreateWindow(desc, &client);
        t = ui.AddTimer(1000, [] {});
      } catch (...) {
        threw = true;
      }
      failed = failing.Failed();
    }
    Check(!threw, "nothing is thrown when the backend's allocations fail");
    refused += (w == 0) + (t == 0);
    if (w) ui.DestroyWindow(w);
    if (t) ui.RemoveTimer(t);
    if (failed == 0) break;
  }
  Check(refused >= 2, "windows and timers are refused without memory");
}

}  // namespace

int main() {
  CKLP_UIPlatform* ui = KLP_OpenDisplayUI();
  if (!ui) {
    std::fprintf(stderr, "FAILED: no display opens\n");
    return 1;
  }
  ThrownUnderGtkComesBack(*ui);
  OwnAllocationsFail(*ui);
  FocusBackAtOnceStays(*ui);
  PressBehindTheLoopsEndArrives(*ui);
  SelectedBeforeShownGetsTheKeys(*ui);
  DestroyedLeavesTheServerAtOnce(*ui);
  SelectedStayOffScreenAndStackAsSelected(*ui);
  ShapeSetAsAskedOrRefused(*ui);
  delete ui;
  if (g_failures) return 1;
  std::printf("ok\n");
  return 0;
}
