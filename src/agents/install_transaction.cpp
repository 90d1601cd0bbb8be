#include "agents/install_transaction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "agents/codex_release.h"
#include "core/files.h"
#include "core/json.h"
#include "core/uuid.h"

namespace glimmet {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxJournalBytes = 64 * 1024;
constexpr std::string_view kTemporaryPrefix = "codex-new-";
constexpr std::string_view kBackupInfix = "-backup-";

// Names from the journal are plain file names in the managed directory.
bool plainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Copies `source` to `target` (created, never replaced), flushed to disk.
void copyFile(const fs::path& source, const fs::path& target) {
  std::error_code error;
  if (!fs::copy_file(source, target, fs::copy_options::none, error)) {
    throw fileFailure(error ? error.value() : EIO);
  }
  const FileDescriptor file(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file || ::fsync(file.get()) != 0) throw fileFailure(errno);
}

// Removes `path` unless it is already gone; answers whether it is gone.
bool removeFile(const fs::path& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

}  // namespace

InstallTransaction::InstallTransaction(fs::path directory, fs::path journal)
    : directory_(std::move(directory)), journal_(std::move(journal)) {}

void InstallTransaction::writeJournal() {
  journalled_ = true;
  if (replacements_.empty() && temporaries_.empty()) {
    if (!removeFile(journal_)) throw fileFailure(errno);
    return;
  }
  Json replacements = Json::array();
  for (const auto& [destination, backup] : replacements_) {
    replacements.push_back(
        {{"destination", destination}, {"backup", backup ? Json(*backup) : Json(nullptr)}});
  }
  const Json record = {{"replacements", replacements}, {"temporaries", temporaries_}};
  writeFileAtomically(journal_, record.dump());
}

bool InstallTransaction::loadJournal() {
  const std::string text =
      readRegularFileNoFollow(journal_, kMaxJournalBytes, installer_messages::kRestoreFailed);
  const Json record = parseJson(text);
  if (!record.is_object()) return false;
  const auto replacements = record.find("replacements");
  const auto temporaries = record.find("temporaries");
  if (replacements == record.end() || !replacements->is_array()) return false;
  if (temporaries == record.end() || !temporaries->is_array()) return false;
  for (const auto& entry : *replacements) {
    if (!entry.is_object() || !entry.contains("destination") || !entry.contains("backup")) {
      return false;
    }
    const Json& destination = entry["destination"];
    const Json& backup = entry["backup"];
    if (!destination.is_string() || !plainName(destination.get<std::string>())) return false;
    if (!backup.is_null() && !(backup.is_string() && plainName(backup.get<std::string>()))) {
      return false;
    }
    replacements_.push_back(
        {destination.get<std::string>(),
         backup.is_null() ? std::nullopt : std::optional(backup.get<std::string>())});
  }
  for (const auto& name : *temporaries) {
    if (!name.is_string() || !plainName(name.get<std::string>())) return false;
    temporaries_.push_back(name.get<std::string>());
  }
  journalled_ = true;
  return true;
}

void InstallTransaction::recoverStale(const fs::path& directory, const fs::path& journal) {
  struct stat info {};
  if (::lstat(journal.c_str(), &info) == 0) {
    InstallTransaction stale(directory, journal);
    if (!stale.loadJournal() || !stale.rollback())
      throw LocalAgentFailure(installer_messages::kRestoreFailed);
  } else if (errno != ENOENT) {
    throw fileFailure(errno);
  }
  // What is left are copies no journal refers to: temporaries of a run that
  // died before journalling them, and backups of a run that died while
  // committing.
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const bool stray =
        name.starts_with(kTemporaryPrefix) || name.find(kBackupInfix) != std::string::npos;
    if (stray && it->symlink_status().type() == fs::file_type::regular) removeFile(it->path());
  }
}

void InstallTransaction::publish(const fs::path& source, const std::string& name) {
  const fs::path destination = directory_ / name;
  struct stat info {};
  const bool exists = ::lstat(destination.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) throw fileFailure(errno);
  if (exists && !S_ISREG(info.st_mode)) {
    throw LocalAgentFailure(installer_messages::kTargetNotRegular);
  }

  const std::string temporaryName = std::string(kTemporaryPrefix) + Uuid::random().string();
  const fs::path temporary = directory_ / temporaryName;
  temporaries_.push_back(temporaryName);
  writeJournal();
  if (::rename(source.c_str(), temporary.c_str()) != 0) {
    if (errno != EXDEV) throw fileFailure(errno);
    copyFile(source, temporary);
  }
  if (::chmod(temporary.c_str(), 0755) != 0) throw fileFailure(errno);

  std::optional<std::string> backupName;
  if (exists) backupName = name + std::string(kBackupInfix) + Uuid::random().string();
  replacements_.push_back({name, backupName});
  writeJournal();
  if (backupName) {
    const fs::path backup = directory_ / *backupName;
    if (::link(destination.c_str(), backup.c_str()) != 0) copyFile(destination, backup);
  }
  if (::rename(temporary.c_str(), destination.c_str()) != 0) {
    throw LocalAgentFailure(installer_messages::kRenameFailed);
  }
  temporaries_.pop_back();
  syncDirectory(directory_);
  writeJournal();
}

bool InstallTransaction::rollback() {
  if (!journalled_) return true;  // nothing was done, and the journal is not this run's
  std::vector<Replacement> kept;
  for (auto it = replacements_.rbegin(); it != replacements_.rend(); ++it) {
    const fs::path destination = directory_ / it->destination;
    bool undone = false;
    if (it->backup) {
      // A backup that was never made means the replacement never happened.
      const fs::path backup = directory_ / *it->backup;
      undone = ::rename(backup.c_str(), destination.c_str()) == 0 || errno == ENOENT;
    } else {
      undone = removeFile(destination);
    }
    if (!undone) kept.insert(kept.begin(), *it);
  }
  replacements_ = std::move(kept);
  for (const auto& name : temporaries_) removeFile(directory_ / name);
  temporaries_.clear();
  syncDirectory(directory_);
  try {
    writeJournal();
  } catch (const LocalAgentFailure&) {
    return false;
  }
  return replacements_.empty();
}

void InstallTransaction::commit() {
  if (!journalled_) return;
  if (!removeFile(journal_)) throw fileFailure(errno);
  for (const auto& replacement : replacements_) {
    if (replacement.backup) removeFile(directory_ / *replacement.backup);
  }
  for (const auto& name : temporaries_) removeFile(directory_ / name);
  replacements_.clear();
  temporaries_.clear();
  syncDirectory(directory_);
}

}  // namespace glimmet
