// Headless events. Implements from events.h:
//  - PumpEvents (runs the test's hook), WaitForEvents (a sleep),
//    WaitForProcessOrEvents (the process alone: there are no events to
//    wait for), SessionEndHandler
// and the user's actions of headless.h.
#include <algorithm>
#include <chrono>
#include <thread>
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

bool WaitForEvents(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return PumpEvents();
}

bool WaitForProcessOrEvents(Process& process, unsigned ms) {
  return process.Wait(ms);
}

SessionEndHandler::SessionEndHandler(std::function<void()> handler)
    : handler_(std::move(handler)) {
  State().sessionEnd.push_back(&handler_);
}
SessionEndHandler::~SessionEndHandler() {
  auto& handlers = State().sessionEnd;
  handlers.erase(std::find(handlers.begin(), handlers.end(), &handler_));
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
void EndSession() {
  Close();
  const auto handlers = State().sessionEnd;
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) (**it)();
}
bool IsShown(Window& window) { return window.impl().shown; }
void SetSaveResponder(
    std::function<std::string(const CommonDialog&)> responder) {
  State().saveResponder = std::move(responder);
}
std::vector<std::string> ShownErrors() { return State().errors; }
void Reset() {
  Window::Impl* window = State().window;
  auto sessionEnd = std::move(State().sessionEnd);
  State() = Data{};
  State().window = window;
  State().sessionEnd = std::move(sessionEnd);
}

}  // namespace headless
}  // namespace platform
