// What the expected window text depends on inside the Wine prefix. Usage:
// wine_facts FOLDER. Prints (ANSI) the folder's short form, the system's
// text for error 2, then per file in listing order "name TAB short path"
// (empty where there is none).
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
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
  for (bool more = find != INVALID_HANDLE_VALUE; more;
       more = FindNextFileA(find, &found))
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      std::printf("%s\t%s\n", found.cFileName,
                  ShortPath(folder + found.cFileName).c_str());
  return 0;
}
