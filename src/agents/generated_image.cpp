// Picks up the image that one local generation run produced, and nothing else:
// not an earlier run's image, not a file reached through a planted symbolic
// link, not a text answer that merely claims an image was made.

#include "agents/generated_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "agents/local_command.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "core/uuid.h"
#include "imaging/image_gate.h"

namespace glimmet {

namespace fs = std::filesystem;

namespace {

// A candidate file larger than the gate takes is never read.
constexpr std::uintmax_t kMaxCandidateBytes = image_gate::kMaxEncodedBytes;
constexpr auto kCreationSlack = std::chrono::seconds(2);
constexpr std::size_t kMaxEvents = 200;
constexpr std::size_t kMaxEventText = 99;
constexpr std::size_t kMaxFinalMessage = 1000;

constexpr char kTaskLinkMessage[] = "本次生成目录包含异常链接，已拒绝读取。";
constexpr char kUnreadableMessage[] = "本次生成图片已消失或无法读取，请重试。";
constexpr char kInvalidThreadMessage[] = "生成任务编号无效。";
constexpr char kThreadLinkMessage[] = "生成目录包含异常链接，已拒绝读取。";
constexpr char kNoThreadFolderMessage[] =
    "本次任务未返回真实图片。Agent 的文字答复不代表已经生图，请检查本机 Agent 账号和模型能力。";
constexpr char kNoCandidateMessage[] = "本次任务未返回真实图片。不会读取其他任务的历史图片。";

std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> result;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
    result.push_back(text.substr(start, end - start));
  }
  result.push_back(text.substr(start));
  return result;
}

fs::path resolved(const fs::path& path) {
  std::error_code error;
  auto result = fs::weakly_canonical(path, error);
  return error ? path.lexically_normal() : result;
}

bool acceptedExtension(const fs::path& path) {
  std::string extension = path.extension().string();
  if (extension.empty()) return false;
  extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == "png" || extension == "jpg" || extension == "jpeg" || extension == "webp";
}

struct Candidate {
  fs::path path;
  fs::file_time_type modified;
};

// Acceptable files of `directory` (whose resolved form is `resolvedDirectory`),
// newest first; none when the directory cannot be listed.
std::optional<std::vector<Candidate>> imageCandidates(const fs::path& directory,
                                                      const fs::path& resolvedDirectory,
                                                      fs::file_time_type createdAt) {
  std::error_code error;
  fs::directory_iterator it(directory, error);
  if (error) return std::nullopt;
  std::vector<Candidate> found;
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    if (error) break;
    const auto& entry = *it;
    if (!acceptedExtension(entry.path())) continue;
    std::error_code entryError;
    const auto status = entry.symlink_status(entryError);
    if (entryError || !fs::is_regular_file(status)) continue;
    const auto size = entry.file_size(entryError);
    if (entryError || size > kMaxCandidateBytes) continue;
    auto modified = entry.last_write_time(entryError);
    if (entryError) modified = fs::file_time_type::min();
    if (modified < createdAt - kCreationSlack) continue;
    if (resolved(entry.path().parent_path()) != resolvedDirectory) continue;
    found.push_back({entry.path(), modified});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Candidate& a, const Candidate& b) { return a.modified > b.modified; });
  return found;
}

// Reads the chosen file without following a link that may have replaced it
// since it was listed, and bounds it again on the open descriptor.
Bytes readCandidate(const fs::path& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat info {};
  if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > kMaxCandidateBytes) {
    throw LocalAgentFailure(kUnreadableMessage);
  }
  Bytes bytes(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = ::read(file.get(), bytes.data() + done, bytes.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) throw LocalAgentFailure(kUnreadableMessage);
    done += static_cast<std::size_t>(count);
  }
  return bytes;
}

}  // namespace

namespace generated_image {

bool validThreadID(std::string_view identifier) {
  return identifier.size() == 36 && Uuid::parse(identifier).has_value();
}

std::optional<std::string> threadID(std::string_view output) {
  std::optional<std::string> found;
  for (const auto line : lines(output)) {
    const Json event = parseJson(line);
    if (!event.is_object() || event.value("type", Json()) != "thread.started") continue;
    const auto id = event.find("thread_id");
    if (id == event.end() || !id->is_string()) continue;
    const auto& text = id->get_ref<const std::string&>();
    if (!validThreadID(text)) continue;
    if (!found) {
      found = text;
    } else if (*found != text) {
      return std::nullopt;  // two runs claim this output: trust neither
    }
  }
  return found;
}

std::optional<DecodedImage> ownTaskImage(const fs::path& taskDirectory,
                                         fs::file_time_type createdAt) {
  const fs::path folder = taskDirectory / "generated_images";
  const fs::path resolvedFolder = resolved(folder);
  if (resolvedFolder != resolved(taskDirectory) / "generated_images") {
    throw LocalAgentFailure(kTaskLinkMessage);
  }
  const auto found = imageCandidates(folder, resolvedFolder, createdAt);
  if (!found || found->empty()) return std::nullopt;
  return image_gate::decodeBytes(readCandidate(found->front().path));
}

DecodedImage ownThreadImage(const std::string& threadID, const fs::path& codexHome,
                            fs::file_time_type createdAt) {
  if (!validThreadID(threadID)) throw LocalAgentFailure(kInvalidThreadMessage);
  const fs::path root = codexHome / "generated_images";
  const fs::path folder = root / threadID;
  const fs::path resolvedFolder = resolved(folder);
  if (resolvedFolder != resolved(root) / threadID) throw LocalAgentFailure(kThreadLinkMessage);
  const auto found = imageCandidates(folder, resolvedFolder, createdAt);
  if (!found) throw LocalAgentFailure(kNoThreadFolderMessage);
  if (found->empty()) throw LocalAgentFailure(kNoCandidateMessage);
  return image_gate::decodeBytes(readCandidate(found->front().path));
}

void saveDiagnostics(const LocalCommandResult& result, const fs::path& taskDirectory) {
  const auto shortText = [](const Json& value) {
    return value.is_string() && value.get_ref<const std::string&>().size() <= kMaxEventText;
  };
  Json events = Json::array();
  std::string finalMessage;
  for (const auto line : lines(result.output)) {
    const Json event = parseJson(line);
    if (!event.is_object() || !shortText(event.value("type", Json()))) continue;
    Json record = {{"type", event["type"]}};
    const Json item = event.value("item", Json());
    if (item.is_object()) {
      if (shortText(item.value("type", Json()))) record["itemType"] = item["type"];
      if (shortText(item.value("status", Json()))) record["status"] = item["status"];
    }
    if (events.size() < kMaxEvents) events.push_back(std::move(record));
    if (event["type"] == "item.completed" && item.is_object() &&
        item.value("type", Json()) == "agent_message" && item.value("text", Json()).is_string()) {
      finalMessage = text::graphemePrefix(item["text"].get<std::string>(), kMaxFinalMessage);
    }
  }
  const Json diagnostics = {{"status", result.status},
                            {"cancelled", result.cancelled},
                            {"timedOut", result.timedOut},
                            {"events", std::move(events)},
                            {"finalMessage", finalMessage}};
  const fs::path file = taskDirectory / "diagnostics.json";
  try {
    writeFileAtomically(file, diagnostics.dump(2, ' ', false, Json::error_handler_t::replace),
                        kPrivateFileMode);
    ::chmod(file.c_str(), kPrivateFileMode);
  } catch (const LocalAgentFailure&) {
    // Diagnostics are a courtesy; a run never fails because of them.
  }
}

}  // namespace generated_image
}  // namespace glimmet
