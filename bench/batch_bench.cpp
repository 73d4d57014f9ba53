// Batch overhead: one timed decode of every MP3 file of FOLDER with LAME,
//  - "batch": by basFunctions::Main, with the headless window and the real
//    POSIX file and process layer;
//  - "floor": by the same LAME runs started one after the other directly
//    (fork, exec and waitpid, output to /dev/null, as the batch starts
//    them), the least any batch can take.
//  - "scale": "batch" in a copy of FOLDER's MP3 files among other files,
//    10,000 in all, also printing the growth of peak resident memory.
// Prints "seconds S". The driver interleaves the first two and deletes the
// WAV files between runs.
//
// Usage: bench_batch batch|floor|scale FOLDER
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "batch/basFunctions.h"
#include "bench/bench_util.h"
#include "platform/posix/backend_posix.h"
#include "window/frmMain.h"

extern char** environ;

namespace {

constexpr char kLame[] = "/usr/bin/lame";

using platform::posix::Dir;
using platform::posix::Fd;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The input is generated with lower-case ".mp3" names only, so this simple
// test picks the same files as the batch's.
std::vector<std::string> Mp3Names(const std::string& folder) {
  const Dir dir(::opendir(folder.c_str()));
  if (!dir) bench::Fail("cannot list " + folder);
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (EndsWith(entry->d_name, ".mp3")) names.push_back(entry->d_name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void RunToEnd(const Fd& null, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
      ::dup2(null.get(), fd);
    ::execve(argv[0], argv.data(), environ);
    ::_exit(127);
  }
  if (pid < 0) bench::Fail("cannot start " + args[0]);
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    bench::Fail(args[0] + " failed on " + args[2]);
}

double Floor(const std::string& folder) {
  const std::vector<std::string> names = Mp3Names(folder);
  if (names.empty()) bench::Fail("no MP3 files in " + folder);
  const Fd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  const auto start = bench::Clock::now();
  for (const std::string& name : names) {
    const std::string stem = name.substr(0, name.size() - 3);
    RunToEnd(null, {kLame, "--decode", folder + "/" + name,
                    folder + "/" + stem + "wav"});
  }
  return bench::SecondsSince(start);
}

double Batch(const std::string& folder) {
  frmMain form;
  const auto start = bench::Clock::now();
  basFunctions::Main(form, {folder, {kLame}, '/'});
  const double seconds = bench::SecondsSince(start);
  if (form.lblStatus.Caption() != bench::CompletedStatus())
    bench::Fail("the batch ended with \"" + form.lblStatus.Caption() + "\"");
  return seconds;
}

// A field of /proc/self/status, in KiB.
long StatusKib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(field + ":", 0) == 0)
      return std::stol(line.substr(field.size() + 1));
  return -1;
}

void Scale(const std::string& folder) {
  char scratch[] = "/tmp/bench-scale-XXXXXX";
  if (!::mkdtemp(scratch)) bench::Fail("no scratch folder");
  const std::string copy = scratch;
  const std::vector<std::string> names = Mp3Names(folder);
  for (const std::string& name : names)
    std::ofstream(copy + "/" + name, std::ios::binary)
        << std::ifstream(folder + "/" + name, std::ios::binary).rdbuf();
  for (std::size_t i = names.size(); i < 10000; ++i)
    std::ofstream(copy + "/other" + std::to_string(i) + ".txt");
  std::ofstream("/proc/self/clear_refs") << "5";  // peak starts afresh
  const long before = StatusKib("VmRSS");
  bench::Report("seconds", Batch(copy));
  bench::Report("peak_growth_kib", StatusKib("VmHWM") - before);
  std::system(("rm -rf " + copy).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "batch" && mode != "floor" && mode != "scale") {
    std::fprintf(stderr, "usage: %s batch|floor|scale FOLDER\n", argv[0]);
    return 2;
  }
  if (mode == "scale") return Scale(argv[2]), 0;
  bench::Report("seconds", mode == "batch" ? Batch(argv[2]) : Floor(argv[2]));
  return 0;
}
