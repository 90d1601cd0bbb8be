#include "platform/headless/headless_platform.h"

#include <utility>

namespace glimmet {

namespace {

// One 1280 by 800 monitor whose work area starts below a 32-point top bar.
HeadlessScreenLayout::Monitor standardMonitor() { return {{0, 0, 1280, 800}, {0, 32, 1280, 768}}; }

HeadlessWorkspace makeWorkspace(std::optional<std::filesystem::path> trashDirectory) {
  if (trashDirectory) return HeadlessWorkspace(std::move(*trashDirectory));
  return HeadlessWorkspace();
}

}  // namespace

HeadlessPlatform::HeadlessPlatform(const std::filesystem::path& defaultsFile,
                                   std::optional<std::filesystem::path> trashDirectory)
    : workspace(makeWorkspace(std::move(trashDirectory))),
      screens({standardMonitor()}),
      defaults(defaultsFile) {
  statusButton->setFrame(Rect{1200, 4, 24, 24});
}

Platform HeadlessPlatform::platform() {
  return Platform{webView,          panel,     statusButton, menu,           alerts,
                  filePanels,       clipboard, workspace,    sound,          videoPlayer,
                  pointer,          screens,   appearance,   accessibility,  activity,
                  agentSetupWindow, hotKeys,   selection,    settingsWindow, autostart,
                  radial,           defaults,  secrets,      clock};
}

}  // namespace glimmet
