#pragma once

// Sounds played through a GStreamer playbin. Before a sound replaces the one
// playing, it is decoded once (GstDiscoverer) to tell a missing or broken file
// from a device that cannot play, and the audio sink is opened on its own, so
// that a machine without a usable audio device answers `failed` at once instead
// of failing later. End of stream finishes the sound; an error on the pipeline
// breaks it off. Needs no display; main thread only (the bus is watched on the
// default main context).

#include <memory>
#include <string>

#include "platform/sound.h"

namespace glimmet {

class GStreamerSound final : public Sound {
 public:
  // `audioSink` describes the sink in gst-launch syntax ("fakesink sync=true",
  // "alsasink device=hw:1"); empty selects the desktop's default output
  // (autoaudiosink).
  explicit GStreamerSound(std::string audioSink = {});
  ~GStreamerSound() override;
  GStreamerSound(const GStreamerSound&) = delete;
  GStreamerSound& operator=(const GStreamerSound&) = delete;

  PlayStatus play(const std::filesystem::path& file, double volume, Completion completion) override;
  // Whether `file` decodes to at least one audio stream; waits for the decoder
  // (at most a few seconds).
  static bool decodes(const std::filesystem::path& file);
  void stop() override;

 private:
  class Playback;
  void end(bool finished);

  std::string audioSink_;
  std::unique_ptr<Playback> playback_;
};

}  // namespace glimmet
