// What the expected window text depends on inside the Wine prefix. Usage:
// wine_facts FOLDER. Prints (ANSI) the folder's short form, the system's
// text for error 2, then per file in listing order "name TAB short path"
// (empty where there is none). Listed wide, as the program lists.
#include <windows.h>

#include <cstdio>
#include <string>

static std::string ShortPath(const std::string& path) {
  char buffer[MAX_PATH * 2];
  const DWORD n = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  return n == 0 || n >= sizeof buffer ? "" : buffer;
}

int main(int argc, char** argv) {
  std::string folder = argc == 2 ? ShortPath(argv[1]) : "";
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, ERROR_FILE_NOT_FOUND, 0,
                 reinterpret_cast<char*>(&text), 0, nullptr);
  std::string error = text ? text : "";
  std::printf("%s\n%s\n", folder.c_str(),
              error.erase(error.find_last_not_of("\r\n ") + 1).c_str());
  if (folder.empty()) return 1;
  if (folder.back() != '\\') folder += '\\';  // a drive root has its own
  wchar_t wide[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, (folder + "*").c_str(), -1, wide, MAX_PATH);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(wide, &found);
  for (bool more = find != INVALID_HANDLE_VALUE; more;
       more = FindNextFileW(find, &found)) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // Named as the window shows them: '?' where the code page has nothing.
    char name[MAX_PATH * 2];
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, found.cFileName, -1, name,
                        sizeof name, nullptr, nullptr);
    std::printf("%s\t%s\n", name, ShortPath(folder + name).c_str());
  }
  return 0;
}
