#pragma once

// Alerts for tests: each alert waits, in arrival order, until the test chooses a
// button or dismisses it. Main thread only, like the real alerts.

#include <deque>
#include <optional>

#include "platform/alerts.h"

namespace glimmet {

class HeadlessAlerts final : public Alerts {
 public:
  void present(const AlertRequest& alert, Completion completion) override;

  // Every alert presented so far, answered or not, in order.
  const std::vector<AlertRequest>& presented() const { return presented_; }
  std::size_t pendingCount() const { return pending_.size(); }
  // The oldest unanswered alert.
  std::optional<AlertRequest> pending() const;

  // Chooses button `index` on the oldest unanswered alert; false, running
  // nothing, when no alert waits or it has no such button.
  bool answer(std::size_t index);
  // Closes the oldest unanswered alert without a choice, which answers its last button.
  bool dismiss();

 private:
  struct PendingAlert {
    AlertRequest request;
    Completion completion;
  };

  static std::size_t buttonCount(const AlertRequest& alert);

  std::vector<AlertRequest> presented_;
  std::deque<PendingAlert> pending_;
};

}  // namespace glimmet
