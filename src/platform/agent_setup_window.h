#pragma once

// The local agent setup window: it shows what it is given (the inventory
// lines, the log, the installation's progress) and reports what the user
// does; the setup logic stays with its owner. Built on first use, afterwards
// only hidden and shown again. Main thread only.

#include <optional>
#include <string>

namespace glimmet {

class AgentSetupWindowEvents {
 public:
  virtual ~AgentSetupWindowEvents() = default;

  virtual void refreshClicked() = 0;
  virtual void installClicked() = 0;
  virtual void cancelInstallClicked() = 0;
  virtual void loginClicked() = 0;
  virtual void permissionClicked() = 0;
  virtual void startClicked() = 0;
  // The user closed the window; it is hidden already.
  virtual void closed() = 0;
};

class AgentSetupWindow {
 public:
  virtual ~AgentSetupWindow() = default;

  // Builds the window on first use, then brings it forward and gives it the
  // focus. `events` must outlive the window.
  virtual void present(AgentSetupWindowEvents& events) = 0;
  virtual void setStatus(const std::string& text) = 0;
  // The whole log text; the view scrolls to its end.
  virtual void setLog(const std::string& text) = 0;
  // While installing, the install button is disabled and the cancel button offered.
  virtual void setInstalling(bool installing) = 0;
  virtual void setLoginEnabled(bool enabled) = 0;
  // The installation's progress from 0 to 1; none hides it.
  virtual void setProgress(std::optional<double> fraction) = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
};

}  // namespace glimmet
