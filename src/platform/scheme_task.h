#pragma once

// A load the web view asks of the program's own URL scheme, and the answer it
// gets. The web view's adapter implements the task; the scheme's handler
// answers it.

#include <string>
#include <utility>
#include <vector>

#include "core/failure.h"

namespace glimmet {

// A complete answer to a resource request: sent as one response, one data
// chunk and the end of the load.
struct SchemeResponse {
  int status = 200;
  std::string httpVersion = "HTTP/1.1";
  std::string contentType;
  // In the order they are sent.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

// One load the web view asked for. The web view's adapter and the tests
// implement it; the handler calls respond or fail at most once, on the main
// thread, and never after the task was stopped.
class SchemeTask {
 public:
  virtual ~SchemeTask() = default;
  // The requested URL as the web view hands it over; empty when it has none.
  virtual std::string url() const = 0;
  virtual void respond(SchemeResponse response) = 0;
  virtual void fail(const LocalAgentFailure& failure) = 0;
};

}  // namespace glimmet
