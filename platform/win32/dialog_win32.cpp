// Win32 dialogs, ANSI. Implements from controls.h:
//  - CommonDialog::AskSave (GetSaveFileNameA)
//  - ShowError and ShowStartupError (MessageBoxA)
#include "platform/win32/backend_win32.h"  // first: the headers below need it

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>
#include <string>
#include <vector>

namespace platform {

namespace {

// Room for a long path; a longer name offered is given room of its own.
constexpr DWORD kFileNameBuffer = 2 * MAX_PATH;

}  // namespace

namespace {

const char* OrNull(const std::string& text) {
  return text.empty() ? nullptr : text.c_str();
}

// CommDlgExtendedError codes are not system error codes; FormatMessageA
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
  std::vector<char> file(
      std::max<std::size_t>(kFileNameBuffer, FileName.size() + 1), '\0');
  std::copy(FileName.begin(), FileName.end(), file.begin());
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = win32::HandleOf(parent_);
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = OrNull(InitDir);
  dialog.lpstrTitle = OrNull(DialogTitle);
  dialog.lpstrDefExt = OrNull(DefaultExt);
  // The dialog asks before replacing a file; the program never does.
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR |
                 OFN_EXPLORER | OFN_HIDEREADONLY;
  if (::GetSaveFileNameA(&dialog)) {
    FileName = file.data();
    return Answer::kChosen;
  }
  const DWORD error = ::CommDlgExtendedError();
  if (error != 0) throw Error(static_cast<long>(error), DialogErrorText(error));
  return Answer::kCancelled;
}

void ShowStartupError(const std::string& text) {
  ::MessageBoxA(nullptr, text.c_str(), "Larkspire Decompress Tool",
                MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void ShowError(Window& owner, const std::string& title,
               const std::string& text) {
  ::MessageBoxA(win32::HandleOf(owner), text.c_str(), title.c_str(),
                MB_OK | MB_ICONERROR);
}

}  // namespace platform
