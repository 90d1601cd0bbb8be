#include "history/history_actions.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "core/files.h"
#include "core/result.h"
#include "core/wire_names.h"
#include "imaging/image_gate.h"
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

// The page's id argument, checked on arrival, before its text is copied
// anywhere: a string no longer than a UUID's text. Longer text cannot name a
// work, so it is refused as a malformed id and never kept.
Result<std::string> idArgument(const Json& value) {
  if (!value.is_string()) return LocalAgentFailure(kInvalidArgument);
  const auto& id = value.get_ref<const std::string&>();
  if (id.size() > PlumoraHistory::kMaxIdLength)
    return LocalAgentFailure(PlumoraHistory::kInvalidId);
  return id;
}

// The value of `id`, or its failure thrown again on the history queue.
const std::string& checked(const Result<std::string>& id) {
  if (!id) throw id.failure();
  return id.value();
}

// At most a UUID's length of `id`, ending on a whole UTF-8 character: how a
// trash reply names an id that is too long to be one.
std::string shortened(std::string_view id) {
  std::size_t end = std::min(id.size(), PlumoraHistory::kMaxIdLength);
  while (end > 0 && end < id.size() && (static_cast<unsigned char>(id[end]) & 0xC0) == 0x80) {
    --end;
  }
  return std::string(id.substr(0, end));
}

// One id of a trash request, or the shortened text of one too long to be an id.
struct TrashId {
  std::string text;
  bool tooLong = false;
};

// The ids of a trash request: 1 to 500 distinct strings; none otherwise. Ids
// are compared in place, so overlong ones are never copied whole.
std::optional<std::vector<TrashId>> trashIds(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  const auto ids = value.find("ids");
  if (ids == value.end() || !ids->is_array() || ids->empty() ||
      ids->size() > HistoryActions::kMaxTrashBatch) {
    return std::nullopt;
  }
  std::vector<TrashId> result;
  std::set<std::string_view> seen;
  for (const Json& id : *ids) {
    if (!id.is_string()) return std::nullopt;
    const std::string_view text = id.get_ref<const std::string&>();
    if (!seen.insert(text).second) return std::nullopt;
    const bool tooLong = text.size() > PlumoraHistory::kMaxIdLength;
    result.push_back({tooLong ? shortened(text) : std::string(text), tooLong});
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
    return image_gate::decodeBytes(std::string_view(bytes)).data;
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

std::string HistoryActions::videoToken(const std::string& id) {
  return wire::kVideoTokenPrefix + id;
}

std::string HistoryActions::previewUrl(const std::string& id) {
  return wire::kPreviewPrefix + id + wire::kPreviewSuffix;
}

void HistoryActions::reply(std::int64_t messageId, BridgeReply answer) {
  replyOnMainQueue(lifetime_.guard(), replies_, messageId, std::move(answer));
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
  runOnHistoryQueue(messageId, [this, id = idArgument(value)] {
    return BridgeReply::resolve(store_.image(checked(id)));
  });
}

void HistoryActions::historySave(std::int64_t messageId, const Json& value) {
  runOnHistoryQueue(messageId, [this, value] {
    if (!value.is_object()) throw LocalAgentFailure(kInvalidArgument);
    return BridgeReply::resolve(store_.save(value));
  });
}

void HistoryActions::libraryAction(std::int64_t messageId, const Json& value) {
  const auto member = [&value](const char* key) -> const Json* {
    const auto found = value.is_object() ? value.find(key) : value.end();
    return found == value.end() ? nullptr : &*found;
  };
  const Json* id = member("id");
  const Json* action = member("action");
  const Json* name = member("name");
  const bool rename = action != nullptr && *action == "rename";
  // A missing name is the page's to prompt for; a name of another type is not.
  if (id == nullptr || !id->is_string() || action == nullptr ||
      !(rename || (action->is_string() && isMediaAction(action->get<std::string>()))) ||
      (rename && name != nullptr && !name->is_string())) {
    reply(messageId, BridgeReply::fixedRejection(kInvalidLibraryAction));
    return;
  }
  if (!rename) {
    mediaAction(messageId, idArgument(*id), action->get<std::string>());
    return;
  }
  runOnHistoryQueue(messageId,
                    [this, id = idArgument(*id),
                     name = name ? std::optional(name->get<std::string>()) : std::nullopt] {
                      if (!name) throw LocalAgentFailure(kMissingName);
                      store_.rename(checked(id), *name);
                      return BridgeReply::literal(kOk);
                    });
}

void HistoryActions::mediaAction(std::int64_t messageId, Result<std::string> id,
                                 const std::string& action) {
  historyQueue_.post([this, messageId, id = std::move(id), action] {
    Result<fs::path> file = resultOf([&] { return store_.mediaFile(checked(id)); });
    if (!file) {
      reply(messageId, BridgeReply::rejection(file.failure().message()));
      return;
    }
    std::optional<Bytes> image = action == "copy" ? clipboardImage(file.value()) : std::nullopt;
    MainQueue::shared().post([this, alive = lifetime_.guard(), messageId, action,
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
  std::optional<std::vector<TrashId>> ids = trashIds(value);
  if (!ids) {
    reply(messageId, BridgeReply::fixedRejection(kInvalidTrashList));
    return;
  }
  runOnHistoryQueue(messageId, [this, ids = std::move(*ids)] {
    Json removed = Json::array();
    Json failed = Json::array();
    std::uintmax_t removedBytes = 0;
    for (const TrashId& id : ids) {
      Result<std::uintmax_t> freed = resultOf([&] {
        if (id.tooLong) throw LocalAgentFailure(PlumoraHistory::kInvalidId);
        const PlumoraHistory::Storage storage = store_.storage(id.text);
        store_.trash(id.text, workspace_);
        return storage.allocated;
      });
      if (freed) {
        removed.push_back(id.text);
        removedBytes += freed.value();
      } else {
        failed.push_back({{"id", id.text}, {"message", freed.failure().message()}});
      }
    }
    return BridgeReply::resolve(
        {{"removed", removed}, {"failed", failed}, {"removedBytes", removedBytes}});
  });
}

void HistoryActions::mediaUrl(std::int64_t messageId, const Json& value, bool preview) {
  runOnHistoryQueue(messageId, [this, argument = idArgument(value), preview] {
    const std::string& id = checked(argument);
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
