#include "tests/hostile/hostile_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "gtest/gtest.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"

namespace hostile {

namespace {

using testing_support::kBlack;
using testing_support::kGreen;
using testing_support::kRed;
using testing_support::TempFolder;
using testing_support::WriteTextFile;

constexpr int kRate = 44100;

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t LittleEndian(const std::string& bytes, std::size_t at,
                           int count) {
  std::uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::string MakeToneWav(double seconds) {
  const auto count = static_cast<std::uint32_t>(seconds * kRate);
  std::string wav = "RIFF";
  PutLittleEndian(wav, 36 + 2 * count, 4);
  wav += "WAVEfmt ";
  PutLittleEndian(wav, 16, 4);
  PutLittleEndian(wav, 1, 2);  // PCM
  PutLittleEndian(wav, 1, 2);  // mono
  PutLittleEndian(wav, kRate, 4);
  PutLittleEndian(wav, 2 * kRate, 4);
  PutLittleEndian(wav, 2, 2);
  PutLittleEndian(wav, 16, 2);
  wav += "data";
  PutLittleEndian(wav, 2 * count, 4);
  const double step = 2 * M_PI * 440.0 / kRate;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto sample = static_cast<std::int16_t>(12000 * std::sin(i * step));
    PutLittleEndian(wav, static_cast<std::uint16_t>(sample), 2);
  }
  return wav;
}

// Runs LAME to its end with its output discarded.
void RunLame(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {kLame};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string text;
  for (const std::string& arg : argv) text += (text.empty() ? "" : " ") + arg;
  platform::Process lame = platform::Process::Start({text, argv}, 0);
  while (!lame.Wait(1000)) {
  }
  if (lame.Exit().kind != platform::ProcessExit::kExited ||
      lame.Exit().code != 0)
    throw std::runtime_error("lame failed: " + text);
}

// The tones, made once per length in a folder of their own.
struct Tone {
  std::string wav, mp3;
  std::map<std::string, std::string> decoded;  // by extension
};

fs::path Scratch() {
  static TempFolder scratch;
  return scratch.path();
}

Tone& MakeTone(double seconds) {
  static std::map<double, Tone> tones;
  auto found = tones.find(seconds);
  if (found != tones.end()) return found->second;
  const std::string stem = (Scratch() / std::to_string(tones.size())).string();
  Tone tone;
  tone.wav = MakeToneWav(seconds);
  WriteTextFile(stem + ".wav", tone.wav);
  RunLame({"--quiet", "-b", "64", stem + ".wav", stem + ".mp3"});
  tone.mp3 = ReadFile(stem + ".mp3");
  return tones.emplace(seconds, tone).first->second;
}

// The extension LAME goes by: the text after the name's last dot, if any.
std::string Extension(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot);
}

std::string Describe(const fs::path& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return "gone";
  if (S_ISLNK(info.st_mode)) {
    std::error_code error;
    return "link -> " + fs::read_symlink(path, error).string();
  }
  if (S_ISDIR(info.st_mode)) return "dir";
  if (S_ISFIFO(info.st_mode)) return "fifo";
  if (S_ISSOCK(info.st_mode)) return "socket";
  if (!S_ISREG(info.st_mode)) return "other";
  std::ostringstream text;
  text << "file " << info.st_size << " "
       << std::hash<std::string>{}(ReadFile(path));
  return text.str();
}

void AddTree(const fs::path& folder, const std::string& prefix, Tree& tree) {
  // Sorted by the map; readdir order does not matter.
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const fs::path path = folder / name;
    const std::string kind = Describe(path);
    tree[prefix + name] = kind;
    if (kind == "dir") AddTree(path, prefix + name + "/", tree);
  }
  ::closedir(dir);
}

