#pragma once

// Interim stand-ins for the desktop surfaces that are not built yet: the
// agent setup window and the inline video player. Each does the
// closest honest thing and says so; none pretends to show something it does not.

#include "platform/app_windows.h"
#include "platform/video_player.h"
#include "platform/workspace.h"

namespace glimmet {

// The agent setup window does not exist yet: opening it writes a diagnostic
// line to standard error.
class UnavailableAppWindows final : public AppWindows {
 public:
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
