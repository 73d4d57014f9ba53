// The narrow layer between the portable program (batch/, window/) and the
// operating system: files, short paths, the decoder process and the clock.
// The root CMakeLists.txt picks by WIN32 its system layer, win32/ or posix/,
// and the window backend behind controls.h and events.h, win32/ or gtk/
// (headless/ serves tests and benchmarks).
//
// Text is passed as bytes: UTF-8 on Windows (each backend converts it to
// UTF-16 at the system's call), the file system's own bytes on Linux.
// Nothing here includes an OS header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// The one error type that crosses the boundary: a number and a description,
// as the system reports them (errno and strerror, GetLastError and
// FormatMessage), or a run-time error number of the program's own.
class Error : public std::runtime_error {
 public:
  Error(long number, const std::string& description)
      : std::runtime_error(description), number_(number) {}
  long Number() const { return number_; }
  std::string Description() const { return what(); }

 private:
  long number_;
};

// Run-time error numbers the program raises itself.
enum : long {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrInternal = 51,
  kErrInvalidPropertyValue = 380,
  kErrCancel = 32755,
};

// "\\" on Windows, "/" elsewhere.
extern const char kPathSeparator;

// Where the decoder is looked for, in order. Windows: its fixed path
// "C:\Progra~1\Lame\lame.exe", then the same folder by its long name,
// "C:\Program Files\Lame\lame.exe", where the user's guide puts it: the
// short name is another under Wine ("PROG~FBU") and on a volume whose 8.3
// names are off. Linux: "/usr/bin/lame".
std::vector<std::string> DecoderPlaces();

// Whether the system takes some file names for devices ("con.mp3"): true
// on Windows.
extern const bool kDeviceNames;

// The buffer the batch hands ShortPathName, in bytes: 512 on Windows,
// the system's path limit elsewhere.
extern const std::uint32_t kShortPathBuffer;

// Puts back what the program's launcher may have changed that it relies
// on: on Linux the default SIGCHLD and no blocked signals; on Windows no
// "No Disk" box for a drive without its medium. Called first thing.
void PrepareProcess();

// The folder that holds the program's executable, without a trailing
// separator except at a root.
std::string ApplicationFolder();

// ---- File system ----------------------------------------------------------

struct FileEntry {
  std::string Name;  // the long file name
  std::string Path;  // the full path, as the listing reports it
};

bool FolderExists(const std::string& path);

// The folder's own files, not its subfolders (nor FIFOs, sockets or devices).
// Throws Error when the folder cannot be read.
std::vector<FileEntry> ListFiles(const std::string& folder);

// What the batch needs to know of a path, following links: whether a file
// or something else is there and which file it is (device and inode,
// volume and file ID). Not followed: whether the name itself is a link (a
// symbolic link or junction, dangling or not, or on Windows any name that
// resolves to another), and how many names the file has. Looking writes
// nothing, anywhere.
struct FileState {
  enum Kind { kNone, kFile, kOther } kind = kNone;
  // The file ID in 128 bits (ReFS's 64-bit ones are not unique): `index`
  // its low half, `indexHigh` its high half, 0 where the system has 64.
  std::uint64_t volume = 0, index = 0;
  bool link = false;
  std::uint32_t links = 1;  // hard links
  // Not to be written by this program's user: the read-only attribute, or
  // on Linux no write permission (for root too, by the mode bits).
  bool readOnly = false;
  std::uint64_t indexHigh = 0;

  // Some network and virtual-machine shares report index 0 for every
  // file, ReFS and some servers all ones ("no unique ID"): neither is an
  // identity, and such a file is the same as no other.
  bool Known() const {
    const std::uint64_t none = ~std::uint64_t{0};
    return kind != kNone && (index | indexHigh) != 0 &&
           (index & indexHigh) != none && !(index == none && indexHigh == 0);
  }
  bool SameFileAs(const FileState& other) const {
    return Known() && other.Known() && volume == other.volume &&
           index == other.index && indexHigh == other.indexHigh;
  }
};
FileState StatFile(const std::string& path);

// Whether a Windows reparse point with this tag makes its name a link. Only
// a name surrogate (a symbolic link, a junction) leads to another file; a
// OneDrive placeholder, a deduplicated or a compressed (WOF) file, an app
// execution alias is the file itself.
inline bool ReparseTagIsLink(std::uint32_t tag) {
  return (tag & 0x20000000u) != 0;  // IsReparseTagNameSurrogate
}

