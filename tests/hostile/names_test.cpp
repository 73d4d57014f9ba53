// File names that quoting, a shell, option parsing, a format string or a
// text encoding could mangle, decoded by the real LAME: each MP3 becomes the
// WAV file of its own name, byte for byte what LAME makes of it elsewhere.
// And what is not a file of the folder is neither listed, counted nor
// opened.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "gtest/gtest.h"
#include "tests/hostile/hostile_support.h"

namespace hostile {
namespace {

using testing_support::WriteTextFile;

const std::vector<std::string> kAwkwardNames = {
    "with space.mp3",
    "  two  spaces .mp3",
    "quote\"double.mp3",
    "quote'single.mp3",
    "dollar$HOME$(id).mp3",
    "back`id`tick.mp3",
    "amp&.mp3",
    "question?.mp3",
    "hash#.mp3",
    "semi;colon.mp3",
    "-leading dash.mp3",
    "--decode.mp3",
    "new\nline.mp3",
    "carriage\rreturn.mp3",
    "tab\t.mp3",
    "back\\slash.mp3",
    "star*[a].mp3",
    "pipe|<in>.mp3",
    "percent%s%n%d.mp3",
    "bang!~{brace}(paren)=.mp3",
    "\xc3\xb1"
    "and\xc3\xba \xe6\x97\xa5\xe6\x9c\xac.mp3",  // UTF-8
    "bad\xff\xfe\xc3(.mp3",                      // not UTF-8
    std::string(251, 'n') + ".mp3",              // 255 bytes
    "mp3",
    "demomp3",
    ".mp3",
    "UPPER.MP3",
    "mixed.mP3",
};

// Listed and counted, but not MP3s by the name test.
const std::vector<std::string> kOtherFiles = {
    "notes.txt", "song.mp3.bak", "song.mp3 ", "mp", "mp3.", "-.wav",
};

basFunctions::BatchSetup WithLame(const BatchFixture& batch) {
  basFunctions::BatchSetup setup = batch.Setup();
  setup.decoderPath = kLame;
  return setup;
}

std::vector<std::string> ListedNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const platform::FileEntry& file : platform::ListFiles(folder.string()))
    names.push_back(file.Name);
  return names;
}

// Anyone who opened the FIFO to read it would block there for ever. The
// watcher sees such a reader (a writer's non-blocking open succeeds only
// then), lets it go with an end of file, and remembers.
class FifoWatch {
 public:
  explicit FifoWatch(const fs::path& fifo)
      : thread_([this, fifo] {
          while (!stop_) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
              opened_ = true;
              ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        }) {}
  ~FifoWatch() { Stop(); }
  bool Opened() {
    Stop();
    return opened_;
  }

 private:
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::atomic<bool> stop_{false};
  std::atomic<bool> opened_{false};
  std::thread thread_;
};

// A Unix socket's file in the folder; false when the path is too long for
// one.
bool MakeSocketFile(const fs::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.string().size() >= sizeof address.sun_path) return false;
  std::strcpy(address.sun_path, path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  const bool made = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address),
                                      sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return made;
}

class HostileNames : public ::testing::Test {
 protected:
  BatchFixture batch;
};

TEST_F(HostileNames, EachMp3DecodesToTheWavOfItsOwnName) {
  for (const std::string& name : kAwkwardNames)
    WriteTextFile(batch.audio() / name, ToneMp3(0.2));
  for (const std::string& name : kOtherFiles)
    WriteTextFile(batch.audio() / name, "not an MP3 by its name");
  std::vector<std::string> listed = kAwkwardNames;
  listed.insert(listed.end(), kOtherFiles.begin(), kOtherFiles.end());

  const BatchRun run = RunBatch(batch, WithLame(batch));

  const std::vector<Report> reports = ExpectSoundEnd(run, listed);
  EXPECT_EQ(reports.size(), kAwkwardNames.size());
  for (const Report& report : reports) {
    EXPECT_EQ(report.reason, "") << report.name;
    EXPECT_TRUE(ReadFile(batch.audio() / WavName(report.name)) ==
                ToneDecoded(0.2, report.name))
        << "not the decoded tone: " << WavName(report.name);
  }
}

