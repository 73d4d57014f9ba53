// Event pumping, implemented by the window backend (events_*.cpp), not by
// the system layer behind platform.h: only the toolkit knows its events.
#pragma once

#include <functional>

#include "platform/platform.h"

namespace platform {

// Handles every pending window event and returns. Returns false once the
// user has closed the main window: the program should then wind down.
bool PumpEvents();

// Blocks until a window event arrives or `ms` milliseconds pass, then
// handles every pending event and returns as PumpEvents does.
bool WaitForEvents(unsigned ms);

// While one lives, the system ending the session (Windows' logoff or
// shutdown, once every program has agreed to it) runs its handler before
// the program may be ended, which Windows may do the moment the last
// handler returns: stop what runs, remove what is half made. The latest
// made runs first; the window counts as closed from then on.
class SessionEndHandler {
 public:
  explicit SessionEndHandler(std::function<void()> handler);
  ~SessionEndHandler();
  SessionEndHandler(const SessionEndHandler&) = delete;
  SessionEndHandler& operator=(const SessionEndHandler&) = delete;

 private:
  std::function<void()> handler_;
};

// Blocks until `process` ends (while it runs; what it left running is
// looked at again every few milliseconds), a window event arrives, or `ms`
// milliseconds pass, whichever is first. Returns Process::Over(). Events
// may be handled while it waits.
bool WaitForProcessOrEvents(Process& process, unsigned ms);

}  // namespace platform
