// What the headless backend's files share: its window's state and the
// simulated user, the backend's one state struct.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/controls.h"

namespace platform {

struct Window::Impl {
  std::string caption;
  bool shown = false;
  bool closed = false;
};

namespace headless {

// All the backend's own state: the window the simulated user acts on, and
// that user.
struct Data {
  Window::Impl* window = nullptr;  // the latest made, while it lives
  std::function<void()> pumpHook;
  std::function<std::string(const CommonDialog&)> saveResponder;
  std::vector<std::string> errors;
  long pumps = 0;
  std::vector<const std::function<void()>*> sessionEnd;  // latest last
};
Data& State();

}  // namespace headless
}  // namespace platform