// Whether `error` says another program holds the file open (Windows'
// sharing and lock violations; on Linux nothing holds a file so): worth
// another try in a moment, as antivirus, indexers and sync clients let go.
bool InUse(const Error& error);
// Whether a file can be held so at all: a look for it is wasted elsewhere.
extern const bool kFilesCanBeHeld;

// Whether `error` is the system refusing to write: a folder the user may
// not write to, a read-only volume, a folder guarded against programs.
bool WriteRefused(const Error& error);

// The first `count` bytes of the file at `path` (fewer when it is shorter)
// and its size. Throws Error when it cannot be read.
void ReadFileStart(const std::string& path, std::size_t count,
                   std::string& head, std::uint64_t& size);

// Removes a file; one that is gone already counts as removed. Throws Error.
void RemoveFile(const std::string& path);

// Makes a new file at `path`: a hard link to `source` (a copy where the
// link would not do: a volume without links, a read-only source, one
// another program holds open), or an empty file when `source` is empty.
// False when the name is taken, as it is on Windows while a file of that
// name is still being deleted. `between` runs between the pieces of a
// copy; when it returns false the copy is given up (Error kErrCancel).
// Throws Error.
bool MakeNewFile(const std::string& path, const std::string& source,
                 const std::function<bool()>& between);

// Marks a temporary file of the program's in use for as long as it lives,
// so that another program cleaning up stale temporaries (this one on
// another computer sharing the folder, say) leaves it alone: a handle
// open on it on Windows, a shared flock on Linux. Marks nothing where the
// file cannot be opened.
class FileInUse {
 public:
  explicit FileInUse(const std::string& path);
  FileInUse(FileInUse&&) noexcept;
  FileInUse& operator=(FileInUse&&) noexcept;
  ~FileInUse();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Removes the file at `path` unless some program has it open (Windows) or
// marked in use (FileInUse); true when it was removed.
bool RemoveIfUnused(const std::string& path);

// Moves the file `from` over `to`. A file replaced there hands its
// permissions (on Windows its attributes) on to the new one. Throws Error.
void MoveFileOver(const std::string& from, const std::string& to);

// kernel32's contract: on success the short form is in `buffer` and the
// result is its length (< length); when the buffer is too small the result is
// the size needed (> length - 1) and the buffer holds nothing useful; on
// failure the result is 0. On Linux the short form of an existing path is the
// path itself.
std::uint32_t ShortPathName(const std::string& longPath, char* buffer,
                            std::uint32_t length);

// Whether the decoder reads `argument` as exactly that name. A Windows
// program reading its arguments in the ANSI code page would get a look-alike
// ("Ŝong" as "Song", another file) or '?' for a character the code page
// lacks. Always true on Linux.
bool DecoderReads(const std::string& argument);

// `name` in one letter case where the file system ignores case (Windows),
// as it is elsewhere.
std::string FoldCase(const std::string& name);

// The bytes of a text file holding `text`. Windows: in the ANSI code page
// when it has every character (U+FFFD written as '?'), else UTF-8 behind a
// byte-order mark. Linux: `text` itself.
std::string TextFileBytes(const std::string& text);

// Writes `bytes` to `path` whole or not at all: into a temporary file in
// the same folder, flushed and closed, then moved over `path`. A symbolic
// link is written through: its target is replaced and the link stays. A
// read-only file is not replaced. On failure any existing file of that
// name is untouched and no temporary file is left. Throws Error.
void WriteFileReplacing(const std::string& path, const std::string& bytes);

// ---- Processes ------------------------------------------------------------

// One program run, both as the Windows command line text and as an argument
// vector; each backend starts it the way its system does.
struct CommandLine {
  std::string text;
  std::vector<std::string> argv;
  std::string directory;  // the run's current folder; empty: the program's
};

struct ProcessExit {
  // kCrashed: ended by an exception it did not handle (Windows), or one
  // the system raised for it (a DLL it needs missing, Ctrl+C).
  enum Kind { kExited, kSignaled, kCrashed } kind = kExited;
  int code = 0;  // the exit status, the signal number, or the exception code
};

// How a Windows process's exit status reads. An exception's status is no
// exit code the program chose: the NTSTATUS error and warning severities
// (0xC0000005, 0x80000003) and the 0xE... codes runtimes give their own
// exceptions (0xE06D7363, C++). -1 and every other status are exit codes.
inline ProcessExit ExitFromStatus(std::uint32_t status) {
  const std::uint32_t severity = status >> 28;
  const bool exception = severity == 0x8 || severity == 0xC || severity == 0xE;
  return {exception ? ProcessExit::kCrashed : ProcessExit::kExited,
          static_cast<int>(status)};
}

// The creation flags that let the decoder into a job of the program's own
// when the program itself runs in one (Run As, Task Scheduler, a remote
// desktop's start program): Windows 7 cannot nest jobs, so the decoder
// must leave the outer one (CREATE_BREAKAWAY_FROM_JOB, 0x01000000), which
// only that job's JOB_OBJECT_LIMIT_BREAKAWAY_OK (0x800) allows; with
// SILENT_BREAKAWAY_OK (0x1000) it is outside already.
inline std::uint32_t JobBreakaway(bool inJob, std::uint32_t outerLimits) {
  const bool needed = inJob && (outerLimits & 0x1000u) == 0;
  return needed && (outerLimits & 0x800u) != 0 ? 0x01000000u : 0u;
}

// This program's process ID.
std::int64_t ProcessId();

// Whether the process `id` is still running (or cannot be looked at, and so
// may be).
bool ProcessRunning(std::int64_t id);

// A file outside the music folder that the decoder's error output goes
// to, emptied before each run: what the decoder says when it fails. Gone
// with the object, or with the program however it ends (a file in memory
// on Linux; on Windows one in the user's temporary folder, deleted on
// close).
// Where none can be had, the error output is discarded.
class ErrorOutput {
 public:
  ErrorOutput();
  ErrorOutput(ErrorOutput&&) noexcept;
  ErrorOutput& operator=(ErrorOutput&&) noexcept;
  ~ErrorOutput();
  void Clear();
  // Up to `count` bytes of its end.
  std::string Tail(std::size_t count) const;

