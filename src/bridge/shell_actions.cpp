#include "bridge/shell_actions.h"

#include <optional>
#include <utility>

namespace glimmet {

namespace {

BridgeReply boolean(bool value) { return BridgeReply::literal(value ? "true" : "false"); }

}  // namespace

void ShellActions::appearance(std::int64_t messageId, const Json& value) {
  std::optional<Json> applied = context_.shell.applyAppearance(value);
  if (!applied) return context_.reply(messageId, BridgeReply::fixedRejection(kInvalidAppearance));
  context_.reply(messageId, BridgeReply::resolve(std::move(*applied)));
}

void ShellActions::accessibility(std::int64_t messageId) {
  context_.reply(messageId, boolean(context_.platform.accessibility.isTrusted()));
}

void ShellActions::requestAccessibility(std::int64_t messageId) {
  context_.platform.accessibility.requestTrust();
  context_.reply(messageId, boolean(context_.platform.accessibility.isTrusted()));
}

void ShellActions::settings(std::int64_t messageId) {
  context_.shell.openSettings();
  context_.reply(messageId, boolean(true));
}

void ShellActions::setupAgent(std::int64_t messageId) {
  context_.shell.openAgentSetup();
  context_.reply(messageId, BridgeReply::literal("{opened:true}"));
}

void ShellActions::layoutHint(std::int64_t messageId) {
  context_.reply(messageId, BridgeReply::literal("null"));
}

}  // namespace glimmet
