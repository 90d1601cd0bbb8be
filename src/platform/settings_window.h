#pragma once

// The shortcut and permission settings window. It shows what it is given and
// reports what the user does; the shortcut logic stays with its owner. Main
// thread only.

#include <cstdint>
#include <string>

namespace glimmet {

// A key pressed in the window: its platform key code, the stored modifier mask
// (KeyCombination) and the characters it types with only Shift applied.
struct KeyStroke {
  std::uint32_t code = 0;
  std::uint32_t modifiers = 0;
  std::string characters;
};

struct SettingsWindowContent {
  std::string recorderTitle;
  std::string disabledApplications;
  bool paused = false;
  // One line that says honestly whether selections can be read here.
  std::string permissionState;
  // The program starts when the user logs in.
  bool launchAtLogin = false;
};

class SettingsWindowEvents {
 public:
  virtual ~SettingsWindowEvents() = default;

  virtual void recorderClicked() = 0;
  // A key pressed in the window; true when it was used and must go no further.
  virtual bool keyPressed(const KeyStroke& key) = 0;
  virtual void saveClicked(const std::string& disabledApplications, bool paused,
                           bool launchAtLogin) = 0;
  virtual void resetClicked() = 0;
  virtual void accessibilityClicked() = 0;
  virtual void closeRequested() = 0;
};

class SettingsWindow {
 public:
  virtual ~SettingsWindow() = default;

  // Builds the window on first use with `content`, then brings it forward and
  // gives it the focus. `events` must outlive the window.
  virtual void present(const SettingsWindowContent& content, SettingsWindowEvents& events) = 0;
  // While recording, the window takes every key press, the registered hot key included.
  virtual void setRecorder(const std::string& title, bool recording) = 0;
  virtual void setPermissionState(const std::string& state) = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
};

}  // namespace glimmet
