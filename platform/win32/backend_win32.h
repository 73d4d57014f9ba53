// What the Win32 backend's files share: the Windows headers with the
// program's target version, the one place that turns a Win32 error code
// into a platform::Error, the owners of the system's handles, and the
// window backend's state.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <utility>

#include "platform/controls.h"
#include "platform/platform.h"

namespace platform {
namespace win32 {

// The error `code` with the system's own description of it (FormatMessageA),
// trailing line break and spaces removed.
Error SystemError(DWORD code);

[[noreturn]] inline void ThrowLastError() { throw SystemError(GetLastError()); }

// Owns a kernel HANDLE; empty is nullptr, so INVALID_HANDLE_VALUE results
// are normalised by the caller before they get here.
class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  HANDLE release() { return std::exchange(handle_, nullptr); }
  void reset(HANDLE handle = nullptr) {
    if (handle_) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

// Keeps `object` selected into `dc` for its lifetime, then puts back what
// was selected before.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object)
      : dc_(dc), old_(::SelectObject(dc, object)) {}
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;
  ~Selected() { ::SelectObject(dc_, old_); }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// ---- What the window backend's files (controls, dialog, events) share ----

// All the window backend's own state: the program's one window, whose
// events the pumps serve, and whether WM_QUIT has been seen, which ends
// every message loop.
struct Data {
  Window* window = nullptr;  // the latest made, while it lives
  bool quitPosted = false;
};
Data& State();

// Hands a message to the window, keyboard navigation first.
void Dispatch(MSG& message);
// WM_QUIT was seen: every loop ends, and the window counts as closed.
void NoteQuit();

HWND HandleOf(Window& window);
void MarkClosed(Window& window);

}  // namespace win32
}  // namespace platform
