// Win32 system layer. Names are UTF-8 here as everywhere in the program and
// UTF-16 at every call (the W functions). Implements from platform.h:
//  - Error from GetLastError and FormatMessageW (SystemError, the one place)
//  - ApplicationFolder (GetModuleFileNameW), FolderExists, ListFiles
//    (FindFirstFileW/FindNextFileW, in the system's order), StatFile
//    (GetFileInformationByHandle on the path as spelt), ReadFileStart,
//    RemoveFile
//  - ShortPathName (GetShortPathNameW)
//  - DecoderReads (an exact ANSI form), MakeTemporary (CreateHardLinkW, or
//    CopyFileW), WriteRefused, RenameReplacing, FoldCase, TextFileBytes
//  - WriteFileReplacing (temporary file, then MoveFileExW over the target)
//  - Process: CreateProcessW with the exact command line text, waited on
//    through its process handle; its job's processes ended with its run;
//    ProcessRunning (OpenProcess)
//  - FolderClaim: a named mutex (CreateMutexW)
//  - DecimalSeparator (GetLocaleInfoW), Today (GetLocalTime)
#include <algorithm>
#include <memory>
#include <type_traits>
#include <utility>

#include "platform/win32/backend_win32.h"

namespace platform {

const char kPathSeparator = '\\';
const char* const kDecoderPath = "C:\\Progra~1\\Lame\\lame.exe";
const std::uint32_t kShortPathBuffer = 512;

namespace win32 {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return L"";
  const auto size = static_cast<int>(utf8.size());
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (n == 0) ThrowLastError();
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (!::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], n))
    ThrowLastError();
  return wide;
}

std::string Utf8(const wchar_t* wide, std::size_t length) {
  if (length == 0) return "";
  const auto size = static_cast<int>(length);
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0,
                                      nullptr, nullptr);
  if (n == 0) ThrowLastError();
  std::string utf8(static_cast<std::size_t>(n), '\0');
  if (!::WideCharToMultiByte(CP_UTF8, 0, wide, size, &utf8[0], n, nullptr,
                             nullptr))
    ThrowLastError();
  return utf8;
}

std::string Utf8(const std::wstring& wide) {
  return Utf8(wide.data(), wide.size());
}

Error SystemError(DWORD code) {
  struct LocalFreer {
    void operator()(wchar_t* text) const { ::LocalFree(text); }
  };
  wchar_t* raw = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreer> owned(raw);
  std::string text;
  try {
    if (length != 0 && raw) text = Utf8(raw, length);
  } catch (const Error&) {
    // A description that cannot be converted is no description.
  }
  // The system's texts end in CR LF; the sentence's own full stop stays.
  const auto last = text.find_last_not_of("\r\n ");
  text.erase(last == std::string::npos ? 0 : last + 1);
  if (text.empty()) text = "Unknown system error " + std::to_string(code) + ".";
  return Error(static_cast<long>(code), text);
}

}  // namespace win32

namespace {

using win32::AttributeList;
using win32::FindHandle;
using win32::Handle;
using win32::SystemError;
using win32::ThrowLastError;
using win32::Utf8;
using win32::Wide;

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

// A drive root ("C:\") already ends in its separator; nothing is doubled.
std::string JoinPath(const std::string& folder, const std::string& name) {
  if (EndsWithSeparator(folder)) return folder + name;
  return folder + '\\' + name;
}

bool IsDriveOnly(const std::string& path) {
  return path.size() == 2 && path[1] == ':';
}

// The folder part of a file path, keeping the separator of a drive root.
std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  if (slash == std::string::npos) {
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  }
  std::string folder = path.substr(0, slash);
  if (folder.empty() || IsDriveOnly(folder)) folder = path.substr(0, slash + 1);
  return folder;
}