bool StartsWith(const std::string& text, std::size_t at,
                const std::string& prefix) {
  return text.compare(at, prefix.size(), prefix) == 0;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 3 &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

bool KnownReason(const std::string& reason) {
  for (const std::string prefix : {"the decoder exited with code ",
                                   "the decoder was stopped by signal "}) {
    if (StartsWith(reason, 0, prefix))
      return IsNumber(reason.substr(prefix.size())) &&
             reason.substr(prefix.size()) != "0";
  }
  return reason == "no WAV file was written" ||
         reason == "the WAV file is incomplete" ||
         reason == "its short path could not be resolved";
}

// "Progress: 33.3%" -> 33.3, in the C locale's notation the tests run in.
double PercentValue(const std::string& caption) {
  const std::string prefix = "Progress: ";
  if (!StartsWith(caption, 0, prefix) || caption.back() != '%') return -1;
  std::string number = caption.substr(prefix.size());
  number.pop_back();
  const std::string separator = platform::DecimalSeparator();
  const auto at = number.find(separator);
  if (at != std::string::npos) number.replace(at, separator.size(), ".");
  try {
    return std::stod(number);
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace

std::string ToneWav(double seconds) { return MakeTone(seconds).wav; }
std::string ToneMp3(double seconds) { return MakeTone(seconds).mp3; }
std::string ToneDecoded(double seconds, const std::string& name) {
  Tone& tone = MakeTone(seconds);
  const std::string extension = Extension(name);
  auto found = tone.decoded.find(extension);
  if (found != tone.decoded.end()) return found->second;
  const fs::path mp3 = Scratch() / ("reference" + extension);
  const fs::path wav = Scratch() / "reference-decoded.wav";
  WriteTextFile(mp3, tone.mp3);
  RunLame({"--quiet", "--decode", mp3.string(), wav.string()});
  return tone.decoded[extension] = ReadFile(wav);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

long long WavDataBytes(const std::string& bytes) {
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 ||
      bytes.compare(8, 4, "WAVE") != 0)
    return -1;
  if (8ULL + LittleEndian(bytes, 4, 4) > bytes.size()) return -1;
  bool pcm16 = false;
  for (std::uint64_t at = 12; at + 8 <= bytes.size();) {
    const std::string id = bytes.substr(at, 4);
    const std::uint64_t size = LittleEndian(bytes, at + 4, 4);
    if (at + 8 + size > bytes.size()) return -1;
    if (id == "fmt " && size >= 16) {
      const auto channels = LittleEndian(bytes, at + 10, 2);
      pcm16 = LittleEndian(bytes, at + 8, 2) == 1 && channels >= 1 &&
              channels <= 2 && LittleEndian(bytes, at + 22, 2) == 16;
    }
    if (id == "data") return pcm16 ? static_cast<long long>(size) : -1;
    at += 8 + size + (size & 1);
  }
  return -1;
}

Tree Snapshot(const fs::path& folder) {
  Tree tree;
  AddTree(folder, "", tree);
  return tree;
}

std::string WavName(const std::string& mp3Name) {
  return (mp3Name.size() <= 3 ? "" : mp3Name.substr(0, mp3Name.size() - 3)) +
         "wav";
}

bool LooksLikeMp3(const std::string& name) {
  std::string tail = name.size() <= 3 ? name : name.substr(name.size() - 3);
  for (char& c : tail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return tail == "mp3";
}

BatchRun RunBatch(BatchFixture& batch, const basFunctions::BatchSetup& setup,
                  const std::function<void(frmMain&)>& onPump) {
  namespace headless = platform::headless;
  BatchRun run;
  run.folder = setup.applicationFolder;
  run.before = Snapshot(run.folder);
  headless::Reset();
  frmMain form;
  const auto note = [&form] {
    return Shown{form.lblStatus.Caption(), form.lblStatus.ForeColor(),
                 form.lblPercent.Caption(), form.pbProgress.Value()};
  };
  headless::SetPumpHook([&] {
    const Shown now = note();
    if (run.atPumps.empty() || !(run.atPumps.back() == now))
      run.atPumps.push_back(now);
    if (onPump) onPump(form);
  });
  const auto start = std::chrono::steady_clock::now();
  basFunctions::Main(form, setup);
  run.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  headless::SetPumpHook(nullptr);
  run.pumps = headless::PumpCount();
  run.log = form.txtLog.Text();
  run.last = note();
  run.after = Snapshot(run.folder);
  run.children = Children();

  // The program still works: Save Log writes the whole log.
  const fs::path saved = batch.root() / "saved-log.txt";
  headless::SetSaveResponder(
      [&](const platform::CommonDialog&) { return saved.string(); });
  form.cmdSave.Click();
  run.savedLog = ReadFile(saved);
  fs::remove(saved);
  run.errorBoxes = headless::ShownErrors();
  headless::Reset();
  return run;
}

std::vector<Report> ExpectSoundEnd(const BatchRun& run,
                                   std::vector<std::string> listed) {
  std::sort(listed.begin(), listed.end());
  // On Linux a path is its own short form: reports name the folder as given.
  const std::string& audio = run.folder;
  const std::string& log = run.log;
  std::vector<Report> reports;
  std::size_t at = 0;
  const auto expectLine = [&](const std::string& line) {
    if (!StartsWith(log, at, line + "\r\n")) return false;
    at += line.size() + 2;
    return true;
  };

  EXPECT_TRUE(expectLine("Audio folder: " + run.folder)) << log;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const std::string& name = listed[i];
    if (!LooksLikeMp3(name)) continue;
    SCOPED_TRACE("file: " + name);
    const std::string path = audio + "/" + name;
    if (!expectLine("Decoding " + name + "...") ||
        !StartsWith(log, at, path + " decoding ")) {
      ADD_FAILURE() << "no report in the log at byte " << at << ":\n"
                    << log.substr(at);
      return reports;
    }
    at += path.size() + 10;
    const auto end = log.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "the log ends inside the report: " << log.substr(at);
      return reports;
    }
    const std::string outcome = log.substr(at, end - at);
    at = end + 2;
    const std::string line = path + " decoding " + outcome;
    Report report{name, ""};
    if (outcome != "complete.") {
      const bool framed = StartsWith(outcome, 0, "failed (") &&
                          outcome.size() > 10 &&
                          outcome.compare(outcome.size() - 2, 2, ").") == 0;
      EXPECT_TRUE(framed) << line;
      report.reason = framed ? outcome.substr(8, outcome.size() - 10) : outcome;
      EXPECT_TRUE(KnownReason(report.reason)) << line;
    }
    reports.push_back(report);

    // The report was on show, in its colour, with its file's share.
    const auto shown =
        std::find_if(run.atPumps.begin(), run.atPumps.end(),
                     [&](const Shown& s) { return s.status == line; });
    if (shown == run.atPumps.end()) {
      ADD_FAILURE() << "never shown: " << line;
    } else {
      EXPECT_EQ(shown->color, report.reason.empty() ? kBlack : kRed) << line;
      EXPECT_NEAR(PercentValue(shown->percent), 100.0 * (i + 1) / listed.size(),
                  0.0501)
          << shown->percent;
    }
    if (report.reason.empty()) {
      EXPECT_GE(WavDataBytes(ReadFile(fs::path(audio) / WavName(name))), 0)
          << "reported decoded without a complete WAV file";
    }
  }

  std::size_t failures = 0;
  for (const Report& report : reports) failures += !report.reason.empty();
  const std::string end =
      failures == 0 ? std::string(kCompleted)
                    : std::string(kCompleted) + " " + std::to_string(failures) +
                          " of " + std::to_string(reports.size()) +
                          " MP3 files could not be decoded.";
  EXPECT_EQ(log.substr(at), end);
  EXPECT_EQ(run.last, (Shown{end, failures == 0 ? kGreen : kRed,
                             testing_support::Percent("100"), 100.0f}));

  // Only the MP3s' WAV files were written; a decoded file's is there.
  std::map<std::string, bool> wavs;  // name -> must exist
  for (const Report& report : reports)
    wavs[WavName(report.name)] |= report.reason.empty();
  for (const auto& [path, kind] : run.after) {
    const auto before = run.before.find(path);
    if (before != run.before.end() && before->second == kind) continue;
    EXPECT_TRUE(wavs.count(path) && kind.rfind("file ", 0) == 0)
        << "written besides the WAV files: " << path << " (" << kind << ")";
  }
  for (const auto& [path, kind] : run.before)
    EXPECT_TRUE(run.after.count(path)) << "removed: " << path;
  for (const auto& [name, needed] : wavs)
    if (needed) {
      EXPECT_TRUE(run.after.count(name)) << "missing: " << name;
    }

  EXPECT_EQ(run.savedLog, run.log) << "Save Log after the batch";
  EXPECT_TRUE(run.errorBoxes.empty());
  EXPECT_TRUE(run.children.empty()) << "child processes left behind";
  return reports;
}

}  // namespace hostile
