#pragma once

// The desktop's open and save dialogs. Both are asynchronous: the call returns
// at once and the completion runs exactly once, later, on the main thread,
// when the user has answered. Callers keep at most one panel open at a time.
// Main thread only.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace glimmet {

struct OpenPanelRequest {
  bool allowsMultipleSelection = false;
  bool canChooseDirectories = false;
  std::optional<std::string> title;
};

struct SavePanelRequest {
  std::string suggestedFileName;
};

class FilePanels {
 public:
  // The chosen files; empty when the user cancelled.
  using OpenCompletion = std::function<void(std::vector<std::filesystem::path>)>;
  // The chosen location; none when the user cancelled.
  using SaveCompletion = std::function<void(std::optional<std::filesystem::path>)>;

  virtual ~FilePanels() = default;

  virtual void runOpenPanel(const OpenPanelRequest& request, OpenCompletion completion) = 0;
  virtual void runSavePanel(const SavePanelRequest& request, SaveCompletion completion) = 0;
};

}  // namespace glimmet
