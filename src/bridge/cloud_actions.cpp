#include "bridge/cloud_actions.h"

#include <string>
#include <utility>

#include "cloud/plumora_cloud_account.h"

namespace glimmet {

std::function<void(CloudResult<Json>)> CloudActions::completion(std::int64_t messageId) const {
  return [context = context_, messageId](CloudResult<Json> result) {
    replyOnMainQueue(context.alive, context.replies(), messageId,
                     result.ok() ? BridgeReply::resolve(result.value())
                                 : BridgeReply::rejection(result.failure().message));
  };
}

void CloudActions::invalid(std::int64_t messageId) const {
  completion(messageId)(cloudFailure(kInvalidRequest));
}

void CloudActions::cloudLogin(std::int64_t messageId) {
  context_.services.cloud.beginLogin(completion(messageId));
}

void CloudActions::cloudPoll(std::int64_t messageId) {
  context_.services.cloud.pollLogin(completion(messageId));
}

void CloudActions::cloudLogout(std::int64_t messageId) {
  context_.services.cloud.logout(completion(messageId));
}

void CloudActions::cloudOpen(std::int64_t messageId, const Json& value) {
  if (!value.is_string()) return invalid(messageId);
  completion(messageId)(Json(context_.services.cloud.open(value.get<std::string>())));
}

void CloudActions::cloudAsset(std::int64_t messageId, const Json& value) {
  if (!value.is_string()) return invalid(messageId);
  context_.services.cloud.asset(value.get<std::string>(), false, completion(messageId));
}

void CloudActions::cloudSaveAsset(std::int64_t messageId, const Json& value) {
  if (!value.is_string()) return invalid(messageId);
  context_.services.cloud.asset(value.get<std::string>(), true, completion(messageId));
}

void CloudActions::cloudRequest(std::int64_t messageId, const Json& value) {
  if (!value.is_object()) return invalid(messageId);
  context_.services.cloud.request(value, completion(messageId));
}

void CloudActions::cloudUpload(std::int64_t messageId, const Json& value) {
  if (!value.is_object()) return invalid(messageId);
  context_.services.cloud.upload(value, completion(messageId));
}

}  // namespace glimmet
