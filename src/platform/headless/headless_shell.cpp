#include "platform/headless/headless_shell.h"

#include <utility>

#include "core/executors.h"

namespace glimmet {

void HeadlessWebView::evaluate(const std::string& script, EvaluationCompletion completion) {
  // An observed view keeps nothing: a long harness session would otherwise
  // hold every reply it ever printed.
  if (observer_) {
    observer_(script);
  } else {
    scripts_.push_back(script);
  }
  if (completion) MainQueue::shared().post(std::move(completion));
}

std::vector<std::string> HeadlessWebView::takeScripts() {
  std::vector<std::string> fresh(scripts_.begin() + static_cast<std::ptrdiff_t>(taken_),
                                 scripts_.end());
  taken_ = scripts_.size();
  return fresh;
}

void HeadlessCreatorPanel::setLevel(PanelLevel level) {
  level_ = level;
  levels_.push_back(level);
}

void HeadlessCreatorPanel::present() {
  visible_ = true;
  key_ = true;
  ++frontOrders_;
}

void HeadlessCreatorPanel::showInactive() {
  visible_ = true;
  ++frontOrders_;
}

void HeadlessCreatorPanel::hide() {
  key_ = false;
  visible_ = false;
}

void HeadlessPopUpMenu::popUp(const PopUpMenuRequest& request, Completion completion) {
  close(std::nullopt);
  requests_.push_back(request);
  completion_ = std::move(completion);
}

std::optional<PopUpMenuRequest> HeadlessPopUpMenu::open() const {
  if (!completion_) return std::nullopt;
  return requests_.back();
}

bool HeadlessPopUpMenu::choose(std::size_t index) { return close(index); }

bool HeadlessPopUpMenu::dismiss() { return close(std::nullopt); }

bool HeadlessPopUpMenu::close(std::optional<std::size_t> chosen) {
  if (!completion_) return false;
  Completion completion = std::move(*completion_);
  completion_.reset();
  completion(chosen);
  return true;
}

void HeadlessAccessibility::requestTrust() {
  ++requests_;
  if (grantsOnRequest_) trusted_ = true;
}

void HeadlessApplicationActivity::activate() {
  active_ = true;
  ++activations_;
}

}  // namespace glimmet
