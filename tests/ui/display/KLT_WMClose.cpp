// Sends a window the window manager's close request (a WM_DELETE_WINDOW
// client message), as Alt+F4 or a title bar's close button do; Xvfb runs
// without a window manager to send it. With X Y, sends instead the notice
// a window manager gives when it has moved the window's frame (a synthetic
// ConfigureNotify) with that place, true or not.
// Usage: klt_wmclose WINDOW_ID [X Y]   (decimal or 0x hex, as xdotool prints it)
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool Number(const char* s, long& out) {
  char* end = nullptr;
  out = std::strtol(s, &end, 0);
  return end && end != s && !*end;
}

}  // namespace

int main(int argc, char** argv) {
  long id = 0, x = 0, y = 0;
  if ((argc != 2 && argc != 4) || !Number(argv[1], id) || id <= 0 ||
      (argc == 4 && (!Number(argv[2], x) || !Number(argv[3], y)))) {
    std::fprintf(stderr, "usage: klt_wmclose WINDOW_ID [X Y]\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "no display\n");
    return 1;
  }
  const Window w = static_cast<Window>(id);
  XEvent e = {};
  long mask = NoEventMask;
  if (argc == 4) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display, w, &a)) {
      XCloseDisplay(display);
      return 1;
    }
    e.xconfigure.type = ConfigureNotify;
    e.xconfigure.event = e.xconfigure.window = w;
    e.xconfigure.x = static_cast<int>(x);
    e.xconfigure.y = static_cast<int>(y);
    e.xconfigure.width = a.width;
    e.xconfigure.height = a.height;
    mask = StructureNotifyMask;
  } else {
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
  }
  const Status sent = XSendEvent(display, w, False, mask, &e);
  XSync(display, False);
  XCloseDisplay(display);
  return sent ? 0 : 1;
}
