#include "gtk/webkit_test_support.h"

#include <dirent.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace glimmet::testing {

namespace {

// Whether a process whose parent is this one is running (not a zombie).
bool childRunning() {
  const pid_t self = ::getpid();
  DIR* processes = ::opendir("/proc");
  if (processes == nullptr) return false;
  bool running = false;
  while (const dirent* entry = ::readdir(processes)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == self && state != 'Z') {
      running = true;
      break;
    }
  }
  ::closedir(processes);
  return running;
}

}  // namespace

bool awaitChildProcessesExited(std::chrono::milliseconds timeout) {
  return spinMainUntil([] { return !childRunning(); }, timeout);
}

void adoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

}  // namespace glimmet::testing
