// A folder nobody may write, a disk that fills, and decoders that die,
// cannot start, flood their output or never end: the batch reports each
// file and reaches its end, or stops with its one error line.
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "gtest/gtest.h"
#include "platform/headless/headless.h"
#include "tests/hostile/hostile_support.h"

extern char** environ;

namespace hostile {
namespace {

using testing_support::JoinLog;
using testing_support::kRed;
using testing_support::TempFolder;
using testing_support::WriteTextFile;

constexpr uid_t kNobody = 65534;

basFunctions::BatchSetup WithLame(const BatchFixture& batch) {
  basFunctions::BatchSetup setup = batch.Setup();
  setup.decoderPath = kLame;
  return setup;
}

// Takes write permission away from a folder for as long as it lives, so
// that it can still be cleaned up afterwards.
class ReadOnly {
 public:
  explicit ReadOnly(const fs::path& folder) : folder_(folder) {
    fs::permissions(folder_, fs::perms(0555));
  }
  ~ReadOnly() { fs::permissions(folder_, fs::perms(0755)); }

 private:
  fs::path folder_;
};

// A small tmpfs mounted over a folder; unmounted on destruction.
class SmallDisk {
 public:
  SmallDisk(const fs::path& folder, const char* size) : folder_(folder) {
    const std::string options = std::string("size=") + size + ",mode=0755";
    if (::mount("larkspire-full", folder_.c_str(), "tmpfs", 0,
                options.c_str()) != 0)
      error_ = std::strerror(errno);
  }
  ~SmallDisk() {
    if (error_.empty()) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  const std::string& Error() const { return error_; }

 private:
  fs::path folder_;
  std::string error_;
};

// Runs one test of this program as the user nobody, from a copy that
// nobody can reach (the build folder may lie under root's home), with a
// temporary folder nobody owns. Returns the exit status.
int RunTestAsNobody(const std::string& test) {
  TempFolder home;
  fs::permissions(home.path(), fs::perms(0755));
  const fs::path program = home.path() / "hostile-tests";
  fs::copy_file("/proc/self/exe", program);
  fs::permissions(program, fs::perms(0755));
  const fs::path temp = home.path() / "tmp";
  fs::create_directory(temp);
  if (::chown(temp.c_str(), kNobody, kNobody) != 0) return -1;

  std::vector<std::string> environment = {"TMPDIR=" + temp.string()};
  for (char** variable = environ; *variable; ++variable)
    if (std::strncmp(*variable, "TMPDIR=", 7) != 0)
      environment.push_back(*variable);
  const std::vector<std::string> arguments = {
      "setpriv",        "--reuid=65534",  "--regid=65534",
      "--clear-groups", program.string(), "--gtest_filter=" + test};
  std::vector<char*> argv, envp;
  for (const std::string& a : arguments)
    argv.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : environment)
    envp.push_back(const_cast<char*>(e.c_str()));
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, "setpriv", nullptr, nullptr, argv.data(),
                     envp.data()) != 0)
    return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(HostileFaults, ReadOnlyFolder) {
  if (::geteuid() == 0) {
    // Root writes into any folder: drop to nobody for the batch.
    if (::access("/usr/bin/setpriv", X_OK) != 0)
      GTEST_SKIP() << "running as root and setpriv (util-linux) is missing";
    EXPECT_EQ(RunTestAsNobody("HostileFaults.ReadOnlyFolder"), 0)
        << "the case failed as the user nobody (its output is above)";
    return;
  }
  BatchFixture batch;
  WriteTextFile(batch.audio() / "a.mp3", ToneMp3(0.2));
  WriteTextFile(batch.audio() / "b.mp3", ToneMp3(0.2));
  WriteTextFile(batch.audio() / "notes.txt", "not an MP3");
  ReadOnly readOnly(batch.audio());

  const BatchRun run = RunBatch(batch, WithLame(batch));

  for (const Report& report :
       ExpectSoundEnd(run, {"a.mp3", "b.mp3", "notes.txt"}))
    EXPECT_NE(report.reason, "")
        << report.name << " decoded into a read-only folder";
  EXPECT_EQ(run.after, run.before);
}

TEST(HostileFaults, FullDiskIsAFailedFileNotAComplete) {
  BatchFixture batch;
  const fs::path disk = batch.root() / "disk";
  fs::create_directory(disk);
  const SmallDisk small(disk, "300k");
  if (!small.Error().empty())
    GTEST_SKIP() << "a 300 KiB tmpfs cannot be mounted here (" << small.Error()
                 << "), so a full disk is not tested";
  // a.wav (18 KB) fits; b.wav (441 KB) does not.
  WriteTextFile(disk / "a.mp3", ToneMp3(0.2));
  WriteTextFile(disk / "b.mp3", ToneMp3(5.0));
  basFunctions::BatchSetup setup = WithLame(batch);
  setup.applicationFolder = disk.string();

  const BatchRun run = RunBatch(batch, setup);

  const std::vector<Report> reports = ExpectSoundEnd(run, {"a.mp3", "b.mp3"});
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].reason, "");
  EXPECT_TRUE(reports[1].reason == "the WAV file is incomplete" ||
              reports[1].reason.rfind("the decoder exited with code ", 0) == 0)
      << reports[1].reason;
}

