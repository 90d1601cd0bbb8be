#pragma once

// The one error record of the program. It carries a single user-facing message
// (Simplified Chinese, shown by the page as it comes). Synchronous operations
// throw it; work that completes on another thread hands it over inside a
// Result, so no exception ever crosses a thread or the bridge.

#include <stdexcept>
#include <string>

namespace glimmet {

class LocalAgentFailure : public std::runtime_error {
 public:
  explicit LocalAgentFailure(const std::string& message) : std::runtime_error(message) {}
  std::string message() const { return what(); }
};

}  // namespace glimmet
