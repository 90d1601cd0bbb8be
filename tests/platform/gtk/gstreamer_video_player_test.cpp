// The library video player over a real web view: a red clip the test encodes
// with GStreamer is shown at the page's rectangle, plays, follows a move and
// goes on removal; a damaged file leaves the player in its error state.

#include "platform/gtk/gstreamer_video_player.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>
#include <vector>

#include "platform/gtk/display_support.h"

namespace glimmet {
namespace {

using testing::encodeRedClip;
using testing::findNamedWidget;
using testing::spinMainUntil;
using testing::TempDir;
using testing::writeFile;

constexpr int kWindowWidth = 640;
constexpr int kWindowHeight = 480;

struct Colour {
  int red = 0;
  int green = 0;
  int blue = 0;
};

// The colour on screen at (x, y) of the window.
Colour pixelAt(GtkWidget* window, int x, int y) {
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(gtk_widget_get_window(window), x, y, 1, 1);
  if (pixbuf == nullptr) return {-1, -1, -1};
  const guchar* p = gdk_pixbuf_get_pixels(pixbuf);
  const Colour colour{p[0], p[1], p[2]};
  g_object_unref(pixbuf);
  return colour;
}

bool isRed(const Colour& c) { return c.red > 200 && c.green < 60 && c.blue < 60; }
bool isWhite(const Colour& c) { return c.red > 230 && c.green > 230 && c.blue > 230; }
bool isDark(const Colour& c) { return c.red < 60 && c.green < 60 && c.blue < 60; }

class GStreamerVideoPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GLIMMET_REQUIRE_DISPLAY();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), kWindowWidth, kWindowHeight);
    page_ = webkit_web_view_new();
    player_.emplace(page_);
    gtk_container_add(GTK_CONTAINER(window_), player_->widget());
    bool loaded = false;
    g_signal_connect(page_, "load-changed",
                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, bool* done) {
                       if (event == WEBKIT_LOAD_FINISHED) *done = true;
                     }),
                     &loaded);
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(page_), "<body style='background:#fff'>", nullptr);
    gtk_widget_show_all(window_);
    ASSERT_TRUE(spinMainUntil([&] { return loaded; }, std::chrono::seconds(20)));
    // The page paints once it is on screen.
    ASSERT_TRUE(spinMainUntil([&] { return isWhite(pixelAt(window_, 5, 5)); }));
  }

  void TearDown() override {
    player_.reset();
    if (window_ != nullptr) gtk_widget_destroy(window_);
  }

  // Shows `file` at `frame`, recording the rate changes the player reports.
  void show(const std::filesystem::path& file, const PageRect& frame) {
    player_->show({file, frame, "资源视频播放器", [this](double rate, double seconds) {
                     rates_.push_back(rate);
                     seconds_.push_back(seconds);
                   }});
  }

  GtkWidget* named(const char* name) const {
    GtkWidget* player = player_->playerWidget();
    return player != nullptr ? findNamedWidget(player, name) : nullptr;
  }

  // Whether the player lies exactly on `frame`: the picture (red) above the
  // bar of controls, the player's own dark pixels just inside two opposite
  // corners and the page just outside them.
  bool playerCovers(const PageRect& frame) const {
    const int left = static_cast<int>(frame.x);
    const int top = static_cast<int>(frame.y);
    const int right = static_cast<int>(frame.x + frame.width) - 1;
    const int bottom = static_cast<int>(frame.y + frame.height) - 1;
    return isRed(pixelAt(window_, left + static_cast<int>(frame.width / 2),
                         top + static_cast<int>(frame.height / 3))) &&
           isDark(pixelAt(window_, left + 1, top + 1)) &&
           isDark(pixelAt(window_, right - 1, bottom - 1)) &&
           isWhite(pixelAt(window_, left - 2, top - 2)) &&
           isWhite(pixelAt(window_, right + 2, bottom + 2));
  }
  bool showsPageAt(const PageRect& frame) const {
    return isWhite(pixelAt(window_, static_cast<int>(frame.x + frame.width / 2),
                           static_cast<int>(frame.y + frame.height / 3)));
  }

  TempDir dir_;
  GtkWidget* window_ = nullptr;
  GtkWidget* page_ = nullptr;
  std::optional<GStreamerVideoPlayer> player_;
  std::vector<double> rates_;
  std::vector<double> seconds_;
};

TEST_F(GStreamerVideoPlayerTest, PlaysOverThePageWhereAskedMovesAndGoes) {
  const std::filesystem::path clip = dir_ / "video.mp4";
  ASSERT_TRUE(encodeRedClip(clip)) << "openh264enc and h264parse (gstreamer1.0-plugins-bad)";

  const PageRect first{40, 30, 320, 240};
  show(clip, first);
  GtkWidget* play = named(GStreamerVideoPlayer::kPlayButton);
  ASSERT_NE(play, nullptr);
  // Paused on its first frame until the play button is pressed.
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_is_sensitive(play) && playerCovers(first); }));
  EXPECT_TRUE(rates_.empty());

  gtk_button_clicked(GTK_BUTTON(play));
  ASSERT_TRUE(spinMainUntil([&] { return rates_ == std::vector<double>{1}; }));
  // The clip lasts a second: the end of the stream pauses it there.
  ASSERT_TRUE(spinMainUntil([&] { return rates_ == std::vector<double>{1, 0}; }));
  EXPECT_NEAR(seconds_[0], 0, 0.1);
  EXPECT_NEAR(seconds_[1], 1, 0.1);

  const PageRect second{280, 200, 320, 240};
  player_->move(second);
  EXPECT_TRUE(spinMainUntil([&] { return playerCovers(second) && showsPageAt(first); }));

  player_->remove();
  EXPECT_EQ(player_->playerWidget(), nullptr);
  EXPECT_TRUE(spinMainUntil([&] { return showsPageAt(second); }));
}

TEST_F(GStreamerVideoPlayerTest, DamagedMediaShowsTheErrorStateAndThePanelGoesOn) {
  // A real clip's header followed by noise.
  const std::filesystem::path damaged = dir_ / "video.mp4";
  ASSERT_TRUE(encodeRedClip(damaged));
  std::string bytes = testing::readFile(damaged);
  for (std::size_t i = 48; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
  writeFile(damaged, bytes);
  const PageRect frame{40, 30, 320, 240};
  show(damaged, frame);
  GtkWidget* sign = named(GStreamerVideoPlayer::kErrorSign);
  ASSERT_NE(sign, nullptr);
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_get_mapped(sign); }));
  EXPECT_FALSE(gtk_widget_is_sensitive(named(GStreamerVideoPlayer::kPlayButton)));
  gtk_button_clicked(GTK_BUTTON(named(GStreamerVideoPlayer::kPlayButton)));
  EXPECT_TRUE(rates_.empty());

  // The next video replaces the broken one, and goes while it plays.
  const std::filesystem::path clip = dir_ / "good.mp4";
  ASSERT_TRUE(encodeRedClip(clip));
  show(clip, frame);
  GtkWidget* play = named(GStreamerVideoPlayer::kPlayButton);
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_is_sensitive(play) && playerCovers(frame); }));
  gtk_button_clicked(GTK_BUTTON(play));
  ASSERT_TRUE(spinMainUntil([&] { return rates_ == std::vector<double>{1}; }));
  player_->remove();
  EXPECT_TRUE(spinMainUntil([&] { return showsPageAt(frame); }));
}

}  // namespace
}  // namespace glimmet
