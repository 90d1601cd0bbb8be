#include "platform/headless/headless_alerts.h"

namespace glimmet {

void HeadlessAlerts::present(const AlertRequest& alert, Completion completion) {
  presented_.push_back(alert);
  pending_.push_back({alert, std::move(completion)});
}

std::optional<AlertRequest> HeadlessAlerts::pending() const {
  if (pending_.empty()) return std::nullopt;
  return pending_.front().request;
}

bool HeadlessAlerts::answer(std::size_t index) {
  if (pending_.empty() || index >= buttonCount(pending_.front().request)) return false;
  // Off the queue first: the completion runs once and may present the next alert.
  PendingAlert alert = std::move(pending_.front());
  pending_.pop_front();
  if (alert.completion) alert.completion(index);
  return true;
}

bool HeadlessAlerts::dismiss() {
  if (pending_.empty()) return false;
  return answer(buttonCount(pending_.front().request) - 1);
}

std::size_t HeadlessAlerts::buttonCount(const AlertRequest& alert) {
  // An alert without titles still has its acknowledging button.
  return alert.buttonTitles.empty() ? 1 : alert.buttonTitles.size();
}

}  // namespace glimmet
