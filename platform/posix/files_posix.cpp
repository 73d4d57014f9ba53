// POSIX files. Implements from platform.h:
//  - FolderExists, ListFiles (sorted by name), StatFile
//  - InUse (nothing holds a file so here), WriteRefused
//  - ReadFileStart, RemoveFile, MakeNewFile (link, or a copy in pieces),
//    MoveFileOver (rename, the replaced file's mode kept)
//  - WriteFileReplacing (temporary file, then MoveFileOver)
//  - FileInUse (a shared flock), RemoveIfUnused (an exclusive one first; on
//    NFS flock is a byte-range lock, which other computers see too)
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <utility>

#include "platform/platform.h"
#include "platform/posix/backend_posix.h"

namespace platform {

using posix::Dir;
using posix::Fd;
using posix::ThrowErrno;

namespace {

// As many symbolic links as the kernel follows in one path.
constexpr int kMaxLinkHops = 40;
constexpr std::size_t kCopyPiece = 1 << 20;

// Follows symlinks: a link to a regular file is a file of the folder.
bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes all of `bytes`, retrying short writes.
bool WriteAll(int fd, const char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads up to `size` bytes, as many as there are; -1 on failure.
ssize_t ReadSome(int fd, char* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// Copies `source` into the new file `to`, piece by piece, `between` asked
// after each; false when `to` exists.
bool CopyNew(const std::string& source, const std::string& to,
             const std::function<bool()>& between) {
  const Fd from(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (from.get() < 0) ThrowErrno(errno);
  Fd fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (fd.get() < 0 && errno == EEXIST) return false;
  if (fd.get() < 0) ThrowErrno(errno);
  std::string piece(kCopyPiece, '\0');
  int failure = 0;
  for (ssize_t n; failure == 0 &&
                  (n = ReadSome(from.get(), &piece[0], piece.size())) != 0;) {
    if (n < 0 || !WriteAll(fd.get(), piece.data(), static_cast<size_t>(n)))
      failure = errno;
    else if (between && !between())
      failure = -1;
  }
  if (::close(fd.release()) != 0 && failure == 0) failure = errno;
  if (failure == 0) return true;
  ::unlink(to.c_str());
  if (failure < 0) throw Error(kErrCancel, "Cancelled");
  ThrowErrno(failure);
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
  state.links = static_cast<std::uint32_t>(info.st_nlink);
  // The mode bits too: access() grants root everything.
  state.readOnly =
      (info.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
  return state;
}

bool InUse(const Error& /*error*/) { return false; }
const bool kFilesCanBeHeld = false;

bool WriteRefused(const Error& error) {
  return error.Number() == EACCES || error.Number() == EPERM ||
         error.Number() == EROFS;
}

void ReadFileStart(const std::string& path, std::size_t count,
                   std::string& head, std::uint64_t& size) {
  const Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info;
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0) ThrowErrno(errno);
  size = static_cast<std::uint64_t>(info.st_size);
  head.assign(count, '\0');
  const ssize_t n = ReadSome(file.get(), &head[0], count);
  if (n < 0) ThrowErrno(errno);
  head.resize(static_cast<std::size_t>(n));
}

void RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowErrno(errno);
}

bool MakeNewFile(const std::string& path, const std::string& source,
                 const std::function<bool()>& between) {
  if (source.empty()) {
    const Fd fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() >= 0) return true;
  } else if (::link(source.c_str(), path.c_str()) == 0) {
    return true;
  } else if (errno == EPERM || errno == EMLINK) {
    // A shared folder with protected hard links refuses a link to another
    // user's file, which can still be copied.
    return CopyNew(source, path, between);
  }
  if (errno == EEXIST) return false;
  ThrowErrno(errno);
}

struct FileInUse::Impl {
  Fd fd;
};

FileInUse::FileInUse(const std::string& path)
    : impl_(std::make_unique<Impl>()) {
  impl_->fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (impl_->fd.get() >= 0) ::flock(impl_->fd.get(), LOCK_SH | LOCK_NB);
}
FileInUse::FileInUse(FileInUse&&) noexcept = default;
FileInUse& FileInUse::operator=(FileInUse&&) noexcept = default;
FileInUse::~FileInUse() = default;

bool RemoveIfUnused(const std::string& path) {
  const Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  return fd.get() >= 0 && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
         ::unlink(path.c_str()) == 0;
}

void MoveFileOver(const std::string& from, const std::string& to) {
  struct stat existing;
  if (::stat(to.c_str(), &existing) == 0 &&
      ::chmod(from.c_str(), existing.st_mode & 07777) != 0)
    ThrowErrno(errno);
  if (::rename(from.c_str(), to.c_str()) != 0) ThrowErrno(errno);
}

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
  // mkstemp makes the file 0600; a new log is an ordinary file (one that
  // replaces another takes that one's mode in MoveFileOver).
  const mode_t mask = ::umask(0);
  ::umask(mask);
  int failure = 0;
  if ((!replaces && ::fchmod(fd.get(), 0666 & ~mask) != 0) ||
      !WriteAll(fd.get(), bytes.data(), bytes.size()) || ::fsync(fd.get()) != 0)
    failure = errno;
  if (::close(fd.release()) != 0 && failure == 0) failure = errno;
  try {
    if (failure != 0) ThrowErrno(failure);
    MoveFileOver(temp, path);
  } catch (const Error&) {
    ::unlink(temp.c_str());
    throw;
  }
}

}  // namespace platform
