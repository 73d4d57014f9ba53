// Win32 files, in UTF-16 at every call. Implements from platform.h:
//  - FolderExists, ListFiles (FindFirstFileW/FindNextFileW, in the
//    system's order), StatFile (GetFileInformationByHandle on the path as
//    spelt, opened for no access: looking writes nothing)
//  - InUse (sharing and lock violations), WriteRefused
//  - ReadFileStart, RemoveFile, MakeNewFile (CreateHardLinkW, or
//    CopyFileExW in pieces), MoveFileOver (MoveFileExW, the replaced file's
//    attributes kept)
//  - WriteFileReplacing (temporary file, then MoveFileOver)
//  - FileInUse (a handle open for reading, sharing all), RemoveIfUnused
//    (opened sharing nothing, deleted on close)
#include <algorithm>
#include <memory>
#include <utility>

#include "platform/win32/backend_win32.h"

namespace platform {

namespace {

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
// sibling. Paths it would misread ('/', "." and ".." steps, a doubled
// separator such as a root's WAV path has) stay as given.
std::wstring Verbatim(const std::string& path) {
  const std::wstring wide = Wide(path);
  const std::wstring marked = wide + L'\\';
  if (wide.find(L'/') != std::wstring::npos ||
      wide.find(L"\\\\", 1) != std::wstring::npos ||
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

// Whether `path` names something, even what cannot be opened: a file
// being deleted still holds its name.
bool NameTaken(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  return static_cast<bool>(FindHandle(::FindFirstFileW(path.c_str(), &found)));
}

// Why a new file could not be made at `path`, as taken (false) or an
// Error. Windows answers access denied for a name whose file is still
// being deleted: a name taken, not a folder that refuses files.
bool Taken(const std::wstring& path) {
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
      (error == ERROR_ACCESS_DENIED && NameTaken(path)))
    return true;
  throw SystemError(error);
}

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

// Asks the copy's caller between pieces whether to go on.
DWORD CALLBACK CopyProgress(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER,
                            LARGE_INTEGER, DWORD, DWORD, HANDLE, HANDLE,
                            LPVOID between) {
  const auto& ask = *static_cast<const std::function<bool()>*>(between);
  return !ask || ask() ? PROGRESS_CONTINUE : PROGRESS_CANCEL;
}

// A copy that can be removed: CopyFileExW keeps the read-only attribute.
// Copied in pieces, the window answering between them: an online-only file
// may first have to come down from the cloud.
bool CopyRemovable(const std::wstring& from, const std::wstring& to,
                   const std::function<bool()>& between) {
  if (!::CopyFileExW(from.c_str(), to.c_str(), CopyProgress,
                     const_cast<std::function<bool()>*>(&between), nullptr,
                     COPY_FILE_FAIL_IF_EXISTS)) {
    if (::GetLastError() == ERROR_REQUEST_ABORTED)
      throw Error(kErrCancel, "Cancelled");
    return false;
  }
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

// FILE_ID_INFO, which this target's headers (Windows 7) lack.
struct FileIdInfo {
  ULONGLONG volume;
  std::uint64_t low, high;
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

// The 128-bit file ID where the volume gives one (Windows 8 and later):
// ReFS's 64-bit IDs are not unique (Microsoft's BY_HANDLE_FILE_INFORMATION
// page). Windows 7 keeps the 64-bit one.
void IdIn128Bits(HANDLE file, FileState& state) {
  FileIdInfo id{};
  if (!::GetFileInformationByHandleEx(file, kFileIdInfo, &id, sizeof id))
    return;
  state.volume = id.volume;
  state.index = id.low;
  state.indexHigh = id.high;
}

}  // namespace

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
  if (!file) return state;
  state.link = state.link || ResolvesElsewhere(file.get(), path);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file.get(), &info)) return state;
  const bool plain = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                     ::GetFileType(file.get()) == FILE_TYPE_DISK;
  state.kind = plain ? FileState::kFile : FileState::kOther;
  state.volume = info.dwVolumeSerialNumber;
  state.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  IdIn128Bits(file.get(), state);
  state.links = info.nNumberOfLinks;
  state.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  return state;
}

const bool kFilesCanBeHeld = true;

bool InUse(const Error& error) {
  return error.Number() == ERROR_SHARING_VIOLATION ||
         error.Number() == ERROR_LOCK_VIOLATION;
}

bool WriteRefused(const Error& error) {
  return error.Number() == ERROR_ACCESS_DENIED ||
         error.Number() == ERROR_WRITE_PROTECT;
}

void ReadFileStart(const std::string& path, std::size_t count,
                   std::string& head, std::uint64_t& size) {
  const HANDLE raw =
      ::CreateFileW(Verbatim(path).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (raw == INVALID_HANDLE_VALUE) ThrowLastError();
  const Handle file(raw);
  LARGE_INTEGER length;
  if (!::GetFileSizeEx(file.get(), &length)) ThrowLastError();
  size = static_cast<std::uint64_t>(length.QuadPart);
  head.assign(count, '\0');
  DWORD done = 0;
  if (count != 0 && !::ReadFile(file.get(), &head[0], static_cast<DWORD>(count),
                                &done, nullptr))
    ThrowLastError();
  head.resize(done);
}

void RemoveFile(const std::string& path) {
  if (!::DeleteFileW(Verbatim(path).c_str()) &&
      ::GetLastError() != ERROR_FILE_NOT_FOUND)
    ThrowLastError();
}

bool MakeNewFile(const std::string& path, const std::string& source,
                 const std::function<bool()>& between) {
  // Through "\\?\": a device name ("aux.mp3") would name the device, and a
  // long name would not be reached at all.
  const std::wstring to = Verbatim(path);
  if (source.empty()) {
    const HANDLE made =
        ::CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (made == INVALID_HANDLE_VALUE) return !Taken(to);
    const Handle file(made);
    return true;
  }
  const std::wstring from = Verbatim(source);
  const bool link = LinkRemovable(from);
  if (link && ::CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) return true;
  // A volume without hard links (FAT, exFAT) gets a copy.
  if (link && ::GetLastError() == ERROR_ALREADY_EXISTS) return false;
  return CopyRemovable(from, to, between) || !Taken(to);
}

// Open for reading: a handle with no access to the file's data would not
// stop an open that shares nothing. Everything is shared, so the decoder
// writes it and the batch renames and removes it as ever.
struct FileInUse::Impl {
  Handle file;
};

FileInUse::FileInUse(const std::string& path)
    : impl_(std::make_unique<Impl>()) {
  const HANDLE raw =
      ::CreateFileW(Verbatim(path).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (raw != INVALID_HANDLE_VALUE) impl_->file.reset(raw);
}
FileInUse::FileInUse(FileInUse&&) noexcept = default;
FileInUse& FileInUse::operator=(FileInUse&&) noexcept = default;
FileInUse::~FileInUse() = default;

bool RemoveIfUnused(const std::string& path) {
  // Shared with no one, an open fails while any program has the file open,
  // over a network share too; closed, it is gone.
  const HANDLE raw =
      ::CreateFileW(Verbatim(path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return false;
  const Handle file(raw);
  return true;
}

void MoveFileOver(const std::string& from, const std::string& to) {
  const std::wstring source = Verbatim(from), target = Verbatim(to);
  // The replacement keeps the replaced file's attributes (hidden, ...).
  const DWORD existing = ::GetFileAttributesW(target.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES &&
      !::SetFileAttributesW(source.c_str(), existing))
    ThrowLastError();
  if (::MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return;
  // Windows answers access denied for a file it cannot replace because
  // another program has it open: that file is in use.
  const DWORD error = ::GetLastError();
  throw SystemError(error == ERROR_ACCESS_DENIED &&
                            existing != INVALID_FILE_ATTRIBUTES &&
                            (existing & FILE_ATTRIBUTE_READONLY) == 0
                        ? ERROR_SHARING_VIOLATION
                        : error);
}

void WriteFileReplacing(const std::string& name, const std::string& bytes) {
  // A symbolic link is written through: renaming onto the link would
  // replace it and leave its target as it was, though the save dialog
  // asked about the target.
  const std::string path = Resolved(name);
  // Windows will not move a file over a read-only one; Wine would. Refusing
  // first keeps both alike, and writes nothing in vain.
  const DWORD existing = ::GetFileAttributesW(Wide(path).c_str());
  if (existing != INVALID_FILE_ATTRIBUTES &&
      (existing & FILE_ATTRIBUTE_READONLY) != 0)
    throw SystemError(ERROR_ACCESS_DENIED);
  // In the target's folder, so the final move is a rename on one volume.
  wchar_t temp[MAX_PATH];
  if (!::GetTempFileNameW(Wide(FolderOf(path)).c_str(), L"lsk", 0, temp))
    ThrowLastError();
  const DWORD failure = WriteWhole(temp, bytes);
  try {
    if (failure != ERROR_SUCCESS) throw SystemError(failure);
    MoveFileOver(Utf8(temp, wcslen(temp)), path);
  } catch (const Error&) {
    ::DeleteFileW(temp);
    throw;
  }
}

}  // namespace platform
