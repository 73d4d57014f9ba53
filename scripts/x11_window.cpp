// x11_window close TITLE: WM_DELETE_WINDOW, as a window manager's close box
// sends it (xdotool's windowclose destroys the window; Wine makes this one
// WM_CLOSE). x11_window colours TITLE: "red", "green" when the window shows
// the status line's colours (no other control uses them), "yellow" when
// the status line's corner of the window, top left, does (a scheme's text
// colour; the close box, top right, has it too).
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <string>

static Window Find(Display* d, Window parent, const std::string& title) {
  Window root, up, *children = nullptr, found = 0;
  unsigned count = 0;
  XQueryTree(d, parent, &root, &up, &children, &count);
  for (unsigned i = 0; i < count && !found; ++i) {
    char* name = nullptr;
    if (XFetchName(d, children[i], &name) && title == name) found = children[i];
    XFree(name);
    if (!found) found = Find(d, children[i], title);
  }
  if (children) XFree(children);
  return found;
}

int main(int argc, char** argv) {
  Display* d = argc == 3 ? XOpenDisplay(nullptr) : nullptr;
  if (!d) return 2;
  const Window w = Find(d, DefaultRootWindow(d), argv[2]);
  if (w && std::string(argv[1]) == "close") {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSendEvent(d, w, False, NoEventMask, &e);
  } else if (w) {
    XWindowAttributes a;
    XGetWindowAttributes(d, w, &a);
    XImage* image =
        XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    bool red = false, green = false, yellow = false;
    for (int i = 0; image && i < a.width * a.height; ++i) {
      const unsigned long p =
          XGetPixel(image, i % a.width, i / a.width) & 0xffffff;
      red |= p == 0xff0000;
      green |= p == 0x008000;
      yellow |= p == 0xffff00 && i / a.width < a.height / 4 &&
                i % a.width < a.width / 2;
    }
    std::printf("%s %s %s\n", red ? "red" : "", green ? "green" : "",
                yellow ? "yellow" : "");
  }
  XCloseDisplay(d);  // flushes the message
  return !w;
}
