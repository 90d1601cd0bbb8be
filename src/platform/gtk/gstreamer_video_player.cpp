#include "platform/gtk/gstreamer_video_player.h"

#include <gst/gst.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "core/glib_ptr.h"
#include "platform/gtk/gstreamer_support.h"

namespace glimmet {

namespace {

using gstreamer::adopt;
using gstreamer::ElementPtr;
using gstreamer::fileUri;

// How often the position bar follows a playing video.
constexpr guint kPositionTickMs = 250;
// A local file shows its first frame well within this. Some damaged files
// leave the demuxer stuck without an error on the bus: past this the player
// gives up on them.
constexpr guint kFirstFrameSeconds = 5;

constexpr const char* kStyle =
    ".glimmet-video { background-color: #000; color: #f2f2f2; }"
    ".glimmet-video-controls { background-color: #181818; }"
    ".glimmet-video-controls button { color: #f2f2f2; }"
    ".glimmet-video-controls button:disabled { color: #6b6b6b; }";

// The player's colours, once per program: dark like the picture it frames in
// light and dark appearance alike.
void addStyle() {
  static const bool added = [] {
    GObjectPtr<GtkCssProvider> provider(gtk_css_provider_new());
    gtk_css_provider_load_from_data(provider.get(), kStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                              GTK_STYLE_PROVIDER(provider.get()),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    return true;
  }();
  (void)added;
}

int rounded(double value) { return static_cast<int>(std::lround(value)); }

GtkWidget* iconButton(GtkWidget* button, const char* icon, const char* name) {
  gtk_button_set_image(GTK_BUTTON(button),
                       gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_BUTTON));
  gtk_button_set_relief(GTK_BUTTON(button), GTK_RELIEF_NONE);
  gtk_widget_set_focus_on_click(button, FALSE);
  gtk_widget_set_name(button, name);
  return button;
}

}  // namespace

class GStreamerVideoPlayer::Player {
 public:
  Player(GtkWidget* overlay, Request request);
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  GtkWidget* root() const { return root_; }
  const PageRect& frame() const { return frame_; }
  void place(const PageRect& frame) {
    frame_ = frame;
    gtk_widget_queue_resize(root_);
  }
  void pause() {
    if (!failed_ && rate_ != 0) gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
  }

 private:
  static gboolean busMessage(GstBus*, GstMessage* message, gpointer self);
  static gboolean tick(gpointer self);

  void start(const std::filesystem::path& file);
  void togglePlayback();
  void seek(double seconds);
  void prerolled();
  void stateChanged(GstState old, GstState now);
  void fail(const std::string& reason);
  void stopTimers();
  void setRate(double rate);
  void showPosition();
  double positionSeconds() const;

  PageRect frame_;
  std::string file_;
  VideoPlayer::RateObserver onRateChange_;
  GtkWidget* root_ = nullptr;
  GtkWidget* stack_ = nullptr;
  GtkWidget* controls_ = nullptr;
  GtkWidget* playButton_ = nullptr;
  GtkWidget* position_ = nullptr;
  ElementPtr playbin_;
  guint busWatch_ = 0;
  guint ticker_ = 0;
  guint firstFrameDeadline_ = 0;
  double rate_ = 0;
  bool atEnd_ = false;
  bool failed_ = false;
};

GStreamerVideoPlayer::Player::Player(GtkWidget* overlay, Request request)
    : frame_(request.frame),
      file_(request.file.string()),
      onRateChange_(std::move(request.onRateChange)) {
  addStyle();
  root_ = GTK_WIDGET(g_object_ref_sink(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0)));
  gtk_style_context_add_class(gtk_widget_get_style_context(root_), "glimmet-video");
  atk_object_set_name(gtk_widget_get_accessible(root_), request.accessibleName.c_str());

  stack_ = gtk_stack_new();
  gtk_widget_set_vexpand(stack_, TRUE);
  GtkWidget* sign = gtk_image_new_from_icon_name("dialog-error-symbolic", GTK_ICON_SIZE_DIALOG);
  gtk_widget_set_name(sign, kErrorSign);
  gtk_stack_add_named(GTK_STACK(stack_), sign, "error");
  gtk_box_pack_start(GTK_BOX(root_), stack_, TRUE, TRUE, 0);

