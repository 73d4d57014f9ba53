// Win32 processes. Implements from platform.h:
//  - Process: CreateProcessW with the exact command line text, suspended
//    into a kill-on-close job, waited on through its process handle; once
//    it has ended, what is left in its job is ended, without waiting
//  - ErrorOutput: a file in the temporary folder, deleted on close
//  - ProcessId, ProcessRunning (OpenProcess)
#include <algorithm>
#include <memory>
#include <utility>

#include "platform/win32/backend_win32.h"

namespace platform {

namespace {

using win32::AttributeList;
using win32::Handle;
using win32::SystemError;
using win32::ThrowLastError;
using win32::Wide;

// How often what a run left in its job is looked at until it has gone.
constexpr DWORD kLeftoverSliceMs = 10;

// An inheritable handle on the null device, for a child's standard handles.
Handle OpenNullDevice() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr);
  if (nul == INVALID_HANDLE_VALUE) ThrowLastError();
  return Handle(nul);
}

// A job whose processes all end when its last handle closes.
Handle KillOnCloseJob() {
  Handle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  // A crash ends the process at once, never waiting on a dialog.
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
      JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation,
                                 &limits, sizeof limits))
    job.reset();
  return job;
}

// Puts the suspended `started` into a job, then lets it run. Windows 7
// cannot nest jobs, so a program already running in one keeps none, and is
// stopped by TerminateProcess instead.
Handle RunInJob(const PROCESS_INFORMATION& started) {
  Handle job = KillOnCloseJob();
  if (job && !::AssignProcessToJobObject(job.get(), started.hProcess))
    job.reset();
  if (::ResumeThread(started.hThread) == static_cast<DWORD>(-1)) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(started.hProcess, 1);
    throw SystemError(error);
  }
  return job;
}

// Whether every process of the job has ended.
bool JobEmpty(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
  return !::QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                      &info, sizeof info, nullptr) ||
         info.ActiveProcesses == 0;
}

// What lets the decoder into a job of its own when the program runs in one.
DWORD OuterJobBreakaway() {
  BOOL inJob = FALSE;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION outer{};
  if (::IsProcessInJob(::GetCurrentProcess(), nullptr, &inJob) && inJob)
    ::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation,
                                &outer, sizeof outer, nullptr);
  return JobBreakaway(inJob, outer.BasicLimitInformation.LimitFlags);
}

}  // namespace

// Two handles on one file in the user's temporary folder: the program's,
// which empties and reads it and deletes it on close, and the decoder's,
// which only appends, so that each run writes from the start once emptied.
struct ErrorOutput::Impl {
  Handle file, append;
};

ErrorOutput::ErrorOutput() {
  wchar_t folder[MAX_PATH + 1], path[MAX_PATH];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
  if (n == 0 || n > MAX_PATH || !::GetTempFileNameW(folder, L"lsk", 0, path))
    return;
  constexpr DWORD kShareAll =
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  auto impl = std::make_unique<Impl>();
  const HANDLE file = ::CreateFileW(
      path, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ::DeleteFileW(path);
    return;
  }
  impl->file.reset(file);
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE append =
      ::CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE, kShareAll,
                    &inheritable, OPEN_EXISTING, 0, nullptr);
  if (append == INVALID_HANDLE_VALUE) return;  // the file goes with `impl`
  impl->append.reset(append);
  impl_ = std::move(impl);
}
ErrorOutput::ErrorOutput(ErrorOutput&&) noexcept = default;
ErrorOutput& ErrorOutput::operator=(ErrorOutput&&) noexcept = default;
ErrorOutput::~ErrorOutput() = default;

void ErrorOutput::Clear() {
  if (!impl_) return;
  ::SetFilePointer(impl_->file.get(), 0, nullptr, FILE_BEGIN);
  ::SetEndOfFile(impl_->file.get());
}

std::string ErrorOutput::Tail(std::size_t count) const {
  LARGE_INTEGER size{};
  if (!impl_ || !::GetFileSizeEx(impl_->file.get(), &size)) return "";
  const auto length = static_cast<std::size_t>(size.QuadPart);
  std::string tail(std::min(count, length), '\0');
  OVERLAPPED at{};  // where to read from, on a handle that waits anyway
  const std::uint64_t from = length - tail.size();
  at.Offset = static_cast<DWORD>(from);
  at.OffsetHigh = static_cast<DWORD>(from >> 32);
  DWORD done = 0;
  if (!::ReadFile(impl_->file.get(), &tail[0], static_cast<DWORD>(tail.size()),
                  &done, &at))
    done = 0;
  tail.resize(done);
  return tail;
}

struct Process::Impl {
  Handle process;
  // Kill on close: the decoder and all it starts end with the job, even
  // when this program is killed. Empty where a job could not be had.
  Handle job;
  DWORD id = 0;
  bool exited = false, over = false;
  ProcessExit exit;

