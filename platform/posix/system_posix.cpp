// POSIX system layer, used by the GTK build and by the headless one on
// Linux: what is neither files, processes nor the folder claim. Implements
// from platform.h:
//  - Error from errno (ThrowErrno, the one place)
//  - kPathSeparator, kDeviceNames, kShortPathBuffer, DecoderPlaces
//  - PrepareProcess: the signal settings a launcher may leave behind
//  - ApplicationFolder (from /proc/self/exe), ShortPathName (a path is its
//    own short form on Linux), DecoderReads, FoldCase and TextFileBytes
//    (names and text are the bytes they are)
//  - DecimalSeparator, Today
// Files are in files_posix.cpp, processes in process_posix.cpp, the folder
// claim in claim_posix.cpp.
#include <langinfo.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/backend_posix.h"

namespace platform {

const char kPathSeparator = '/';
const bool kDeviceNames = false;
// A path is its own short form here, so its buffer is the system's limit.
const std::uint32_t kShortPathBuffer = PATH_MAX;

namespace posix {

void ThrowErrno(int number) { throw Error(number, std::strerror(number)); }

}  // namespace posix

std::vector<std::string> DecoderPlaces() { return {"/usr/bin/lame"}; }

void PrepareProcess() {
  // A launcher may start the program with SIGCHLD ignored, which exec
  // keeps: the kernel would then reap every decoder itself, and its exit
  // status would be lost. Signals it left blocked would never reach the
  // program's own handlers (SIGTERM, SIGINT, SIGHUP close the window).
  ::signal(SIGCHLD, SIG_DFL);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

std::string ApplicationFolder() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", &path[0], path.size());
  if (n < 0) posix::ThrowErrno(errno);
  if (static_cast<std::size_t>(n) == path.size())
    posix::ThrowErrno(ENAMETOOLONG);
  path.resize(static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::uint32_t ShortPathName(const std::string& longPath, char* buffer,
                            std::uint32_t length) {
  struct stat info;
  const auto size = static_cast<std::uint32_t>(longPath.size());
  if (longPath.empty()) return 0;
  // A name beyond the system's limit is too long for the buffer, not absent.
  if (::stat(longPath.c_str(), &info) != 0)
    return errno == ENAMETOOLONG && size >= length ? size + 1 : 0;
  if (size >= length) return size + 1;  // what the answer would need
  std::memcpy(buffer, longPath.c_str(), size + 1);
  return size;
}

bool DecoderReads(const std::string& /*argument*/) { return true; }

std::string FoldCase(const std::string& name) { return name; }

std::string TextFileBytes(const std::string& text) { return text; }

std::string DecimalSeparator() {
  const char* radix = ::nl_langinfo(RADIXCHAR);
  return radix && *radix ? radix : ".";
}

Date Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace platform
