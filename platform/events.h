// Event pumping, implemented by the window backend (events_*.cpp), not by
// the system layer behind platform.h: only the toolkit knows its events.
#pragma once

#include "platform/platform.h"

namespace platform {

// Handles every pending window event and returns. Returns false once the
// user has closed the main window: the program should then wind down.
bool PumpEvents();

// Blocks until `process` ends, a window event arrives, or `ms` milliseconds
// pass, whichever is first. Returns true when the process has ended. Events
// may be handled while it waits.
bool WaitForProcessOrEvents(Process& process, unsigned ms);

}  // namespace platform
