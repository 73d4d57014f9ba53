// What the expected window text depends on inside the Wine prefix. Usage:
// wine_facts FOLDER. Prints (UTF-8) the folder's short form, then its files'
// names in listing order. Listed wide, as the program lists.
// wine_facts --children TITLE prints the window's controls in their order,
// as a screen reader meets them: "class TAB text". wine_facts --log TITLE
// prints the log's line count and the top of its last line in the edit's
// client area, and that area's height: "lines TAB y TAB height".
// wine_facts --close TITLE posts the window WM_CLOSE, as a logoff or
// taskkill does (Wine drops a close box's request to a disabled window).
// wine_facts --hold FILE MS [reads] holds FILE open as a virus scanner
// would, printing "held" once it does: for reading, shared with no one (or,
// with "reads", refusing only others' reading; with "shared", sharing it
// for reading alone), until MS milliseconds after
// a decoder's output beside it ("lsk*.tmp") has content; for ever when MS < 0.
// wine_facts --endsession TITLE [cancelled] logs off the window: ended as
// WM_ENDSESSION returns, or the shutdown cancelled. wine_facts --answers
// TITLE MS prints the longest the window took to answer in MS ms.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

static std::string Utf8(const std::wstring& wide) {
  char text[MAX_PATH * 4];
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text,
                                    sizeof text, nullptr, nullptr);
  return n > 0 ? text : "";
}

static std::wstring ShortPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH * 2);
  return n == 0 || n >= MAX_PATH * 2 ? L"" : buffer;
}

static int Children(const wchar_t* title) {
  const HWND window = FindWindowW(nullptr, title);
  for (HWND child = window ? GetWindow(window, GW_CHILD) : nullptr; child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t kind[64], text[256];
    GetClassNameW(child, kind, 64);
    GetWindowTextW(child, text, 256);
    std::printf("%s\t%s\n", Utf8(kind).c_str(), Utf8(text).c_str());
  }
  return window ? 0 : 1;
}

static int Log(const wchar_t* title) {
  const HWND edit =
      FindWindowExW(FindWindowW(nullptr, title), nullptr, L"Edit", nullptr);
  const LRESULT lines = SendMessageW(edit, EM_GETLINECOUNT, 0, 0);
  const LRESULT last = SendMessageW(edit, EM_LINEINDEX, lines - 1, 0);
  const LRESULT at = SendMessageW(edit, EM_POSFROMCHAR, last, 0);
  RECT area{};
  GetClientRect(edit, &area);
  std::printf("%ld\t%d\t%ld\n", static_cast<long>(lines),
              static_cast<short>(HIWORD(at)), area.bottom);
  return edit ? 0 : 1;
}

static int Hold(const std::wstring& file, int ms, const std::wstring& how) {
  const DWORD share = how == L"reads"    ? FILE_SHARE_WRITE | FILE_SHARE_DELETE
                      : how == L"shared" ? FILE_SHARE_READ
                                         : 0;
  const HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, share, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  const std::wstring output =
      file.substr(0, file.find_last_of(L'\\') + 1) + L"lsk*.tmp";
  for (WIN32_FIND_DATAW found{}; ms >= 0 && found.nFileSizeLow == 0; Sleep(5)) {
    const HANDLE find = FindFirstFileW(output.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
  }
  Sleep(ms < 0 ? INFINITE : static_cast<DWORD>(ms));
  CloseHandle(held);
  return 0;
}

// Logoff as Windows asks it: the query, then the end, each answered. With
// "cancelled" another program cancels the shutdown; without, the program
// is ended the moment its WM_ENDSESSION returns, as Windows may.
static int EndSession(const wchar_t* title, bool cancelled) {
  const HWND window = FindWindowW(nullptr, title);
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  const HANDLE program = OpenProcess(PROCESS_TERMINATE, FALSE, id);
  const LRESULT agreed =
      SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
  SendMessageW(window, WM_ENDSESSION, agreed && !cancelled, ENDSESSION_LOGOFF);
  if (!cancelled) TerminateProcess(program, 0);
  return window && agreed ? 0 : 1;
}

// For MS milliseconds, how long the window takes at most to answer a
// message, asked every 10 ms.
static int Answers(const wchar_t* title, int ms) {
  const HWND window = FindWindowW(nullptr, title);
  DWORD longest = 0;
  for (const DWORD end = GetTickCount() + ms; GetTickCount() < end; Sleep(10)) {
    const DWORD start = GetTickCount();
    DWORD_PTR ignored;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    longest = std::max(longest, GetTickCount() - start);
  }
  std::printf("%lu\n", longest);
  return window ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 4 && std::wstring(argv[1]) == L"--hold")
    return Hold(argv[2], _wtoi(argv[3]), argc == 5 ? argv[4] : L"");
  if (argc == 3 && std::wstring(argv[1]) == L"--children")
    return Children(argv[2]);
  if (argc == 3 && std::wstring(argv[1]) == L"--log") return Log(argv[2]);
  if (argc == 3 && std::wstring(argv[1]) == L"--close")
    return !PostMessageW(FindWindowW(nullptr, argv[2]), WM_CLOSE, 0, 0);
  if (argc >= 3 && std::wstring(argv[1]) == L"--endsession")
    return EndSession(argv[2], argc == 4);
  if (argc == 4 && std::wstring(argv[1]) == L"--answers")
    return Answers(argv[2], _wtoi(argv[3]));
  std::wstring folder = argc == 2 ? ShortPath(argv[1]) : L"";
  std::printf("%s\n", Utf8(folder).c_str());
  if (folder.empty()) return 1;
  if (folder.back() != L'\\') folder += L'\\';  // a drive root has its own
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
  for (bool more = find != INVALID_HANDLE_VALUE; more;
       more = FindNextFileW(find, &found)) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::printf("%s\n", Utf8(found.cFileName).c_str());
  }
  return 0;
}
