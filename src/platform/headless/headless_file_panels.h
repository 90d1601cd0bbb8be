#pragma once

// File panels for tests: each request waits, in arrival order, until the test
// answers or cancels it. Main thread only, like the real panels.

#include <cstddef>
#include <deque>
#include <variant>

#include "platform/file_panels.h"

namespace glimmet {

class HeadlessFilePanels final : public FilePanels {
 public:
  void runOpenPanel(const OpenPanelRequest& request, OpenCompletion completion) override;
  void runSavePanel(const SavePanelRequest& request, SaveCompletion completion) override;

  // Panels requested and not yet answered; more than one means a caller broke
  // the one-panel-at-a-time rule.
  std::size_t pendingCount() const { return pending_.size(); }
  // The oldest unanswered request, when it is of that kind.
  std::optional<OpenPanelRequest> pendingOpen() const;
  std::optional<SavePanelRequest> pendingSave() const;

  // Answer the oldest unanswered request as the user would. They answer false,
  // and run nothing, when no request waits or the oldest is of the other kind.
  bool answerOpen(std::vector<std::filesystem::path> paths);
  bool answerSave(std::filesystem::path location);
  // Cancels the oldest unanswered request of either kind.
  bool cancel();

 private:
  struct OpenPanel {
    OpenPanelRequest request;
    OpenCompletion completion;
  };
  struct SavePanel {
    SavePanelRequest request;
    SaveCompletion completion;
  };

  std::deque<std::variant<OpenPanel, SavePanel>> pending_;
};

}  // namespace glimmet
