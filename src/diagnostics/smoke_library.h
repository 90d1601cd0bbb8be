#pragma once

// The library smoke test's temporary library: a history root of its own, named
// for the process, seeded with three works, and a workspace that remembers
// where trashed works landed, so that all of it is deleted at exit. Outside the
// smoke test it changes nothing: the standard library and the desktop's own
// workspace.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "diagnostics/validation_trash.h"

namespace glimmet {

class PlumoraHistory;

class SmokeLibrary {
 public:
  static constexpr const char* kRootPrefix = "Plumora-library-validation-";

  SmokeLibrary(bool active, const std::filesystem::path& temporaryDirectory, pid_t processId,
               Workspace& workspace);

  bool active() const { return root_.has_value(); }
  // The history root of the smoke test; none for the standard library.
  const std::optional<std::filesystem::path>& root() const { return root_; }
  // The workspace the library's actions trash through.
  Workspace& workspace() { return trash_; }

  // Saves the three seeded works and answers the diagnostic line to print.
  static std::string seed(const PlumoraHistory& store);
  // Deletes the library and what its works left in the Trash.
  void remove(const PlumoraHistory& store) const;

 private:
  std::optional<std::filesystem::path> root_;
  ValidationTrash trash_;
};

}  // namespace glimmet
