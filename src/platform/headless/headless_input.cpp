#include "platform/headless/headless_input.h"

#include <utility>

#include "core/executors.h"

namespace glimmet {

std::optional<HotKeys::Id> HeadlessHotKeys::registerHotKey(const KeyCombination& combination) {
  if (heldElsewhere_.count(key(combination)) != 0) return std::nullopt;
  const Id id = next_++;
  registered_.emplace(id, combination);
  return id;
}

bool HeadlessHotKeys::isRegistered(const KeyCombination& combination) const {
  for (const auto& [id, registered] : registered_) {
    if (registered == combination) return true;
  }
  return false;
}

bool HeadlessHotKeys::press(const KeyCombination& combination) {
  if (!isRegistered(combination) || !handler_) return false;
  MainQueue::shared().post([this] {
    if (handler_) handler_();
  });
  return true;
}

void HeadlessSettingsWindow::present(const SettingsWindowContent& content,
                                     SettingsWindowEvents& events) {
  if (events_ == nullptr) content_ = content;
  events_ = &events;
  visible_ = true;
  ++presentations_;
}

void HeadlessSettingsWindow::setRecorder(const std::string& title, bool recording) {
  content_.recorderTitle = title;
  recording_ = recording;
}

}  // namespace glimmet
