#include "diagnostics/validation_trash.h"

namespace glimmet {

Result<std::filesystem::path> ValidationTrash::moveToTrash(const std::filesystem::path& item) {
  Result<std::filesystem::path> landed = workspace_.moveToTrash(item);
  if (recording_ && landed.ok()) {
    const std::lock_guard lock(mutex_);
    landed_.push_back(landed.value());
  }
  return landed;
}

std::vector<std::filesystem::path> ValidationTrash::landed() const {
  const std::lock_guard lock(mutex_);
  return landed_;
}

}  // namespace glimmet
