// Stands in for LAME in the tests: accepts "--decode <in> <out>" and does
// what the input file's text asks, one directive per line, run in order:
//   ok              write a complete WAV and exit 0 (also what an empty
//                   file or the end of the directives does)
//   exit N          write a complete WAV, then exit with status N, so a
//                   test proves the status is read even when a WAV exists
//   nowav           exit 0 without writing anything
//   shortwav        write a WAV whose header claims more than it holds, as
//                   LAME does on a full disk, and exit 0
//   sleep MS        wait MS milliseconds, then go on
//   flood BYTES     write BYTES bytes to standard output, then go on
//   signal N        write a complete WAV, then raise signal N (POSIX only)
//
// When STANDIN_LOG names a file, every run appends one line to it:
//   "run" TAB argc TAB argv[0] TAB ... argv[argc-1]
// and on Windows also TAB "cmdline" TAB the raw command line. A run that
// starts while another holds STANDIN_LOG + ".lock" appends "OVERLAP" first.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
// The raw command line as CreateProcess passed it; declared here so the
// stand-in needs no Windows headers.
extern "C" __declspec(dllimport) char* __stdcall GetCommandLineA(void);
#endif

namespace {

constexpr int kUsage = 64;
constexpr int kNoInput = 66;
constexpr int kBadDirective = 65;
constexpr int kCannotWrite = 73;

std::string LogPath() {
  const char* log = std::getenv("STANDIN_LOG");
  return log && *log ? log : "";
}

void AppendToLog(const std::string& line) {
  const std::string path = LogPath();
  if (path.empty()) return;
  if (std::FILE* log = std::fopen(path.c_str(), "ab")) {
    std::fputs((line + "\n").c_str(), log);
    std::fclose(log);
  }
}

// Creates `path`, failing when it exists already.
bool CreateExclusively(const std::string& path) {
#ifdef _WIN32
  // msvcrt.dll's fopen ignores "x"; its _open honours _O_EXCL.
  const int fd =
      _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return false;
  _close(fd);
  return true;
#else
  std::FILE* file = std::fopen(path.c_str(), "wx");
  if (!file) return false;
  std::fclose(file);
  return true;
#endif
}

// Held for the length of the run; a second holder means two decoder runs
// overlapped.
class RunLock {
 public:
  RunLock() {
    if (LogPath().empty()) return;
    path_ = LogPath() + ".lock";
    if (!CreateExclusively(path_)) {
      AppendToLog("OVERLAP");
      path_.clear();  // not ours to remove
    }
  }
  ~RunLock() { Release(); }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Also called before leaving by a path that skips destructors.
  void Release() {
    if (!path_.empty()) std::remove(path_.c_str());
    path_.clear();
  }

 private:
  std::string path_;
};

void RecordRun(int argc, char** argv) {
  std::string line = "run\t" + std::to_string(argc);
  for (int i = 0; i < argc; ++i) line += std::string("\t") + argv[i];
#ifdef _WIN32
  line += std::string("\tcmdline\t") + GetCommandLineA();
#endif
  AppendToLog(line);
}

void PutLittleEndian(std::string& out, unsigned long value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// 16-bit mono PCM at 8000 Hz. `claimed` is the data size the header states,
// `written` the number of sample bytes that follow it.
bool WriteWav(const std::string& path, unsigned long claimed,
              unsigned long written) {
  std::string wav = "RIFF";
  PutLittleEndian(wav, 36 + claimed, 4);
  wav += "WAVEfmt ";
  PutLittleEndian(wav, 16, 4);
  PutLittleEndian(wav, 1, 2);      // PCM
  PutLittleEndian(wav, 1, 2);      // channels
  PutLittleEndian(wav, 8000, 4);   // sample rate
  PutLittleEndian(wav, 16000, 4);  // bytes per second
  PutLittleEndian(wav, 2, 2);      // block align
  PutLittleEndian(wav, 16, 2);     // bits per sample
  wav += "data";
  PutLittleEndian(wav, claimed, 4);
  wav.append(written, '\0');
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(wav.data(), static_cast<std::streamsize>(wav.size()));
  return static_cast<bool>(out.flush());
}

bool WriteCompleteWav(const std::string& path) {
  return WriteWav(path, 1600, 1600);
}

void Flood(unsigned long long bytes) {
#ifdef _WIN32
  // Text mode would hand the bytes to the system a kilobyte at a time.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::string chunk(64 * 1024, 'x');
  while (bytes > 0) {
    const std::size_t n =
        bytes < chunk.size() ? static_cast<std::size_t>(bytes) : chunk.size();
    if (std::fwrite(chunk.data(), 1, n, stdout) != n) return;
    bytes -= n;
  }
  std::fflush(stdout);
}

std::vector<std::string> ReadDirectives(const std::string& path, bool& found) {
  std::ifstream in(path, std::ios::binary);
  found = static_cast<bool>(in);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
      line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

int Run(const std::string& mp3, const std::string& wav, RunLock& lock) {
  bool found = false;
  const std::vector<std::string> directives = ReadDirectives(mp3, found);
  if (!found) {
    std::fprintf(stderr, "Could not open \"%s\".\n", mp3.c_str());
    return kNoInput;
  }
  for (const std::string& directive : directives) {
    std::istringstream words(directive);
    std::string verb;
    long long number = 0;
    words >> verb >> number;
    if (verb == "ok") break;
    if (verb == "nowav") return 0;
    if (verb == "shortwav") return WriteWav(wav, 1600, 100) ? 0 : kCannotWrite;
    if (verb == "exit") {
      if (!WriteCompleteWav(wav)) return kCannotWrite;
      return static_cast<int>(number);
    }
    if (verb == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(number));
    } else if (verb == "flood") {
      Flood(static_cast<unsigned long long>(number));
    } else if (verb == "signal") {
      if (!WriteCompleteWav(wav)) return kCannotWrite;
      lock.Release();  // the signal ends the run without unwinding
      std::raise(static_cast<int>(number));
      std::fprintf(stderr, "Signal %lld did not stop the run.\n", number);
      return kBadDirective;
    } else {
      std::fprintf(stderr, "Unknown directive \"%s\".\n", directive.c_str());
      return kBadDirective;
    }
  }
  return WriteCompleteWav(wav) ? 0 : kCannotWrite;
}

}  // namespace

int main(int argc, char** argv) {
  RunLock lock;
  RecordRun(argc, argv);
  if (argc != 4 || std::string(argv[1]) != "--decode") {
    std::fprintf(stderr, "usage: %s --decode <in.mp3> <out.wav>\n", argv[0]);
    return kUsage;
  }
  return Run(argv[2], argv[3], lock);
}
