// What the Win32 backend's files share: the Windows headers with the
// program's target version, the one place that turns a Win32 error code
// into a platform::Error, the owners of the system's handles, and the
// window backend's state.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/controls.h"
#include "platform/platform.h"

namespace platform {
namespace win32 {

// The program's UTF-8 text as the W functions take it, and back. Bytes that
// are not UTF-8, and lone surrogates, become U+FFFD.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* wide, std::size_t length);
std::string Utf8(const std::wstring& wide);

// The error `code` with the system's own description of it (FormatMessageW),
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

// Owns a font.
struct FontDeleter {
  void operator()(HFONT font) const { ::DeleteObject(font); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// The screen's device context, for its resolution.
class ScreenDc {
 public:
  ScreenDc() : dc_(::GetDC(nullptr)) {}
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  ~ScreenDc() {
    if (dc_) ::ReleaseDC(nullptr, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// Owns a child control; destroyed with it unless the parent went first.
class ChildWindow {
 public:
  explicit ChildWindow(HWND hwnd) : hwnd_(hwnd) {}
  ChildWindow(const ChildWindow&) = delete;
  ChildWindow& operator=(const ChildWindow&) = delete;
  ~ChildWindow() {
    if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  }
  HWND get() const { return hwnd_; }

 private:
  HWND hwnd_;
};

// Owns a FindFirstFileW search.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  ~FindHandle() {
    if (valid()) ::FindClose(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Owns a loaded DLL.
struct ModuleFreer {
  void operator()(HMODULE module) const { ::FreeLibrary(module); }
};
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

// Owns a process creation attribute list.
class AttributeList {
 public:
  explicit AttributeList(DWORD count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    storage_.resize(size / sizeof(std::uint64_t) + 1);
    list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!::InitializeProcThreadAttributeList(list_, count, 0, &size))
      ThrowLastError();
  }
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;
  ~AttributeList() { ::DeleteProcThreadAttributeList(list_); }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<std::uint64_t> storage_;  // 8-byte aligned, as the list needs
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// ---- What the window backend's files (controls, dialog, events) share ----

// All the window backend's own state: the program's one window, whose
// events the pumps serve, and whether WM_QUIT has been seen, which ends
// every message loop.
struct Data {
  Window* window = nullptr;  // the latest made, while it lives
  bool quitPosted = false;
  Module comdlg32;  // loaded for the first save dialog
};
Data& State();

// From here on DLLs load from the system folder alone: the program's folder
// is a music folder from anywhere, and a DLL there named as a system one
// (shcore, compstui, which comdlg32 pulls in) must never run.
void LimitDllSearch();

// Hands a message to the window, keyboard navigation first.
void Dispatch(MSG& message);
// WM_QUIT was seen: every loop ends, and the window counts as closed.
void NoteQuit();

HWND HandleOf(Window& window);
void MarkClosed(Window& window);

}  // namespace win32
}  // namespace platform
