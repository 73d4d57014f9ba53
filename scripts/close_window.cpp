// Closes windows the way a window manager's close box does: a
// WM_DELETE_WINDOW message to every top-level window with the given title.
// Xvfb runs no window manager, and xdotool's windowclose destroys the X
// window instead, which a GTK program cannot survive gracefully.
//
// Usage: close_window TITLE. Exit status 0 when a window got the message,
// 1 when none has that title, 2 without a display.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<Window> WindowsNamed(Display* display, Window parent,
                                 const std::string& title) {
  std::vector<Window> found;
  Window root = 0, ignored = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, parent, &root, &ignored, &children, &count))
    return found;
  for (unsigned i = 0; i < count; ++i) {
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) && name) {
      if (title == name) found.push_back(children[i]);
      XFree(name);
    }
    const auto nested = WindowsNamed(display, children[i], title);
    found.insert(found.end(), nested.begin(), nested.end());
  }
  if (children) XFree(children);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s TITLE\n", argv[0]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "close_window: cannot open the display\n");
    return 2;
  }
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  const auto windows =
      WindowsNamed(display, DefaultRootWindow(display), argv[1]);
  for (Window window : windows) {
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
  }
  XCloseDisplay(display);  // flushes the messages
  return windows.empty() ? 1 : 0;
}
