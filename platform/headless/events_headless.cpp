// Headless events. Implements from events.h:
//  - PumpEvents (runs the test's hook), WaitForProcessOrEvents (the process
//    alone: there are no events to wait for)
// and the user's actions of headless.h.
#include <utility>

#include "platform/events.h"
#include "platform/headless/backend_headless.h"
#include "platform/headless/headless.h"

namespace platform {

using headless::TheUser;
using headless::User;

bool PumpEvents() {
  User& user = TheUser();
  ++user.pumps;
  if (user.pumpHook) user.pumpHook();
  return !(user.window && user.window->closed);
}

bool WaitForProcessOrEvents(Process& process, unsigned ms) {
  return process.Wait(ms);
}

namespace headless {

User& TheUser() {
  static User user;
  return user;
}

void SetPumpHook(std::function<void()> hook) {
  TheUser().pumpHook = std::move(hook);
}
long PumpCount() { return TheUser().pumps; }
void Close() {
  if (TheUser().window) TheUser().window->closed = true;
}
bool IsShown(Window& window) { return window.impl().shown; }
void SetSaveResponder(
    std::function<std::string(const CommonDialog&)> responder) {
  TheUser().saveResponder = std::move(responder);
}
std::vector<std::string> ShownErrors() { return TheUser().errors; }
void Reset() {
  Window::Impl* window = TheUser().window;
  TheUser() = User{};
  TheUser().window = window;
}

}  // namespace headless
}  // namespace platform
