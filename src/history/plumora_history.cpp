#include "history/plumora_history.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <numeric>

#include "core/files.h"
#include "core/glib_ptr.h"
#include "core/text.h"
#include "core/uuid.h"
#include "core/wire_names.h"
#include "imaging/image_gate.h"
#include "platform/workspace.h"

namespace glimmet {
namespace fs = std::filesystem;

namespace {

constexpr const char* kOutOfBounds = "历史目录越界";
constexpr const char* kInvalidRecord = "资源记录无效";
constexpr const char* kInvalidRequest = "历史记录无效";
constexpr const char* kInvalidParent = "原作品编号无效";
constexpr const char* kInvalidName = "名称需为 1–200 个字符，且不能包含控制字符";
constexpr const char* kNoTrashLocation = "系统未返回废纸篓位置";
constexpr const char* kVideoNotImage = "视频不能作为图片读取";
constexpr const char* kUnnamed = "未命名资源";
// What the reader of a record says when its bytes are not JSON.
constexpr const char* kThumbnailFailed = "无法生成缩略图。";

constexpr std::size_t kSavedTitleCharacters = 24;
constexpr std::size_t kMaxRatioCharacters = 10;
constexpr std::size_t kMaxLabelCharacters = 128;
constexpr std::int64_t kMaxVersion = 9999;

using DirectoryPtr = GPtr<DIR, ::closedir>;

fs::path defaultRoot() { return userDataHome() / wire::kDataFolder / "history"; }

bool isVideo(const Json& record) {
  const auto kind = record.find("kind");
  return kind != record.end() && kind->is_string() &&
         kind->get_ref<const std::string&>() == "video";
}

struct stat linkStatus(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) throw fileFailure(errno);
  return info;
}

std::string nowInternetDateTime() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::int64_t clampedVersion(const Json& request) {
  const auto version = request.find("version");
  if (version == request.end()) return 1;
  if (version->is_number_unsigned()) {
    return static_cast<std::int64_t>(
        std::clamp<std::uint64_t>(version->get<std::uint64_t>(), 1, kMaxVersion));
  }
  if (version->is_number_integer()) return std::clamp<std::int64_t>(*version, 1, kMaxVersion);
  return 1;
}

const std::string* stringField(const Json& object, const char* key) {
  const auto field = object.find(key);
  if (field == object.end() || !field->is_string()) return nullptr;
  return &field->get_ref<const std::string&>();
}

// A PNG no larger than 320 pixels on its longer side, same aspect, built from
// the full image and carrying no metadata.
Bytes thumbnailPng(const Bytes& png) {
  static std::once_flag once;
  std::call_once(once, [] {
    if (VIPS_INIT("glimmet") != 0) vips_error_clear();
  });
  VipsImage* raw = nullptr;
  if (vips_thumbnail_buffer(const_cast<std::uint8_t*>(png.data()), png.size(), &raw,
                            PlumoraHistory::kThumbnailSide, "height",
                            PlumoraHistory::kThumbnailSide, "size", VIPS_SIZE_DOWN, nullptr) != 0) {
    vips_error_clear();
    throw LocalAgentFailure(kThumbnailFailed);
  }
  const GObjectPtr<VipsImage> thumbnail(raw);
  void* buffer = nullptr;
  std::size_t length = 0;
  if (vips_pngsave_buffer(thumbnail.get(), &buffer, &length, "strip", TRUE, nullptr) != 0) {
    vips_error_clear();
    throw LocalAgentFailure(kThumbnailFailed);
  }
  const GPtr<void, g_free> owned(buffer);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  return Bytes(bytes, bytes + length);
}

}  // namespace

struct PlumoraHistory::Checked {
  std::string id;
  Uuid uuid;
  fs::path directory;
  fs::path resolvedDirectory;
};

PlumoraHistory::PlumoraHistory(std::optional<fs::path> root)
    : PlumoraHistory(std::move(root), [](const fs::path& target, std::string_view bytes) {
        writeFileAtomically(target, bytes);
      }) {}

PlumoraHistory::PlumoraHistory(std::optional<fs::path> root, FileWriter writer)
    : root_(root ? std::move(*root) : defaultRoot()), writer_(std::move(writer)) {}

PlumoraHistory::Checked PlumoraHistory::check(const std::string& id) const {
  return check(id, resolvedPath(root_));
}

