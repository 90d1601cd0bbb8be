#pragma once

// A video player for tests: records what the program asked for, shows nothing,
// and lets the test play the part of the user changing the playback rate.
// Main thread only, like the real player.

#include <optional>

#include "platform/video_player.h"

namespace glimmet {

class HeadlessVideoPlayer final : public VideoPlayer {
 public:
  void show(Request request) override;
  void move(const PageRect& frame) override;
  void pause() override;
  void remove() override;

  // The current player's request, its frame updated by each move; none when no
  // player is on the page.
  const std::optional<Request>& current() const { return current_; }
  bool isPlaying() const { return current_ && rate_ != 0; }
  // Players created so far, and moves of a current player.
  int showCount() const { return showCount_; }
  int moveCount() const { return moveCount_; }

  // Sets the current player's rate as its controls would and tells its observer
  // when the rate changed; false, telling no one, when no player is on the page.
  bool setRate(double rate, double seconds);

 private:
  std::optional<Request> current_;
  double rate_ = 0;
  double seconds_ = 0;
  int showCount_ = 0;
  int moveCount_ = 0;
};

}  // namespace glimmet
