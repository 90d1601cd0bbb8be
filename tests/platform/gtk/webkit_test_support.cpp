#include "platform/gtk/webkit_test_support.h"

#include <dirent.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace glimmet::testing {

bool anyProcess(const std::function<bool(const ProcessStatus&)>& matches) {
  DIR* processes = ::opendir("/proc");
  if (processes == nullptr) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(processes)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (name) state ppid pgrp ...": the name may hold spaces and parentheses.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    ProcessStatus status;
    rest >> status.state >> status.parent >> status.group;
    if (matches(status)) {
      found = true;
      break;
    }
  }
  ::closedir(processes);
  return found;
}

bool awaitChildProcessesExited(std::chrono::milliseconds timeout) {
  const pid_t self = ::getpid();
  return spinMainUntil(
      [self] {
        return !anyProcess([self](const ProcessStatus& process) {
          return process.state != 'Z' && process.parent == self;
        });
      },
      timeout);
}

void adoptOrphans() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

}  // namespace glimmet::testing
