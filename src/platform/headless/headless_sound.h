#pragma once

// Sound playback for tests: records every play, never makes a noise, and lets
// the test end the current sound. A file counts as a loadable sound when it is
// a regular file. Main thread only, like the real player.

#include <vector>

#include "platform/sound.h"

namespace glimmet {

class HeadlessSound final : public Sound {
 public:
  struct PlayCall {
    std::filesystem::path file;
    double volume = 0;
  };

  PlayStatus play(const std::filesystem::path& file, double volume, Completion completion) override;
  void stop() override;

  // Without a device, loadable sounds answer `failed`, as on a machine without audio.
  void setDeviceAvailable(bool available) { deviceAvailable_ = available; }

  // Every play call, whatever it answered.
  const std::vector<PlayCall>& plays() const { return plays_; }
  bool isPlaying() const { return playing_; }

  // End the current sound, played to its end or broken off; false, running
  // nothing, when no sound plays.
  bool finish() { return end(true); }
  bool interrupt() { return end(false); }

 private:
  bool end(bool finished);

  std::vector<PlayCall> plays_;
  bool deviceAvailable_ = true;
  bool playing_ = false;
  Completion completion_;
};

}  // namespace glimmet
