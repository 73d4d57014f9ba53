// What the Win32 backend's files share: the Windows headers with the
// program's target version, the one place that turns a Win32 error code
// into a platform::Error, the owners of the system's handles, and the
// window backend's state.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
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

// Owns a system handle from the moment the system returns it. One template
// for each kind, told apart by what marks "none" and what closes it.
template <typename Kind>
class Owner {
 public:
  explicit Owner(HANDLE handle = Kind::kNone) : handle_(handle) {}
  Owner(Owner&& other) noexcept : handle_(other.release()) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  ~Owner() { reset(); }

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != Kind::kNone; }
  HANDLE release() { return std::exchange(handle_, Kind::kNone); }
  void reset(HANDLE handle = Kind::kNone) {
    if (handle_ != Kind::kNone) Kind::Close(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

// A kernel object: a file, process, thread or job. Failed CreateFileW
// results (INVALID_HANDLE_VALUE) are turned into none before they get here.
struct KernelObject {
  static constexpr HANDLE kNone = nullptr;
  static void Close(HANDLE handle) { ::CloseHandle(handle); }
};
using Handle = Owner<KernelObject>;

// A FindFirstFileW search, which fails with INVALID_HANDLE_VALUE.
struct FileSearch {
  static inline const HANDLE kNone = INVALID_HANDLE_VALUE;
  static void Close(HANDLE handle) { ::FindClose(handle); }
};
using FindHandle = Owner<FileSearch>;

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

}  // namespace win32

// ---- What the window backend's files (controls, dialog, events) share ----

// The program's window as the system knows it, and what its window
// procedure needs: the controls' colours, which edits are text boxes, and
// the buttons' click handlers.
struct Window::Impl {
  HWND hwnd = nullptr;
  win32::Font font;
  int dpi = USER_DEFAULT_SCREEN_DPI;
  // IsDialogMessageW sends IDOK for Enter and IDCANCEL for Escape; control
  // identifiers start well clear of them.
  int nextId = 100;
  bool closed = false;
  // The control that had the focus when the window was last deactivated.
  HWND lastFocus = nullptr;
  std::map<HWND, Rgb> labelColors;
  std::set<HWND> textBoxes;
  std::map<int, std::function<void()>> clickHandlers;

  int Pixels(int twips) const;

  // Edges are converted rather than sizes, so controls that line up in
  // twips line up in pixels too.
  RECT PixelRect(const Rect& rect) const;

  // Creates a child control in the next tab position, in the window's font.
  HWND AddControl(const wchar_t* className, DWORD style, DWORD exStyle,
                  const Rect& rect, const std::string& text, int* id);

  SIZE TextExtent(const std::string& text) const;

  int ClientWidth() const;

  // A copy: the handler may replace itself while it runs.
  std::function<void()> ClickHandler(int id) const {
    const auto found = clickHandlers.find(id);
    return found == clickHandlers.end() ? nullptr : found->second;
  }

  void RunClick(int id);

  // Enter reaches the window as IDOK: it presses the focused button.
  void PressFocusedButton();

  // WM_NEXTDLGCTL: a multi-line edit asks its parent for the next control
  // on Tab, as it would in a dialog.
  void MoveFocus(WPARAM wParam, LPARAM lParam);

  void RestoreFocus();

  // The session ends: closed as the user would close it, then every
  // SessionEndHandler run, latest first.
  void EndSession();

  LRESULT ColorStatic(HDC dc, HWND control);

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
};

namespace win32 {

// All the window backend's own state: the program's one window, whose
// events the pumps serve, whether WM_QUIT has been seen, which ends every
// message loop, and what must run before Windows ends the session.
struct Data {
  Window::Impl* window = nullptr;  // the latest made, while it lives
  bool quitPosted = false;
  Module comdlg32;  // loaded for the first save dialog
  std::vector<const std::function<void()>*> sessionEnd;  // latest last
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

}  // namespace win32
}  // namespace platform
