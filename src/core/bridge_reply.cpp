#include "core/bridge_reply.h"

#include "core/executors.h"

namespace glimmet {

void replyOnMainQueue(LifetimeGuard owner, ReplySink sink, std::int64_t messageId,
                      BridgeReply answer) {
  MainQueue::shared().post(
      [owner = std::move(owner), sink = std::move(sink), messageId, answer = std::move(answer)] {
        if (!owner.expired()) sink(messageId, answer);
      });
}

}  // namespace glimmet
