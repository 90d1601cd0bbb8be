#pragma once

// Helpers for the tests that run WebKitGTK, whose web and network processes
// outlive their web view for a moment and write into the test's private
// home and cache directories until they exit.

#include <chrono>

namespace glimmet::testing {

// Spins the main loop until no child process of this one is still running
// (zombies do not count); false on time-out. With `adoptOrphans` this process
// first becomes a subreaper, so the processes that its children leave behind
// become its children too.
bool awaitChildProcessesExited(std::chrono::milliseconds timeout = std::chrono::seconds(10));
void adoptOrphans();

}  // namespace glimmet::testing
