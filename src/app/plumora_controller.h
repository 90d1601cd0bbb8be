#pragma once

// The application controller: created once at entry, it owns one instance of
// every service, keeps the shell's state, answers the page's bridge messages
// through the dispatcher, shows and hides the creation panel, runs the single
// file-panel slot and the compact task notice, and stops everything in order
// at shutdown. It runs on any Platform: the GTK desktop for the program, the
// in-memory doubles for tests and the headless harness, which drive it through
// `launch`, `receive`, `pageLoaded`, `deliver` and `shutdown` and read back the
// scripts it evaluates in the page. Main thread only.

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "agents/local_agent_manager.h"
#include "agents/local_agent_setup.h"
#include "app/switches.h"
#include "bridge/bridge_dispatcher.h"
#include "bridge/bridge_script.h"
#include "bridge/bundled_web_handler.h"
#include "bridge/media_actions.h"
#include "cloud/plumora_cloud_account.h"
#include "core/executors.h"
#include "core/http/http_transfer.h"
#include "core/lifetime.h"
#include "core/wire_names.h"
#include "diagnostics/smoke_library.h"
#include "history/history_actions.h"
#include "history/plumora_history.h"
#include "imageapi/custom_image_api.h"
#include "platform/platform.h"
#include "surfaces/global_shortcuts.h"
#include "surfaces/island_host.h"
#include "surfaces/radial_menu.h"
#include "surfaces/selection_capture.h"
#include "surfaces/task_feedback.h"

namespace glimmet {

struct ControllerOptions {
  Switches switches;
  // The installed resources: the packaged "web" directory, the provider icons
  // and the completion chime.
  std::filesystem::path resourceDirectory;
  // The page served under "plumora://local/"; the "web" directory of the
  // resources when empty.
  std::filesystem::path webDirectory;
  // Extra trust and host mappings for the image service and the website.
  HttpSessionConfiguration session;
  // The product website; the real one when none.
  std::optional<URL> origin;
  // Where the local agents are looked for; the standard places when none.
  std::optional<LocalAgentPaths> agentPaths;
  // Prints one diagnostic line (given without its line feed) and flushes it;
  // standard output when empty.
  std::function<void(const std::string&)> printLine;
  // Holds the library smoke test's history root; the system's when empty.
  std::filesystem::path temporaryDirectory;
  // Names the library smoke test's history root.
  pid_t processId = 0;
  // The version the page shows; kDevelopmentPreviewVersion when empty.
  std::string appVersion;
};

class PlumoraController final : public BridgeShell {
 public:
  static constexpr const char* kPageURL = wire::kPageURL;
  static constexpr const char* kMissingResources = "本地创作资源缺失";
  static constexpr const char* kMissingResourcesDetail =
      "请重新安装完整 Glimmet 应用。当前包无法脱离网站运行。";
  static constexpr const char* kLoadFailed = "无法加载内置创作界面";
  static constexpr const char* kLoadFailedDetail = "请重试或重新安装完整 Glimmet 应用。";

  PlumoraController(Platform platform, ControllerOptions options);
  ~PlumoraController() override;
  PlumoraController(const PlumoraController&) = delete;
  PlumoraController& operator=(const PlumoraController&) = delete;

  // The launch steps that need no toolkit: seeds the library smoke test,
  // applies the appearance, hosts the panel in the island, hands the status
  // button to the feedback, anchors the island, installs the global shortcut
  // and its pause rules, loads the page (or tells the user that it is missing)
  // and shows the panel. The desktop build creates the
  // web view, the panel and the status item before calling this.
  void launch();
  // The script injected into every page before its own scripts.
  std::string bridgeScript() const;
  BundledWebHandler& webHandler() { return webHandler_; }

  // A message the page posted to the "plumora" handler from the frame at
  // `frameURL`: checked, then dispatched; anything that fails a check is dropped.
  void receive(std::optional<std::string_view> frameURL, bool mainFrame, Json body);
  // Hands a capture payload to the page, or keeps it until the page asks.
  void deliver(Json payload);

