#include "platform/headless/headless_file_panels.h"

namespace glimmet {

void HeadlessFilePanels::runOpenPanel(const OpenPanelRequest& request, OpenCompletion completion) {
  pending_.emplace_back(OpenPanel{request, std::move(completion)});
}

void HeadlessFilePanels::runSavePanel(const SavePanelRequest& request, SaveCompletion completion) {
  pending_.emplace_back(SavePanel{request, std::move(completion)});
}

std::optional<OpenPanelRequest> HeadlessFilePanels::pendingOpen() const {
  if (pending_.empty()) return std::nullopt;
  if (const auto* panel = std::get_if<OpenPanel>(&pending_.front())) return panel->request;
  return std::nullopt;
}

std::optional<SavePanelRequest> HeadlessFilePanels::pendingSave() const {
  if (pending_.empty()) return std::nullopt;
  if (const auto* panel = std::get_if<SavePanel>(&pending_.front())) return panel->request;
  return std::nullopt;
}

// Each answer takes the request off the queue before running its completion: the
// completion runs once, and may itself open the next panel.

bool HeadlessFilePanels::answerOpen(std::vector<std::filesystem::path> paths) {
  if (pending_.empty() || !std::holds_alternative<OpenPanel>(pending_.front())) return false;
  OpenPanel panel = std::get<OpenPanel>(std::move(pending_.front()));
  pending_.pop_front();
  if (panel.completion) panel.completion(std::move(paths));
  return true;
}

bool HeadlessFilePanels::answerSave(std::filesystem::path location) {
  if (pending_.empty() || !std::holds_alternative<SavePanel>(pending_.front())) return false;
  SavePanel panel = std::get<SavePanel>(std::move(pending_.front()));
  pending_.pop_front();
  if (panel.completion) panel.completion(std::move(location));
  return true;
}

bool HeadlessFilePanels::cancel() {
  if (pending_.empty()) return false;
  auto panel = std::move(pending_.front());
  pending_.pop_front();
  if (auto* open = std::get_if<OpenPanel>(&panel)) {
    if (open->completion) open->completion({});
  } else if (auto& save = std::get<SavePanel>(panel); save.completion) {
    save.completion(std::nullopt);
  }
  return true;
}

}  // namespace glimmet
