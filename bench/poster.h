// The user's side of the responsiveness benchmark: a thread of its own
// posts an event to the window's thread at a fixed interval, the way input
// arrives whatever the program is doing, and the handler, run by the
// program's own event pumping, records how long each event waited.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "bench/bench_util.h"

namespace bench {

// Carries one timestamp from any thread to a handler on the thread that made
// the mailbox, through that thread's window events. Implemented once per
// window backend (mailbox_gtk.cpp, mailbox_win32.cpp).
class Mailbox {
 public:
  explicit Mailbox(std::function<void(Clock::time_point posted)> handler);
  ~Mailbox();
  Mailbox(const Mailbox&) = delete;
  Mailbox& operator=(const Mailbox&) = delete;

  // Safe from any thread; returns at once.
  void Post(Clock::time_point posted);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

class EventPoster {
 public:
  // Starts posting; must be made on the thread that pumps the events.
  explicit EventPoster(int intervalMs);
  ~EventPoster();
  EventPoster(const EventPoster&) = delete;
  EventPoster& operator=(const EventPoster&) = delete;

  struct Event {
    double postedMs;  // since the poster was made
    double waitMs;    // from posting to handling
  };
  // Stops posting, lets the events still queued be handled, and returns
  // every event in the order they were handled.
  std::vector<Event> Finish();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace bench
