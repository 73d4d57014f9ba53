// Test tool run under the same Wine server as larkspire_decompress.exe: it
// finds the program's window by its caption, reads and presses its controls
// the way another Windows program would, and answers a few questions about
// the Windows side of the prefix (short paths, listing order, error texts)
// so the tests can state what the program must show.
//
// Exit status: 0 when the command did what was asked, 1 when it timed out
// or found something missing (with a message on stderr), 2 on bad usage.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char kCaption[] = "Larkspire Decompress Tool";
const char kSaveTitle[] = "Save Logfile";
// The file name box of the Explorer-style save dialog: a combo box in newer
// templates, a plain edit in older ones.
const int kFileNameCombo = 0x47c;  // cmb13
const int kFileNameEdit = 0x480;   // edt1

struct Controls {
  HWND window = nullptr;
  HWND status = nullptr;   // first STATIC in creation order
  HWND log = nullptr;      // the EDIT
  HWND percent = nullptr;  // second STATIC
  HWND bar = nullptr;      // msctls_progress32
  HWND save = nullptr;     // the BUTTON
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "wine_driver: %s\n", message.c_str());
  return 1;
}

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

std::string ClassOf(HWND hwnd) {
  char name[64] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

std::string TextOf(HWND hwnd) {
  // WM_GETTEXT rather than GetWindowTextA: the latter does not ask another
  // process's controls for their text.
  const LRESULT length = SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0);
  std::vector<char> text(static_cast<size_t>(length) + 1);
  const LRESULT got = SendMessageA(hwnd, WM_GETTEXT, text.size(),
                                   reinterpret_cast<LPARAM>(text.data()));
  return std::string(text.data(), static_cast<size_t>(got));
}

// A control's text on one output line: backslash, CR and LF escaped as in C.
void PrintFact(const char* key, const std::string& text) {
  std::string escaped;
  for (char ch : text) {
    if (ch == '\\')
      escaped += "\\\\";
    else if (ch == '\r')
      escaped += "\\r";
    else if (ch == '\n')
      escaped += "\\n";
    else
      escaped += ch;
  }
  std::printf("%s=%s\n", key, escaped.c_str());
}

// Children in Z order, which for controls nobody restacks is creation order.
Controls FindControls() {
  Controls c;
  c.window = FindWindowA(nullptr, kCaption);
  if (!c.window) return c;
  for (HWND child = GetWindow(c.window, GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const std::string cls = ClassOf(child);
    if (lstrcmpiA(cls.c_str(), "Static") == 0)
      (c.status ? c.percent : c.status) = child;
    else if (lstrcmpiA(cls.c_str(), "Edit") == 0)
      c.log = child;
    else if (lstrcmpiA(cls.c_str(), PROGRESS_CLASSA) == 0)
      c.bar = child;
    else if (lstrcmpiA(cls.c_str(), "Button") == 0)
      c.save = child;
  }
  return c;
}

bool Complete(const Controls& c) {
  return c.window && c.status && c.log && c.percent && c.bar && c.save;
}

Controls WaitForControls(DWORD timeoutMs) {
  const double end = NowMs() + timeoutMs;
  for (;;) {
    Controls c = FindControls();
    if (Complete(c) || NowMs() > end) return c;
    Sleep(50);
  }
}

// The colours drawn inside `hwnd`, read back from the screen, most frequent
// first. The first is the background; the next is the text colour.
std::vector<std::pair<COLORREF, int>> ColoursOnScreen(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  std::vector<std::pair<COLORREF, int>> result;
  if (w <= 0 || h <= 0) return result;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap =
      CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  std::map<COLORREF, int> counts;
  const auto* pixel = static_cast<const DWORD*>(bits);
  for (int i = 0; i < w * h; ++i) {
    const DWORD p = pixel[i];
    ++counts[RGB((p >> 16) & 0xff, (p >> 8) & 0xff, p & 0xff)];
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  result.assign(counts.begin(), counts.end());
  std::stable_sort(
      result.begin(), result.end(),
      [](const auto& a, const auto& b) { return a.second > b.second; });
  return result;
}

std::string Hex(COLORREF c) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x%02x%02x", GetRValue(c), GetGValue(c),
                GetBValue(c));
  return text;
}

bool WriteBytes(const char* path, const std::string& bytes) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// ---- commands ---------------------------------------------------------------

