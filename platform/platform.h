// The narrow layer between the portable program (batch/, window/) and the
// operating system: files, short paths, the decoder process, event pumping
// and the clock. Each backend folder implements it; CMake picks one.
//
// Text is passed as bytes: ANSI code page on Windows, the file system's own
// bytes on Linux. Nothing here includes an OS header.
#pragma once

#include <cstdint>
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

// The decoder's fixed path: "C:\Progra~1\Lame\lame.exe" or "/usr/bin/lame".
extern const char* const kDecoderPath;

// The buffer the batch hands GetShortPathNameA, in characters: 512 on
// Windows, the system's path limit elsewhere.
extern const std::uint32_t kShortPathBuffer;

// The folder that holds the program's executable, without a trailing
// separator except at a root.
std::string ApplicationFolder();

// ---- File system ----------------------------------------------------------

struct FileEntry {
  std::string Name;  // the long file name
  std::string Path;  // the full path, as the listing reports it
  // False when the ANSI code page has no exact form of the name: Name and
  // Path then show it with '?' and name no file.
  bool Exact = true;
};

bool FolderExists(const std::string& path);

// The folder's own files, not its subfolders (nor FIFOs, sockets or devices).
// Throws Error when the folder cannot be read.
std::vector<FileEntry> ListFiles(const std::string& folder);

// What the batch needs to know of a path, following links: whether a file
// or something else is there, which file it is (device and inode, volume
// and file index), and when and how it was last written. Not followed:
// whether the name itself is a link (a symbolic link or reparse point,
// dangling or not), and how many names the file has.
struct FileState {
  enum Kind { kNone, kFile, kOther } kind = kNone;
  std::uint64_t volume = 0, index = 0;
  std::int64_t written = 0;  // last write, in the system's own units
  std::uint64_t size = 0;
  bool link = false;
  std::uint32_t links = 1;  // hard links

  bool SameFileAs(const FileState& other) const {
    return kind != kNone && other.kind != kNone && volume == other.volume &&
           index == other.index;
  }
  bool operator==(const FileState& o) const {
    return kind == o.kind && volume == o.volume && index == o.index &&
           written == o.written && size == o.size;
  }
};
FileState StatFile(const std::string& path);

// Removes a file; false when it could not be removed.
bool RemoveFile(const std::string& path);

// kernel32's contract: on success the short form is in `buffer` and the
// result is its length (< length); when the buffer is too small the result is
// the size needed (> length - 1) and the buffer holds nothing useful; on
// failure the result is 0. On Linux the short form of an existing path is the
// path itself.
std::uint32_t GetShortPathNameA(const std::string& longPath, char* buffer,
                                std::uint32_t length);

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
};

struct ProcessExit {
  enum Kind { kExited, kSignaled } kind = kExited;
  int code = 0;  // the exit status, or the signal number
};

// A started child process, owned: the handle is released on destruction,
// and a process still running then is stopped first. On Linux it runs in a
// process group of its own, so that signals meant for the program (a
// terminal's Ctrl+C) reach the program alone, and it is killed when the
// program ends, however it ends.
class Process {
 public:
  // Starts `command` with standard output and error discarded. windowStyle 0
  // is hidden. Throws Error when the program cannot be started.
  static Process Start(const CommandLine& command, int windowStyle);

  Process(Process&&) noexcept;
  Process& operator=(Process&&) noexcept;
  ~Process();

  std::int32_t Id() const;
  // The waitable handle as a number: a pidfd on Linux (-1 when the kernel
  // has none), the process HANDLE on Windows. The window backend waits on it
  // together with its own events.
  std::intptr_t HandleValue() const;

  // Blocks up to `ms` milliseconds for the process to end; true when it has
  // ended (and has been reaped). Ignores window events.
  bool Wait(unsigned ms);
  bool Ended() const;
  // Valid once Ended().
  ProcessExit Exit() const;
  // Stops the process and everything it started, and returns once they
  // have all ended; Ended() is then true. Does nothing to an ended process.
  void Stop();

  struct Impl;

 private:
  explicit Process(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// ---- Events (implemented by the window backend) ---------------------------

// Handles every pending window event and returns. Returns false once the
// user has closed the main window: the program should then wind down.
bool PumpEvents();

// Blocks until `process` ends, a window event arrives, or `ms` milliseconds
// pass, whichever is first. Returns true when the process has ended. Events
// may be handled while it waits.
bool WaitForProcessOrEvents(Process& process, unsigned ms);

// ---- Locale and clock -----------------------------------------------------

// The decimal separator of the user's locale.
std::string DecimalSeparator();

struct Date {
  int year, month, day;
};
Date Today();

}  // namespace platform
