#pragma once

// Modal alerts. `present` returns at once; the completion runs exactly once,
// later, on the main thread, with the index of the button the user chose.
// Main thread only.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace glimmet {

struct AlertRequest {
  std::string messageText;
  std::string informativeText;
  // In order, the first being the default button. Empty: one button that only
  // acknowledges the alert (index 0).
  std::vector<std::string> buttonTitles;
};

class Alerts {
 public:
  // An alert closed without a button (Escape, the window's close button) answers
  // the last button, which is where the declining choice sits.
  using Completion = std::function<void(std::size_t buttonIndex)>;

  virtual ~Alerts() = default;

  virtual void present(const AlertRequest& alert, Completion completion) = 0;
};

}  // namespace glimmet
