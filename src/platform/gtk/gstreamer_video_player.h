#pragma once

// The library video player over the creation panel's page: a GtkOverlay holds
// the web view and lays the player over it at the frame the page gives (the
// web view fills the overlay, so page points are the overlay's coordinates).
// The player is a GStreamer playbin drawing into gtksink's widget, which fits
// the picture inside its frame keeping the aspect, above a bar of controls:
// play/pause, the position, mute. A new player shows its first frame paused.
//
// GStreamer decodes on its own threads and reports on the bus, which is
// watched on the main context, so nothing here waits for the media. Media that
// cannot be played (a damaged file, a missing decoder) leaves the player in
// its error state: an error sign in the frame, the controls off, a diagnostic
// line on standard error. Main thread only.

#include <memory>

#include "platform/video_player.h"

typedef struct _GtkWidget GtkWidget;

namespace glimmet {

class GStreamerVideoPlayer final : public VideoPlayer {
 public:
  // The names of the player's widgets (gtk_widget_get_name), for assistive
  // tools and tests.
  static constexpr const char* kPlayButton = "glimmet-video-play";
  static constexpr const char* kPosition = "glimmet-video-position";
  static constexpr const char* kMuteButton = "glimmet-video-mute";
  static constexpr const char* kErrorSign = "glimmet-video-error";

  // Puts `page` (the web view, still owned by its view) into the overlay.
  explicit GStreamerVideoPlayer(GtkWidget* page);
  ~GStreamerVideoPlayer() override;
  GStreamerVideoPlayer(const GStreamerVideoPlayer&) = delete;
  GStreamerVideoPlayer& operator=(const GStreamerVideoPlayer&) = delete;

  void show(Request request) override;
  void move(const PageRect& frame) override;
  void pause() override;
  void remove() override;

  // The overlay, to be placed where the page was.
  GtkWidget* widget() const { return overlay_; }
  // The current player's widget on the overlay; null when there is none.
  GtkWidget* playerWidget() const;

 private:
  class Player;
  struct Signals;

  GtkWidget* overlay_ = nullptr;
  std::unique_ptr<Player> player_;
};

}  // namespace glimmet
