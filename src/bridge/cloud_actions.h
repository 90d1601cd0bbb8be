#pragma once

// The page's cloud account actions. Every answer, including the refusal of a
// value of the wrong shape and the synchronous answer of "cloudOpen", travels
// the same path: the account's completion (on any thread) hops to the main
// queue, where the reply is sent if the dispatcher still exists.

#include <cstdint>
#include <string>

#include "bridge/bridge_context.h"
#include "bridge/bridge_message.h"
#include "cloud/cloud_error.h"

namespace glimmet {

class CloudActions {
 public:
  static constexpr const char* kInvalidRequest = "云端请求无效";

  explicit CloudActions(const BridgeContext& context) : context_(context) {}

  // Handles any action whose name begins with "cloud"; false for an unknown one.
  bool handle(const BridgeMessage& message);

 private:
  // The completion that answers `messageId` on the main queue.
  std::function<void(CloudResult<Json>)> completion(std::int64_t messageId) const;

  BridgeContext context_;
};

}  // namespace glimmet
