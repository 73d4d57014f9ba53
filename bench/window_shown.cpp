// Start-up time of the whole program: prints "ready" once it watches the
// display, then "shown T" when a window titled TITLE is mapped, where T is
// the CLOCK_MONOTONIC time in seconds (the clock of Python's
// time.monotonic), so the driver can subtract the time it started the
// program. Event-driven, unlike `xdotool search --sync`, which looks only
// twice a second.
//
// Usage: bench_window_shown TITLE
#include <X11/Xlib.h>

#include <cstdio>
#include <string>

#include "bench/bench_util.h"

namespace {

bool Named(Display* display, Window window, const std::string& title) {
  char* name = nullptr;
  if (!XFetchName(display, window, &name) || !name) return false;
  const bool same = title == name;
  XFree(name);
  return same;
}

bool Viewable(Display* display, Window window) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(display, window, &attributes) &&
         attributes.map_state == IsViewable;
}

// A window that was mapped before we looked (there is no window manager on
// the benchmark's display, so top-level windows are the root's children).
bool AlreadyShown(Display* display, const std::string& title) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent,
                  &children, &count))
    return false;
  bool found = false;
  for (unsigned i = 0; i < count && !found; ++i)
    found =
        Viewable(display, children[i]) && Named(display, children[i], title);
  if (children) XFree(children);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s TITLE\n", argv[0]);
    return 2;
  }
  const std::string title = argv[1];
  Display* display = XOpenDisplay(nullptr);
  if (!display) bench::Fail("cannot open the display");
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);
  std::printf("ready\n");
  std::fflush(stdout);

  bool shown = AlreadyShown(display, title);
  while (!shown) {
    XEvent event;
    XNextEvent(display, &event);
    shown = event.type == MapNotify && Named(display, event.xmap.window, title);
  }
  const double now =
      std::chrono::duration<double>(bench::Clock::now().time_since_epoch())
          .count();
  bench::Report("shown", now);
  XCloseDisplay(display);
  return 0;
}
