// POSIX system layer, used by the GTK build and by the headless one on
// Linux. Implements from platform.h:
//  - Error from errno
//  - ApplicationFolder (from /proc/self/exe), FolderExists, ListFiles,
//    StatFile, ReadFileStart, RemoveFile
//  - ShortPathName (a path is its own short form on Linux)
//  - DecoderReads (every name), MakeTemporary, WriteRefused,
//    RenameReplacing, FoldCase and TextFileBytes (names and text are the
//    bytes they are)
//  - Process: a vfork-style start and exec with an argument vector, output
//    to /dev/null, in a process group of its own, killed with the program;
//    waited on through a pidfd; its group killed and reaped once it has
//    ended or to stop it; ProcessRunning
//  - FolderClaim: flock on the folder
//  - DecimalSeparator, Today
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
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
#include <memory>
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
  // The mode bits too: access() grants root everything.
  state.readOnly =
      (info.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
  return state;
}

bool ReadFileStart(const std::string& path, std::size_t count,
                   std::string& head, std::uint64_t& size) {
  const Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info;
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  head.assign(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(file.get(), &head[done], count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  head.resize(done);
  return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

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

std::string MakeTemporary(const std::string& folder, const std::string& source,
                          const std::string& suffix) {
  for (int attempt = 1; attempt <= 1000; ++attempt) {
    const std::string path =
        JoinPath(folder, "lsk" + std::to_string(::getpid()) + "_" +
                             std::to_string(attempt) + suffix);
    const bool made =
        source.empty()
            ? Fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666))
                      .get() >= 0
            : ::link(source.c_str(), path.c_str()) == 0;
    if (made) return path;
    if (errno != EEXIST) ThrowErrno(errno);
  }
  ThrowErrno(EEXIST);
}

bool WriteRefused(const Error& error) {
  return error.Number() == EACCES || error.Number() == EPERM ||
         error.Number() == EROFS;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string FoldCase(const std::string& name) { return name; }

std::string TextFileBytes(const std::string& text) { return text; }

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

namespace {

// Room for the child until it execs: a few system calls, and the dynamic
// linker's first look-up of each of them.
constexpr std::size_t kChildStackBytes = 64 * 1024;

// What the child needs, all made before it starts: it runs in the
// program's memory while the program waits, so it must not allocate or
// take a lock. It leaves exec's error, if any, in `error`.
struct ChildStart {
  char* const* argv;
  const char* directory;
  pid_t program;
  int error;
};

// The child's side of Start, up to exec: only async-signal-safe calls.
// Not instrumented by AddressSanitizer, whose stack bookkeeping would mark
// the program's memory for a frame that never returns.
__attribute__((no_sanitize_address)) int RunChild(void* data) {
  ChildStart& start = *static_cast<ChildStart*>(data);
  // The program's handlers would run in the program's memory; exec resets
  // them to the default anyway, and ignored signals stay ignored.
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction action;
    if (::sigaction(signal, nullptr, &action) != 0 ||
        action.sa_handler == SIG_IGN || action.sa_handler == SIG_DFL)
      continue;
    action.sa_handler = SIG_DFL;
    action.sa_flags = 0;
    ::sigaction(signal, &action, nullptr);
  }
  // A group of its own: a terminal's Ctrl+C and a logout's SIGHUP are the
  // program's to act on, and Stop ends the group as a whole.
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != start.program) ::_exit(127);  // it ended before the prctl
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // "Hidden" on Linux: no terminal output. LAME writes a lot of progress,
  // so it goes to /dev/null rather than a pipe that could fill and block it.
  const int null = ::open("/dev/null", O_RDWR);
  for (int fd = STDIN_FILENO; null >= 0 && fd <= STDERR_FILENO; ++fd)
    ::dup2(null, fd);
  if (null > STDERR_FILENO) ::close(null);
  if (null >= 0 && (!*start.directory || ::chdir(start.directory) == 0))
    ::execve(start.argv[0], start.argv, environ);
  start.error = errno;
  ::_exit(127);
}

// Starts the child without copying the program's address space (a GTK
// program's page tables took most of a millisecond to copy): it shares our
// memory on a stack of its own, and we go on once it has exec'd or ended.
// Every signal is blocked meanwhile, so no handler of ours runs on the
// child's stack before it has put the defaults back.
pid_t StartChild(ChildStart& start) {
  const std::unique_ptr<char[]> stack(new char[kChildStackBytes]);
  void* const top = stack.get() + kChildStackBytes;
  sigset_t all, old;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t pid =
      ::clone(RunChild, top, CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
  const int error = errno;
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (pid < 0) ThrowErrno(error);
  return pid;
}

}  // namespace

struct Process::Impl {
  pid_t pid = 0;
  Fd pidfd;
  bool ended = false;
  ProcessExit exit;

  void Record(const siginfo_t& info) {
    ended = true;
    exit.kind = info.si_code == CLD_EXITED ? ProcessExit::kExited
                                           : ProcessExit::kSignaled;
    exit.code = info.si_status;
  }

  // Whether the child has ended; once it has, what it left running ends
  // too and all is reaped. Never blocks while the child runs.
  bool Reap() {
    if (ended) return true;
    siginfo_t info{};
    // Looked at, not reaped: until it is, its id and so its group's can be
    // no one else's, and the kill below reaches no stranger.
    if (::waitid(P_PID, static_cast<id_t>(pid), &info,
                 WEXITED | WNOHANG | WNOWAIT) != 0) {
      // ECHILD: someone else reaped it; report it as ended with no status.
      if (errno == ECHILD) ended = true;
      return ended;
    }
    if (info.si_pid == 0) return false;
    EndGroup();
    return true;
  }

  // Kills every process of the child's group and reaps them all, the child
  // among them.
  void EndGroup() {
    ::kill(-pid, SIGKILL);
    ReapGroup();
  }

  // Reaps every process of the child's group. The program is their
  // subreaper, so the group's orphans are its children too, and this
  // returns only when the whole group has ended.
  void ReapGroup() {
    siginfo_t info{};
    while (::waitid(P_PGID, static_cast<id_t>(pid), &info, WEXITED) == 0 ||
           errno == EINTR)
      if (info.si_pid == pid) Record(info);
    ended = true;
  }
};

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;
Process::~Process() {
  if (impl_) Stop();
}

Process Process::Start(const CommandLine& command, int /*windowStyle*/) {
  // Everything the child needs is made before it starts: it must not
  // allocate.
  std::vector<char*> argv;
  for (const std::string& arg : command.argv)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  auto impl = std::make_unique<Impl>();
  // Set before the first child: what the decoder starts and leaves behind
  // becomes the program's own child, and ends with the decoder's run.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  ChildStart start{argv.data(), command.directory.c_str(), ::getpid(), 0};
  impl->pid = StartChild(start);
  if (start.error != 0) {  // exec failed: the child has ended
    ::waitpid(impl->pid, nullptr, 0);
    ThrowErrno(start.error);
  }
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

bool Process::Stop() {
  if (impl_->Reap()) return false;
  impl_->EndGroup();
  // It may have exited between the look and the kill.
  return impl_->exit.kind == ProcessExit::kSignaled;
}

// A process that cannot be signalled is still one that runs.
bool ProcessRunning(std::int64_t id) {
  return id > 0 && id <= INT_MAX &&
         (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM);
}

// ---- Folder claim -----------------------------------------------------------

// flock on the folder itself: nothing is written into it, and the lock goes
// with the descriptor, so it ends with the program however it ends. The
// descriptor is close-on-exec, so no decoder holds it on.
struct FolderClaim::Impl {
  Fd folder;
  bool held = false;
};

FolderClaim::FolderClaim(const std::string& folder)
    : impl_(std::make_unique<Impl>()) {
  impl_->folder.reset(
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (impl_->folder.get() < 0) ThrowErrno(errno);
  while (!(impl_->held = ::flock(impl_->folder.get(), LOCK_EX | LOCK_NB) == 0))
    if (errno != EINTR) break;
  if (!impl_->held && errno != EWOULDBLOCK) ThrowErrno(errno);
}
FolderClaim::FolderClaim(FolderClaim&&) noexcept = default;
FolderClaim& FolderClaim::operator=(FolderClaim&&) noexcept = default;
FolderClaim::~FolderClaim() = default;
bool FolderClaim::Held() const { return impl_->held; }

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
