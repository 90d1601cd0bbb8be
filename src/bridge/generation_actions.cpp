#include "bridge/generation_actions.h"

#include <string>
#include <utility>

#include "agents/local_agent_manager.h"
#include "bridge/bridge_script.h"
#include "imageapi/custom_image_api.h"

namespace glimmet {

bool GenerationActions::idle() const { return !apiBusy_ && !localTaskID_; }

void GenerationActions::apiStatus(std::int64_t messageId) {
  context_.reply(messageId, BridgeReply::resolve(context_.services.imageAPI.status()));
}

void GenerationActions::apiConfigure(std::int64_t messageId, const Json& value) {
  if (!idle() || !value.is_object()) {
    return context_.reply(messageId, BridgeReply::rejection(kConfigureBusy));
  }
  Result<Json> status = resultOf([&] { return context_.services.imageAPI.configure(value); });
  context_.reply(messageId, BridgeContext::answer(status));
}

void GenerationActions::apiCancel(std::int64_t messageId) {
  const bool cancelled = context_.services.imageAPI.cancel();
  context_.reply(messageId, BridgeReply::literal(cancelled ? "true" : "false"));
}

std::function<void(Result<Json>)> GenerationActions::apiCompletion(std::int64_t messageId) {
  // Set before the call: the client answers some refusals before it returns.
  apiBusy_ = true;
  return [this, alive = context_.alive, messageId](Result<Json> result) {
    if (alive.expired()) return;
    apiBusy_ = false;
    context_.reply(messageId, BridgeContext::answer(result));
  };
}

void GenerationActions::apiCheck(std::int64_t messageId) {
  if (!idle()) return context_.reply(messageId, BridgeReply::fixedRejection(kRequestBusy));
  context_.services.imageAPI.check(apiCompletion(messageId));
}

void GenerationActions::apiGenerate(std::int64_t messageId, const Json& value) {
  if (!idle()) return context_.reply(messageId, BridgeReply::fixedRejection(kRequestBusy));
  const Json input = value.is_object() ? value : Json::object();
  context_.services.imageAPI.generate(input, apiCompletion(messageId));
}

void GenerationActions::localGenerate(std::int64_t messageId, const Json& value) {
  if (!idle() || !value.is_object()) {
    return context_.reply(messageId, BridgeReply::fixedRejection(kLocalBusyOrInvalid));
  }
  // The manager answers on the main queue, so the completion always runs after
  // the task id below has been stored.
  auto taskID = std::make_shared<std::string>();
  auto progress = [context = context_](Json report) {
    if (context.alive.expired()) return;
    context.shell.evaluate(eventScript(PageDetailEvent::kLocalProgress, json(report)));
  };
  auto completion = [this, alive = context_.alive, messageId, taskID](Result<Json> result) {
    if (alive.expired()) return;
    if (localTaskID_ == *taskID) localTaskID_.reset();
    context_.reply(messageId, BridgeContext::answer(result));
  };
  *taskID = context_.services.localAgents.generate(value, progress, completion);
  localTaskID_ = *taskID;
}

void GenerationActions::cancelLocal(std::int64_t messageId) {
  const bool cancelled = localTaskID_ && context_.services.localAgents.cancel(*localTaskID_);
  context_.reply(messageId, BridgeReply::literal(cancelled ? "true" : "false"));
}

void GenerationActions::agents(std::int64_t messageId) {
  context_.services.localAgents.inventory([context = context_, messageId](Json inventory) {
    if (context.alive.expired()) return;
    context.reply(messageId, BridgeReply::resolve(std::move(inventory)));
  });
}

}  // namespace glimmet