// A full path as the file system spells it: "\\?\" turns off Win32's
// clean-up, which drops a name's trailing spaces and dots and so may name a
// sibling. Paths it would misread ('/', "." and ".." steps) stay as given.
std::wstring Verbatim(const std::string& path) {
  const std::wstring wide = Wide(path);
  const std::wstring marked = wide + L'\\';
  if (wide.find(L'/') != std::wstring::npos ||
      marked.find(L"\\.\\") != std::wstring::npos ||
      marked.find(L"\\..\\") != std::wstring::npos)
    return wide;
  if (wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\')
    return L"\\\\?\\" + wide;
  const bool unc = wide.size() > 2 && wide.rfind(L"\\\\", 0) == 0 &&
                   wide[2] != L'?' && wide[2] != L'.';
  if (unc) return L"\\\\?\\UNC\\" + wide.substr(2);
  return wide;
}

// The ANSI form of `wide`, or false when a character has none. Without
// best fit, so that no name reads as another ("Ŝong" as "Song"). A
// UTF-8 code page writes every name and takes neither flag nor answer.
bool ExactAnsi(const std::wstring& wide, std::string& ansi) {
  ansi.clear();
  if (wide.empty()) return true;
  const UINT page = ::GetACP();
  const DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const asked = page == CP_UTF8 ? nullptr : &lossy;
  const auto size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(page, flags, wide.data(), size, nullptr,
                                      0, nullptr, asked);
  if (n == 0) return false;
  ansi.resize(static_cast<std::size_t>(n));
  if (!::WideCharToMultiByte(page, flags, wide.data(), size, &ansi[0], n,
                             nullptr, asked))
    return false;
  return !lossy;
}

// Creates nothing: `path` exists already (GetTempFileNameW made it). Returns
// the Win32 error of the first failing step, or ERROR_SUCCESS.
DWORD WriteWhole(const wchar_t* path, const std::string& bytes) {
  HANDLE raw = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return ::GetLastError();
  Handle file(raw);
  constexpr std::size_t kChunk = 1 << 20;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto chunk =
        static_cast<DWORD>(std::min(bytes.size() - done, kChunk));
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
      return ::GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    done += written;
  }
  if (!::FlushFileBuffers(file.get())) return ::GetLastError();
  // Closing can still report a deferred write error, so it is checked too.
  if (!::CloseHandle(file.release())) return ::GetLastError();
  return ERROR_SUCCESS;
}

// An inheritable handle on the null device, for a child's standard handles.
Handle OpenNullDevice() {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr);
  if (nul == INVALID_HANDLE_VALUE) ThrowLastError();
  return Handle(nul);
}

// No access asked for, so a file another program holds open still answers;
// backup semantics, so that a folder answers too. Empty when it cannot be
// opened, with the reason in GetLastError.
Handle OpenForAttributes(const std::wstring& path) {
  const HANDLE raw = ::CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return Handle(raw == INVALID_HANDLE_VALUE ? nullptr : raw);
}

// The path the system resolves an open file to, or "" where it gives none.
std::string FinalPath(HANDLE file) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const auto size = static_cast<DWORD>(path.size());
    const DWORD n =
        ::GetFinalPathNameByHandleW(file, &path[0], size, FILE_NAME_NORMALIZED);
    if (n == 0) return "";
    if (n < size) return Utf8(path.data(), n);
    path.resize(n);
  }
}

// The file `path` leads to, its links followed; `path` itself where
// nothing is there or the system cannot say. No handle stays open: a file
// held open cannot be replaced.
std::string Resolved(const std::string& path) {
  const Handle file = OpenForAttributes(Wide(path));
  const std::string final = file ? FinalPath(file.get()) : "";
  return final.empty() ? path : final;
}

// Whether the name `path` leads to another file than its own folder's
// entry of that name: a Unix symbolic link under Wine carries no reparse
// point, and the decoder would write through it. A path the system cannot
// resolve is taken on trust.
bool ResolvesElsewhere(HANDLE file, const std::string& path) {
  const Handle folder = OpenForAttributes(Verbatim(FolderOf(path)));
  if (!folder) return false;
  const std::string there = FinalPath(folder.get()), itself = FinalPath(file);
  if (there.empty() || itself.empty()) return false;
  const std::string name = path.substr(path.find_last_of("\\/") + 1);
  return FoldCase(JoinPath(there, name)) != FoldCase(itself);
}

