#pragma once

// The whole desktop in memory: every double, a manual clock and a defaults
// file of the caller's choosing, bundled as the Platform the controller takes.
// Tests and the headless harness reach each double by name to script it.

#include <filesystem>
#include <memory>

#include "core/clock.h"
#include "core/defaults_store.h"
#include "platform/headless/headless_alerts.h"
#include "platform/headless/headless_clipboard.h"
#include "platform/headless/headless_desktop_appearance.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_input.h"
#include "platform/headless/headless_island.h"
#include "platform/headless/headless_shell.h"
#include "platform/headless/headless_sound.h"
#include "platform/headless/headless_status_button.h"
#include "platform/headless/headless_video_player.h"
#include "platform/headless/headless_workspace.h"
#include "platform/headless/memory_secret_store.h"
#include "platform/platform.h"

namespace glimmet {

struct HeadlessPlatform {
  // The user defaults live in `defaultsFile`; trashed items are moved into
  // `trashDirectory` (none: every move to the Trash fails).
  explicit HeadlessPlatform(const std::filesystem::path& defaultsFile,
                            std::optional<std::filesystem::path> trashDirectory = std::nullopt);

  Platform platform();

  HeadlessWebView webView;
  std::shared_ptr<HeadlessCreatorPanel> panel = std::make_shared<HeadlessCreatorPanel>();
  std::shared_ptr<HeadlessStatusButton> statusButton = std::make_shared<HeadlessStatusButton>();
  HeadlessPopUpMenu menu;
  HeadlessAlerts alerts;
  HeadlessFilePanels filePanels;
  HeadlessClipboard clipboard;
  HeadlessWorkspace workspace;
  HeadlessSound sound;
  HeadlessVideoPlayer videoPlayer;
  HeadlessPointerSource pointer;
  HeadlessScreenLayout screens;
  HeadlessDesktopAppearance appearance;
  HeadlessAccessibility accessibility;
  HeadlessApplicationActivity activity;
  HeadlessAgentSetupWindow agentSetupWindow;
  HeadlessHotKeys hotKeys;
  HeadlessSelectionReader selection;
  HeadlessSettingsWindow settingsWindow;
  HeadlessAutostart autostart;
  HeadlessRadialWindow radial;
  DefaultsStore defaults;
  MemorySecretStore secrets;
  ManualClock clock;
};

}  // namespace glimmet
