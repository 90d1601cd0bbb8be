#include "app/plumora_controller.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <utility>

#include "app/plumora_appearance.h"
#include "bridge/bridge_message.h"
#include "surfaces/design.h"

namespace glimmet {

namespace {

constexpr const char* kRetry = "重试";
constexpr const char* kLater = "稍后";

ControllerOptions completed(ControllerOptions options) {
  if (!options.printLine) {
    options.printLine = [](const std::string& line) {
      std::fputs((line + "\n").c_str(), stdout);
      std::fflush(stdout);
    };
  }
  if (options.temporaryDirectory.empty()) {
    std::error_code error;
    options.temporaryDirectory = std::filesystem::temp_directory_path(error);
    if (error) options.temporaryDirectory = "/tmp";
  }
  if (options.webDirectory.empty() && !options.resourceDirectory.empty()) {
    options.webDirectory = options.resourceDirectory / "web";
  }
  if (options.processId == 0) options.processId = getpid();
  if (options.appVersion.empty()) options.appVersion = kDevelopmentPreviewVersion;
  return options;
}

bool within(double value, double target) { return std::abs(value - target) <= 1; }

// Whether a capture brought material to act on: an image, or text without an error.
bool bringsMaterial(const Json& payload) {
  if (payload.contains("error")) return false;
  if (payload.contains("image")) return true;
  const auto text = payload.find("text");
  return text != payload.end() && text->is_string() && !text->get<std::string>().empty();
}

}  // namespace

PlumoraController::PlumoraController(Platform platform, ControllerOptions options)
    : platform_(std::move(platform)),
      options_(completed(std::move(options))),
      islandHost_(platform_.clock, platform_.pointer, platform_.screens,
                  [this](std::string script) { evaluate(script); }),
      imageAPI_(platform_.defaults, platform_.secrets, platform_.clock, options_.session),
      state_(islandHost_),
      smokeLibrary_(options_.switches.librarySmokeTest, options_.temporaryDirectory,
                    options_.processId, platform_.workspace),
      historyStore_(smokeLibrary_.root()),
      historyQueue_(std::make_unique<SerialQueue>(HistoryActions::kQueueLabel)),
      taskFeedback_(platform_.clock, platform_.sound, platform_.appearance,
                    options_.resourceDirectory / PlumoraTaskFeedback::kChimeFile),
      cloudAccount_(options_.origin.value_or(PlumoraCloudAccount::websiteOrigin()),
                    platform_.secrets, platform_.workspace, platform_.filePanels, platform_.clock,
                    options_.session),
      localAgents_(platform_.defaults, agentPaths()),
      webHandler_(historyStore_, options_.webDirectory),
      historyActions_(historyStore_, *historyQueue_, platform_.clipboard, smokeLibrary_.workspace(),
                      replies()),
      mediaActions_(
          historyStore_, platform_.clipboard, platform_.filePanels, platform_.videoPlayer,
          MediaActions::Host{[this] {
                               const WebViewSize size = platform_.webView.size();
                               return MediaActions::WebViewSize{size.width, size.height};
                             },
                             [this] { return beginFilePanel(); }, [this] { endFilePanel(); },
                             options_.switches.librarySmokeTest,
                             [this](const std::string& line) { printLine(line); }},
          replies()),
      dispatcher_(*this, platform_,
                  BridgeServices{imageAPI_, localAgents_, cloudAccount_, taskFeedback_, islandHost_,
                                 historyActions_, mediaActions_},
                  BridgeFlags{options_.switches.previewSmokeTest,
                              options_.switches.notificationTest(), options_.resourceDirectory}),
      selectionCapture_(platform_.accessibility, platform_.selection, options_.processId),
      shortcuts_(GlobalShortcuts::Services{platform_.hotKeys, platform_.defaults, platform_.alerts,
                                           platform_.workspace, platform_.settingsWindow,
                                           platform_.accessibility, platform_.autostart},
                 [this] { captureText(); }),
      radial_(platform_.radial, platform_.screens) {}

PlumoraController::~PlumoraController() {
  // Runs the history work still queued while the actions it reports to exist.
  historyQueue_.reset();
}

ReplySink PlumoraController::replies() {
  return [this](std::int64_t messageId, const BridgeReply& answer) { reply(messageId, answer); };
}

void PlumoraController::launch() {
  if (smokeLibrary_.active()) printLine(SmokeLibrary::seed(historyStore_));
  const std::string preview = options_.switches.previewAppearance();
  PlumoraAppearance::apply(preview.empty() ? PlumoraAppearance::saved(platform_.defaults) : preview,
                           false, platform_.appearance, platform_.defaults);
  islandHost_.attach(platform_.panel);
  taskFeedback_.attach(platform_.statusButton);
  islandHost_.position(platform_.statusButton.get());
  shortcuts_.install();
  platform_.workspace.observeActivation([this] { shortcuts_.updateSuspension(); });

  std::error_code error;
  if (!options_.webDirectory.empty() &&
      std::filesystem::is_regular_file(options_.webDirectory / "index.html", error)) {
    platform_.webView.load(kPageURL);
  } else {
    platform_.alerts.present({kMissingResources, kMissingResourcesDetail, {}}, [](std::size_t) {});
  }
  show();
}

std::string PlumoraController::bridgeScript() const {
  BridgeScriptValues values;
  values.librarySmokeTest = options_.switches.librarySmokeTest;
  values.appearancePreference = PlumoraAppearance::saved(platform_.defaults);
  values.appVersion = options_.appVersion;
  values.notificationTest = options_.switches.notificationTest();
  values.notificationTestFailure = options_.switches.notificationFailureSmokeTest;
  values.previewTrace = options_.switches.previewSmokeTest;
  return glimmet::bridgeScript(values);
}

void PlumoraController::receive(std::optional<std::string_view> frameURL, bool mainFrame,
                                Json body) {
  if (shutDown_) return;
  if (std::optional<BridgeMessage> message =
          acceptedMessage(frameURL, mainFrame, std::move(body))) {
    dispatcher_.dispatch(*message);
  }
}

void PlumoraController::deliver(Json payload) {
  deliver(std::move(payload), frontmostToShowOver());
}

void PlumoraController::deliver(Json payload, std::optional<RunningApplication> front) {
  state_.holdCapture(std::move(payload));
  showOver(std::move(front));
  if (!loaded_) return;
  evaluate(eventScript(PageDetailEvent::kCapture, json(state_.takeCapture())));
}

void PlumoraController::captureText() {
  if (shutDown_ || state_.overlays.filePanelOpen()) return;
  std::optional<RunningApplication> front = platform_.workspace.frontmostApplication();
  sourceApplication_ = front;
  // The application read at the trigger is the one the panel shows over: no
  // second lookup on the way to the page.
  selectionCapture_.capture(front, false, [this, front](Json payload) {
    if (shutDown_) return;
    if (bringsMaterial(payload)) {
      presentRadial(std::move(payload), platform_.pointer.pointer().position, front);
    } else {
      deliver(std::move(payload), front);
    }
  });
}

void PlumoraController::presentRadial(Json payload, Point point) {
  presentRadial(std::move(payload), point, std::nullopt);
}

void PlumoraController::presentRadial(Json payload, Point point,
                                      std::optional<RunningApplication> front) {
  if (shutDown_) return;
  // The panel stays anchored to the tray item; the choice only brings it forward.
  radial_.present(std::move(payload), point, [this, front = std::move(front)](Json chosen) {
    if (!shutDown_) deliver(std::move(chosen), front ? front : frontmostToShowOver());
  });
}

void PlumoraController::openSettings() { shortcuts_.openSettings(); }

void PlumoraController::openAgentSetup() {
  if (shutDown_) return;
  if (!agentSetup_) {
    CodexInstallerSettings installer;
    installer.session.trustedCAFile = options_.session.trustedCAFile;
    installer.session.connectTo = options_.session.connectTo;
    agentSetup_ = std::make_unique<LocalAgentSetup>(
        localAgents_, platform_.agentSetupWindow, platform_.accessibility, agentPaths(),
        std::move(installer), [this, alive = lifetime_.guard()] {
          if (!alive.expired() && !shutDown_) show();
        });
  }
  agentSetup_->show();
}

void PlumoraController::statusClick() {
  show();
  evaluate(eventScript(PageEvent::kToggle));
}

void PlumoraController::openStudio() {
  show();
  evaluate(eventScript(PageDetailEvent::kSurface, "'quick'"));
}

void PlumoraController::openBrowser() {
  platform_.workspace.openUrl(cloudAccount_.origin().absoluteString() + "/desktop");
}

void PlumoraController::pageLoaded() {
  loaded_ = true;
  islandHost_.position(platform_.statusButton.get());
}

void PlumoraController::pageLoadFailed() {
  platform_.alerts.present({kLoadFailed, kLoadFailedDetail, {kRetry, kLater}},
                           [this, alive = lifetime_.guard()](std::size_t button) {
                             if (!alive.expired() && button == 0) platform_.webView.load(kPageURL);
                           });
}

void PlumoraController::resignActive() {
  if (!state_.pinned()) setPanelLevel(PanelLevel::normal);
}

void PlumoraController::setPanelLevel(PanelLevel level) { platform_.panel->setLevel(level); }

std::optional<RunningApplication> PlumoraController::frontmostToShowOver() {
  if (state_.overlays.filePanelOpen()) return std::nullopt;
  return platform_.workspace.frontmostApplication();
}

void PlumoraController::show() { showOver(frontmostToShowOver()); }

void PlumoraController::showOver(std::optional<RunningApplication> front) {
  if (state_.overlays.filePanelOpen()) {
    platform_.panel->raiseAttachedDialog();
    return;
  }
  if (front && front->pid != options_.processId) sourceApplication_ = std::move(front);
  islandHost_.position(platform_.statusButton.get());
  setPanelLevel(PanelLevel::floating);
  state_.setTaskNoticeOwed(false);
  platform_.panel->present();
  platform_.activity.activate();
}

void PlumoraController::hideCreator() {
  mediaActions_.pauseLibraryVideo();
  if (state_.overlays.filePanelOpen()) return;
  evaluate(eventScript(PageEvent::kHide));
  state_.setTaskNoticeOwed(false);
  platform_.panel->hide();
  const std::optional<RunningApplication>& source = sourceApplication_;
  if (platform_.activity.isActive() && source && source->pid != options_.processId) {
    platform_.workspace.activate(*source);
  }
}

bool PlumoraController::beginFilePanel() {
  if (state_.overlays.filePanelOpen()) return false;
  state_.overlays.setFilePanelOpen(true);
  setPanelLevel(PanelLevel::normal);
  evaluate(eventScript(PageDetailEvent::kInteraction, "true"));
  return true;
}

void PlumoraController::endFilePanel() {
  state_.overlays.setFilePanelOpen(false);
  if (state_.taskNoticeOwed()) presentTaskHUD();
  if (platform_.activity.isActive() || state_.pinned()) setPanelLevel(PanelLevel::floating);
  evaluate(eventScript(PageDetailEvent::kInteraction, "false"));
}

void PlumoraController::presentTaskHUD() {
  state_.setTaskNoticeOwed(!state_.pinned());
  if (state_.pinned()) return;
  if (state_.overlays.anyOpen()) return;
  // The page shrinks the island to the notice and then the panel comes forward.
  platform_.webView.evaluate(eventScript(PageEvent::kTaskNotice),
                             [this, alive = lifetime_.guard()] {
                               if (!alive.expired()) flushTaskHUD();
                             });
}

void PlumoraController::flushTaskHUD() {
  if (!state_.taskNoticeOwed() || state_.pinned() || state_.overlays.anyOpen()) return;
  const Rect& island = islandHost_.rect();
  if (!within(island.width, PlumoraDesign::Layout::compactWidth) ||
      !within(island.height, PlumoraDesign::Layout::compactHeight)) {
    return;
  }
  state_.setTaskNoticeOwed(false);
  islandHost_.position(platform_.statusButton.get());
  setPanelLevel(PanelLevel::floating);
  platform_.panel->showInactive();
}

void PlumoraController::clearLibraryVideo() { mediaActions_.clearLibraryVideo(); }

void PlumoraController::evaluate(const std::string& script) { platform_.webView.evaluate(script); }

void PlumoraController::reply(std::int64_t messageId, const BridgeReply& answer) {
  evaluate(answer.script(messageId));
}

void PlumoraController::printLine(const std::string& line) { options_.printLine(line); }

std::optional<Json> PlumoraController::applyAppearance(const Json& value) {
  const auto& options = PlumoraAppearance::options;
  if (!value.is_string() ||
      std::find(options.begin(), options.end(), value.get<std::string>()) == options.end()) {
    return std::nullopt;
  }
  return PlumoraAppearance::apply(value.get<std::string>(), !options_.switches.librarySmokeTest,
                                  platform_.appearance, platform_.defaults);
}

void PlumoraController::shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  radial_.dismiss();
  clearLibraryVideo();
  if (smokeLibrary_.active()) smokeLibrary_.remove(historyStore_);
  taskFeedback_.stop();
  islandHost_.stop();
  imageAPI_.cancel();
  if (agentSetup_) agentSetup_->terminate();
  localAgents_.cancelAll();
  shortcuts_.shutdown();
  platform_.workspace.observeActivation({});
}

}  // namespace glimmet
