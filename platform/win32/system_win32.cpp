// Win32 system layer, ANSI throughout but for the listing. Implements from
// platform.h:
//  - Error from GetLastError and FormatMessageA (SystemError, the one place)
//  - ApplicationFolder (GetModuleFileNameA), FolderExists, ListFiles
//    (FindFirstFileW/FindNextFileW, in the system's order), StatFile
//    (GetFileInformationByHandle on the path as spelt), RemoveFile
//  - GetShortPathNameA (kernel32's own)
//  - WriteFileReplacing (temporary file, then MoveFileExA over the target)
//  - Process: CreateProcessA with the exact command line text, waited on
//    through its process handle
//  - DecimalSeparator (GetLocaleInfoA), Today (GetLocalTime)
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

Error SystemError(DWORD code) {
  struct LocalFreer {
    void operator()(char* text) const { ::LocalFree(text); }
  };
  char* raw = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&raw), 0, nullptr);
  const std::unique_ptr<char, LocalFreer> owned(raw);
  std::string text = length != 0 && raw ? std::string(raw, length) : "";
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

std::wstring Wide(const std::string& ansi) {
  const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  if (n == 0) ThrowLastError();
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (!::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], n))
    ThrowLastError();
  wide.pop_back();
  return wide;
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

// The ANSI form of a name; `exact` turns false when a character has none
// and shows as '?'. Without best fit, so that no name reads as another. A
// UTF-8 code page writes every name and takes neither flag nor answer.
std::string Ansi(const wchar_t* wide, bool& exact) {
  const UINT page = ::GetACP();
  const DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const asked = page == CP_UTF8 ? nullptr : &lossy;
  const int n =
      ::WideCharToMultiByte(page, flags, wide, -1, nullptr, 0, nullptr, asked);
  if (n == 0) ThrowLastError();
  std::string ansi(static_cast<std::size_t>(n), '\0');
  if (!::WideCharToMultiByte(page, flags, wide, -1, &ansi[0], n, nullptr,
                             asked))
    ThrowLastError();
  ansi.pop_back();
  exact = !lossy;
  return ansi;
}

// Creates nothing: `path` exists already (GetTempFileNameA made it). Returns
// the Win32 error of the first failing step, or ERROR_SUCCESS.
DWORD WriteWhole(const char* path, const std::string& bytes) {
  HANDLE raw = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
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
  const HANDLE nul = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, 0, nullptr);
  if (nul == INVALID_HANDLE_VALUE) ThrowLastError();
  return Handle(nul);
}

}  // namespace

std::string ApplicationFolder() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD n = ::GetModuleFileNameA(nullptr, &path[0], size);
    if (n == 0) ThrowLastError();
    if (n < size) {
      path.resize(n);
      break;
    }
    // Cut short: try again with room for the longest path the system allows.
    if (size >= 32768) throw SystemError(ERROR_INSUFFICIENT_BUFFER);
    path.resize(size * 2);
  }
  const auto slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return path;
  std::string folder = path.substr(0, slash);
  if (IsDriveOnly(folder)) folder += '\\';
  return folder;
}

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<FileEntry> ListFiles(const std::string& folder) {
  // Listed wide: the ANSI listing would best-fit "\u015Cong" to "Song" and
  // so name another file.
  WIN32_FIND_DATAW found;
  FindHandle find(
      ::FindFirstFileW(Wide(JoinPath(folder, "*")).c_str(), &found));
  std::vector<FileEntry> files;
  if (!find.valid()) {
    // An empty drive root has not even "." and "..".
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return files;
    ThrowLastError();
  }
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    bool exact = true;
    const std::string name = Ansi(found.cFileName, exact);
    files.push_back({name, JoinPath(folder, name), exact});
  } while (::FindNextFileW(find.get(), &found));
  if (::GetLastError() != ERROR_NO_MORE_FILES) ThrowLastError();
  return files;
}

FileState StatFile(const std::string& path) {
  FileState state;
  // No access asked for, so a file another program holds open still answers;
  // backup semantics, so that a folder answers too.
  const HANDLE raw = ::CreateFileW(
      Verbatim(path).c_str(), 0,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return state;
  const Handle file(raw);
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
  return state;
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != 0;
}

std::uint32_t GetShortPathNameA(const std::string& longPath, char* buffer,
                                std::uint32_t length) {
  return ::GetShortPathNameA(longPath.c_str(), buffer, length);
}

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
  // Windows will not move a file over a read-only one; Wine would. Refusing
  // first keeps both alike, and writes nothing in vain.
  const DWORD existing = ::GetFileAttributesA(path.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & FILE_ATTRIBUTE_READONLY) != 0)
    throw SystemError(ERROR_ACCESS_DENIED);
  // In the target's folder, so the final move is a rename on one volume.
  char temp[MAX_PATH];
  if (!::GetTempFileNameA(FolderOf(path).c_str(), "lsk", 0, temp))
    ThrowLastError();
  DWORD failure = WriteWhole(temp, bytes);
  // The replacement keeps the replaced file's attributes (hidden, ...).
  if (failure == ERROR_SUCCESS && existing != INVALID_FILE_ATTRIBUTES &&
      !::SetFileAttributesA(temp, existing))
    failure = ::GetLastError();
  if (failure == ERROR_SUCCESS &&
      !::MoveFileExA(temp, path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    failure = ::GetLastError();
  if (failure != ERROR_SUCCESS) {
    ::DeleteFileA(temp);
    throw SystemError(failure);
  }
}

// ---- Process ----------------------------------------------------------------

struct Process::Impl {
  Handle process;
  DWORD id = 0;
  bool ended = false;
  ProcessExit exit;
};

Process::Process(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;
Process::~Process() = default;

Process Process::Start(const CommandLine& command, int windowStyle) {
  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> line(command.text.begin(), command.text.end());
  line.push_back('\0');
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
  STARTUPINFOEXA startup{};
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
  DWORD flags = EXTENDED_STARTUPINFO_PRESENT;
  if (windowStyle == SW_HIDE) flags |= CREATE_NO_WINDOW;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr,
                        /*bInheritHandles=*/TRUE, flags, nullptr, nullptr,
                        &startup.StartupInfo, &started))
    ThrowLastError();
  // Owned from here on, before anything else can throw.
  Handle process(started.hProcess);
  const Handle thread(started.hThread);
  auto impl = std::make_unique<Impl>();
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
  impl_->exit.kind = ProcessExit::kExited;
  impl_->exit.code = static_cast<int>(code);
  impl_->ended = true;
  // Nothing is left to wait for; the handle goes as soon as the wait ends.
  impl_->process.reset();
  return true;
}

void Process::Stop() {
  if (impl_->ended) return;
  ::TerminateProcess(impl_->process.get(), 1);
  ::WaitForSingleObject(impl_->process.get(), INFINITE);
  impl_->exit = {ProcessExit::kExited, 1};
  impl_->ended = true;
  impl_->process.reset();
}

// ---- Locale and clock -------------------------------------------------------

std::string DecimalSeparator() {
  char separator[8] = {};
  const int n = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL,
                                 separator, sizeof separator);
  if (n <= 1) return ".";
  return std::string(separator, static_cast<std::size_t>(n - 1));
}

Date Today() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

}  // namespace platform
