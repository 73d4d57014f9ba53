// POSIX system layer, used by the GTK build and by the headless one on
// Linux. Implements from platform.h:
//  - Error from errno
//  - ApplicationFolder (from /proc/self/exe), FolderExists, ListFiles,
//    StatFile, RemoveFile
//  - GetShortPathNameA (a path is its own short form on Linux)
//  - Process: posix_spawn with an argument vector, output to /dev/null,
//    waited on through a pidfd
//  - DecimalSeparator, Today
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/backend_posix.h"

extern char** environ;

namespace platform {

const char kPathSeparator = '/';
const char* const kDecoderPath = "/usr/bin/lame";
// A path is its own short form here, so its buffer is the system's limit.
const std::uint32_t kShortPathBuffer = PATH_MAX;

using posix::Dir;
using posix::Fd;
using posix::SpawnActions;

namespace {

// As many symbolic links as the kernel follows in one path.
constexpr int kMaxLinkHops = 40;

[[noreturn]] void ThrowErrno(int number) {
  throw Error(number, std::strerror(number));
}

// Follows symlinks: a link to a regular file is a file of the folder.
bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

int PidfdOpen(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

}  // namespace

std::string ApplicationFolder() {
  std::string path(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", &path[0], path.size());
  if (n < 0) ThrowErrno(errno);
  if (static_cast<std::size_t>(n) == path.size()) ThrowErrno(ENAMETOOLONG);
  path.resize(static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

bool FolderExists(const std::string& path) {
  struct stat info;
  return !path.empty() && ::stat(path.c_str(), &info) == 0 &&
         S_ISDIR(info.st_mode);
}

std::vector<FileEntry> ListFiles(const std::string& folder) {
  Dir dir(::opendir(folder.c_str()));
  if (!dir) ThrowErrno(errno);
  std::vector<FileEntry> files;
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = JoinPath(folder, name);
    if (IsRegularFile(path)) files.push_back({name, std::move(path)});
    errno = 0;
  }
  if (errno != 0) ThrowErrno(errno);
  // readdir's order depends on the file system; sorted, runs repeat.
  std::sort(
      files.begin(), files.end(),
      [](const FileEntry& a, const FileEntry& b) { return a.Name < b.Name; });
  return files;
}

FileState StatFile(const std::string& path) {
  struct stat info;
  FileState state;
  state.link = ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
  if (::stat(path.c_str(), &info) != 0) return state;
  state.kind = S_ISREG(info.st_mode) ? FileState::kFile : FileState::kOther;
  state.volume = static_cast<std::uint64_t>(info.st_dev);
  state.index = static_cast<std::uint64_t>(info.st_ino);
  state.written = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                  info.st_mtim.tv_nsec;
  state.size = static_cast<std::uint64_t>(info.st_size);
  state.links = static_cast<std::uint32_t>(info.st_nlink);
  return state;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::uint32_t GetShortPathNameA(const std::string& longPath, char* buffer,
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

namespace {

// Writes all of `bytes`, retrying short writes.
bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The name a path's symbolic links lead to, followed to the end: renaming
// onto the link itself would replace the link and leave its target as it
// was, though the save dialog asked about the target.
std::string LinkTarget(std::string path) {
  for (int hops = 0; hops < kMaxLinkHops; ++hops) {
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), &target[0], target.size());
    if (n < 0) return path;  // not a link (or nothing there): the name itself
    if (static_cast<std::size_t>(n) == target.size()) ThrowErrno(ENAMETOOLONG);
    target.resize(static_cast<std::size_t>(n));
    path = target[0] == '/' ? target : JoinPath(FolderOf(path), target);
  }
  ThrowErrno(ELOOP);
}

}  // namespace

void WriteFileReplacing(const std::string& name, const std::string& bytes) {
  const std::string path = LinkTarget(name);
  struct stat existing;
  const bool replaces = ::stat(path.c_str(), &existing) == 0;
  // Windows does not replace a read-only file, and neither does this, even
  // for root, whom the system would let.
  if (replaces && (existing.st_mode & 0222) == 0) ThrowErrno(EACCES);
  if (replaces && ::access(path.c_str(), W_OK) != 0) ThrowErrno(errno);
  std::string temp = JoinPath(FolderOf(path), ".larkspire-XXXXXX");
  Fd fd(::mkstemp(&temp[0]));
  if (fd.get() < 0) ThrowErrno(errno);
  // mkstemp makes the file 0600; a saved log is an ordinary file, and one
  // that replaces another keeps that one's permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  int failure = 0;
  if (::fchmod(fd.get(), replaces ? existing.st_mode & 07777 : 0666 & ~mask) !=
          0 ||
      !WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0)
    failure = errno;
  if (::close(fd.release()) != 0 && failure == 0) failure = errno;
  if (failure == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
    failure = errno;
  if (failure != 0) {
    ::unlink(temp.c_str());
    ThrowErrno(failure);
  }
}

// ---- Process ----------------------------------------------------------------

struct Process::Impl {
  pid_t pid = 0;
  Fd pidfd;
  bool ended = false;
  ProcessExit exit;

  // Reaps the child if it has ended; never blocks.
  bool Reap() {
    if (ended) return true;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG) !=
        0) {
      // ECHILD: someone else reaped it; report it as ended with no status.
      if (errno == ECHILD) ended = true;
      return ended;
    }
    if (info.si_pid == 0) return false;
    ended = true;
    exit.kind = info.si_code == CLD_EXITED ? ProcessExit::kExited
                                           : ProcessExit::kSignaled;
    exit.code = info.si_status;
    return true;
  }
};

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;
Process::~Process() {
  // A run still going is left alone; reaping it now would block.
  if (impl_) impl_->Reap();
}

Process Process::Start(const CommandLine& command, int /*windowStyle*/) {
  // "Hidden" on Linux: no terminal output. LAME writes a lot of progress, so
  // it goes to /dev/null rather than a pipe that could fill and block it.
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null",
                                   O_WRONLY, 0);
  posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null",
                                   O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : command.argv)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  auto impl = std::make_unique<Impl>();
  const int rc = ::posix_spawn(&impl->pid, argv[0], actions.get(), nullptr,
                               argv.data(), environ);
  if (rc != 0) ThrowErrno(rc);
  impl->pidfd.reset(PidfdOpen(impl->pid));
  return Process(std::move(impl));
}

std::int32_t Process::Id() const { return impl_->pid; }
std::intptr_t Process::HandleValue() const { return impl_->pidfd.get(); }
bool Process::Ended() const { return impl_->ended; }
ProcessExit Process::Exit() const { return impl_->exit; }

bool Process::Wait(unsigned ms) {
  if (impl_->Reap()) return true;
  if (impl_->pidfd.get() < 0) {
    // No pidfd (an old kernel): sleep in short slices instead.
    const unsigned slice = std::min(ms, 10u);
    ::usleep(slice * 1000);
    return impl_->Reap();
  }
  pollfd fd{impl_->pidfd.get(), POLLIN, 0};
  ::poll(&fd, 1, static_cast<int>(ms));
  return impl_->Reap();
}

// ---- Locale and clock -------------------------------------------------------

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
