// Win32 dialogs, in UTF-16. Implements from controls.h:
//  - CommonDialog::AskSave (GetSaveFileNameW)
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
  const std::wstring offered = Wide(FileName), folder = Wide(InitDir),
                     title = Wide(DialogTitle), extension = Wide(DefaultExt);
  std::vector<wchar_t> file(
      std::max<std::size_t>(kFileNameBuffer, offered.size() + 1), L'\0');
  std::copy(offered.begin(), offered.end(), file.begin());
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = win32::HandleOf(parent_);
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = OrNull(folder);
  dialog.lpstrTitle = OrNull(title);
  dialog.lpstrDefExt = OrNull(extension);
  // The dialog asks before replacing a file; the program never does.
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR |
                 OFN_EXPLORER | OFN_HIDEREADONLY;
  if (::GetSaveFileNameW(&dialog)) {
    FileName = Utf8(file.data(), wcslen(file.data()));
    return Answer::kChosen;
  }
  const DWORD error = ::CommDlgExtendedError();
  if (error != 0) throw Error(static_cast<long>(error), DialogErrorText(error));
  return Answer::kCancelled;
}

void ShowStartupError(const std::string& text) {
  ::MessageBoxW(nullptr, Wide(text).c_str(), L"Larkspire Decompress Tool",
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void ShowError(Window& owner, const std::string& title,
               const std::string& text) {
  ::MessageBoxW(win32::HandleOf(owner), Wide(text).c_str(), Wide(title).c_str(),
                MB_OK | MB_ICONERROR);
}

}  // namespace platform
