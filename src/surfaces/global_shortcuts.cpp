#include "surfaces/global_shortcuts.h"

#include <algorithm>
#include <utility>

#include "core/text.h"

namespace glimmet {

GlobalShortcuts::GlobalShortcuts(Services services, std::function<void()> trigger)
    : services_(services),
      normal_(Shortcut::load(services.defaults, kNormalKey, false)),
      voice_(Shortcut::load(services.defaults, kVoiceKey, true)),
      recorder_(normal_) {
  services_.hotKeys.setHandler(std::move(trigger));
  recorder_.onUpdate(
      [this] { services_.window.setRecorder(recorder_.title(), recorder_.isRecording()); });
}

GlobalShortcuts::~GlobalShortcuts() { shutdown(); }

void GlobalShortcuts::install() {
  if (!registerShortcut(normal_)) alert(kTaken, kTakenDetail);
  updateSuspension();
}

bool GlobalShortcuts::registerShortcut(const Shortcut& normal) {
  if (hotKey_ && normal.combination() == normal_.combination()) return true;
  const std::optional<HotKeys::Id> added = services_.hotKeys.registerHotKey(normal.combination());
  if (!added) return false;
  if (hotKey_) services_.hotKeys.unregisterHotKey(*hotKey_);
  hotKey_ = added;
  return true;
}

std::vector<std::string> GlobalShortcuts::disabledApplications(const std::string& stored) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = stored.find(',', start);
    parts.push_back(text::trimmed(std::string_view(stored).substr(start, comma - start)));
    if (comma == std::string::npos) return parts;
    start = comma + 1;
  }
}

void GlobalShortcuts::updateSuspension() {
  const std::optional<RunningApplication> front = services_.workspace.frontmostApplication();
  const std::string identifier = front ? front->bundleIdentifier : std::string();
  const std::optional<std::string> stored = services_.defaults.string(kDisabledAppsKey);
  std::vector<std::string> disabled;
  if (stored) disabled = disabledApplications(*stored);
  const bool paused = services_.defaults.boolean(kPausedKey).value_or(false);
  // Empty parts stay in the list, but no application is disabled for having no
  // name: otherwise an empty field would withdraw the hot key whenever no
  // application has the focus.
  const bool listed = !identifier.empty() &&
                      std::find(disabled.begin(), disabled.end(), identifier) != disabled.end();
  if (!paused && !listed) {
    if (suspended_ && !registerShortcut(normal_)) alert(kNotRestored, kNotRestoredDetail);
    suspended_ = false;
    return;
  }
  if (!suspended_) unregisterAll();
  suspended_ = true;
}

void GlobalShortcuts::unregisterAll() {
  if (hotKey_) services_.hotKeys.unregisterHotKey(*hotKey_);
  hotKey_.reset();
}

void GlobalShortcuts::shutdown() {
  unregisterAll();
  services_.hotKeys.setHandler({});
  recorder_.stop();
}

void GlobalShortcuts::openSettings() {
  recorder_.setShortcut(normal_);
  services_.window.present(
      SettingsWindowContent{recorder_.title(),
                            services_.defaults.string(kDisabledAppsKey).value_or(""),
                            services_.defaults.boolean(kPausedKey).value_or(false),
                            permissionState(), services_.autostart.enabled()},
      *this);
}

void GlobalShortcuts::saveSettings(const std::string& disabledApplications, bool paused) {
  recorder_.stop();
  const Shortcut changed = recorder_.shortcut();
  if (!suspended_ && !registerShortcut(changed)) {
    alert(kChangeFailed, kChangeFailedDetail);
    return;
  }
  normal_ = changed;
  services_.defaults.set(kNormalKey, normal_.dictionary());
  services_.defaults.set(kVoiceKey, voice_.dictionary());
  services_.defaults.set(kDisabledAppsKey, disabledApplications);
  services_.defaults.set(kPausedKey, paused);
  updateSuspension();
  services_.window.hide();
}

void GlobalShortcuts::resetSettings() {
  recorder_.setShortcut(Shortcut::creationDefault());
  recorder_.stop();
}

void GlobalShortcuts::closeSettings() {
  recorder_.stop();
  services_.window.hide();
}

void GlobalShortcuts::recorderClicked() { recorder_.record(); }

bool GlobalShortcuts::keyPressed(const KeyStroke& key) { return recorder_.handle(key); }

void GlobalShortcuts::saveClicked(const std::string& disabledApplications, bool paused,
                                  bool launchAtLogin) {
  if (launchAtLogin != services_.autostart.enabled() &&
      !services_.autostart.setEnabled(launchAtLogin)) {
    alert(kLaunchAtLoginFailed, kLaunchAtLoginFailedDetail);
  }
  saveSettings(disabledApplications, paused);
}

void GlobalShortcuts::accessibilityClicked() {
  services_.accessibility.requestTrust();
  services_.window.setPermissionState(permissionState());
}

std::string GlobalShortcuts::permissionState() const {
  return services_.accessibility.isTrusted() ? kSelectionReadable : kSelectionUnreadable;
}

void GlobalShortcuts::alert(const char* message, const char* detail) {
  services_.alerts.present({message, detail, {}}, [](std::size_t) {});
}

}  // namespace glimmet
