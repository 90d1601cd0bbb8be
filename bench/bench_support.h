#pragma once

// Measuring helpers shared by the benchmarks.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace glimmet::bench {

inline double seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A "Key: N kB" line of /proc/self/status (VmRSS, VmHWM, ...), in KiB.
inline long statusKiB(const std::string& key) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) {
      std::istringstream fields(line.substr(key.size()));
      long kib = 0;
      fields >> kib;
      return kib;
    }
  }
  std::fprintf(stderr, "bench: no %s in /proc/self/status\n", key.c_str());
  std::exit(1);
}

}  // namespace glimmet::bench
