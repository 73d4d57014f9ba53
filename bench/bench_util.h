// What the benchmark programs share: the clock they time with and the way
// they report. Each prints "name value" lines on standard output for the
// driver (run.py) to read, and exits non-zero when a run did not do the
// work it was timing, so a broken run is never quoted as a fast one.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

inline void Report(const char* name, double value) {
  std::printf("%s %.9g\n", name, value);
  std::fflush(stdout);
}

[[noreturn]] inline void Fail(const std::string& why) {
  std::fprintf(stderr, "benchmark run failed: %s\n", why.c_str());
  std::exit(1);
}

// The batch's green final status: every file was decoded.
inline const char* CompletedStatus() {
  return "Larkspire Decompress utility has completed all actions.";
}

}  // namespace bench
