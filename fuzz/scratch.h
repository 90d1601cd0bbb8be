#pragma once

// A private path for a fuzz target's files, removed by the target at exit. In
// memory where the system has it: the program flushes every file it writes to
// the disk, which would otherwise bound the rate of runs.

#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace glimmet::fuzz {

inline std::filesystem::path scratchPath(std::string_view name) {
  const std::filesystem::path memory = "/dev/shm";
  const std::filesystem::path root =
      std::filesystem::is_directory(memory) ? memory : std::filesystem::temp_directory_path();
  return root / ("glimmet-fuzz-" + std::string(name) + "-" + std::to_string(getpid()));
}

}  // namespace glimmet::fuzz