// Whether a name that cannot be opened is taken all the same: a link
// leading nowhere, which Wine does not even list, and through which the
// decoder would make a file outside the folder. Asked by making the file
// for a moment, where the name is free.
bool TakenButNowhere(const std::wstring& path) {
  if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  const HANDLE made =
      ::CreateFileW(path.c_str(), DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (made == INVALID_HANDLE_VALUE)
    return ::GetLastError() == ERROR_FILE_EXISTS;
  const Handle probe(made);
  return false;
}

// Antivirus, the search indexer and sync clients open a new file for a
// moment: a sharing or lock violation (and for a rename, the access denied
// Windows answers when the file it replaces is open) has two seconds to
// clear before `call` fails.
template <typename Call>
bool Retrying(Call call, bool denied = false) {
  constexpr DWORD kPatienceMs = 2000, kSliceMs = 50;
  for (DWORD waited = 0;; waited += kSliceMs) {
    if (call()) return true;
    const DWORD error = ::GetLastError();
    const bool held = error == ERROR_SHARING_VIOLATION ||
                      error == ERROR_LOCK_VIOLATION ||
                      (denied && error == ERROR_ACCESS_DENIED);
    if (!held || waited >= kPatienceMs) return false;
    ::Sleep(kSliceMs);
  }
}

}  // namespace

std::string ApplicationFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], size);
    if (n == 0) ThrowLastError();
    if (n < size) {
      path.resize(n);
      break;
    }
    // Cut short: try again with room for the longest path the system allows.
    if (size >= 32768) throw SystemError(ERROR_INSUFFICIENT_BUFFER);
    path.resize(size * 2);
  }
  const auto slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return Utf8(path);
  std::string folder = Utf8(path.substr(0, slash));
  if (IsDriveOnly(folder)) folder += '\\';
  return folder;
}

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<FileEntry> ListFiles(const std::string& folder) {
  WIN32_FIND_DATAW found;
  FindHandle find(
      ::FindFirstFileW(Wide(JoinPath(folder, "*")).c_str(), &found));
  std::vector<FileEntry> files;
  if (!find) {
    // An empty drive root has not even "." and "..".
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return files;
    ThrowLastError();
  }
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::string name = Utf8(found.cFileName, wcslen(found.cFileName));
    files.push_back({name, JoinPath(folder, name)});
  } while (::FindNextFileW(find.get(), &found));
  if (::GetLastError() != ERROR_NO_MORE_FILES) ThrowLastError();
  return files;
}

