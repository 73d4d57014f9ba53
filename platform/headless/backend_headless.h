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

// The simulated user, and the window it acts on.
struct User {
  std::function<void()> pumpHook;
  std::function<std::string(const CommonDialog&)> saveResponder;
  std::vector<std::string> errors;
  Window::Impl* window = nullptr;  // the latest window made, while it lives
  long pumps = 0;
};
User& TheUser();

}  // namespace headless
}  // namespace platform
