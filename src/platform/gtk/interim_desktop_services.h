#pragma once

// Interim stand-in for the desktop surface that is not built yet: the inline
// video player. It does the closest honest thing and says so; it never
// pretends to show something it does not.

#include "platform/video_player.h"
#include "platform/workspace.h"

namespace glimmet {

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
