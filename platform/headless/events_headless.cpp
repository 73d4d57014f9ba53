// Headless events. Implements from events.h:
//  - PumpEvents (runs the test's hook), WaitForProcessOrEvents (the process
//    alone: there are no events to wait for)
// and the user's actions of headless.h.
#include <utility>

#include "platform/events.h"
#include "platform/headless/backend_headless.h"
#include "platform/headless/headless.h"

namespace platform {

using headless::Data;
using headless::State;

bool PumpEvents() {
  Data& state = State();
  ++state.pumps;
  if (state.pumpHook) state.pumpHook();
  return !(state.window && state.window->closed);
}

bool WaitForProcessOrEvents(Process& process, unsigned ms) {
  return process.Wait(ms);
}

namespace headless {

Data& State() {
  static Data data;
  return data;
}

void SetPumpHook(std::function<void()> hook) {
  State().pumpHook = std::move(hook);
}
long PumpCount() { return State().pumps; }
void Close() {
  if (State().window) State().window->closed = true;
}
bool IsShown(Window& window) { return window.impl().shown; }
void SetSaveResponder(
    std::function<std::string(const CommonDialog&)> responder) {
  State().saveResponder = std::move(responder);
}
std::vector<std::string> ShownErrors() { return State().errors; }
void Reset() {
  Window::Impl* window = State().window;
  State() = Data{};
  State().window = window;
}

}  // namespace headless
}  // namespace platform