int WaitStatus(const char* text, DWORD timeoutMs) {
  const double end = NowMs() + timeoutMs;
  std::string last;
  // A window that does not pump while it waits holds every read back; say
  // so, as that is why a passing status can be missed.
  double slowestRead = 0;
  for (;;) {
    const Controls c = FindControls();
    if (Complete(c)) {
      const double start = NowMs();
      last = TextOf(c.status);
      slowestRead = std::max(slowestRead, NowMs() - start);
      if (last.find(text) != std::string::npos) return 0;
    }
    if (NowMs() > end)
      return Fail("status never showed \"" + std::string(text) +
                  "\"; it reads \"" + last + "\" (slowest read " +
                  std::to_string(static_cast<int>(slowestRead)) + " ms)");
    Sleep(50);
  }
}

// Prints one "key=value" line per fact (texts escaped, see PrintFact); the
// log goes byte for byte to `logPath`.
int Dump(const char* logPath) {
  const Controls c = WaitForControls(5000);
  if (!Complete(c)) return Fail("window or one of its controls not found");
  if (!WriteBytes(logPath, TextOf(c.log)))
    return Fail(std::string("cannot write ") + logPath);
  PrintFact("status", TextOf(c.status));
  PrintFact("percent", TextOf(c.percent));
  std::printf("pos=%ld\n",
              static_cast<long>(SendMessageA(c.bar, PBM_GETPOS, 0, 0)));
  std::printf("range=%ld,%ld\n",
              static_cast<long>(SendMessageA(c.bar, PBM_GETRANGE, TRUE, 0)),
              static_cast<long>(SendMessageA(c.bar, PBM_GETRANGE, FALSE, 0)));
  PrintFact("button", TextOf(c.save));
  RECT window;
  GetWindowRect(c.window, &window);
  std::printf("window_rect=%ld,%ld,%ld,%ld\n", window.left, window.top,
              window.right, window.bottom);
  std::string colours;
  for (const auto& entry : ColoursOnScreen(c.status))
    colours += (colours.empty() ? "" : ",") + Hex(entry.first) + ":" +
               std::to_string(entry.second);
  std::printf("status_colours=%s\n", colours.c_str());
  return 0;
}

// Sends WM_NULL `count` times, `intervalMs` apart, and prints the slowest
// answer; a window whose thread sits in a blocking wait answers none.
int Ping(int count, DWORD intervalMs) {
  const Controls c = WaitForControls(5000);
  if (!c.window) return Fail("window not found");
  double slowest = 0;
  int unanswered = 0;
  std::string times;
  for (int i = 0; i < count; ++i) {
    DWORD_PTR result = 0;
    const double start = NowMs();
    if (!SendMessageTimeoutA(c.window, WM_NULL, 0, 0, SMTO_NORMAL, 2000,
                             &result))
      ++unanswered;
    const double took = NowMs() - start;
    if (took > slowest) slowest = took;
    times +=
        (times.empty() ? "" : ",") + std::to_string(static_cast<int>(took));
    Sleep(intervalMs);
  }
  std::printf("max_ms=%.1f\nunanswered=%d\nall_ms=%s\n", slowest, unanswered,
              times.c_str());
  return 0;
}

// Also clears up after an earlier case, so it does not wait for a window.
int Close(DWORD timeoutMs) {
  const Controls c = FindControls();
  if (!c.window) return Fail("window not found");
  DWORD pid = 0;
  GetWindowThreadProcessId(c.window, &pid);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return Fail("cannot open the program's process");
  const double start = NowMs();
  PostMessageA(c.window, WM_CLOSE, 0, 0);
  const DWORD wait = WaitForSingleObject(process, timeoutMs);
  CloseHandle(process);
  std::printf("exit_ms=%.0f\n", NowMs() - start);
  return wait == WAIT_OBJECT_0 ? 0 : Fail("program still running");
}

HWND WaitForDialog(DWORD timeoutMs) {
  const double end = NowMs() + timeoutMs;
  for (;;) {
    if (HWND dialog = FindWindowA("#32770", kSaveTitle)) return dialog;
    if (NowMs() > end) return nullptr;
    Sleep(50);
  }
}

