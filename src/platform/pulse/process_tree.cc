#include "platform/pulse/process_tree.h"

#include <fstream>
#include <sstream>
#include <string>

namespace platform::pulse {

namespace {

// The parent of `pid`, or 0 when it cannot be read.
pid_t parentOf(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // "pid (name) state ppid ...": the name may hold spaces and parentheses.
  auto close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(stat.substr(close + 1));
  char state;
  pid_t parent = 0;
  rest >> state >> parent;
  return parent;
}

}  // namespace

bool descendsFrom(pid_t pid, pid_t ancestor) {
  for (int depth = 0; pid > 0 && depth < 256; depth++) {
    if (pid == ancestor) return true;
    pid = parentOf(pid);
  }
  return false;
}

}  // namespace platform::pulse
