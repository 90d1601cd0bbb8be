#pragma once

// The page's way into the library: the history bridge actions. Each call takes
// the page's message id and argument, runs the disk work on the history queue,
// does clipboard and file-manager work on the main queue, and hands exactly one
// reply to the reply sink on the main queue, in the order the calls came.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "core/bridge_reply.h"
#include "core/executors.h"
#include "core/json.h"
#include "core/lifetime.h"
#include "core/result.h"
#include "history/plumora_history.h"

namespace glimmet {

class Clipboard;
class Workspace;

class HistoryActions {
 public:
  static constexpr const char* kQueueLabel = "app.plumora.history";
  static constexpr std::size_t kMaxTrashBatch = 500;

  // `historyQueue` must be serial; every reference must outlive the actions and
  // the work they have queued on the history queue.
  HistoryActions(const PlumoraHistory& store, Executor& historyQueue, Clipboard& clipboard,
                 Workspace& workspace, ReplySink replies);

  void historyList(std::int64_t messageId, const Json& value);
  void historyImage(std::int64_t messageId, const Json& value);
  void historySave(std::int64_t messageId, const Json& value);
  void libraryAction(std::int64_t messageId, const Json& value);
  void libraryTrash(std::int64_t messageId, const Json& value);
  void libraryMedia(std::int64_t messageId, const Json& value);
  void libraryPreview(std::int64_t messageId, const Json& value);

  // "plumora-video:<id>": the page hands it to the native video player.
  static std::string videoToken(const std::string& id);
  // The resource route that serves a work's image to the page.
  static std::string previewUrl(const std::string& id);

 private:
  // Runs `work` on the history queue and replies with its value or its failure.
  void runOnHistoryQueue(std::int64_t messageId, std::function<BridgeReply()> work);
  void reply(std::int64_t messageId, BridgeReply answer);
  void mediaAction(std::int64_t messageId, Result<std::string> id, const std::string& action);
  void mediaUrl(std::int64_t messageId, const Json& value, bool preview);

  const PlumoraHistory& store_;
  Executor& historyQueue_;
  Clipboard& clipboard_;
  Workspace& workspace_;
  ReplySink replies_;
  // Replies already queued for the main thread check it, so none reaches a
  // destroyed sink.
  Lifetime lifetime_;
};

}  // namespace glimmet