HWND FileNameBox(HWND dialog) {
  if (HWND combo = GetDlgItem(dialog, kFileNameCombo)) return combo;
  return GetDlgItem(dialog, kFileNameEdit);
}

// Presses Save Log (unless something else, such as Alt+S typed on the
// display, opens the dialog) and waits for the save dialog; prints the name
// it offers.
HWND OpenSaveDialog(bool click) {
  const Controls c = WaitForControls(5000);
  if (!c.save) return nullptr;
  // Posted, not sent: the dialog is modal and would hold SendMessage here.
  if (click) PostMessageA(c.save, BM_CLICK, 0, 0);
  HWND dialog = WaitForDialog(10000);
  if (!dialog) return nullptr;
  // The dialog fills its controls after it appears.
  Sleep(300);
  HWND name = FileNameBox(dialog);
  PrintFact("suggested", name ? TextOf(name) : "");
  return dialog;
}

bool WaitForDialogGone(HWND dialog, DWORD timeoutMs) {
  const double end = NowMs() + timeoutMs;
  while (IsWindow(dialog)) {
    if (NowMs() > end) return false;
    Sleep(50);
  }
  return true;
}

// Holds the dialog open for `holdMs` first and reports the status line as it
// stands then: a batch running behind a modal dialog must stand still.
int Save(const char* path, DWORD holdMs) {
  HWND dialog = OpenSaveDialog(true);
  if (!dialog) return Fail("save dialog did not appear");
  HWND name = FileNameBox(dialog);
  if (!name) return Fail("save dialog has no file name box");
  Sleep(holdMs);
  PrintFact("status_while_open", TextOf(FindControls().status));
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  return WaitForDialogGone(dialog, 10000) ? 0 : Fail("dialog stayed open");
}

int CancelSave(bool click) {
  HWND dialog = OpenSaveDialog(click);
  if (!dialog) return Fail("save dialog did not appear");
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
  return WaitForDialogGone(dialog, 10000) ? 0 : Fail("dialog stayed open");
}

int ShortPath(const char* path) {
  char buffer[MAX_PATH * 2];
  const DWORD n = GetShortPathNameA(path, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer)
    return Fail(std::string("no short path for ") + path);
  std::printf("%s\n", buffer);
  return 0;
}

// The folder's files (not subfolders) in the order the system lists them.
int List(const char* folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((std::string(folder) + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return Fail("cannot list the folder");
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      std::printf("%s\n", data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return 0;
}

int ErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (n == 0) return Fail("no text for that error");
  std::string message(text, n);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  std::printf("%s\n", message.c_str());
  return 0;
}

int Usage() {
  std::fputs(
      "usage: wine_driver COMMAND ...\n"
      "  wait-status TEXT TIMEOUT_MS   until the status line contains TEXT\n"
      "  dump LOGFILE                  controls' state; log bytes to LOGFILE\n"
      "  ping COUNT INTERVAL_MS        slowest WM_NULL answer\n"
      "  close TIMEOUT_MS              WM_CLOSE, then wait for the process\n"
      "  save PATH [HOLD_MS]           Save Log, wait, type PATH, OK\n"
      "  cancel-save                   Save Log, then Cancel\n"
      "  cancel-dialog                 Cancel a save dialog opened otherwise\n"
      "  shortpath PATH | list FOLDER | errtext CODE\n",
      stderr);
  return 2;
}

DWORD Ms(const char* text) { return std::strtoul(text, nullptr, 10); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "wait-status" && argc == 4)
    return WaitStatus(argv[2], Ms(argv[3]));
  if (command == "dump" && argc == 3) return Dump(argv[2]);
  if (command == "ping" && argc == 4)
    return Ping(std::atoi(argv[2]), Ms(argv[3]));
  if (command == "close" && argc == 3) return Close(Ms(argv[2]));
  if (command == "save" && (argc == 3 || argc == 4))
    return Save(argv[2], argc == 4 ? Ms(argv[3]) : 0);
  if (command == "cancel-save" && argc == 2) return CancelSave(true);
  if (command == "cancel-dialog" && argc == 2) return CancelSave(false);
  if (command == "shortpath" && argc == 3) return ShortPath(argv[2]);
  if (command == "list" && argc == 3) return List(argv[2]);
  if (command == "errtext" && argc == 3) return ErrorText(Ms(argv[2]));
  return Usage();
}
