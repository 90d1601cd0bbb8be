#include "platform/headless/headless_video_player.h"

#include <utility>

namespace glimmet {

void HeadlessVideoPlayer::show(Request request) {
  remove();
  current_ = std::move(request);
  ++showCount_;
}

void HeadlessVideoPlayer::move(const PageRect& frame) {
  if (!current_) return;
  current_->frame = frame;
  ++moveCount_;
}

// Pausing is a rate change like any other, so a real player's observer hears it.
void HeadlessVideoPlayer::pause() {
  if (current_) setRate(0, seconds_);
}

// The observer goes with the player: taking it down is no rate change to report.
void HeadlessVideoPlayer::remove() {
  current_.reset();
  rate_ = 0;
  seconds_ = 0;
}

bool HeadlessVideoPlayer::setRate(double rate, double seconds) {
  if (!current_) return false;
  seconds_ = seconds;
  if (rate == rate_) return true;
  rate_ = rate;
  // A copy: the observer may remove the player it observes.
  const RateObserver observer = current_->onRateChange;
  if (observer) observer(rate, seconds);
  return true;
}

}  // namespace glimmet
