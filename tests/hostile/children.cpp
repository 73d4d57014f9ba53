#include "tests/hostile/children.h"

#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace hostile {

std::vector<int> Children() {
  std::vector<int> children;
  const pid_t self = ::getpid();
  DIR* proc = ::opendir("/proc");
  if (!proc) return children;
  while (const dirent* entry = ::readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream file("/proc/" + name + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    // "pid (comm) state ppid ...": comm may hold spaces and parentheses.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    long parent = 0;
    rest >> state >> parent;
    if (parent == self) children.push_back(std::stoi(name));
  }
  ::closedir(proc);
  return children;
}

int KillChildren() {
  const std::vector<int> children = Children();
  for (int pid : children) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  return static_cast<int>(children.size());
}

}  // namespace hostile