  controls_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
  gtk_style_context_add_class(gtk_widget_get_style_context(controls_), "glimmet-video-controls");
  playButton_ = iconButton(gtk_button_new(), "media-playback-start-symbolic", kPlayButton);
  g_signal_connect_swapped(playButton_, "clicked",
                           G_CALLBACK(+[](Player* self) { self->togglePlayback(); }), this);
  position_ = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 1, 0.1);
  gtk_scale_set_draw_value(GTK_SCALE(position_), FALSE);
  gtk_widget_set_hexpand(position_, TRUE);
  gtk_widget_set_name(position_, kPosition);
  // Only the user moves the bar through "change-value"; the ticker does not.
  g_signal_connect(position_, "change-value",
                   G_CALLBACK(+[](GtkRange*, GtkScrollType, double value, Player* self) {
                     self->seek(value);
                     return FALSE;
                   }),
                   this);
  GtkWidget* mute = iconButton(gtk_toggle_button_new(), "audio-volume-high-symbolic", kMuteButton);
  g_signal_connect(mute, "toggled", G_CALLBACK(+[](GtkToggleButton* button, Player* self) {
                     const bool muted = gtk_toggle_button_get_active(button);
                     if (self->playbin_) g_object_set(self->playbin_.get(), "mute", muted, nullptr);
                     gtk_button_set_image(
                         GTK_BUTTON(button),
                         gtk_image_new_from_icon_name(
                             muted ? "audio-volume-muted-symbolic" : "audio-volume-high-symbolic",
                             GTK_ICON_SIZE_BUTTON));
                   }),
                   this);
  gtk_box_pack_start(GTK_BOX(controls_), playButton_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(controls_), position_, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(controls_), mute, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(root_), controls_, FALSE, FALSE, 0);
  // The controls wait for the first frame.
  gtk_widget_set_sensitive(controls_, FALSE);

  gtk_widget_show_all(root_);
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), root_);
  start(request.file);
}

GStreamerVideoPlayer::Player::~Player() {
  stopTimers();
  if (busWatch_ != 0) g_source_remove(busWatch_);
  if (playbin_) gst_element_set_state(playbin_.get(), GST_STATE_NULL);
  gtk_widget_destroy(root_);
  g_object_unref(root_);
}

void GStreamerVideoPlayer::Player::start(const std::filesystem::path& file) {
  if (!gstreamer::ready()) return fail("GStreamer cannot start");
  playbin_ = adopt(gst_element_factory_make("playbin", nullptr));
  const ElementPtr sink = adopt(gst_element_factory_make("gtksink", nullptr));
  if (!playbin_ || !sink) return fail("playbin or gtksink is missing (gstreamer1.0-gtk3)");
  GtkWidget* picture = nullptr;
  g_object_get(sink.get(), "widget", &picture, nullptr);
  gtk_stack_add_named(GTK_STACK(stack_), picture, "video");
  gtk_widget_show(picture);
  g_object_unref(picture);
  gtk_stack_set_visible_child_name(GTK_STACK(stack_), "video");

  g_object_set(playbin_.get(), "video-sink", sink.get(), "uri", fileUri(file).c_str(), nullptr);
  GPtr<GstBus, gst_object_unref> bus(gst_element_get_bus(playbin_.get()));
  busWatch_ = gst_bus_add_watch(bus.get(), busMessage, this);
  // Paused shows the first frame; only the play button starts playback.
  if (gst_element_set_state(playbin_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
    return fail("the pipeline does not start");
  }
  firstFrameDeadline_ = g_timeout_add_seconds(
      kFirstFrameSeconds,
      [](gpointer self) {
        static_cast<Player*>(self)->firstFrameDeadline_ = 0;
        static_cast<Player*>(self)->fail("no picture within " + std::to_string(kFirstFrameSeconds) +
                                         " seconds");
        return G_SOURCE_REMOVE;
      },
      this);
}

gboolean GStreamerVideoPlayer::Player::busMessage(GstBus*, GstMessage* message, gpointer data) {
  auto* self = static_cast<Player*>(data);
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
      GError* raw = nullptr;
      gst_message_parse_error(message, &raw, nullptr);
      const GErrorPtr error(raw);
      self->fail(error ? error->message : "unknown error");
      break;
    }
    case GST_MESSAGE_EOS:
      self->atEnd_ = true;
      gst_element_set_state(self->playbin_.get(), GST_STATE_PAUSED);
      break;
    case GST_MESSAGE_ASYNC_DONE:
      self->prerolled();
      break;
    case GST_MESSAGE_DURATION_CHANGED:
      if (!self->failed_) self->showPosition();
      break;
    case GST_MESSAGE_STATE_CHANGED:
      if (GST_MESSAGE_SRC(message) == GST_OBJECT(self->playbin_.get())) {
        GstState old = GST_STATE_NULL;
        GstState now = GST_STATE_NULL;
        gst_message_parse_state_changed(message, &old, &now, nullptr);
        self->stateChanged(old, now);
      }
      break;
    default:
      break;
  }
  return G_SOURCE_CONTINUE;
}

gboolean GStreamerVideoPlayer::Player::tick(gpointer data) {
  static_cast<Player*>(data)->showPosition();
  return G_SOURCE_CONTINUE;
}

void GStreamerVideoPlayer::Player::togglePlayback() {
  if (failed_) return;
  if (rate_ != 0) {
    gst_element_set_state(playbin_.get(), GST_STATE_PAUSED);
    return;
  }
  if (atEnd_) seek(0);
  gst_element_set_state(playbin_.get(), GST_STATE_PLAYING);
}

void GStreamerVideoPlayer::Player::seek(double seconds) {
  if (failed_) return;
  atEnd_ = false;
  gst_element_seek_simple(playbin_.get(), GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          static_cast<gint64>(std::max(0.0, seconds) * GST_SECOND));
}