FileState StatFile(const std::string& path) {
  FileState state;
  const std::wstring spelt = Verbatim(path);
  // The name itself, not followed: a symbolic link or junction, told by
  // the reparse tag of the folder's entry for it.
  WIN32_FIND_DATAW found;
  const FindHandle entry(::FindFirstFileW(spelt.c_str(), &found));
  state.link = entry &&
               (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
               ReparseTagIsLink(found.dwReserved0);
  const Handle file = OpenForAttributes(spelt);
  if (!file) {
    state.link = state.link || TakenButNowhere(spelt);
    return state;
  }
  state.link = state.link || ResolvesElsewhere(file.get(), path);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file.get(), &info)) return state;
  const bool plain = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                     ::GetFileType(file.get()) == FILE_TYPE_DISK;
  state.kind = plain ? FileState::kFile : FileState::kOther;
  state.volume = info.dwVolumeSerialNumber;
  state.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  state.written = static_cast<std::int64_t>(
      (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  state.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  state.links = info.nNumberOfLinks;
  state.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  return state;
}

bool ReadFileStart(const std::string& path, std::size_t count,
                   std::string& head, std::uint64_t& size) {
  const std::wstring wide = Verbatim(path);
  HANDLE raw = INVALID_HANDLE_VALUE;
  if (!Retrying([&] {
        raw = ::CreateFileW(
            wide.c_str(), GENERIC_READ,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return raw != INVALID_HANDLE_VALUE;
      }))
    return false;
  const Handle file(raw);
  LARGE_INTEGER length;
  if (!::GetFileSizeEx(file.get(), &length)) return false;
  size = static_cast<std::uint64_t>(length.QuadPart);
  head.assign(count, '\0');
  DWORD done = 0;
  if (!::ReadFile(file.get(), &head[0], static_cast<DWORD>(count), &done,
                  nullptr))
    return false;
  head.resize(done);
  return true;
}

bool RemoveFile(const std::string& path) {
  const std::wstring wide = Verbatim(path);
  return Retrying([&] { return ::DeleteFileW(wide.c_str()) != 0; });
}

std::uint32_t ShortPathName(const std::string& longPath, char* buffer,
                            std::uint32_t length) {
  const std::wstring wide = Wide(longPath);
  // Windows answers nothing for a path of MAX_PATH or more not marked
  // "\\?\"; Wine would, and the decoder could not open it anyway.
  if (wide.size() >= MAX_PATH) return 0;
  std::wstring shortPath(length, L'\0');
  const DWORD n = ::GetShortPathNameW(wide.c_str(), &shortPath[0], length);
  if (n == 0 || n >= length) return n;
  const std::string utf8 = Utf8(shortPath.data(), n);
  // The answer is UTF-8 and may need more room than the UTF-16 form did.
  if (utf8.size() >= length) return static_cast<std::uint32_t>(utf8.size() + 1);
  std::copy(utf8.begin(), utf8.end(), buffer);
  buffer[utf8.size()] = '\0';
  return static_cast<std::uint32_t>(utf8.size());
}

bool DecoderReads(const std::string& argument) {
  std::string ansi;
  return ExactAnsi(Wide(argument), ansi);
}

namespace {

// A link shares its file's attributes and openers: one to a read-only file,
// or to a file another program holds open without sharing its deletion,
// could not be removed again. The MP3's own attributes stay as they are.
bool LinkRemovable(const std::wstring& source) {
  const DWORD attributes = ::GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) != 0)
    return false;
  const HANDLE raw =
      ::CreateFileW(source.c_str(), DELETE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return false;
  const Handle probe(raw);
  return true;
}

// A copy that can be removed: CopyFileW keeps the read-only attribute.
bool CopyRemovable(const std::wstring& from, const std::wstring& to) {
  if (!::CopyFileW(from.c_str(), to.c_str(), /*failIfExists=*/TRUE))
    return false;
  const DWORD attributes = ::GetFileAttributesW(to.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
      ::SetFileAttributesW(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    return true;
  const DWORD error = ::GetLastError();
  ::DeleteFileW(to.c_str());
  ::SetLastError(error);
  return false;
}

}  // namespace

std::string MakeTemporary(const std::string& folder, const std::string& source,
                          const std::string& suffix) {
  // Through "\\?\": a device name ("aux.mp3") would name the device, and a
  // long name would not be reached at all.
  const std::wstring from = source.empty() ? L"" : Verbatim(source);
  const bool link = !source.empty() && LinkRemovable(from);
  // ASCII, and distinct from another run's in the same folder.
  for (int attempt = 1; attempt <= 1000; ++attempt) {
    const std::string name = "lsk" + std::to_string(::GetCurrentProcessId()) +
                             "_" + std::to_string(attempt) + suffix;
    const std::wstring path = Verbatim(JoinPath(folder, name));
    BOOL made = FALSE;
    if (source.empty()) {
      const HANDLE file =
          ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
      made = file != INVALID_HANDLE_VALUE;
      if (made) ::CloseHandle(file);
    } else {
      made = link && ::CreateHardLinkW(path.c_str(), from.c_str(), nullptr);
      // A volume without hard links (FAT, exFAT) gets a copy.
      if (!made && (!link || ::GetLastError() != ERROR_ALREADY_EXISTS))
        made = CopyRemovable(from, path);
    }
    if (made) return JoinPath(folder, name);
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
      throw SystemError(error);
  }
  throw SystemError(ERROR_FILE_EXISTS);
}

bool WriteRefused(const Error& error) {
  return error.Number() == ERROR_ACCESS_DENIED ||
         error.Number() == ERROR_WRITE_PROTECT;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
  const std::wstring source = Verbatim(from), target = Verbatim(to);
  return Retrying(
      [&] {
        return ::MoveFileExW(source.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING) != 0;
      },
      /*denied=*/true);
}

std::string FoldCase(const std::string& name) {
  std::wstring wide = Wide(name);
  if (!wide.empty())
    ::CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  return Utf8(wide);
}

std::string TextFileBytes(const std::string& text) {
  // U+FFFD, shown for a control character, has no ANSI form: '?' stands in.
  std::string marked = text;
  for (std::size_t at = 0;
       (at = marked.find("\xEF\xBF\xBD", at)) != std::string::npos; ++at)
    marked.replace(at, 3, "?");
  std::string ansi;
  if (ExactAnsi(Wide(marked), ansi)) return ansi;
  // Notepad reads UTF-8 by its byte-order mark.
  return "\xEF\xBB\xBF" + text;
}

void WriteFileReplacing(const std::string& name, const std::string& bytes) {
  // A symbolic link is written through: renaming onto the link would
  // replace it and leave its target as it was, though the save dialog
  // asked about the target.
  const std::string path = Resolved(name);
  const std::wstring target = Wide(path);
  // Windows will not move a file over a read-only one; Wine would. Refusing
  // first keeps both alike, and writes nothing in vain.
  const DWORD existing = ::GetFileAttributesW(target.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & FILE_ATTRIBUTE_READONLY) != 0)
    throw SystemError(ERROR_ACCESS_DENIED);
  // In the target's folder, so the final move is a rename on one volume.
  wchar_t temp[MAX_PATH];
  if (!::GetTempFileNameW(Wide(FolderOf(path)).c_str(), L"lsk", 0, temp))
    ThrowLastError();
  DWORD failure = WriteWhole(temp, bytes);
  // The replacement keeps the replaced file's attributes (hidden, ...).
  if (failure == ERROR_SUCCESS && existing != INVALID_FILE_ATTRIBUTES &&
      !::SetFileAttributesW(temp, existing))
    failure = ::GetLastError();
  if (failure == ERROR_SUCCESS &&
      !::MoveFileExW(temp, target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failure = ::GetLastError();
  if (failure != ERROR_SUCCESS) {
    ::DeleteFileW(temp);
    throw SystemError(failure);
  }
}

// ---- Process ----------------------------------------------------------------

struct Process::Impl {
  Handle process;
  // Kill on close: the decoder and all it starts end with the job, even
  // when this program is killed. Empty where a job could not be had.
  Handle job;
  DWORD id = 0;
  bool ended = false;
  ProcessExit exit;
};

namespace {

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

// Ends every process left in the job and waits, a while, for them to go:
// closing the job would end them too, but without waiting.
void EndJob(HANDLE job) {
  ::TerminateJobObject(job, 1);
  // The decoder's own children end with it, but not at the same instant.
  for (int i = 0; i < 500 && !JobEmpty(job); ++i) ::Sleep(10);
}

}  // namespace

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;
Process::~Process() {
  if (impl_) Stop();
}

bool Process::Stop() {
  if (impl_->ended) return false;
  // A process that has exited is not stopped: its exit is its own, and
  // Wait takes it (and ends what it left in its job).
  try {
    if (Wait(0)) return false;
  } catch (const Error&) {
    // Not known to have exited: stopped below like any other.
  }
  if (impl_->job) {
    EndJob(impl_->job.get());
  } else {
    ::TerminateProcess(impl_->process.get(), 1);
  }
  ::WaitForSingleObject(impl_->process.get(), INFINITE);
  impl_->ended = true;
  impl_->exit = {ProcessExit::kExited, 1};
  impl_->process.reset();
  impl_->job.reset();
  return true;
}

Process Process::Start(const CommandLine& command, int windowStyle) {
  // CreateProcessW may write into the command line, so it gets a copy.
  std::wstring line = Wide(command.text);
  const std::wstring directory = Wide(command.directory);
  // The decoder's progress output goes to the null device, read by no one,
  // so it can neither fill a pipe nor crawl through a console. The handle
  // list passes that one handle on and none other of this process's.
  Handle nul = OpenNullDevice();
  HANDLE inherited[] = {nul.get()};
  AttributeList attributes(1);
  if (!::UpdateProcThreadAttribute(attributes.get(), 0,
                                   PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   sizeof inherited, nullptr, nullptr))
    ThrowLastError();
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = static_cast<WORD>(windowStyle);
  startup.StartupInfo.hStdInput = nul.get();
  startup.StartupInfo.hStdOutput = nul.get();
  startup.StartupInfo.hStdError = nul.get();
  startup.lpAttributeList = attributes.get();
  // A console decoder started hidden would still get a console of its own,
  // merely not shown; CREATE_NO_WINDOW spares it that console. A GUI
  // program ignores the flag and takes wShowWindow instead.
  // Suspended until it is in its job, so that nothing it starts escapes.
  DWORD flags = EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED;
  if (windowStyle == SW_HIDE) flags |= CREATE_NO_WINDOW;
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

bool Process::Ended() const { return impl_->ended; }
ProcessExit Process::Exit() const { return impl_->exit; }

bool Process::Wait(unsigned ms) {
  if (impl_->ended) return true;
  switch (::WaitForSingleObject(impl_->process.get(), ms)) {
    case WAIT_OBJECT_0:
      break;
    case WAIT_TIMEOUT:
      return false;
    default:
      ThrowLastError();
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(impl_->process.get(), &code)) ThrowLastError();
  // An exception's status (0xC0000005, an access violation) is no exit
  // code the program chose.
  impl_->exit.kind = (code & 0xF0000000u) == 0xC0000000u ? ProcessExit::kCrashed
                                                         : ProcessExit::kExited;
  impl_->exit.code = static_cast<int>(code);
  impl_->ended = true;
  // Whatever the decoder started and left running ends with its run.
  if (impl_->job) EndJob(impl_->job.get());
  impl_->process.reset();
  impl_->job.reset();
  return true;
}

// ---- Folder claim -----------------------------------------------------------

// A named mutex, named from the folder's identity (volume and file index),
// so that every spelling of the folder, short or long, any letter case,
// names the same one. It lives in the Global namespace, so that programs
// in other sessions (another user's, on a shared folder) see it too, and
// it ends with its last handle, however the program ends; nothing is
// written into the folder.
struct FolderClaim::Impl {
  Handle mutex;
};

namespace {

// FNV-1a: a name for a folder whose volume gives no file index.
std::uint64_t Hashed(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

FolderClaim::FolderClaim(const std::string& folder)
    : impl_(std::make_unique<Impl>()) {
  const FileState state = StatFile(folder);
  const std::string name =
      "Global\\larkspire-decompress-" +
      (state.Known()
           ? std::to_string(state.volume) + "-" + std::to_string(state.index)
           : std::to_string(Hashed(FoldCase(folder))));
  impl_->mutex.reset(::CreateMutexW(nullptr, FALSE, Wide(name).c_str()));
  const DWORD error = ::GetLastError();
  // Access denied: another user's program made it, with its own rights.
  if (!impl_->mutex && error != ERROR_ACCESS_DENIED) throw SystemError(error);
  if (error == ERROR_ALREADY_EXISTS) impl_->mutex.reset();
}
FolderClaim::FolderClaim(FolderClaim&&) noexcept = default;
FolderClaim& FolderClaim::operator=(FolderClaim&&) noexcept = default;
FolderClaim::~FolderClaim() = default;
bool FolderClaim::Held() const { return static_cast<bool>(impl_->mutex); }

bool ProcessRunning(std::int64_t id) {
  if (id <= 0 || id > 0xFFFFFFFF) return false;
  const Handle process(
      ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id)));
  // Access denied: a process of another user, running.
  if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// ---- Locale and clock -------------------------------------------------------

std::string DecimalSeparator() {
  wchar_t separator[8] = {};
  const int n =
      ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
  if (n <= 1) return ".";
  return Utf8(separator, static_cast<std::size_t>(n - 1));
}

Date Today() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

}  // namespace platform
