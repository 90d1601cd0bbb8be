#pragma once

// An in-memory workspace for tests. It records every call, answers with
// scripted values, and, when given a directory to act as the Trash, really
// moves trashed items there. Safe to call from any thread, like the real one.

#include <mutex>
#include <vector>

#include "platform/workspace.h"

namespace glimmet {

class HeadlessWorkspace final : public Workspace {
 public:
  // The message of every trash attempt when no Trash directory was given.
  static constexpr const char* kNoTrashMessage = "废纸篓不可用";

  struct TrashedItem {
    std::filesystem::path item;
    std::filesystem::path landed;
  };

  // Without a Trash: every move to the Trash fails.
  HeadlessWorkspace() = default;
  // Trashed items are renamed into `trashDirectory` (created when missing); a name
  // already taken there gets " 2", " 3", … before its extension.
  explicit HeadlessWorkspace(std::filesystem::path trashDirectory);

  bool openUrl(const std::string& url) override;
  bool revealFile(const std::filesystem::path& file) override;
  Result<std::filesystem::path> moveToTrash(const std::filesystem::path& item) override;
  std::optional<RunningApplication> frontmostApplication() override;
  bool activate(const RunningApplication& application) override;
  void observeActivation(std::function<void()> changed) override;

  // Tells the activation observer, as the desktop would.
  void setFrontmostApplication(std::optional<RunningApplication> application);
  // What openUrl, revealFile and activate answer (true at first).
  void setDesktopAnswers(bool answer);

  std::vector<std::string> openedUrls() const;
  std::vector<std::filesystem::path> revealedFiles() const;
  // Successful moves only, in order.
  std::vector<TrashedItem> trashedItems() const;
  std::vector<RunningApplication> activations() const;

 private:
  // The first name in the Trash not yet taken: `name`, then "stem 2.ext", "stem 3.ext", …
  std::filesystem::path freeNameFor(const std::filesystem::path& name) const;

  mutable std::mutex mutex_;
  std::optional<std::filesystem::path> trashDirectory_;
  std::optional<RunningApplication> frontmost_;
  std::function<void()> activationObserver_;
  bool desktopAnswers_ = true;
  std::vector<std::string> openedUrls_;
  std::vector<std::filesystem::path> revealedFiles_;
  std::vector<TrashedItem> trashedItems_;
  std::vector<RunningApplication> activations_;
};

}  // namespace glimmet