TEST(HostileFaults, DecoderKilledBySignals) {
  BatchFixture batch;
  const struct {
    const char* name;
    const char* directive;
    const char* reason;
  } files[] = {
      {"a.mp3", "signal 9", "the decoder was stopped by signal 9"},
      {"b.mp3", "sleep 20\nsignal 15", "the decoder was stopped by signal 15"},
      {"c.mp3", "signal 1", "the decoder was stopped by signal 1"},
      {"d.mp3", "flood 100000\nsignal 13",
       "the decoder was stopped by signal 13"},
      {"e.mp3", "ok", ""},
  };
  std::vector<std::string> listed;
  for (const auto& file : files) {
    batch.Add(file.name, file.directive);
    listed.push_back(file.name);
  }

  const BatchRun run = RunBatch(batch, batch.Setup());

  const std::vector<Report> reports = ExpectSoundEnd(run, listed);
  ASSERT_EQ(reports.size(), listed.size());
  for (std::size_t i = 0; i < reports.size(); ++i)
    EXPECT_EQ(reports[i].reason, files[i].reason) << files[i].name;
}

TEST(HostileFaults, DecoderThatCannotStartStopsTheBatch) {
  const struct {
    const char* what;
    const char* contents;  // nullptr: a folder; "": nothing there
    fs::perms mode;
    const char* error;
  } cases[] = {
      {"missing", "", fs::perms(0755), "Error 2: No such file or directory"},
      {"a folder", nullptr, fs::perms(0755), "Error 13: Permission denied"},
      {"not executable", "#!/bin/sh\n", fs::perms(0644),
       "Error 13: Permission denied"},
      {"no interpreter", "#!/no/such/interpreter\n", fs::perms(0755),
       "Error 2: No such file or directory"},
      {"not a program", "plain text\n", fs::perms(0755),
       "Error 8: Exec format error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BatchFixture batch;
    batch.Add("a.mp3");
    batch.Add("b.mp3");
    const fs::path decoder = batch.root() / "lame";
    if (!c.contents) {
      fs::create_directory(decoder);
    } else if (*c.contents) {
      WriteTextFile(decoder, c.contents);
      fs::permissions(decoder, c.mode);
    }
    basFunctions::BatchSetup setup = batch.Setup();
    setup.decoderPath = decoder.string();

    const BatchRun run = RunBatch(batch, setup);

    const std::string error = c.error + std::string(kFatal);
    EXPECT_EQ(run.log, JoinLog({"Audio folder: " + run.folder,
                                "Decoding a.mp3...", error}));
    // The label and the bar keep what they showed: nothing yet.
    EXPECT_EQ(run.last, (Shown{error, kRed, "Progress:", 0.0f}));
    EXPECT_EQ(run.after, run.before);
    EXPECT_TRUE(run.children.empty());
    EXPECT_EQ(run.savedLog, run.log);
  }
}

TEST(HostileFaults, DecoderFloodingFiftyMegabytes) {
  BatchFixture batch;
  batch.Add("a.mp3", "flood 50000000");
  batch.Add("b.mp3", "flood 50000000\nexit 2");
  batch.Add("c.mp3", "ok");

  const BatchRun run = RunBatch(batch, batch.Setup());

  const std::vector<Report> reports =
      ExpectSoundEnd(run, {"a.mp3", "b.mp3", "c.mp3"});
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].reason, "");
  EXPECT_EQ(reports[1].reason, "the decoder exited with code 2");
  EXPECT_EQ(reports[2].reason, "");
  EXPECT_LT(run.seconds, 10.0);
}

TEST(HostileFaults, HangingDecoderAndTheWindowClosed) {
  BatchFixture batch;
  batch.Add("a.mp3", "sleep 60000");
  batch.Add("b.mp3", "ok");
  const fs::path lock = batch.LogPath().string() + ".lock";
  using Clock = std::chrono::steady_clock;
  Clock::time_point closed;
  bool closing = false;

  const BatchRun run = RunBatch(batch, batch.Setup(), [&](frmMain&) {
    if (!closing && fs::exists(lock)) {  // the hanging run is going
      closing = true;
      closed = Clock::now();
      platform::headless::Close();
    }
  });
  const double returnedAfter =
      std::chrono::duration<double>(Clock::now() - closed).count();

  ASSERT_TRUE(closing) << "the decoder run was never seen going";
  EXPECT_LT(returnedAfter, 1.0) << "Main outlived the closed window";
  EXPECT_EQ(run.log,
            JoinLog({"Audio folder: " + run.folder, "Decoding a.mp3..."}));
  EXPECT_EQ(run.after, run.before);
  EXPECT_EQ(run.savedLog, run.log);
  // The run was left to itself, not killed; the case ends it.
  EXPECT_EQ(run.children.size(), 1u);
  EXPECT_EQ(KillChildren(), 1);
  EXPECT_EQ(testing_support::ReadDecoderLog(batch.LogPath()).runs.size(), 1u);
}

}  // namespace
}  // namespace hostile
