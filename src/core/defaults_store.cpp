#include "core/defaults_store.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "core/files.h"

namespace glimmet {
namespace fs = std::filesystem;
namespace {

// Far beyond what the program stores; a larger file is treated as damaged.
constexpr std::size_t kMaxFileBytes = std::size_t{16} << 20;

fs::path asideName(const fs::path& file) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  fs::path aside = file;
  aside += std::string(".corrupt-") + stamp;
  for (int n = 1; fs::exists(fs::symlink_status(aside)); ++n) {
    aside = file;
    aside += std::string(".corrupt-") + stamp + "-" + std::to_string(n);
  }
  return aside;
}

}  // namespace

DefaultsStore::DefaultsStore(fs::path file) : file_(std::move(file)) { load(); }

fs::path DefaultsStore::standardLocation() {
  return userConfigHome() / "Glimmet" / "defaults.json";
}

void DefaultsStore::load() {
  std::string text;
  try {
    text = readFileBounded(file_, kMaxFileBytes, "defaults file too large");
  } catch (const LocalAgentFailure&) {
    // Missing is the normal first start. Unreadable or oversized files are
    // moved aside below only if they exist, so nothing is lost.
    if (!fs::exists(fs::symlink_status(file_))) return;
    text.clear();
  }
  Json parsed = parseJson(text);
  if (parsed.is_object()) {
    values_ = std::move(parsed);
    return;
  }
  std::error_code ignored;
  fs::rename(file_, asideName(file_), ignored);
}

std::optional<Json> DefaultsStore::value(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  return *found;
}

std::optional<std::string> DefaultsStore::string(const std::string& key) const {
  const auto found = value(key);
  if (!found || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

std::optional<bool> DefaultsStore::boolean(const std::string& key) const {
  const auto found = value(key);
  if (!found || !found->is_boolean()) return std::nullopt;
  return found->get<bool>();
}

std::optional<std::int64_t> DefaultsStore::integer(const std::string& key) const {
  const auto found = value(key);
  if (!found || !found->is_number_integer()) return std::nullopt;
  if (found->is_number_unsigned() && found->get<std::uint64_t>() > INT64_MAX) return std::nullopt;
  return found->get<std::int64_t>();
}

std::optional<Json> DefaultsStore::dictionary(const std::string& key) const {
  auto found = value(key);
  if (!found || !found->is_object()) return std::nullopt;
  return found;
}

std::optional<Json> DefaultsStore::array(const std::string& key) const {
  auto found = value(key);
  if (!found || !found->is_array()) return std::nullopt;
  return found;
}

bool DefaultsStore::set(const std::string& key, Json value) {
  // A value JSON cannot carry (invalid UTF-8, a non-finite number) is refused
  // here, so it can never make later writes of other keys fail.
  if (!value.is_null() && json(value) == "null") return false;
  std::lock_guard lock(mutex_);
  values_[key] = std::move(value);
  return persistLocked();
}

bool DefaultsStore::remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
  return persistLocked();
}

bool DefaultsStore::persistLocked() {
  try {
    createPrivateDirectories(file_.parent_path());
    writeFileAtomically(file_, json(values_));
    return true;
  } catch (const LocalAgentFailure&) {
    return false;
  }
}

}  // namespace glimmet
