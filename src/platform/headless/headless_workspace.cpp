#include "platform/headless/headless_workspace.h"

#include <cerrno>
#include <system_error>

#include "core/files.h"

namespace glimmet {

HeadlessWorkspace::HeadlessWorkspace(std::filesystem::path trashDirectory)
    : trashDirectory_(std::move(trashDirectory)) {}

bool HeadlessWorkspace::openUrl(const std::string& url) {
  std::lock_guard lock(mutex_);
  openedUrls_.push_back(url);
  return desktopAnswers_;
}

bool HeadlessWorkspace::revealFile(const std::filesystem::path& file) {
  std::lock_guard lock(mutex_);
  revealedFiles_.push_back(file);
  return desktopAnswers_;
}

Result<std::filesystem::path> HeadlessWorkspace::moveToTrash(const std::filesystem::path& item) {
  // One lock around choosing the name and renaming, so concurrent moves of items
  // with the same name never land on each other.
  std::lock_guard lock(mutex_);
  if (!trashDirectory_) return LocalAgentFailure(kNoTrashMessage);
  // "a/b/" names "b".
  std::filesystem::path normal = item.lexically_normal();
  if (!normal.has_filename()) normal = normal.parent_path();
  const std::filesystem::path name = normal.filename();
  if (name.empty() || name == "..") {
    return fileFailure(EINVAL);
  }
  std::error_code error;
  std::filesystem::create_directories(*trashDirectory_, error);
  if (error) return fileFailure(error.value());
  const std::filesystem::path landed = freeNameFor(name);
  std::filesystem::rename(normal, landed, error);
  if (error) return fileFailure(error.value());
  trashedItems_.push_back({item, landed});
  return landed;
}

std::optional<RunningApplication> HeadlessWorkspace::frontmostApplication() {
  std::lock_guard lock(mutex_);
  return frontmost_;
}

bool HeadlessWorkspace::activate(const RunningApplication& application) {
  std::lock_guard lock(mutex_);
  activations_.push_back(application);
  return desktopAnswers_;
}

void HeadlessWorkspace::observeActivation(std::function<void()> changed) {
  std::lock_guard lock(mutex_);
  activationObserver_ = std::move(changed);
}

void HeadlessWorkspace::setFrontmostApplication(std::optional<RunningApplication> application) {
  std::function<void()> observer;
  {
    std::lock_guard lock(mutex_);
    frontmost_ = std::move(application);
    observer = activationObserver_;
  }
  if (observer) observer();
}

void HeadlessWorkspace::setDesktopAnswers(bool answer) {
  std::lock_guard lock(mutex_);
  desktopAnswers_ = answer;
}

std::vector<std::string> HeadlessWorkspace::openedUrls() const {
  std::lock_guard lock(mutex_);
  return openedUrls_;
}

std::vector<std::filesystem::path> HeadlessWorkspace::revealedFiles() const {
  std::lock_guard lock(mutex_);
  return revealedFiles_;
}

std::vector<HeadlessWorkspace::TrashedItem> HeadlessWorkspace::trashedItems() const {
  std::lock_guard lock(mutex_);
  return trashedItems_;
}

std::vector<RunningApplication> HeadlessWorkspace::activations() const {
  std::lock_guard lock(mutex_);
  return activations_;
}

std::filesystem::path HeadlessWorkspace::freeNameFor(const std::filesystem::path& name) const {
  std::filesystem::path candidate = *trashDirectory_ / name;
  std::error_code error;
  for (int number = 2; std::filesystem::exists(std::filesystem::symlink_status(candidate, error));
       ++number) {
    candidate = *trashDirectory_ /
                (name.stem().string() + " " + std::to_string(number) + name.extension().string());
  }
  return candidate;
}

}  // namespace glimmet
