// Win32 dialogs, in UTF-16. Implements from controls.h:
//  - CommonDialog::AskSave (GetSaveFileNameW, from comdlg32 loaded at run
//    time, once the DLL search is limited to the system folder)
//  - ShowError and ShowStartupError (MessageBoxW)
#include "platform/win32/backend_win32.h"  // first: the headers below need it

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>
#include <string>
#include <vector>

namespace platform {

namespace {

using win32::Utf8;
using win32::Wide;

// Room for a long path; a longer name offered is given room of its own.
constexpr DWORD kFileNameBuffer = 2 * MAX_PATH;

// Not in Windows 7's headers of this target; the call itself is looked up,
// since Windows 7 has it only with update KB2533623.
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

using GetSaveFileNameFunction = BOOL(WINAPI*)(OPENFILENAMEW*);
using ExtendedErrorFunction = DWORD(WINAPI*)();

// comdlg32 from the system folder, by its full path: without the search
// limit (an old Windows 7), its own imports are then looked up there first.
HMODULE Comdlg32() {
  win32::Module& module = win32::State().comdlg32;
  if (module) return module.get();
  wchar_t system[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) win32::ThrowLastError();
  const std::wstring path = std::wstring(system, n) + L"\\comdlg32.dll";
  module.reset(
      ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module) win32::ThrowLastError();
  return module.get();
}

template <typename Function>
Function Comdlg32Function(const char* name) {
  const FARPROC found = ::GetProcAddress(Comdlg32(), name);
  if (!found) win32::ThrowLastError();
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

const wchar_t* OrNull(const std::wstring& text) {
  return text.empty() ? nullptr : text.c_str();
}

// CommDlgExtendedError codes are not system error codes; FormatMessageW
// knows nothing of them.
std::string DialogErrorText(DWORD code) {
  switch (code) {
    case FNERR_BUFFERTOOSMALL:
      return "The file name is too long.";
    case FNERR_INVALIDFILENAME:
      return "The file name is not valid.";
    default:
      break;
  }
  char text[80];
  std::snprintf(text, sizeof text,
                "The save dialog failed (common dialog error 0x%04lX).",
                static_cast<unsigned long>(code));
  return text;
}

}  // namespace

CommonDialog::Answer CommonDialog::AskSave() {
  const SaveStart start = SaveDialogStart(InitDir, FileName, MAX_PATH);
  const std::wstring folder = Wide(start.initialFolder),
                     offered = Wide(start.file), title = Wide(DialogTitle),
                     extension = Wide(DefaultExt);
  std::vector<wchar_t> file(
      std::max<std::size_t>(kFileNameBuffer, offered.size() + 1), L'\0');
  std::copy(offered.begin(), offered.end(), file.begin());
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = parent_.impl().hwnd;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = OrNull(folder);
  dialog.lpstrTitle = OrNull(title);
  dialog.lpstrDefExt = OrNull(extension);
  // The dialog asks before replacing a file; the program never does.
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR |
                 OFN_EXPLORER | OFN_HIDEREADONLY;
  const auto getSaveFileName =
      Comdlg32Function<GetSaveFileNameFunction>("GetSaveFileNameW");
  const auto extendedError =
      Comdlg32Function<ExtendedErrorFunction>("CommDlgExtendedError");
  if (getSaveFileName(&dialog)) {
    FileName = Utf8(file.data(), wcslen(file.data()));
    return Answer::kChosen;
  }
  const DWORD error = extendedError();
  if (error != 0) throw Error(static_cast<long>(error), DialogErrorText(error));
  return Answer::kCancelled;
}

namespace win32 {

void LimitDllSearch() {
  using SetDirectories = BOOL(WINAPI*)(DWORD);
  const FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"),
                                         "SetDefaultDllDirectories");
  if (found)
    reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(found))(
        kSearchSystem32);
}

}  // namespace win32

void ShowStartupError(const std::string& text) {
  ::MessageBoxW(nullptr, Wide(text).c_str(), L"Larkspire Decompress Tool",
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void ShowError(Window& owner, const std::string& title,
               const std::string& text) {
  ::MessageBoxW(owner.impl().hwnd, Wide(text).c_str(), Wide(title).c_str(),
                MB_OK | MB_ICONERROR);
}

}  // namespace platform