TEST_F(HostileNames, OnlyTheFolderOwnFilesAreListed) {
  const fs::path audio = batch.audio();
  const fs::path store = batch.root() / "store";
  fs::create_directory(audio / "x.mp3");
  WriteTextFile(audio / "x.mp3" / "inner.mp3", ToneMp3(0.2));
  fs::create_directory(audio / "sub");
  WriteTextFile(audio / "sub" / "deep.mp3", ToneMp3(0.2));
  ASSERT_EQ(::mkfifo((audio / "y.mp3").c_str(), 0644), 0);
  fs::create_symlink("missing.mp3", audio / "z.mp3");
  fs::create_symlink("loop.mp3", audio / "loop.mp3");
  fs::create_symlink("x.mp3", audio / "dirlink.mp3");
  fs::create_directory(store);
  WriteTextFile(store / "real.mp3", ToneMp3(0.2));
  fs::create_symlink(store / "real.mp3", audio / "link.mp3");
  WriteTextFile(audio / "plain.mp3", ToneMp3(0.2));
  const bool socket = MakeSocketFile(audio / "sock.mp3");
  const Tree storeBefore = Snapshot(store);
  EXPECT_EQ(ListedNames(audio),
            (std::vector<std::string>{"link.mp3", "plain.mp3"}));

  FifoWatch watch(audio / "y.mp3");
  const BatchRun run = RunBatch(batch, WithLame(batch));
  EXPECT_FALSE(watch.Opened()) << "the FIFO y.mp3 was opened";

  const std::vector<Report> reports =
      ExpectSoundEnd(run, {"link.mp3", "plain.mp3"});
  for (const Report& report : reports) EXPECT_EQ(report.reason, "");
  // The link's WAV file is a file of the folder; the linked MP3's own
  // folder is left alone.
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(audio / "link.wav")));
  EXPECT_TRUE(ReadFile(audio / "link.wav") == ToneDecoded(0.2, "link.mp3"));
  EXPECT_EQ(Snapshot(store), storeBefore);
  if (!socket) std::printf("note: no socket file (path too long)\n");
}

TEST_F(HostileNames, WavNamesTakenOrShared) {
  // x.MP3 and x.mp3 both decode to x.wav: the later one in listing order
  // wins. taken.wav is a folder, so LAME cannot write taken.mp3's file.
  WriteTextFile(batch.audio() / "x.MP3", ToneMp3(0.2));
  WriteTextFile(batch.audio() / "x.mp3", ToneMp3(0.4));
  WriteTextFile(batch.audio() / "taken.mp3", ToneMp3(0.2));
  fs::create_directory(batch.audio() / "taken.wav");

  const BatchRun run = RunBatch(batch, WithLame(batch));

  const std::vector<Report> reports =
      ExpectSoundEnd(run, {"taken.mp3", "x.MP3", "x.mp3"});
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_NE(reports[0].reason, "") << "taken.wav is a folder";
  EXPECT_EQ(reports[1].reason, "");
  EXPECT_EQ(reports[2].reason, "");
  EXPECT_TRUE(ReadFile(batch.audio() / "x.wav") == ToneDecoded(0.4, "x.mp3"));
  EXPECT_TRUE(fs::is_directory(batch.audio() / "taken.wav"));
}

TEST(HostileFolderNames, AwkwardApplicationFolders) {
  const char* const folders[] = {
      "with space",
      "quote\"double'single",
      "dollar$HOME`id`;&#?",
      "new\nline",
      "-leading dash",
      "\xc3\xb1"
      "and\xc3\xba",
      "bad\xff\xfe\xc3(",
  };
  for (const char* folder : folders) {
    SCOPED_TRACE(folder);
    BatchFixture batch;
    const fs::path audio = batch.root() / folder;
    fs::create_directory(audio);
    WriteTextFile(audio / "a.mp3", ToneMp3(0.2));
    basFunctions::BatchSetup setup = WithLame(batch);
    setup.applicationFolder = audio.string();

    const BatchRun run = RunBatch(batch, setup);

    const std::vector<Report> reports = ExpectSoundEnd(run, {"a.mp3"});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].reason, "");
    EXPECT_TRUE(ReadFile(audio / "a.wav") == ToneDecoded(0.2, "a.mp3"));
  }
}

// Windows drops trailing spaces from names itself; Linux does not, so a
// folder named "audio " must not be taken for its sibling "audio".
TEST(HostileFolderNames, FolderEndingInASpaceIsItsOwn) {
  BatchFixture batch;
  const fs::path audio = batch.root() / "audio ";
  fs::create_directory(audio);
  WriteTextFile(audio / "mine.mp3", ToneMp3(0.2));
  WriteTextFile(batch.audio() / "decoy.mp3", ToneMp3(0.2));
  basFunctions::BatchSetup setup = WithLame(batch);
  setup.applicationFolder = audio.string();
  const Tree decoy = Snapshot(batch.audio());

  const BatchRun run = RunBatch(batch, setup);

  const std::vector<Report> reports = ExpectSoundEnd(run, {"mine.mp3"});
  EXPECT_EQ(Snapshot(batch.audio()), decoy) << "the other folder was decoded";
}

}  // namespace
}  // namespace hostile
