#pragma once

// Helpers for the tests that run WebKitGTK, whose web and network processes
// outlive their web view for a moment and write into the test's private
// home and cache directories until they exit.

#include <sys/types.h>

#include <chrono>
#include <functional>

namespace glimmet::testing {

// Spins the main loop until no child process of this one is still running
// (zombies do not count); false on time-out. With `adoptOrphans` this process
// first becomes a subreaper, so the processes that its children leave behind
// become its children too.
bool awaitChildProcessesExited(std::chrono::milliseconds timeout = std::chrono::seconds(10));
void adoptOrphans();

// A running process as /proc/<pid>/stat describes it.
struct ProcessStatus {
  char state = 0;  // 'Z' for a zombie
  pid_t parent = 0;
  pid_t group = 0;
};
// Whether any process on the system matches.
bool anyProcess(const std::function<bool(const ProcessStatus&)>& matches);

}  // namespace glimmet::testing
