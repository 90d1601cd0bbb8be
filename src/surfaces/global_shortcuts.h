#pragma once

// The creation shortcut as the user lives with it: registered at launch,
// changed in the settings window (the new combination is registered before the
// old one is released, so a failed change never leaves the user without one),
// paused as a whole, and withdrawn while an application of the user's list is
// frontmost so that its own use of the combination works there. The list holds
// applications by their WM_CLASS class name, comma-separated. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/defaults_store.h"
#include "platform/accessibility.h"
#include "platform/alerts.h"
#include "platform/autostart.h"
#include "platform/hot_keys.h"
#include "platform/settings_window.h"
#include "platform/workspace.h"
#include "surfaces/shortcut.h"

namespace glimmet {

class GlobalShortcuts final : private SettingsWindowEvents {
 public:
  static constexpr const char* kNormalKey = "shortcut.normal";
  static constexpr const char* kVoiceKey = "shortcut.video";
  static constexpr const char* kDisabledAppsKey = "disabled.apps";
  static constexpr const char* kPausedKey = "shortcut.paused";

  static constexpr const char* kTaken = "Glimmet 快捷键被占用";
  static constexpr const char* kTakenDetail = "注册失败，仍可通过菜单栏开始创作或修改快捷键。";
  static constexpr const char* kNotRestored = "无法恢复快捷键";
  static constexpr const char* kNotRestoredDetail =
      "快捷键可能被其他工具占用；通过菜单栏修改快捷键。";
  static constexpr const char* kChangeFailed = "快捷键注册失败";
  static constexpr const char* kChangeFailedDetail = "新组合键被占用，旧快捷键已保留。";
  static constexpr const char* kLaunchAtLoginFailed = "无法更改登录时启动";
  static constexpr const char* kLaunchAtLoginFailedDetail =
      "无法写入桌面的自动启动目录，原设置已保留。";
  static constexpr const char* kSelectionReadable = "选区读取：可用。选中即可读取，无需额外授权。";
  static constexpr const char* kSelectionUnreadable =
      "选区读取：当前会话无法读取其他应用的选区，请粘贴或拖入。";

  struct Services {
    HotKeys& hotKeys;
    DefaultsStore& defaults;
    Alerts& alerts;
    Workspace& workspace;
    SettingsWindow& window;
    Accessibility& accessibility;
    Autostart& autostart;
  };

  // `trigger` runs, on the main queue, each time the creation shortcut is pressed.
  GlobalShortcuts(Services services, std::function<void()> trigger);
  ~GlobalShortcuts() override;
  GlobalShortcuts(const GlobalShortcuts&) = delete;
  GlobalShortcuts& operator=(const GlobalShortcuts&) = delete;

  // At launch: hears the hot key, registers the creation shortcut (an alert
  // tells the user when that fails) and applies the pause rules.
  void install();
  // Registers `normal` in place of the current creation shortcut; false, with
  // the current one still registered, when the new one cannot be.
  bool registerShortcut(const Shortcut& normal);
  // Withdraws or restores the hot key for the pause switch and the frontmost application.
  void updateSuspension();
  // Unregisters every hot key and stops hearing them; nothing is stored.
  void shutdown();

  void openSettings();
  void saveSettings(const std::string& disabledApplications, bool paused);
  void resetSettings();
  // Closing the window stops recording and hides it; nothing is stored.
  void closeSettings();

  const Shortcut& normalShortcut() const { return normal_; }
  const Shortcut& voiceShortcut() const { return voice_; }
  bool suspended() const { return suspended_; }
  bool registered() const { return hotKey_.has_value(); }
  const ShortcutRecorder& recorder() const { return recorder_; }

  // "disabled.apps" split at every comma, each part trimmed (empty parts stay).
  static std::vector<std::string> disabledApplications(const std::string& stored);

 private:
  // SettingsWindowEvents.
  void recorderClicked() override;
  bool keyPressed(const KeyStroke& key) override;
  void saveClicked(const std::string& disabledApplications, bool paused,
                   bool launchAtLogin) override;
  void resetClicked() override { resetSettings(); }
  void accessibilityClicked() override;
  void closeRequested() override { closeSettings(); }

  void unregisterAll();
  std::string permissionState() const;
  void alert(const char* message, const char* detail);

  Services services_;
  Shortcut normal_;
  Shortcut voice_;
  std::optional<HotKeys::Id> hotKey_;
  bool suspended_ = false;
  ShortcutRecorder recorder_;
};

}  // namespace glimmet
