// Sends a window the window manager's close request (a WM_DELETE_WINDOW
// client message), as Alt+F4 or a title bar's close button do; Xvfb runs
// without a window manager to send it.
// Usage: klt_wmclose WINDOW_ID   (decimal or 0x hex, as xdotool prints it)
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  char* end = nullptr;
  const unsigned long id = argc == 2 ? std::strtoul(argv[1], &end, 0) : 0;
  if (!id || !end || *end) {
    std::fprintf(stderr, "usage: klt_wmclose WINDOW_ID\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "no display\n");
    return 1;
  }
  XEvent e = {};
  e.xclient.type = ClientMessage;
  e.xclient.window = id;
  e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, id, False, NoEventMask, &e);
  XSync(display, False);
  XCloseDisplay(display);
  return sent ? 0 : 1;
}
