#include "history/history_actions.h"

#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "agents/local_agent_manager.h"
#include "core/files.h"
#include "core/result.h"
#include "platform/clipboard.h"
#include "platform/workspace.h"

namespace glimmet {
namespace fs = std::filesystem;

namespace {

constexpr const char* kInvalidArgument = "历史参数无效";
constexpr const char* kInvalidLibraryAction = "资源操作无效";
constexpr const char* kInvalidTrashList = "清理列表无效";
constexpr const char* kMissingName = "请输入作品名称";
constexpr const char* kOk = "{ok:true}";
constexpr const char* kNotOk = "{ok:false}";

bool isMediaAction(const std::string& action) {
  return action == "copy" || action == "copyPath" || action == "reveal";
}

// The ids of a trash request: 1 to 500 distinct strings; none otherwise.
std::optional<std::vector<std::string>> trashIds(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  const auto ids = value.find("ids");
  if (ids == value.end() || !ids->is_array() || ids->empty() ||
      ids->size() > HistoryActions::kMaxTrashBatch) {
    return std::nullopt;
  }
  std::vector<std::string> result;
  std::set<std::string> seen;
  for (const Json& id : *ids) {
    if (!id.is_string() || !seen.insert(id.get<std::string>()).second) return std::nullopt;
    result.push_back(id.get<std::string>());
  }
  return result;
}

// The PNG to put on the clipboard for `file`: the image it holds when it is a
// PNG file that loads; none for a video or an unreadable image.
std::optional<Bytes> clipboardImage(const fs::path& file) {
  if (file.extension() != ".png") return std::nullopt;
  try {
    const std::string bytes =
        readFileBounded(file, PlumoraHistory::kMaxImageBytes, PlumoraHistory::kUnreadableMedia);
    return LocalAgentManager::decodeBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          bytes.size())
        .data;
  } catch (const LocalAgentFailure&) {
    return std::nullopt;
  }
}

}  // namespace

HistoryActions::HistoryActions(const PlumoraHistory& store, Executor& historyQueue,
                               Clipboard& clipboard, Workspace& workspace, ReplySink replies)
    : store_(store),
      historyQueue_(historyQueue),
      clipboard_(clipboard),
      workspace_(workspace),
      replies_(std::move(replies)) {}

std::string HistoryActions::videoToken(const std::string& id) { return "plumora-video:" + id; }

std::string HistoryActions::previewUrl(const std::string& id) {
  return "plumora://local/history-preview/" + id + "/image.png";
}

void HistoryActions::reply(std::int64_t messageId, BridgeReply answer) {
  MainQueue::shared().post(
      [this, alive = std::weak_ptr<int>(lifetime_), messageId, answer = std::move(answer)] {
        if (!alive.expired()) replies_(messageId, answer);
      });
}

void HistoryActions::runOnHistoryQueue(std::int64_t messageId, std::function<BridgeReply()> work) {
  historyQueue_.post([this, messageId, work = std::move(work)] {
    Result<BridgeReply> answer = resultOf(work);
    reply(messageId,
          answer ? std::move(answer).value() : BridgeReply::rejection(answer.failure().message()));
  });
}

void HistoryActions::historyList(std::int64_t messageId, const Json& /*value*/) {
  runOnHistoryQueue(messageId, [this] { return BridgeReply::resolve(store_.list()); });
}

void HistoryActions::historyImage(std::int64_t messageId, const Json& value) {
  runOnHistoryQueue(messageId, [this, value] {
    if (!value.is_string()) throw LocalAgentFailure(kInvalidArgument);
    return BridgeReply::resolve(store_.image(value.get<std::string>()));
  });
}

void HistoryActions::historySave(std::int64_t messageId, const Json& value) {
  runOnHistoryQueue(messageId, [this, value] {
    if (!value.is_object()) throw LocalAgentFailure(kInvalidArgument);
    return BridgeReply::resolve(store_.save(value));
  });
}

void HistoryActions::libraryAction(std::int64_t messageId, const Json& value) {
  const auto field = [&value](const char* key) -> std::optional<std::string> {
    const auto found = value.find(key);
    if (found == value.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
  };
  const std::optional<std::string> id = value.is_object() ? field("id") : std::nullopt;
  const std::optional<std::string> action = value.is_object() ? field("action") : std::nullopt;
  if (!id || !action || (*action != "rename" && !isMediaAction(*action))) {
    reply(messageId, BridgeReply::fixedRejection(kInvalidLibraryAction));
    return;
  }
  if (isMediaAction(*action)) {
    mediaAction(messageId, *id, *action);
    return;
  }
  runOnHistoryQueue(messageId, [this, id = *id, name = field("name")] {
    if (!name) throw LocalAgentFailure(kMissingName);
    store_.rename(id, *name);
    return BridgeReply::literal(kOk);
  });
}

void HistoryActions::mediaAction(std::int64_t messageId, const std::string& id,
                                 const std::string& action) {
  historyQueue_.post([this, messageId, id, action] {
    Result<fs::path> file = resultOf([&] { return store_.mediaFile(id); });
    if (!file) {
      reply(messageId, BridgeReply::rejection(file.failure().message()));
      return;
    }
    std::optional<Bytes> image = action == "copy" ? clipboardImage(file.value()) : std::nullopt;
    MainQueue::shared().post([this, alive = std::weak_ptr<int>(lifetime_), messageId, action,
                              file = std::move(file).value(), image = std::move(image)] {
      if (alive.expired()) return;
      bool ok = true;
      if (action == "reveal") {
        workspace_.revealFile(file);
      } else if (action == "copyPath") {
        ok = clipboard_.writeText(file.string());
      } else {
        ok = image ? clipboard_.writeImage(*image) : clipboard_.writeFileUrls({file});
      }
      replies_(messageId, BridgeReply::literal(ok ? kOk : kNotOk));
    });
  });
}

void HistoryActions::libraryTrash(std::int64_t messageId, const Json& value) {
  std::optional<std::vector<std::string>> ids = trashIds(value);
  if (!ids) {
    reply(messageId, BridgeReply::fixedRejection(kInvalidTrashList));
    return;
  }
  runOnHistoryQueue(messageId, [this, ids = std::move(*ids)] {
    Json removed = Json::array();
    Json failed = Json::array();
    std::uintmax_t removedBytes = 0;
    for (const std::string& id : ids) {
      Result<std::uintmax_t> freed = resultOf([&] {
        const PlumoraHistory::Storage storage = store_.storage(id);
        store_.trash(id, workspace_);
        return storage.allocated;
      });
      if (freed) {
        removed.push_back(id);
        removedBytes += freed.value();
      } else {
        failed.push_back({{"id", id}, {"message", freed.failure().message()}});
      }
    }
    return BridgeReply::resolve(
        {{"removed", removed}, {"failed", failed}, {"removedBytes", removedBytes}});
  });
}

void HistoryActions::mediaUrl(std::int64_t messageId, const Json& value, bool preview) {
  runOnHistoryQueue(messageId, [this, value, preview] {
    if (!value.is_string()) throw LocalAgentFailure(kInvalidArgument);
    const std::string id = value.get<std::string>();
    if (store_.mediaFile(id).extension() == ".mp4") return BridgeReply::resolve(videoToken(id));
    return BridgeReply::resolve(preview ? previewUrl(id) : store_.image(id));
  });
}

void HistoryActions::libraryMedia(std::int64_t messageId, const Json& value) {
  mediaUrl(messageId, value, false);
}

void HistoryActions::libraryPreview(std::int64_t messageId, const Json& value) {
  mediaUrl(messageId, value, true);
}

}  // namespace glimmet