  // Reads the selection in the application the user works in and offers the
  // radial menu for it at the pointer; a capture that brought nothing (or an
  // error to show) goes to the page at once. Does nothing while a file panel
  // is open. The menu item and the global shortcut both run this.
  void captureText();
  // Shows the radial menu for a capture payload centred on `point`; the choice
  // hands the payload with its creation mode to the page.
  void presentRadial(Json payload, Point point);

  // Status item and menu actions.
  void statusClick();
  void openStudio();
  void openBrowser();

  // Web view duties.
  void pageLoaded();
  void pageLoadFailed();
  // The program stopped being the active application.
  void resignActive();

  // The single file-panel slot: begin answers false while a panel is up.
  bool beginFilePanel();
  void endFilePanel();

  // Stops every service in order; nothing is written to the user defaults.
  // Later messages are dropped. Runs at most once.
  void shutdown();

  // BridgeShell.
  ShellState& state() override { return state_; }
  void evaluate(const std::string& script) override;
  void reply(std::int64_t messageId, const BridgeReply& answer) override;
  void printLine(const std::string& line) override;
  std::optional<Json> applyAppearance(const Json& value) override;
  void show() override;
  void hideCreator() override;
  void openSettings() override;
  void openAgentSetup() override;
  void presentTaskHUD() override;
  void flushTaskHUD() override;
  void clearLibraryVideo() override;

  const PlumoraHistory& history() const { return historyStore_; }
  PlumoraTaskFeedback& taskFeedback() { return taskFeedback_; }
  PlumoraIslandHost& islandHost() { return islandHost_; }
  CustomImageAPI& imageAPI() { return imageAPI_; }
  GlobalShortcuts& shortcuts() { return shortcuts_; }
  const std::optional<RunningApplication>& sourceApplication() const { return sourceApplication_; }
  // The page finished loading once.
  bool loaded() const { return loaded_; }

 private:
  // The application the panel is about to show over; none while a file panel
  // is up, when the panel does not show.
  std::optional<RunningApplication> frontmostToShowOver();
  // show() and deliver() with the frontmost application already read.
  void showOver(std::optional<RunningApplication> front);
  void deliver(Json payload, std::optional<RunningApplication> front);
  // The reply path of the history and media actions.
  ReplySink replies();
  void presentRadial(Json payload, Point point, std::optional<RunningApplication> front);
  // Where the local agents are looked for and the managed Codex is installed.
  LocalAgentPaths agentPaths() const {
    return options_.agentPaths.value_or(LocalAgentPaths::standard(options_.resourceDirectory));
  }
  void setPanelLevel(PanelLevel level);

  Platform platform_;
  const ControllerOptions options_;
  Lifetime lifetime_;
  PlumoraIslandHost islandHost_;
  CustomImageAPI imageAPI_;
  ShellState state_;
  // The page finished loading once.
  bool loaded_ = false;
  // The application to give the focus back to when the panel hides.
  std::optional<RunningApplication> sourceApplication_;
  SmokeLibrary smokeLibrary_;
  PlumoraHistory historyStore_;
  std::unique_ptr<SerialQueue> historyQueue_;
  PlumoraTaskFeedback taskFeedback_;
  PlumoraCloudAccount cloudAccount_;
  LocalAgentManager localAgents_;
  BundledWebHandler webHandler_;
  HistoryActions historyActions_;
  MediaActions mediaActions_;
  BridgeDispatcher dispatcher_;
  SelectionCapture selectionCapture_;
  GlobalShortcuts shortcuts_;
  RadialPresenter radial_;
  // Made on the first opening and kept for the rest of the session.
  std::unique_ptr<LocalAgentSetup> agentSetup_;
  bool shutDown_ = false;
};

}  // namespace glimmet
