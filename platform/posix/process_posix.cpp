// POSIX processes. Implements from platform.h:
//  - Process: a vfork-style start and exec with an argument vector, output
//    to /dev/null, in a process group of its own, killed with the program;
//    waited on through a pidfd; once it has ended, its group and every
//    other child of the program (its subreaper) killed and reaped, without
//    ever blocking
//  - ErrorOutput: a file in memory (memfd), appended to
//  - ProcessId, ProcessRunning
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <memory>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/backend_posix.h"

extern char** environ;

namespace platform {

using posix::Dir;
using posix::Fd;
using posix::ThrowErrno;

namespace {

// Room for the child until it execs: a few system calls, and the dynamic
// linker's first look-up of each of them.
constexpr std::size_t kChildStackBytes = 64 * 1024;
// How often what a run left behind is looked at until it has gone: no
// descriptor tells when the last of them has ended.
constexpr unsigned kLeftoverSliceMs = 10;

int PidfdOpen(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

// What the child needs, all made before it starts: it runs in the
// program's memory while the program waits, so it must not allocate or
// take a lock. It leaves exec's error, if any, in `error`.
struct ChildStart {
  char* const* argv;
  const char* directory;
  int errors;  // the descriptor its error output goes to, or -1
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
  if (start.errors >= 0) ::dup2(start.errors, STDERR_FILENO);
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

// The program's own children, as the kernel lists them for each thread.
std::vector<pid_t> Children() {
  std::vector<pid_t> children;
  const Dir tasks(::opendir("/proc/self/task"));
  while (const dirent* task = tasks ? ::readdir(tasks.get()) : nullptr) {
    if (task->d_name[0] == '.') continue;
    std::ifstream list(std::string("/proc/self/task/") + task->d_name +
                       "/children");
    for (pid_t pid; list >> pid;) children.push_back(pid);
  }
  return children;
}

}  // namespace

struct ErrorOutput::Impl {
  Fd fd;
};

ErrorOutput::ErrorOutput() {
  // In memory: LAME writes its progress there on every run, which a file
  // on disk, emptied each time, made cost a third of a millisecond a file.
  // Appended to, so that each run writes from the start once emptied.
  Fd fd(::memfd_create("larkspire-decoder-errors", MFD_CLOEXEC));
  if (fd.get() < 0 || ::fcntl(fd.get(), F_SETFL, O_APPEND) != 0) return;
  impl_ = std::make_unique<Impl>();
  impl_->fd = std::move(fd);
}
ErrorOutput::ErrorOutput(ErrorOutput&&) noexcept = default;
ErrorOutput& ErrorOutput::operator=(ErrorOutput&&) noexcept = default;
ErrorOutput::~ErrorOutput() = default;

void ErrorOutput::Clear() {
  if (impl_) ::ftruncate(impl_->fd.get(), 0);
}

std::string ErrorOutput::Tail(std::size_t count) const {
  struct stat info;
  if (!impl_ || ::fstat(impl_->fd.get(), &info) != 0) return "";
  const auto size = static_cast<std::size_t>(info.st_size);
  std::string tail(std::min(count, size), '\0');
  const ssize_t n = ::pread(impl_->fd.get(), &tail[0], tail.size(),
                            static_cast<off_t>(size - tail.size()));
  tail.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return tail;
}

struct Process::Impl {
  pid_t pid = 0;
  Fd pidfd;
  bool exited = false, over = false;
  ProcessExit exit;

  // Whether the child has ended; the first time it is seen so, what it
  // left running is ended too. Looked at, not reaped: until it is, its id
  // and so its group's can be no one else's, and the kill reaches no
  // stranger.
  bool LookForExit() {
    if (exited) return true;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info,
                 WEXITED | WNOHANG | WNOWAIT) != 0) {
      // ECHILD: reaped by someone else; ended, with no status to tell.
      exited = errno == ECHILD;
    } else if (info.si_pid != 0) {
      exited = true;
      exit.kind = info.si_code == CLD_EXITED ? ProcessExit::kExited
                                             : ProcessExit::kSignaled;
      exit.code = info.si_status;
    }
    if (exited) EndLeftovers();
    return exited;
  }

  // Kills the child's group. What left it with setsid() is killed by
  // ReapAll once it has come to the program.
  void EndLeftovers() { ::kill(-pid, SIGKILL); }

  // Reaps every child that has ended; true once none is left. The program
  // is the subreaper of what the run started, a process that left the
  // group with setsid() included: such orphans come to it as their parents
  // end, and each is killed as it is found. Nothing is looked up while no
  // child is left, which is nearly always.
  bool ReapAll() {
    for (;;) {
      siginfo_t info{};
      if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG) != 0) {
        if (errno == EINTR) continue;
        return errno == ECHILD;
      }
      if (info.si_pid == 0) break;
    }
    for (const pid_t child : Children()) ::kill(child, SIGKILL);
    return false;
  }
};

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;
Process::~Process() {
  if (impl_ && !Over()) Stop();
}

Process Process::Start(const CommandLine& command, int /*windowStyle*/,
                       const ErrorOutput* errors) {
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
  ChildStart start{argv.data(), command.directory.c_str(),
                   errors && errors->impl() ? errors->impl()->fd.get() : -1,
                   ::getpid(), 0};
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
bool Process::Exited() { return impl_->LookForExit(); }
ProcessExit Process::Exit() const { return impl_->exit; }

bool Process::Over() {
  if (!impl_->over && impl_->LookForExit()) impl_->over = impl_->ReapAll();
  return impl_->over;
}

void Process::Block(unsigned ms) {
  // The pidfd tells when the child ends; what it left is looked at again.
  pollfd fd{impl_->pidfd.get(), POLLIN, 0};
  const bool running = !impl_->exited && fd.fd >= 0;
  ::poll(running ? &fd : nullptr, running ? 1 : 0,
         static_cast<int>(running ? ms : std::min(ms, kLeftoverSliceMs)));
}

bool Process::Stop() {
  if (impl_->LookForExit()) return false;
  impl_->EndLeftovers();
  return true;
}

std::int64_t ProcessId() { return ::getpid(); }

// A process that cannot be signalled is still one that runs.
bool ProcessRunning(std::int64_t id) {
  return id > 0 && id <= INT_MAX &&
         (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM);
}

}  // namespace platform
