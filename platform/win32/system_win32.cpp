// Win32 system layer: what is neither files, processes nor the folder
// claim. Names are UTF-8 here as everywhere in the program and UTF-16 at
// every call (the W functions). Implements from platform.h:
//  - Error from GetLastError and FormatMessageW (SystemError, the one place)
//  - kPathSeparator, kDeviceNames, kShortPathBuffer, DecoderPlaces
//  - PrepareProcess (the error mode)
//  - ApplicationFolder (GetModuleFileNameW), ShortPathName
//    (GetShortPathNameW), DecoderReads (an exact ANSI form), FoldCase,
//    TextFileBytes
//  - DecimalSeparator (GetLocaleInfoW), Today (GetLocalTime)
// Files are in files_win32.cpp, processes in process_win32.cpp, the folder
// claim in claim_win32.cpp.
#include <algorithm>
#include <memory>

#include "platform/win32/backend_win32.h"

namespace platform {

const char kPathSeparator = '\\';
const bool kDeviceNames = true;
const std::uint32_t kShortPathBuffer = 512;

namespace win32 {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return L"";
  const auto size = static_cast<int>(utf8.size());
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (n == 0) ThrowLastError();
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (!::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], n))
    ThrowLastError();
  return wide;
}

std::string Utf8(const wchar_t* wide, std::size_t length) {
  if (length == 0) return "";
  const auto size = static_cast<int>(length);
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0,
                                      nullptr, nullptr);
  if (n == 0) ThrowLastError();
  std::string utf8(static_cast<std::size_t>(n), '\0');
  if (!::WideCharToMultiByte(CP_UTF8, 0, wide, size, &utf8[0], n, nullptr,
                             nullptr))
    ThrowLastError();
  return utf8;
}

std::string Utf8(const std::wstring& wide) {
  return Utf8(wide.data(), wide.size());
}

Error SystemError(DWORD code) {
  struct LocalFreer {
    void operator()(wchar_t* text) const { ::LocalFree(text); }
  };
  wchar_t* raw = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreer> owned(raw);
  std::string text;
  try {
    if (length != 0 && raw) text = Utf8(raw, length);
  } catch (const Error&) {
    // A description that cannot be converted is no description.
  }
  // The system's texts end in CR LF; the sentence's own full stop stays.
  const auto last = text.find_last_not_of("\r\n ");
  text.erase(last == std::string::npos ? 0 : last + 1);
  if (text.empty()) text = "Unknown system error " + std::to_string(code) + ".";
  return Error(static_cast<long>(code), text);
}

}  // namespace win32

namespace {

using win32::SystemError;
using win32::ThrowLastError;
using win32::Utf8;
using win32::Wide;

// The ANSI form of `wide`, or false when a character has none. Without
// best fit, so that no name reads as another ("Ŝong" as "Song"). A
// UTF-8 code page writes every name and takes neither flag nor answer.
bool ExactAnsi(const std::wstring& wide, std::string& ansi) {
  ansi.clear();
  if (wide.empty()) return true;
  const UINT page = ::GetACP();
  const DWORD flags = page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const asked = page == CP_UTF8 ? nullptr : &lossy;
  const auto size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(page, flags, wide.data(), size, nullptr,
                                      0, nullptr, asked);
  if (n == 0) return false;
  ansi.resize(static_cast<std::size_t>(n));
  if (!::WideCharToMultiByte(page, flags, wide.data(), size, &ansi[0], n,
                             nullptr, asked))
    return false;
  return !lossy;
}

}  // namespace

std::vector<std::string> DecoderPlaces() {
  return {"C:\\Progra~1\\Lame\\lame.exe", "C:\\Program Files\\Lame\\lame.exe"};
}

void PrepareProcess() {
  // A drive without its medium (a card pulled from its reader mid-batch)
  // fails the call instead of raising a "No Disk" box that would hold the
  // batch: what Microsoft's SetErrorMode page asks of every program.
  ::SetErrorMode(SEM_FAILCRITICALERRORS);
}

std::string ApplicationFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], size);
    if (n == 0) ThrowLastError();
    if (n < size) {
      path.resize(n);
      break;
    }
    // Cut short: try again with room for the longest path the system allows.
    if (size >= 32768) throw SystemError(ERROR_INSUFFICIENT_BUFFER);
    path.resize(size * 2);
  }
  const auto slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return Utf8(path);
  std::string folder = Utf8(path.substr(0, slash));
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';  // a root
  return folder;
}

std::uint32_t ShortPathName(const std::string& longPath, char* buffer,
                            std::uint32_t length) {
  const std::wstring wide = Wide(longPath);
  // Windows answers nothing for a path of MAX_PATH or more not marked
  // "\\?\"; Wine would, and the decoder could not open it anyway.
  if (wide.size() >= MAX_PATH) return 0;
  std::wstring shortPath(length, L'\0');
  const DWORD n = ::GetShortPathNameW(wide.c_str(), &shortPath[0], length);
  if (n == 0 || n >= length) return n;
  const std::string utf8 = Utf8(shortPath.data(), n);
  // The answer is UTF-8 and may need more room than the UTF-16 form did.
  if (utf8.size() >= length) return static_cast<std::uint32_t>(utf8.size() + 1);
  std::copy(utf8.begin(), utf8.end(), buffer);
  buffer[utf8.size()] = '\0';
  return static_cast<std::uint32_t>(utf8.size());
}

bool DecoderReads(const std::string& argument) {
  std::string ansi;
  return ExactAnsi(Wide(argument), ansi);
}

std::string FoldCase(const std::string& name) {
  std::wstring wide = Wide(name);
  if (!wide.empty())
    ::CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
  return Utf8(wide);
}

std::string TextFileBytes(const std::string& text) {
  // U+FFFD, shown for a control character, has no ANSI form: '?' stands in.
  std::string marked = text;
  for (std::size_t at = 0;
       (at = marked.find("\xEF\xBF\xBD", at)) != std::string::npos; ++at)
    marked.replace(at, 3, "?");
  std::string ansi;
  if (ExactAnsi(Wide(marked), ansi)) return ansi;
  // Notepad reads UTF-8 by its byte-order mark.
  return "\xEF\xBB\xBF" + text;
}

std::string DecimalSeparator() {
  wchar_t separator[8] = {};
  const int n =
      ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
  if (n <= 1) return ".";
  return Utf8(separator, static_cast<std::size_t>(n - 1));
}

Date Today() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

}  // namespace platform