  struct Impl;
  Impl* impl() const { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
};

// A started child process, owned: the handle is released on destruction,
// and a run not over then is stopped first. On Linux it runs in a process
// group of its own, so that signals meant for the program (a terminal's
// Ctrl+C) reach the program alone, and it is killed when the program ends,
// however it ends. Whatever it started and left running is ended with its
// run, stopped or not: on Linux every other child the program has (it is
// their subreaper), on Windows what is left of its job.
class Process {
 public:
  // Starts `command` with standard output discarded and its error output
  // to `errors` (discarded without). windowStyle 0 is hidden. Throws Error
  // when the program cannot be started.
  static Process Start(const CommandLine& command, int windowStyle,
                       const ErrorOutput* errors = nullptr);

  Process(Process&&) noexcept;
  Process& operator=(Process&&) noexcept;
  ~Process();

  std::int32_t Id() const;
  // The waitable handle as a number: a pidfd on Linux (-1 when the kernel
  // has none), the process HANDLE on Windows. The window backend waits on it
  // together with its own events while the process runs.
  std::intptr_t HandleValue() const;

  // Whether the process itself has ended; its exit is then known.
  bool Exited();
  ProcessExit Exit() const;
  // Whether the run is over: the process has ended, and so has all it left
  // running (ended as soon as the process has, and reaped). Never blocks.
  bool Over();
  // Blocks up to `ms` milliseconds for the run to be over; whether it is.
  // Ignores window events.
  bool Wait(unsigned ms);
  // Stops the process and everything it started, without waiting for them
  // to go (Over tells). False when the process had ended on its own before
  // it could be stopped: its exit is then its own.
  bool Stop();

  struct Impl;

 private:
  explicit Process(std::unique_ptr<Impl> impl);
  // Blocks up to `ms` for what Over looks at to change: the process
  // ending, or a few milliseconds once it has (nothing signals when what it
  // left has gone).
  void Block(unsigned ms);

  std::unique_ptr<Impl> impl_;
};

// Whether a claim on a folder that failed with the system's `error` (errno,
// GetLastError) failed for another holder. Any other failure (a file
// system that cannot lock: NFS, some FUSE ones) is no reason to refuse the
// folder, which is worked in unclaimed.
bool ClaimedByAnother(long error);

// The program's claim to an audio folder: while one program works in a
// folder, another that claims it is told so, and leaves the files alone.
// Leaves nothing in the folder, and lapses when the owner goes or the
// program ends, however it ends. It covers one computer: a program on
// another computer sharing the folder does not see it.
class FolderClaim {
 public:
  // Claims `folder`. Throws Error.
  explicit FolderClaim(const std::string& folder);
  FolderClaim(FolderClaim&&) noexcept;
  FolderClaim& operator=(FolderClaim&&) noexcept;
  ~FolderClaim();
  // False when another program holds the folder (ClaimedByAnother).
  bool Held() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// ---- Locale and clock -----------------------------------------------------

// The decimal separator of the user's locale.
std::string DecimalSeparator();

struct Date {
  int year, month, day;
};
Date Today();

}  // namespace platform
