#include "bridge/cloud_actions.h"

#include <utility>

#include "cloud/plumora_cloud_account.h"
#include "core/executors.h"

namespace glimmet {

std::function<void(CloudResult<Json>)> CloudActions::completion(std::int64_t messageId) const {
  return [context = context_, messageId](CloudResult<Json> result) {
    MainQueue::shared().post([context, messageId, result = std::move(result)] {
      if (context.alive.expired()) return;
      context.reply(messageId, result.ok() ? BridgeReply::resolve(result.value())
                                           : BridgeReply::rejection(result.failure().message));
    });
  };
}

bool CloudActions::handle(const BridgeMessage& message) {
  const std::string& action = message.action;
  const Json& value = message.value;
  PlumoraCloudAccount& cloud = context_.services.cloud;
  auto answer = completion(message.id);
  const auto invalid = [&] { answer(cloudFailure(kInvalidRequest)); };

  if (action == "cloudLogin") {
    cloud.beginLogin(answer);
  } else if (action == "cloudPoll") {
    cloud.pollLogin(answer);
  } else if (action == "cloudLogout") {
    cloud.logout(answer);
  } else if (action == "cloudOpen") {
    if (!value.is_string()) return invalid(), true;
    answer(Json(cloud.open(value.get<std::string>())));
  } else if (action == "cloudAsset" || action == "cloudSaveAsset") {
    if (!value.is_string()) return invalid(), true;
    cloud.asset(value.get<std::string>(), action == "cloudSaveAsset", answer);
  } else if (action == "cloudRequest") {
    if (!value.is_object()) return invalid(), true;
    cloud.request(value, answer);
  } else if (action == "cloudUpload") {
    if (!value.is_object()) return invalid(), true;
    cloud.upload(value, answer);
  } else {
    return false;
  }
  return true;
}

}  // namespace glimmet
