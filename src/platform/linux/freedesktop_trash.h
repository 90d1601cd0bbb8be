#pragma once

// The user's Trash as the freedesktop.org Trash specification lays it out, so
// that file managers show, restore and empty what the program trashes. Items
// on the home trash's file system go to $XDG_DATA_HOME/Trash; items on another
// file system go to that volume's $topdir/.Trash-$uid. Either way the item is
// renamed, never copied, and never deleted: when no trash can take it, the
// move fails and the item stays where it was.

#include <filesystem>
#include <optional>

#include "core/result.h"

namespace glimmet {

class FreedesktopTrash {
 public:
  // Without a directory: $XDG_DATA_HOME/Trash (~/.local/share/Trash when unset).
  explicit FreedesktopTrash(std::optional<std::filesystem::path> homeTrash = std::nullopt);

  // Moves a file or a whole directory to the Trash and answers where it landed.
  // Safe from any thread.
  Result<std::filesystem::path> moveToTrash(const std::filesystem::path& item) const;

  const std::filesystem::path& homeTrash() const { return homeTrash_; }

 private:
  std::filesystem::path homeTrash_;
};

}  // namespace glimmet