void GStreamerVideoPlayer::Player::prerolled() {
  if (failed_) return;
  if (firstFrameDeadline_ != 0) g_source_remove(firstFrameDeadline_);
  firstFrameDeadline_ = 0;
  gtk_widget_set_sensitive(controls_, TRUE);
  showPosition();
}

void GStreamerVideoPlayer::Player::stateChanged(GstState old, GstState now) {
  if (now == GST_STATE_PLAYING) {
    if (ticker_ == 0) ticker_ = g_timeout_add(kPositionTickMs, tick, this);
    setRate(1);
  } else if (old == GST_STATE_PLAYING) {
    if (ticker_ != 0) g_source_remove(ticker_);
    ticker_ = 0;
    showPosition();
    setRate(0);
  }
}

void GStreamerVideoPlayer::Player::fail(const std::string& reason) {
  if (failed_) return;
  failed_ = true;
  std::fprintf(stderr, "glimmet: cannot play %s: %s\n", file_.c_str(), reason.c_str());
  stopTimers();
  if (playbin_) gst_element_set_state(playbin_.get(), GST_STATE_NULL);
  gtk_stack_set_visible_child_name(GTK_STACK(stack_), "error");
  gtk_widget_set_sensitive(controls_, FALSE);
  setRate(0);
}

void GStreamerVideoPlayer::Player::stopTimers() {
  for (guint* timer : {&ticker_, &firstFrameDeadline_}) {
    if (*timer != 0) g_source_remove(*timer);
    *timer = 0;
  }
}

void GStreamerVideoPlayer::Player::setRate(double rate) {
  if (rate == rate_) return;
  rate_ = rate;
  gtk_button_set_image(GTK_BUTTON(playButton_),
                       gtk_image_new_from_icon_name(rate != 0 ? "media-playback-pause-symbolic"
                                                              : "media-playback-start-symbolic",
                                                    GTK_ICON_SIZE_BUTTON));
  // A copy: the observer may take the player away.
  const VideoPlayer::RateObserver observer = onRateChange_;
  if (observer) observer(rate, positionSeconds());
}

// The duration may only be known once playback has begun.
void GStreamerVideoPlayer::Player::showPosition() {
  gint64 duration = 0;
  if (!failed_ && gst_element_query_duration(playbin_.get(), GST_FORMAT_TIME, &duration) &&
      duration > 0) {
    gtk_range_set_range(GTK_RANGE(position_), 0, static_cast<double>(duration) / GST_SECOND);
  }
  gtk_range_set_value(GTK_RANGE(position_), positionSeconds());
}

double GStreamerVideoPlayer::Player::positionSeconds() const {
  gint64 position = 0;
  if (failed_ || !gst_element_query_position(playbin_.get(), GST_FORMAT_TIME, &position)) return 0;
  return static_cast<double>(position) / GST_SECOND;
}

struct GStreamerVideoPlayer::Signals {
  // Places the player's widget at its frame on the overlay.
  static gboolean childPosition(GtkOverlay*, GtkWidget* child, GdkRectangle* allocation,
                                gpointer data);
};

gboolean GStreamerVideoPlayer::Signals::childPosition(GtkOverlay*, GtkWidget* child,
                                                      GdkRectangle* allocation, gpointer data) {
  auto* self = static_cast<GStreamerVideoPlayer*>(data);
  if (!self->player_ || child != self->player_->root()) return FALSE;
  // Never less than the controls need: GTK refuses to squeeze them.
  GtkRequisition minimum{};
  gtk_widget_get_preferred_size(child, &minimum, nullptr);
  const PageRect& frame = self->player_->frame();
  allocation->x = rounded(frame.x);
  allocation->y = rounded(frame.y);
  allocation->width = std::max(minimum.width, rounded(frame.width));
  allocation->height = std::max(minimum.height, rounded(frame.height));
  return TRUE;
}

GStreamerVideoPlayer::GStreamerVideoPlayer(GtkWidget* page) {
  overlay_ = GTK_WIDGET(g_object_ref_sink(gtk_overlay_new()));
  gtk_container_add(GTK_CONTAINER(overlay_), page);
  gtk_widget_show(page);
  gtk_widget_show(overlay_);
  g_signal_connect(overlay_, "get-child-position", G_CALLBACK(Signals::childPosition), this);
}

GStreamerVideoPlayer::~GStreamerVideoPlayer() {
  player_.reset();
  g_signal_handlers_disconnect_by_data(overlay_, this);
  g_object_unref(overlay_);
}

void GStreamerVideoPlayer::show(Request request) {
  player_.reset();
  player_ = std::make_unique<Player>(overlay_, std::move(request));
}

void GStreamerVideoPlayer::move(const PageRect& frame) {
  if (player_) player_->place(frame);
}

void GStreamerVideoPlayer::pause() {
  if (player_) player_->pause();
}

void GStreamerVideoPlayer::remove() { player_.reset(); }

GtkWidget* GStreamerVideoPlayer::playerWidget() const {
  return player_ ? player_->root() : nullptr;
}

}  // namespace glimmet
