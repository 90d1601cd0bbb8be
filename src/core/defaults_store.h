#pragma once

// The user-defaults store: one JSON object in a file, by default
// $XDG_CONFIG_HOME/Glimmet/defaults.json. Values are held in memory and every
// change rewrites the file atomically. Typed reads treat a value of another
// type as absent. A file that is not a JSON object is never overwritten: it is
// moved aside (defaults.json.corrupt-<time>) and the store starts empty.
// Safe to use from any thread.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "core/json.h"

namespace glimmet {

class DefaultsStore {
 public:
  explicit DefaultsStore(std::filesystem::path file);

  // $XDG_CONFIG_HOME/Glimmet/defaults.json, with ~/.config when the variable is unset.
  static std::filesystem::path standardLocation();

  std::optional<Json> value(const std::string& key) const;
  std::optional<std::string> string(const std::string& key) const;
  std::optional<bool> boolean(const std::string& key) const;
  std::optional<std::int64_t> integer(const std::string& key) const;
  std::optional<Json> dictionary(const std::string& key) const;
  std::optional<Json> array(const std::string& key) const;

  // Store or delete a value. Answers whether the file now holds the change; a
  // change that only the write failed stays in memory, so this process still
  // sees its own writes. A value JSON cannot represent is refused outright.
  bool set(const std::string& key, Json value);
  bool remove(const std::string& key);

  const std::filesystem::path& file() const { return file_; }

 private:
  void load();
  bool persistLocked();

  const std::filesystem::path file_;
  mutable std::mutex mutex_;
  Json values_ = Json::object();
};

}  // namespace glimmet
