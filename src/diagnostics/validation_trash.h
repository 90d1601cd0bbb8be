#pragma once

// The workspace the history actions use: the desktop's own, which in the
// library smoke test also remembers where each trashed work landed, so that
// the test's works can be deleted from the Trash at exit. Safe from any
// thread, like the workspace it wraps.

#include <mutex>
#include <vector>

#include "platform/workspace.h"

namespace glimmet {

class ValidationTrash final : public Workspace {
 public:
  // Records landing places only when `recording`.
  ValidationTrash(Workspace& workspace, bool recording)
      : workspace_(workspace), recording_(recording) {}

  bool openUrl(const std::string& url) override { return workspace_.openUrl(url); }
  bool revealFile(const std::filesystem::path& file) override {
    return workspace_.revealFile(file);
  }
  Result<std::filesystem::path> moveToTrash(const std::filesystem::path& item) override;
  std::optional<RunningApplication> frontmostApplication() override {
    return workspace_.frontmostApplication();
  }
  void observeActivation(std::function<void()> changed) override {
    workspace_.observeActivation(std::move(changed));
  }
  bool activate(const RunningApplication& application) override {
    return workspace_.activate(application);
  }

  // Where the trashed items landed, in order.
  std::vector<std::filesystem::path> landed() const;

 private:
  Workspace& workspace_;
  const bool recording_;
  mutable std::mutex mutex_;
  std::vector<std::filesystem::path> landed_;
};

}  // namespace glimmet
