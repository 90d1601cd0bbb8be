#pragma once

// The undo log of one installation into the managed directory. Each published
// file replaces its destination with an atomic rename; what was there before
// stays reachable as a backup until the installation commits. Every step is
// written ahead to a journal file (atomically replaced), so that a run that
// crashes or is killed half-way is rolled back by the next installation
// instead of leaving a new CLI beside an old runtime component.
//
// Backups are hard links to the replaced file (a copy where the file system
// has no links), so keeping one costs no space and no time.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace glimmet {

class InstallTransaction {
 public:
  // Publishes into `directory`, journalling to `journal` (outside `directory`).
  InstallTransaction(std::filesystem::path directory, std::filesystem::path journal);
  InstallTransaction(const InstallTransaction&) = delete;
  InstallTransaction& operator=(const InstallTransaction&) = delete;

  // Undoes what an interrupted installation left in `directory`: the journal's
  // replacements are rolled back, then stray temporary copies and backups are
  // deleted. Throws LocalAgentFailure with the restore message when something
  // could not be restored (the journal and the backups then stay).
  static void recoverStale(const std::filesystem::path& directory,
                           const std::filesystem::path& journal);

  // Moves `source` (a regular file on the same file system, or copied when it
  // is not) into the directory as `name`, mode 0755, replacing what was there.
  // Throws LocalAgentFailure: the target-not-regular and rename messages, or a
  // file error. A failed step leaves nothing behind that rollback() does not undo.
  void publish(const std::filesystem::path& source, const std::string& name);

  // Undoes every publish, the last first, and deletes the temporary copies.
  // Answers false when some replacement could not be undone; those stay in
  // the journal for the next installation to retry.
  bool rollback();

  // Keeps what was published: the journal goes first (so nothing can roll the
  // new files back any more), then the backups. Throws LocalAgentFailure when
  // the journal cannot be removed; the transaction can then still roll back.
  void commit();

 private:
  struct Replacement {
    std::string destination;
    std::optional<std::string> backup;
  };

  void writeJournal();
  // Reads the journal of an earlier run; false when it is not one this class wrote.
  bool loadJournal();

  std::filesystem::path directory_;
  std::filesystem::path journal_;
  std::vector<Replacement> replacements_;
  std::vector<std::string> temporaries_;
  // Whether this run wrote (or loaded) the journal: until then it owns nothing to undo.
  bool journalled_ = false;
};

}  // namespace glimmet
