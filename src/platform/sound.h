#pragma once

// Plays short sound files such as the completion chime, one at a time: a sound
// that loads replaces the one playing, whose completion then never runs; a
// missing resource leaves the playing sound alone. Main thread only;
// completions run on the main thread.

#include <filesystem>
#include <functional>

namespace glimmet {

class Sound {
 public:
  enum class PlayStatus {
    playing,
    // The file is absent or cannot be decoded as sound.
    missingResource,
    // The sound loaded but playback could not start (for example no audio device).
    failed,
  };
  // true when the sound played to its end, false when playback broke off.
  using Completion = std::function<void(bool finished)>;

  virtual ~Sound() = default;

  // Plays `file` once at `volume` (0 to 1). Only when it answers `playing` does
  // the completion run, at most once.
  virtual PlayStatus play(const std::filesystem::path& file, double volume,
                          Completion completion) = 0;
  // Stops playback without running the completion; harmless when nothing plays.
  virtual void stop() = 0;
};

}  // namespace glimmet
