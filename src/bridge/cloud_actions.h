#pragma once

// The page's cloud account actions. Every answer, including the refusal of a
// value of the wrong shape and the synchronous answer of "cloudOpen", travels
// the same path: the account's completion (on any thread) hops to the main
// queue, where the reply is sent if the dispatcher still exists.

#include <cstdint>
#include <functional>

#include "bridge/bridge_context.h"
#include "cloud/cloud_error.h"

namespace glimmet {

class CloudActions {
 public:
  static constexpr const char* kInvalidRequest = "云端请求无效";

  explicit CloudActions(const BridgeContext& context) : context_(context) {}

  void cloudLogin(std::int64_t messageId);
  void cloudPoll(std::int64_t messageId);
  void cloudLogout(std::int64_t messageId);
  void cloudOpen(std::int64_t messageId, const Json& value);
  void cloudAsset(std::int64_t messageId, const Json& value);
  void cloudSaveAsset(std::int64_t messageId, const Json& value);
  void cloudRequest(std::int64_t messageId, const Json& value);
  void cloudUpload(std::int64_t messageId, const Json& value);

 private:
  // The completion that answers `messageId` on the main queue.
  std::function<void(CloudResult<Json>)> completion(std::int64_t messageId) const;
  // Answers `messageId` with the refusal of a value of the wrong shape.
  void invalid(std::int64_t messageId) const;

  BridgeContext context_;
};

}  // namespace glimmet
