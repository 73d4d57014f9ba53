// The process rules that do not depend on the system, for both system
// layers: the wait up to a deadline, over the backend's Block.
#include <algorithm>
#include <chrono>

#include "platform/platform.h"

namespace platform {

bool Process::Wait(unsigned ms) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (!Over()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - Clock::now())
                          .count();
    if (left <= 0) return false;
    Block(static_cast<unsigned>(left));
  }
  return true;
}

}  // namespace platform
