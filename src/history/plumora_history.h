#pragma once

// The library of saved works: one directory per work under the root, named by
// the work's UUID, holding the media ("image.png", or "video.mp4" for a video
// work) and "record.json". Every identifier and file is checked before it is
// touched: work directories must stay inside the root once symbolic links are
// resolved, files must be regular files and not links, and each file has a
// size ceiling. Nothing is kept in memory besides the root, so every call reads
// the disk afresh. There is no lock: callers serialise on the history queue.
// Failures throw LocalAgentFailure.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"

namespace glimmet {

class Workspace;

class PlumoraHistory {
 public:
  // Writes `bytes` to a file so that readers see either the old or the new
  // content. Replaceable so that tests can make any write fail.
  using FileWriter = std::function<void(const std::filesystem::path&, std::string_view bytes)>;

  // A work id is a UUID's text; nothing longer can name a work.
  static constexpr std::size_t kMaxIdLength = 36;
  static constexpr const char* kInvalidId = "作品编号无效";
  static constexpr std::uintmax_t kMaxRecordBytes = 1'048'575;
  static constexpr std::uintmax_t kMaxImageBytes = 10'485'760;
  // Why a work's media file cannot be served.
  static constexpr const char* kUnreadableMedia = "资源文件不存在或无法读取";
  static constexpr std::uintmax_t kMaxVideoBytes = 536'870'912;
  static constexpr std::size_t kMaxPromptCharacters = 10'000;
  static constexpr std::size_t kMaxTitleCharacters = 200;
  static constexpr int kThumbnailSide = 320;

  // Without a root: $XDG_DATA_HOME/Plumora/history (~/.local/share when unset).
  // The root is created by the first save, not here.
  explicit PlumoraHistory(std::optional<std::filesystem::path> root = std::nullopt);
  PlumoraHistory(std::optional<std::filesystem::path> root, FileWriter writer);

  const std::filesystem::path& root() const { return root_; }

  // The work directory of `id` (existing or not), after validating the id.
  std::filesystem::path directory(const std::string& id) const;
  // The parsed record (a JSON object) after the file and identity checks.
  Json readRecord(const std::string& id) const;
  // The validated media file of the work.
  std::filesystem::path mediaFile(const std::string& id) const;

  struct Storage {
    std::uintmax_t logical = 0;
    std::uintmax_t allocated = 0;
  };
  // Byte totals of the regular files directly inside the work directory.
  Storage storage(const std::string& id) const;

  // The entry the page sees: built from the record, never the record itself.
  Json entry(const std::string& id) const;
  // Every readable work, newest first; a broken work is left out.
  Json list() const;
  // Creates a new image work from a save request and answers its entry.
  Json save(const Json& request) const;
  // The work's image as "data:image/png;base64,...".
  std::string image(const std::string& id) const;
  void rename(const std::string& id, const std::string& name) const;
  // Moves the whole work directory to the Trash; answers where it landed.
  std::filesystem::path trash(const std::string& id, Workspace& workspace) const;

 private:
  struct Checked;
  Checked check(const std::string& id) const;
  // With the root already resolved, so a listing resolves it once.
  Checked check(const std::string& id,
                const std::optional<std::filesystem::path>& resolvedRoot) const;
  Json readRecordIn(const Checked& work) const;
  std::filesystem::path mediaFileIn(const Checked& work, const Json& record,
                                    std::uintmax_t* size) const;
  Storage storageIn(const std::filesystem::path& directory) const;
  Json entryIn(const Checked& work) const;
  Json saveChecked(const Json& request) const;

  std::filesystem::path root_;
  FileWriter writer_;
};

}  // namespace glimmet
