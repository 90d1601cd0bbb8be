#pragma once

// Interim stand-ins for the desktop surfaces that are not built yet: the tray
// item, the page's pop-up menus, the settings and agent setup windows, and the
// inline video player. Each does the closest honest thing and says so; none
// pretends to show something it does not.

#include <memory>
#include <optional>
#include <string>

#include "platform/app_windows.h"
#include "platform/popup_menu.h"
#include "platform/status_button.h"
#include "platform/video_player.h"
#include "platform/workspace.h"

namespace glimmet {

// A status button without a tray icon: it keeps what it was told to show and
// has no place on screen, so the island anchors to the work area's top-right corner.
class InterimStatusButton final : public StatusButton {
 public:
  void setTitle(const std::string& title) override { title_ = title; }
  void setToolTip(const std::string& toolTip) override { toolTip_ = toolTip; }
  void showRestingIcon() override { turn_.reset(); }
  void showTurnedIcon(double degrees, const std::string&) override { turn_ = degrees; }
  std::optional<Rect> frame() const override { return std::nullopt; }

  const std::string& title() const { return title_; }
  const std::string& toolTip() const { return toolTip_; }
  // The icon's turn, none while resting.
  std::optional<double> turn() const { return turn_; }

 private:
  std::string title_;
  std::string toolTip_;
  std::optional<double> turn_;
};

// A pop-up menu that cannot open yet: every request is answered "dismissed",
// later on the main thread, as a menu the user closed would be.
class DismissingPopUpMenu final : public PopUpMenu {
 public:
  void popUp(const PopUpMenuRequest& request, Completion completion) override;

 private:
  std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

// The settings and agent setup windows do not exist yet: opening one writes
// a diagnostic line to standard error.
class UnavailableAppWindows final : public AppWindows {
 public:
  void openSettings() override;
  void openAgentSetup() override;
};

// Until the inline player exists, a library video opens in the desktop's
// default video application; moving, pausing and removing have nothing inline
// to act on, and no playback rate is ever reported.
class ExternalVideoPlayer final : public VideoPlayer {
 public:
  explicit ExternalVideoPlayer(Workspace& workspace) : workspace_(workspace) {}

  void show(Request request) override;
  void move(const PageRect&) override {}
  void pause() override {}
  void remove() override {}

 private:
  Workspace& workspace_;
};

}  // namespace glimmet
