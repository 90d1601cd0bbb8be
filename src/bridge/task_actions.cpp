#include "bridge/task_actions.h"

#include <chrono>
#include <sstream>

#include "bridge/bridge_script.h"
#include "surfaces/island_host.h"
#include "surfaces/task_feedback.h"

namespace glimmet {

namespace {

std::optional<std::string> optionalString(const Json& value, const char* key) {
  const auto found = value.find(key);
  if (found == value.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

bool flag(const Json& value, const char* key) {
  const auto found = value.find(key);
  return found != value.end() && found->is_boolean() && found->get<bool>();
}

}  // namespace

void TaskActions::taskState(std::int64_t messageId, const Json& value) {
  const std::optional<std::string> state =
      value.is_object() ? optionalString(value, "state") : std::nullopt;
  if (!state) return;
  ShellState& shell = context_.state();
  const TaskTransition transition = context_.services.feedback.update(
      *state, optionalString(value, "taskId"), flag(value, "sound"));

  if (transition.accepted && (*state == "idle" || *state == "working")) {
    shell.setTaskNoticeOwed(false);
  }
  if (transition.accepted && (*state == "working" || transition.notice) && flag(value, "present") &&
      !shell.pinned()) {
    context_.shell.presentTaskHUD();
  }
  if (transition.notice && context_.flags.notificationSmokeTest) {
    std::optional<std::string> frontmost;
    if (auto application = context_.platform.workspace.frontmostApplication()) {
      frontmost = application->bundleIdentifier;
    }
    context_.platform.clock.after(std::chrono::seconds(1),
                                  [context = context_, state = *state, frontmost, this] {
                                    if (context.alive.expired()) return;
                                    context.shell.printLine(smokeLine(state, frontmost));
                                  });
  }
  context_.reply(messageId, BridgeReply::literal(transition.accepted ? "true" : "false"));
}

std::string TaskActions::smokeLine(const std::string& state,
                                   const std::optional<std::string>& frontmost) const {
  const CreatorPanel& panel = *context_.platform.panel;
  const PlumoraTaskFeedback& feedback = context_.services.feedback;
  std::optional<std::string> front;
  if (auto application = context_.platform.workspace.frontmostApplication()) {
    front = application->bundleIdentifier;
  }
  // The island, which the page shrinks to the compact notice's size.
  const Rect& island = context_.services.islandHost.rect();
  std::ostringstream line;
  line << std::boolalpha << kSmokePrefix << state << " pinned=" << context_.state().pinned()
       << " level=" << (panel.level() == PanelLevel::floating ? "floating" : "normal")
       << " frames=" << feedback.frame() << " sound=" << feedback.soundStatus()
       << " plays=" << feedback.soundPlayCount() << " visible=" << panel.isVisible()
       << " key=" << panel.isKey() << " frontPreserved=" << (front == frontmost)
       << " geometry=" << island.x << "," << island.y << "," << island.width << ","
       << island.height;
  return line.str();
}

void TaskActions::previewSound(std::int64_t messageId) {
  PlumoraTaskFeedback& feedback = context_.services.feedback;
  feedback.playSound();
  context_.reply(messageId,
                 BridgeReply::literal(feedback.soundStatus() == "playing" ? "true" : "false"));
}

void TaskActions::previewTrace(std::int64_t messageId, const Json& value) {
  if (!context_.flags.previewTrace || !value.is_object()) {
    return context_.reply(messageId, BridgeReply::fixedRejection(kPreviewDisabled));
  }
  context_.shell.printLine(kPreviewPrefix + json(value));
  context_.reply(messageId, BridgeReply::literal("true"));
}

}  // namespace glimmet
