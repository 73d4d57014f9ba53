// The real GTK window while a decoder run hangs: window events are handled
// every few milliseconds meanwhile, and closing the window through the X
// server (WM_DELETE_WINDOW, as a window manager's close box sends it) ends
// the program within a second, leaving the run alone and starting no other.
//
// Usage, on an X display:
//   larkspire_hostile_window             the GoogleTest cases
//   larkspire_hostile_window --program FOLDER DECODER
//       the program itself, as the shipped one but for its folder and
//       decoder; prints how long window events waited during a run.
#include <fcntl.h>
#include <gtk/gtk.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "batch/basFunctions.h"
#include "gtest/gtest.h"
#include "platform/controls.h"
#include "tests/hostile/children.h"
#include "window/frmMain.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kTitle[] = "Larkspire Decompress Tool";

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Ticks every 10 ms on the main loop; while the stand-in holds its lock
// (a decoder run is going) it keeps the longest gap between two ticks.
class Ticker {
 public:
  explicit Ticker(std::string lock) : lock_(std::move(lock)) {
    source_ = g_timeout_add(10, &Ticker::Tick, this);
  }
  ~Ticker() { g_source_remove(source_); }
  double LongestGapMs() const { return longest_; }
  int Ticks() const { return ticks_; }

 private:
  static gboolean Tick(gpointer data) {
    auto* self = static_cast<Ticker*>(data);
    const auto now = Clock::now();
    const bool running = ::access(self->lock_.c_str(), F_OK) == 0;
    if (running && self->running_) {
      self->longest_ = std::max(self->longest_, MsBetween(self->last_, now));
      ++self->ticks_;
    }
    self->running_ = running;
    self->last_ = now;
    return G_SOURCE_CONTINUE;
  }

  std::string lock_;
  guint source_ = 0;
  bool running_ = false;
  Clock::time_point last_;
  double longest_ = 0;
  int ticks_ = 0;
};

int RunProgram(const std::string& folder, const std::string& decoder) {
  platform::Initialize();
  frmMain form;
  const char* log = std::getenv("STANDIN_LOG");
  Ticker ticker(std::string(log ? log : "") + ".lock");
  basFunctions::Main(form, {folder, decoder, '/'});
  form.RunUntilClosed();
  std::printf("longest-gap-ms %.1f ticks %d\n", ticker.LongestGapMs(),
              ticker.Ticks());
  return 0;
}

// ---- The cases ------------------------------------------------------------

class TempFolder {
 public:
  TempFolder() {
    std::string name = (fs::temp_directory_path() / "larkspire-window-XXXXXX");
    if (!::mkdtemp(&name[0])) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Starts `argv`, its standard output going to `output` when given.
pid_t Spawn(const std::vector<std::string>& arguments,
            const std::string& output = "") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output.empty())
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& a : arguments)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc =
      ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Waits up to `ms` for `pid` to end; its wait status, or -1 if it did not.
int WaitFor(pid_t pid, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return status;
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(HostileWindow, ClosingDuringAHangingRunEndsTheProgram) {
  // The abandoned run outlives the program: become its parent then, to end
  // it when the case is over.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  TempFolder root;
  const fs::path audio = root.path() / "audio";
  fs::create_directory(audio);
  Write(audio / "a.mp3", "sleep 60000");
  Write(audio / "b.mp3", "ok");
  Write(audio / "notes.txt", "not an MP3");
  const fs::path log = root.path() / "standin.log";
  const fs::path lock = log.string() + ".lock";
  ::setenv("STANDIN_LOG", log.c_str(), 1);
  const fs::path output = root.path() / "program.out";

  const pid_t program =
      Spawn({fs::read_symlink("/proc/self/exe").string(), "--program",
             audio.string(), LARKSPIRE_STANDIN_DECODER},
            output.string());
  ASSERT_GT(program, 0);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(lock); }, 20000))
      << "the decoder run never started";
  // Let the window live through the run for a while.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));

  const auto closed = Clock::now();
  const int closeStatus =
      WaitFor(Spawn({LARKSPIRE_CLOSE_WINDOW, kTitle}), 5000);
  const int status = WaitFor(program, 5000);
  const double endedAfterMs = MsBetween(closed, Clock::now());

  EXPECT_EQ(closeStatus, 0) << "close_window found no window";
  ASSERT_NE(status, -1) << "the program did not end after its window closed";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_LT(endedAfterMs, 1000.0) << "the program outlived its window";

  double gapMs = -1;
  int ticks = 0;
  const std::string printed = Read(output);
  EXPECT_EQ(std::sscanf(printed.c_str(), "longest-gap-ms %lf ticks %d", &gapMs,
                        &ticks),
            2)
      << printed;
  EXPECT_GE(ticks, 20) << "too few window events during the run";
  EXPECT_LT(gapMs, 100.0) << "window events waited during the run";
  std::printf(
      "closed -> ended %.0f ms; longest event wait %.1f ms (%d ticks)\n",
      endedAfterMs, gapMs, ticks);

  // One run only, still going (not killed), and no WAV file yet.
  const std::string runs = Read(log);
  EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), 1) << runs;
  EXPECT_FALSE(fs::exists(audio / "a.wav"));
  EXPECT_FALSE(fs::exists(audio / "b.wav"));
  EXPECT_EQ(hostile::KillChildren(), 1) << "the abandoned run was not going";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--program")
    return RunProgram(argv[2], argv[3]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
