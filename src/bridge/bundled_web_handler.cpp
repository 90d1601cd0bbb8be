#include "bridge/bundled_web_handler.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>

#include "core/files.h"
#include "core/result.h"

namespace glimmet {
namespace fs = std::filesystem;

namespace {

constexpr const char* kInvalidAddress = "本地资源地址无效";
constexpr const char* kOutOfBounds = "本地资源越界";
constexpr const char* kInvalidPreview = "图片预览地址无效";
constexpr const char* kNotAnImage = "不是图片资源";
constexpr const char* kNoResources = "本地资源缺失";
constexpr const char* kMissingOrTooLarge = "资源不存在或过大";
constexpr std::string_view kPreviewRoute = "history-preview";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent escapes decoded; none when an escape is malformed.
std::optional<std::string> percentDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return decoded;
}

// The decoded path of a "plumora://local" URL; none for any other URL. Parsed
// by hand rather than with a general URL parser, because those remove dot
// segments (even encoded ones) and would hide a traversal that must be refused.
// The authority must be exactly "local": no user, password or port, not even empty.
std::optional<std::string> localPath(std::string_view url) {
  constexpr std::string_view kPrefix = "plumora://";
  if (!url.starts_with(kPrefix)) return std::nullopt;
  url.remove_prefix(kPrefix.size());
  const std::size_t authorityEnd = std::min(url.find_first_of("/?#"), url.size());
  if (url.substr(0, authorityEnd) != "local") return std::nullopt;
  url.remove_prefix(authorityEnd);
  return percentDecoded(url.substr(0, url.find_first_of("?#")));
}

// The path's pieces between slashes; repeated and trailing slashes count for nothing.
std::vector<std::string> pathPieces(const std::string& path) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) pieces.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

SchemeResponse okResponse(std::string body, std::string contentType) {
  SchemeResponse response;
  response.contentType = std::move(contentType);
  response.headers = {{"Content-Type", response.contentType},
                      {"Content-Length", std::to_string(body.size())},
                      {"Access-Control-Allow-Origin", "*"},
                      {"X-Content-Type-Options", "nosniff"}};
  response.body = std::move(body);
  return response;
}

SchemeResponse previewResponse(const PlumoraHistory& history,
                               const std::vector<std::string>& pieces) {
  if (pieces.size() != 3 || pieces[2] != "image.png") throw LocalAgentFailure(kInvalidPreview);
  const fs::path media = history.mediaFile(pieces[1]);
  if (media.extension() != ".png") throw LocalAgentFailure(kNotAnImage);
  return okResponse(readRegularFileNoFollow(media, PlumoraHistory::kMaxImageBytes,
                                            PlumoraHistory::kUnreadableMedia),
                    "image/png");
}

SchemeResponse packagedFileResponse(const fs::path& webDirectory,
                                    const std::vector<std::string>& pieces) {
  if (webDirectory.empty()) throw LocalAgentFailure(kNoResources);
  fs::path candidate = webDirectory;
  if (pieces.empty()) candidate /= "index.html";
  for (const std::string& piece : pieces) candidate /= piece;

  // The web directory itself is not a file to serve, so the file must lie strictly below it.
  const std::optional<fs::path> root = resolvedPath(webDirectory);
  const std::optional<fs::path> file = resolvedPath(candidate);
  // A candidate that cannot be resolved at all (a name too long, a link loop)
  // names nothing to serve; it has not escaped.
  if (!file) throw LocalAgentFailure(kMissingOrTooLarge);
  if (!root || !liesBelow(*root, *file)) throw LocalAgentFailure(kOutOfBounds);

  struct stat info {};
  if (::stat(file->c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > BundledWebHandler::kMaxResourceBytes) {
    throw LocalAgentFailure(kMissingOrTooLarge);
  }
  // The read checks the opened file again, so a file swapped after the check
  // for a link, a FIFO or a larger file is refused the same way.
  return okResponse(
      readRegularFileNoFollow(*file, BundledWebHandler::kMaxResourceBytes, kMissingOrTooLarge),
      BundledWebHandler::contentType(*file));
}

}  // namespace

struct BundledWebHandler::State {
  State(const PlumoraHistory& store, fs::path web) : history(store), webDirectory(std::move(web)) {}

  SchemeResponse resource(const std::string& url) const {
    const std::optional<std::string> path = localPath(url);
    if (!path) throw LocalAgentFailure(kInvalidAddress);
    const std::vector<std::string> pieces = pathPieces(*path);
    if (path->find('\0') != std::string::npos ||
        std::find(pieces.begin(), pieces.end(), "..") != pieces.end()) {
      throw LocalAgentFailure(kOutOfBounds);
    }
    if (!pieces.empty() && pieces.front() == kPreviewRoute) return previewResponse(history, pieces);
    return packagedFileResponse(webDirectory, pieces);
  }

  // Takes the task out of the active set; answers whether it was still there,
  // that is, whether it still wants its answer.
  bool finish(const SchemeTask& task) {
    std::lock_guard guard(lock);
    return active.erase(&task) != 0;
  }

  const PlumoraHistory& history;
  const fs::path webDirectory;
  std::mutex lock;
  std::set<const SchemeTask*> active;
};

BundledWebHandler::BundledWebHandler(const PlumoraHistory& history, fs::path webDirectory,
                                     Executor& files)
    : state_(std::make_shared<State>(history, std::move(webDirectory))), files_(files) {}

void BundledWebHandler::start(std::shared_ptr<SchemeTask> task) {
  std::string url = task->url();
  {
    std::lock_guard guard(state_->lock);
    state_->active.insert(task.get());
  }
  // The work holds the task until the answer is delivered or dropped, so its
  // address stays a unique identity in the active set meanwhile.
  files_.post([state = state_, task = std::move(task), url = std::move(url)]() mutable {
    Result<SchemeResponse> answer = resultOf([&] { return state->resource(url); });
    MainQueue::shared().post(
        [state = std::move(state), task = std::move(task), answer = std::move(answer)]() mutable {
          if (!state->finish(*task)) return;
          if (answer) {
            task->respond(std::move(answer).value());
          } else {
            task->fail(answer.failure());
          }
        });
  });
}

void BundledWebHandler::stop(const SchemeTask& task) { state_->finish(task); }

SchemeResponse BundledWebHandler::resource(const std::string& url) const {
  return state_->resource(url);
}

std::string BundledWebHandler::contentType(const fs::path& file) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kTypes{{
      {"html", "text/html"},
      {"js", "text/javascript"},
      {"css", "text/css"},
      {"json", "application/json"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"webp", "image/webp"},
      {"svg", "image/svg+xml"},
      {"gif", "image/gif"},
      {"woff2", "font/woff2"},
      {"woff", "font/woff"},
      {"txt", "text/plain"},
  }};
  std::string extension = file.extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  for (const auto& [known, type] : kTypes) {
    if (extension == known) return std::string(type);
  }
  return "application/octet-stream";
}

}  // namespace glimmet