  // Whether the process has ended; the first time it is seen so, what it
  // left running in its job is ended too.
  bool LookForExit() {
    if (exited) return true;
    const DWORD state = ::WaitForSingleObject(process.get(), 0);
    if (state == WAIT_TIMEOUT) return false;
    DWORD code = static_cast<DWORD>(-1);
    if (state == WAIT_FAILED || !::GetExitCodeProcess(process.get(), &code))
      code = static_cast<DWORD>(-1);
    exit = ExitFromStatus(code);
    exited = true;
    if (job) ::TerminateJobObject(job.get(), 1);
    return true;
  }
};

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;
Process::~Process() {
  if (impl_ && !Over()) Stop();
}

Process Process::Start(const CommandLine& command, int windowStyle,
                       const ErrorOutput* errors) {
  // CreateProcessW may write into the command line, so it gets a copy.
  std::wstring line = Wide(command.text);
  const std::wstring directory = Wide(command.directory);
  // The decoder's progress output goes to the null device, read by no one,
  // so it can neither fill a pipe nor crawl through a console; its error
  // output to `errors`. The handle list passes those on and none other of
  // this process's.
  Handle nul = OpenNullDevice();
  HANDLE said =
      errors && errors->impl() ? errors->impl()->append.get() : nul.get();
  HANDLE inherited[] = {nul.get(), said};
  AttributeList attributes(1);
  if (!::UpdateProcThreadAttribute(
          attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
          (said == nul.get() ? 1 : 2) * sizeof(HANDLE), nullptr, nullptr))
    ThrowLastError();
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = static_cast<WORD>(windowStyle);
  startup.StartupInfo.hStdInput = nul.get();
  startup.StartupInfo.hStdOutput = nul.get();
  startup.StartupInfo.hStdError = said;
  startup.lpAttributeList = attributes.get();
  // Hidden, a console decoder gets no console at all: CREATE_NO_WINDOW
  // would still give it a console host of its own (conhost.exe), merely
  // not shown, at a cost per file. It writes to the handles above. A GUI
  // program ignores the flag and takes wShowWindow instead.
  // Suspended until it is in its job, so that nothing it starts escapes.
  DWORD flags =
      EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED | OuterJobBreakaway();
  if (windowStyle == SW_HIDE) flags |= DETACHED_PROCESS;
  PROCESS_INFORMATION started{};
  // The error mode is inherited: a crash of the hidden decoder, or a drive
  // without its disk, puts up no box for nobody to answer.
  const UINT errorMode =
      ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  const BOOL created = ::CreateProcessW(
      nullptr, &line[0], nullptr, nullptr, /*bInheritHandles=*/TRUE, flags,
      nullptr, directory.empty() ? nullptr : directory.c_str(),
      &startup.StartupInfo, &started);
  const DWORD error = ::GetLastError();
  ::SetErrorMode(errorMode);
  if (!created) throw SystemError(error);
  // Owned from here on, before anything else can throw.
  Handle process(started.hProcess);
  const Handle thread(started.hThread);
  auto impl = std::make_unique<Impl>();
  impl->job = RunInJob(started);
  impl->process = std::move(process);
  impl->id = started.dwProcessId;
  return Process(std::move(impl));
}

std::int32_t Process::Id() const {
  return static_cast<std::int32_t>(impl_->id);
}

std::intptr_t Process::HandleValue() const {
  return reinterpret_cast<std::intptr_t>(impl_->process.get());
}

bool Process::Exited() { return impl_->LookForExit(); }
ProcessExit Process::Exit() const { return impl_->exit; }

bool Process::Over() {
  if (impl_->over || !impl_->LookForExit()) return impl_->over;
  // The decoder's own children end with it, but not at the same instant.
  impl_->over = !impl_->job || JobEmpty(impl_->job.get());
  if (impl_->over) impl_->job.reset();
  return impl_->over;
}

void Process::Block(unsigned ms) {
  if (impl_->exited)
    ::Sleep(std::min<DWORD>(ms, kLeftoverSliceMs));
  else
    ::WaitForSingleObject(impl_->process.get(), ms);
}

bool Process::Stop() {
  if (impl_->LookForExit()) return false;
  if (impl_->job) {
    ::TerminateJobObject(impl_->job.get(), 1);
  } else {
    ::TerminateProcess(impl_->process.get(), 1);
  }
  return true;
}

std::int64_t ProcessId() { return ::GetCurrentProcessId(); }

bool ProcessRunning(std::int64_t id) {
  if (id <= 0 || id > 0xFFFFFFFF) return false;
  const Handle process(
      ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id)));
  // Access denied: a process of another user, running.
  if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

}  // namespace platform
