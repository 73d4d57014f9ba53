#include "bench/poster.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/events.h"

namespace bench {

namespace {

constexpr auto kDrainLimit = std::chrono::seconds(2);

}  // namespace

struct EventPoster::Impl {
  explicit Impl(int intervalMs)
      : interval(intervalMs),
        mailbox([this](Clock::time_point posted) { Record(posted); }) {}

  void Record(Clock::time_point posted) {
    using Ms = std::chrono::duration<double, std::milli>;
    events.push_back(
        {Ms(posted - start).count(), Ms(Clock::now() - posted).count()});
  }

  void Run() {
    auto next = Clock::now();
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      next += interval;
      // Woken early by Stop, so the window's thread never waits on us.
      if (wake.wait_until(lock, next, [this] { return stop; })) return;
      ++posted;
      mailbox.Post(Clock::now());
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    wake.notify_one();
    if (thread.joinable()) thread.join();
  }

  std::chrono::milliseconds interval;
  Clock::time_point start = Clock::now();
  std::vector<Event> events;  // the window's thread only
  Mailbox mailbox;
  std::atomic<long> posted{0};
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  std::thread thread;
};

EventPoster::EventPoster(int intervalMs)
    : impl_(std::make_unique<Impl>(intervalMs)) {
  impl_->thread = std::thread([this] { impl_->Run(); });
}

EventPoster::~EventPoster() { impl_->Stop(); }

std::vector<EventPoster::Event> EventPoster::Finish() {
  impl_->Stop();
  const auto limit = Clock::now() + kDrainLimit;
  while (static_cast<long>(impl_->events.size()) < impl_->posted &&
         Clock::now() < limit) {
    platform::PumpEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return impl_->events;
}

}  // namespace bench
