// The bare Win32 loop: LAME on every MP3 file of FOLDER, one after the
// other, each started hidden with CreateProcessW, its standard handles on
// NUL as the batch gives them, and waited for, with nothing around it: the
// least a Win32 batch of the same runs can take.
// Prints "seconds S". Under Wine the figure is Wine's, not Windows'.
//
// Usage: bench_floor LAME FOLDER
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "platform/win32/backend_win32.h"

namespace {

using platform::win32::FindHandle;
using platform::win32::Handle;

std::vector<std::wstring> Mp3Names(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  FindHandle search(::FindFirstFileW((folder + L"\\*.mp3").c_str(), &found));
  if (!search) bench::Fail("no MP3 files in the folder");
  std::vector<std::wstring> names;
  do {
    names.push_back(found.cFileName);
  } while (::FindNextFileW(search.get(), &found));
  std::sort(names.begin(), names.end());
  return names;
}

void RunToEnd(const Handle& null, std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = null.get();
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started))
    bench::Fail("cannot start LAME");
  const Handle process(started.hProcess), thread(started.hThread);
  DWORD code = 1;
  ::WaitForSingleObject(process.get(), INFINITE);
  if (!::GetExitCodeProcess(process.get(), &code) || code != 0)
    bench::Fail("LAME failed");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) bench::Fail("usage: bench_floor LAME FOLDER");
  const std::wstring lame = argv[1], folder = argv[2];
  const std::vector<std::wstring> names = Mp3Names(folder);
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE opened = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherited, OPEN_EXISTING, 0, nullptr);
  if (opened == INVALID_HANDLE_VALUE) bench::Fail("cannot open NUL");
  const Handle null(opened);
  const auto start = bench::Clock::now();
  for (const std::wstring& name : names)
    RunToEnd(null, L"\"" + lame + L"\" --decode \"" + folder + L"\\" + name +
                       L"\" \"" + folder + L"\\" +
                       name.substr(0, name.size() - 3) + L"wav\"");
  bench::Report("seconds", bench::SecondsSince(start));
  return 0;
}