PlumoraHistory::Checked PlumoraHistory::check(const std::string& id,
                                              const std::optional<fs::path>& resolvedRoot) const {
  const std::optional<Uuid> uuid = Uuid::parse(id);
  if (!uuid) throw LocalAgentFailure(kInvalidId);
  // Works are stored under the canonical upper-case form; an id written in
  // another case still finds its work on a case-sensitive file system.
  fs::path candidate = root_ / id;
  struct stat info {};
  if (::lstat(candidate.c_str(), &info) != 0) {
    candidate = root_ / uuid->string();
    if (::lstat(candidate.c_str(), &info) != 0) candidate = root_ / id;
  }
  if (::lstat(candidate.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    throw LocalAgentFailure(kOutOfBounds);
  }
  std::optional<fs::path> resolvedCandidate = resolvedPath(candidate);
  if (!resolvedRoot || !resolvedCandidate || !liesBelow(*resolvedRoot, *resolvedCandidate)) {
    throw LocalAgentFailure(kOutOfBounds);
  }
  return Checked{id, *uuid, std::move(candidate), std::move(*resolvedCandidate)};
}

fs::path PlumoraHistory::directory(const std::string& id) const { return check(id).directory; }

Json PlumoraHistory::readRecordIn(const Checked& work) const {
  const std::string text =
      readRegularFileNoFollow(work.directory / "record.json", kMaxRecordBytes, kInvalidRecord);
  Json record = parseJson(text);
  if (record.is_discarded()) throw LocalAgentFailure(kUnreadableJsonMessage);
  const std::string* recordId = record.is_object() ? stringField(record, "id") : nullptr;
  if (recordId == nullptr || Uuid::parse(*recordId) != work.uuid) {
    throw LocalAgentFailure(kInvalidRecord);
  }
  return record;
}

Json PlumoraHistory::readRecord(const std::string& id) const { return readRecordIn(check(id)); }

fs::path PlumoraHistory::mediaFileIn(const Checked& work, const Json& record,
                                     std::uintmax_t* size) const {
  const bool video = isVideo(record);
  fs::path file = work.directory / (video ? "video.mp4" : "image.png");
  const struct stat info = linkStatus(file);
  const std::uintmax_t ceiling = video ? kMaxVideoBytes : kMaxImageBytes;
  if (!S_ISREG(info.st_mode) || static_cast<std::uintmax_t>(info.st_size) > ceiling) {
    throw LocalAgentFailure(kUnreadableMedia);
  }
  const std::optional<fs::path> resolvedFile = resolvedPath(file);
  if (!resolvedFile || !liesBelow(work.resolvedDirectory, *resolvedFile)) {
    throw LocalAgentFailure(kUnreadableMedia);
  }
  if (size != nullptr) *size = static_cast<std::uintmax_t>(info.st_size);
  return file;
}

fs::path PlumoraHistory::mediaFile(const std::string& id) const {
  const Checked work = check(id);
  return mediaFileIn(work, readRecordIn(work), nullptr);
}

PlumoraHistory::Storage PlumoraHistory::storageIn(const fs::path& directory) const {
  const DirectoryPtr listing(::opendir(directory.c_str()));
  if (!listing) throw fileFailure(errno);
  Storage totals;
  errno = 0;
  while (const dirent* item = ::readdir(listing.get())) {
    const std::string_view name = item->d_name;
    if (name != "." && name != "..") {
      struct stat info {};
      if (::fstatat(::dirfd(listing.get()), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        throw fileFailure(errno);
      }
      if (S_ISREG(info.st_mode)) {
        totals.logical += static_cast<std::uintmax_t>(info.st_size);
        totals.allocated += static_cast<std::uintmax_t>(info.st_blocks) * 512;
      }
    }
    errno = 0;
  }
  if (errno != 0) throw fileFailure(errno);
  return totals;
}

PlumoraHistory::Storage PlumoraHistory::storage(const std::string& id) const {
  return storageIn(check(id).directory);
}

Json PlumoraHistory::entryIn(const Checked& work) const {
  Json record = readRecordIn(work);
  Json entry = Json::object();
  for (const char* key : {"id", "version", "ratio", "parentId", "provider", "model", "width",
                          "height", "requestedRatio"}) {
    const auto field = record.find(key);
    if (field != record.end()) entry[key] = std::move(*field);
  }
  const std::string* title = stringField(record, "title");
  entry["title"] = title != nullptr ? text::graphemePrefix(*title, kMaxTitleCharacters) : kUnnamed;
  entry["kind"] = isVideo(record) ? "video" : "image";
  std::uintmax_t fileBytes = 0;
  bool available = true;
  try {
    mediaFileIn(work, record, &fileBytes);
  } catch (const LocalAgentFailure&) {
    available = false;
  }
  // Moved, not copied: the thumbnail is most of a record's bytes.
  for (const char* key : {"prompt", "createdAt", "thumbnail"}) {
    const auto field = record.find(key);
    const bool text = field != record.end() && field->is_string();
    entry[key] = text ? std::move(field->get_ref<std::string&>()) : std::string();
  }
  entry["available"] = available;
  entry["fileBytes"] = fileBytes;
  const Storage totals = storageIn(work.directory);
  entry["storedBytes"] = totals.logical;
  entry["allocatedBytes"] = totals.allocated;
  return entry;
}

Json PlumoraHistory::entry(const std::string& id) const { return entryIn(check(id)); }

Json PlumoraHistory::list() const {
  Json entries = Json::array();
  struct stat info {};
  if (::lstat(root_.c_str(), &info) != 0 && errno == ENOENT) return entries;
  const DirectoryPtr listing(::opendir(root_.c_str()));
  if (!listing) throw fileFailure(errno);
  const std::optional<fs::path> resolvedRoot = resolvedPath(root_);
  errno = 0;
  while (const dirent* item = ::readdir(listing.get())) {
    const std::string name = item->d_name;
    if (Uuid::parse(name)) {
      try {
        entries.push_back(entryIn(check(name, resolvedRoot)));
      } catch (const LocalAgentFailure&) {
        // A broken work is left out; the rest of the library still lists.
      }
    }
    errno = 0;
  }
  if (errno != 0) throw fileFailure(errno);
  std::stable_sort(entries.begin(), entries.end(), [](const Json& a, const Json& b) {
    return a["createdAt"].get_ref<const std::string&>() >
           b["createdAt"].get_ref<const std::string&>();
  });
  return entries;
}

Json PlumoraHistory::save(const Json& request) const {
  const std::string* image = request.is_object() ? stringField(request, "image") : nullptr;
  const std::string* prompt = request.is_object() ? stringField(request, "prompt") : nullptr;
  if (image == nullptr || prompt == nullptr ||
      text::graphemeCount(*prompt) > kMaxPromptCharacters) {
    throw LocalAgentFailure(kInvalidRequest);
  }
  const DecodedImage decoded = image_gate::decodeImage(*image);
  // Checked before anything is written, so a bad link never creates a directory.
  const std::string* parentId = stringField(request, "parentId");
  if (parentId != nullptr && !Uuid::parse(*parentId)) throw LocalAgentFailure(kInvalidParent);

  const Checked work = check(Uuid::random().string());
  createPrivateDirectories(work.directory);
  try {
    writer_(
        work.directory / "image.png",
        std::string_view(reinterpret_cast<const char*>(decoded.data.data()), decoded.data.size()));
    const std::string thumbnail = image_gate::pngDataURL(thumbnailPng(decoded.data));

    Json record = Json::object();
    record["id"] = work.id;
    record["title"] = text::graphemePrefix(*prompt, kSavedTitleCharacters);
    record["prompt"] = *prompt;
    record["createdAt"] = nowInternetDateTime();
    record["version"] = clampedVersion(request);
    const std::string* ratio = stringField(request, "ratio");
    record["requestedRatio"] =
        ratio != nullptr ? text::graphemePrefix(*ratio, kMaxRatioCharacters) : "1:1";
    record["thumbnail"] = thumbnail;
    const int divisor = std::gcd(decoded.width, decoded.height);
    record["ratio"] =
        std::to_string(decoded.width / divisor) + ":" + std::to_string(decoded.height / divisor);
    record["width"] = decoded.width;
    record["height"] = decoded.height;
    if (parentId != nullptr) record["parentId"] = *parentId;
    for (const char* key : {"provider", "model"}) {
      if (const std::string* label = stringField(request, key)) {
        record[key] = text::graphemePrefix(*label, kMaxLabelCharacters);
      }
    }
    const std::string recordText = json(record);
    if (recordText == "null") throw LocalAgentFailure(kInvalidRequest);
    // The record goes last: a directory without one is never listed.
    writer_(work.directory / "record.json", recordText);
    return entryIn(work);
  } catch (const LocalAgentFailure&) {
    std::error_code ignored;
    fs::remove_all(work.directory, ignored);
    throw;
  }
}

std::string PlumoraHistory::image(const std::string& id) const {
  const Checked work = check(id);
  const Json record = readRecordIn(work);
  if (isVideo(record)) throw LocalAgentFailure(kVideoNotImage);
  const fs::path file = mediaFileIn(work, record, nullptr);
  const std::string bytes = readRegularFileNoFollow(file, kMaxImageBytes, kUnreadableMedia);
  return image_gate::pngDataURL(image_gate::decodeBytes(std::string_view(bytes)).data);
}

void PlumoraHistory::rename(const std::string& id, const std::string& name) const {
  const std::string title = text::trimmed(name);
  if (title.empty() || text::graphemeCount(title) > kMaxTitleCharacters ||
      text::containsControlCharacter(title)) {
    throw LocalAgentFailure(kInvalidName);
  }
  const Checked work = check(id);
  Json record = readRecordIn(work);
  record["title"] = title;
  const std::string recordText = json(record);
  if (recordText == "null") throw LocalAgentFailure(kInvalidRecord);
  writer_(work.directory / "record.json", recordText);
}

fs::path PlumoraHistory::trash(const std::string& id, Workspace& workspace) const {
  const Checked work = check(id);
  readRecordIn(work);
  Result<fs::path> landed = workspace.moveToTrash(work.directory);
  if (!landed) throw landed.failure();
  if (landed.value().empty()) throw LocalAgentFailure(kNoTrashLocation);
  return std::move(landed).value();
}

}  // namespace glimmet
