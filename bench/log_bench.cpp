// Log growth: COUNT status messages of about 60 characters through
// ShowStatus into the window's log, then one event pump, as the batch does
// before its next file. Prints "seconds S" and the pump's share of it
// ("pump_seconds"). The same source is linked once
// per window backend (headless, GTK, Win32); the driver compares the times
// for two counts, which grow in proportion when an append costs the same
// however long the log already is.
//
// Usage: bench_log COUNT
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "platform/controls.h"
#include "platform/events.h"
#include "window/frmMain.h"

namespace {

std::vector<std::string> Messages(long count) {
  std::vector<std::string> messages;
  messages.reserve(static_cast<std::size_t>(count));
  char text[96];
  for (long i = 0; i < count; ++i) {
    std::snprintf(text, sizeof text,
                  "/home/larkspire/Music/album %05ld/track.mp3 decoding "
                  "complete.",
                  i % 100000);
    messages.push_back(text);
  }
  return messages;
}

// Lets the window appear and lay itself out before the clock starts.
void Settle() {
  const auto end = bench::Clock::now() + std::chrono::milliseconds(300);
  while (bench::Clock::now() < end) {
    platform::PumpEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long count = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
  if (count <= 0) {
    std::fprintf(stderr, "usage: %s COUNT\n", argv[0]);
    return 2;
  }
  const std::vector<std::string> messages = Messages(count);
  platform::Initialize();
  frmMain form;
  form.Show();
  Settle();

  const auto start = bench::Clock::now();
  for (const std::string& message : messages)
    ShowStatus(form, message, 0, 0, 0);
  const double appending = bench::SecondsSince(start);
  platform::PumpEvents();
  const double seconds = bench::SecondsSince(start);

  // Every message is in the log, each but the first after CR LF.
  std::size_t expected = 2 * (messages.size() - 1);
  for (const std::string& message : messages) expected += message.size();
  if (form.txtLog.Length() != expected)
    bench::Fail("the log holds " + std::to_string(form.txtLog.Length()) +
                " characters, not " + std::to_string(expected));
  bench::Report("seconds", seconds);
  bench::Report("pump_seconds", seconds - appending);
  return 0;
}
