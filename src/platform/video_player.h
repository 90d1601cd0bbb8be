#pragma once

// The native video player laid over the page: at most one at a time, placed by
// a rectangle in page coordinates (points, origin at the page's top-left
// corner), with inline controls, the video fitted inside its frame keeping its
// aspect, no full-screen and no picture-in-picture. A new player starts paused:
// only the user starts playback, through its controls. Main thread only;
// observers run on the main thread.

#include <filesystem>
#include <functional>
#include <string>

namespace glimmet {

// A rectangle on the page, in points from the page's top-left corner.
struct PageRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  bool operator==(const PageRect&) const = default;
};

class VideoPlayer {
 public:
  // Hears each change of the playback rate (0 when paused, 1 when playing at
  // normal speed) with the playback position in seconds at that moment.
  using RateObserver = std::function<void(double rate, double seconds)>;

  struct Request {
    std::filesystem::path file;
    PageRect frame;
    // The name assistive technologies announce for the player.
    std::string accessibleName;
    // May be empty; otherwise it hears rate changes until the player is removed.
    RateObserver onRateChange;
  };

  virtual ~VideoPlayer() = default;

  // Removes any current player, then lays a paused player for the request's file
  // over the page at its frame. A file that cannot be played shows the player's
  // own error state.
  virtual void show(Request request) = 0;
  // Places the current player at `frame`; harmless when there is none.
  virtual void move(const PageRect& frame) = 0;
  // Pauses the current player, keeping it on the page; harmless when there is none.
  virtual void pause() = 0;
  // Stops the current player, drops its observer and takes it off the page;
  // harmless when there is none.
  virtual void remove() = 0;
};

}  // namespace glimmet
