// Stands in for LAME: takes "--decode IN OUT" and does what IN's lines say,
// in order (an empty file means "ok"):
//   ok          a complete WAV, exit 0    exit N       a complete WAV, exit N
//   nowav       exit 0, no WAV            shortwav     a WAV cut short, exit 0
//   nosamples   a WAV of no samples       begin        an incomplete WAV, go on
//   sleep MS    wait                      signal N     a complete WAV, signal N
//   crash       a complete WAV, then end as an access violation does (status
//               0xC0000005 on Windows, where Wine would hold a real crash for
//               its debugger's dialog; SIGSEGV elsewhere)
//   ignore N    ignore signal N           remove NAME  remove NAME beside IN
//   say TEXT    the rest of the line on its error output
//   fifo NAME   (POSIX) a FIFO in NAME's place
//   child       (POSIX) the rest in a child, waited for, as a wrapper would
//   detach      (POSIX) a complete WAV, exit 0, a child left to run the rest
//               in a session of its own (setsid), out of the decoder's group
// When STANDIN_LOG names a file, each run appends "run" and its arguments,
// tab-separated.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const char* const kLog = std::getenv("STANDIN_LOG");

void Record(const std::string& line) {
  if (kLog)
    std::ofstream(kLog, std::ios::app | std::ios::binary) << line << "\n";
}

// 16-bit mono PCM at 8000 Hz whose header claims `claimed` bytes of data.
bool WriteWav(const std::string& path, unsigned claimed, unsigned written) {
  std::string wav;
  auto put = [&wav](unsigned v) {
    for (int i = 0; i < 4; ++i) wav += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  for (unsigned v : {0x46464952u, 36 + claimed, 0x45564157u, 0x20746d66u, 16u,
                     0x10001u, 8000u, 16000u, 0x100002u, 0x61746164u, claimed})
    put(v);  // "RIFF" size "WAVE" "fmt " ... "data" size
  wav.append(written, '\0');
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(wav.data(), wav.size()).flush());
}

#ifndef _WIN32
// Forks: the parent waits for the child and returns its exit status, the
// child returns -1 and goes on.
int InChild() {
  const pid_t child = ::fork();
  int status = 0;
  if (child == 0) return -1;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return 71;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

// The directives that act beside the decoding; false for any other.
bool Act(const std::string& verb, const std::string& arg, const std::string& in,
         const std::string& out) {
  const std::string beside = in.substr(0, in.find_last_of("/\\") + 1) + arg;
  if (verb == "begin") WriteWav(out, 1600, 100);
  if (verb == "say") std::fputs((arg + "\n").c_str(), stderr);
  if (verb == "ignore") std::signal(std::atoi(arg.c_str()), SIG_IGN);
  if (verb == "remove" || verb == "fifo") std::remove(beside.c_str());
#ifndef _WIN32
  if (verb == "fifo") ::mkfifo(beside.c_str(), 0644);
#endif
  return verb == "begin" || verb == "ignore" || verb == "remove" ||
         verb == "fifo" || verb == "say";
}

int Run(const std::string& in, const std::string& out) {
  std::ifstream directives(in, std::ios::binary);
  if (!directives) return 66;
  for (std::string line; std::getline(directives, line);) {
    std::istringstream words(line);
    std::string verb, arg;
    words >> verb >> arg;
    if (verb == "say") arg = line.substr(4);
    long long n = std::atoll(arg.c_str());
    if (verb.empty() || verb == "ok") break;
    if (Act(verb, arg, in, out)) continue;
#ifndef _WIN32
    if (verb == "child" && (n = InChild()) >= 0) return static_cast<int>(n);
    if (verb == "child") continue;
    if (verb == "detach" && ::fork() > 0) break;
    if (verb == "detach" && ::setsid() >= 0) continue;
#endif
    if (verb == "nowav") return 0;
    if (verb == "shortwav") return WriteWav(out, 1600, 100) ? 0 : 73;
    if (verb == "nosamples") return WriteWav(out, 0, 0) ? 0 : 73;
    if (verb == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(n));
    } else if (verb == "exit" || verb == "signal" || verb == "crash") {
      if (!WriteWav(out, 1600, 1600)) return 73;
      if (verb == "exit") return static_cast<int>(n);
#ifdef _WIN32
      if (verb == "crash") return static_cast<int>(0xC0000005u);
#endif
      std::raise(verb == "crash" ? SIGSEGV : static_cast<int>(n));
    } else {
      return 65;
    }
  }
  return WriteWav(out, 1600, 1600) ? 0 : 73;
}

}  // namespace

int main(int argc, char** argv) {
  std::string line = "run\t" + std::to_string(argc);
  for (int i = 0; i < argc; ++i) line += std::string("\t") + argv[i];
  Record(line);
  if (argc != 4 || std::string(argv[1]) != "--decode") return 64;
  return Run(argv[2], argv[3]);
}
