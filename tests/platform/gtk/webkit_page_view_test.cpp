// Real WebKitGTK views: the creation panel's page served through the
// resource handler with its frames, navigations, downloads and file inputs;
// and the library video player over a web view, on a red clip GStreamer
// encodes: its error state on a damaged file, then playing at the page's
// rectangle, following a move, going on removal.

#include "platform/gtk/webkit_page_view.h"

#include <gst/gst.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <vector>

#include "bridge/bundled_web_handler.h"
#include "history/plumora_history.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/gstreamer_video_player.h"
#include "platform/gtk/webkit_test_support.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_workspace.h"

namespace glimmet {
namespace {

using namespace std::chrono_literals;
using testing::spinMainUntil;
using testing::TempDir;
using testing::writeFile;

struct Post {
  std::optional<std::string> frameURL;
  bool mainFrame = false;
  Json body;
};

// Serves a directory through the real resource handler and records the rest.
class RecordingDelegate final : public WebPageDelegate {
 public:
  explicit RecordingDelegate(const std::filesystem::path& resources)
      : history_(resources / "history"), handler_(history_, resources / "web") {}

  void startResource(std::shared_ptr<SchemeTask> task) override { handler_.start(std::move(task)); }
  void messageReceived(std::optional<std::string_view> frameURL, bool mainFrame,
                       Json body) override {
    posts.push_back({frameURL ? std::optional<std::string>(*frameURL) : std::nullopt, mainFrame,
                     std::move(body)});
  }
  void pageLoaded() override { ++loads; }
  void pageLoadFailed() override { ++failures; }
  bool beginFilePanel() override { return !panelOpen && (panelOpen = true); }
  void endFilePanel() override { panelOpen = false; }

  std::vector<Post> posts;
  int loads = 0;
  int failures = 0;
  bool panelOpen = false;

 private:
  PlumoraHistory history_;
  BundledWebHandler handler_;
};

const Post* postFrom(const std::vector<Post>& posts, const std::string& action) {
  for (const Post& post : posts) {
    if (post.body.is_object() && post.body.value("action", "") == action) return &post;
  }
  return nullptr;
}

class WebKitPageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GLIMMET_REQUIRE_DISPLAY();
    const auto web = dir_.path() / "web";
    std::filesystem::create_directories(web);
    // The page's own script is a module, which only runs when the scheme is
    // treated as secure and CORS-enabled. A same-origin frame and a foreign
    // (data:) frame post too.
    writeFile(web / "index.html",
              "<!doctype html><script type=module src=main.js></script>"
              "<iframe src=frame.html></iframe>"
              "<iframe src=\"data:text/html,<script>window.webkit.messageHandlers.plumora."
              "postMessage({action:'foreign',id:3})</script>\"></iframe>");
    writeFile(web / "main.js",
              "let replaced = false;\n"
              "try { window.webkit = null; replaced = window.webkit === null; } catch (e) {}\n"
              "window.webkit.messageHandlers.plumora.postMessage({action: 'module', id: 1,\n"
              "  value: {injected: window.injected === true, replaced}});\n");
    writeFile(web / "frame.html",
              "<script>window.webkit.messageHandlers.plumora.postMessage("
              "{action:'frame',id:2})</script>");
    delegate_ = std::make_unique<RecordingDelegate>(dir_.path());
    page_ = std::make_unique<WebKitPageView>(WebPageOptions{true, GLIMMET_TEST_EXTENSION_DIR},
                                             *delegate_, panels_, workspace_);
    page_->addUserScript("window.injected = true;");
    window_ = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(window_), page_->widget());
    gtk_widget_set_size_request(window_, 400, 300);
    gtk_widget_show_all(window_);
    page_->load("plumora://local/index.html");
    ASSERT_TRUE(spinMainUntil([&] { return delegate_->loads == 1; }, 20s));
  }

  void TearDown() override {
    page_.reset();
    if (window_ != nullptr) gtk_widget_destroy(window_);
    EXPECT_TRUE(testing::awaitChildProcessesExited());
  }

  TempDir dir_;
  HeadlessFilePanels panels_;
  HeadlessWorkspace workspace_;
  std::unique_ptr<RecordingDelegate> delegate_;
  std::unique_ptr<WebKitPageView> page_;
  GtkWidget* window_ = nullptr;
};

TEST_F(WebKitPageViewTest, PostsArriveWithTheSendingFrameAndForeignPagesLeave) {
  ASSERT_TRUE(spinMainUntil([&] { return delegate_->posts.size() >= 2; }));
  spinMainUntil([] { return false; }, 300ms);

  const Post* module = postFrom(delegate_->posts, "module");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->frameURL, "plumora://local/index.html");
  EXPECT_TRUE(module->mainFrame);
  EXPECT_EQ(module->body["value"], Json({{"injected", true}, {"replaced", false}}));

  const Post* frame = postFrom(delegate_->posts, "frame");
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->frameURL, "plumora://local/frame.html");
  EXPECT_FALSE(frame->mainFrame);
  // The foreign frame never loads: its navigation is cancelled.
  EXPECT_EQ(postFrom(delegate_->posts, "foreign"), nullptr);

  // Links and windows to the web open in the browser; anything else is dropped.
  page_->evaluate(
      "window.open('https://example.com/window');"
      "location.href = 'file:///etc/passwd';"
      "location.href = 'https://example.com/link';");
  ASSERT_TRUE(spinMainUntil([&] { return workspace_.openedUrls().size() >= 2; }));
  EXPECT_EQ(workspace_.openedUrls(),
            (std::vector<std::string>{"https://example.com/window", "https://example.com/link"}));
  // Another port of the page's own origin is foreign too: never loaded.
  page_->evaluate("location.href = 'plumora://local:8080/index.html';");
  spinMainUntil([] { return false; }, 500ms);
  EXPECT_EQ(delegate_->failures, 0);
  EXPECT_STREQ(webkit_web_view_get_uri(page_->webView()), "plumora://local/index.html");

  page_->load("plumora://local/missing.html");
  ASSERT_TRUE(spinMainUntil([&] { return delegate_->failures == 1; }));
  EXPECT_EQ(delegate_->loads, 1);
}

// What the page made and saves through a download link.
constexpr const char* kSaveBlob =
    "{ const link = document.createElement('a');"
    "link.href = URL.createObjectURL(new Blob(['payload']));"
    "link.download = 'work.txt';"
    "link.click(); }";

// Page scripts evaluated by the program count as the user's action, so the
// file input opens its chooser at once.
constexpr const char* kChooseFiles =
    "{ const input = document.createElement('input');"
    "input.type = 'file'; input.multiple = true;"
    "input.onchange = () => window.webkit.messageHandlers.plumora.postMessage("
    "{action: 'chosen', id: 5, value: [...input.files].map(file => file.name)});"
    "input.oncancel = () => window.webkit.messageHandlers.plumora.postMessage("
    "{action: 'cancelled', id: 6});"
    "document.body.append(input); input.click(); }";

// Downloads and file inputs ask through the single file-panel slot; while the
// slot is taken a file input is answered at once.
TEST_F(WebKitPageViewTest, DownloadsAndFileInputsAskThroughTheFilePanelSlot) {
  page_->evaluate(kSaveBlob);
  ASSERT_TRUE(spinMainUntil([&] { return panels_.pendingSave().has_value(); }));
  EXPECT_EQ(panels_.pendingSave()->suggestedFileName, "work.txt");
  EXPECT_TRUE(delegate_->panelOpen);
  const auto target = dir_ / "saved.txt";
  ASSERT_TRUE(panels_.answerSave(target));
  EXPECT_FALSE(delegate_->panelOpen);
  EXPECT_TRUE(spinMainUntil(
      [&] { return std::filesystem::exists(target) && testing::readFile(target) == "payload"; }));

  delegate_->panelOpen = true;
  page_->evaluate(kChooseFiles);
  EXPECT_TRUE(spinMainUntil([&] { return postFrom(delegate_->posts, "cancelled") != nullptr; }));
  EXPECT_EQ(panels_.pendingCount(), 0u);
  delegate_->panelOpen = false;

  page_->evaluate(kChooseFiles);
  ASSERT_TRUE(spinMainUntil([&] { return panels_.pendingOpen().has_value(); }));
  EXPECT_TRUE(panels_.pendingOpen()->allowsMultipleSelection);
  EXPECT_TRUE(delegate_->panelOpen);
  const auto chosen = dir_ / "picked.png";
  writeFile(chosen, "png");
  ASSERT_TRUE(panels_.answerOpen({chosen}));
  EXPECT_FALSE(delegate_->panelOpen);
  ASSERT_TRUE(spinMainUntil([&] { return postFrom(delegate_->posts, "chosen") != nullptr; }));
  EXPECT_EQ(postFrom(delegate_->posts, "chosen")->body["value"], Json({"picked.png"}));
}

// Writes a one-second red clip, 160 by 120, H.264 in an mp4 file (GStreamer's
// openh264enc, h264parse and mp4mux); false when it could not.
bool encodeRedClip(const std::filesystem::path& file) {
  if (!gst_init_check(nullptr, nullptr, nullptr)) return false;
  const std::string description =
      "videotestsrc num-buffers=15 pattern=red ! video/x-raw,width=160,height=120,framerate=15/1 "
      "! videoconvert ! openh264enc ! h264parse ! mp4mux ! filesink location=\"" +
      file.string() + "\"";
  GError* raw = nullptr;
  GPtr<GstElement, gst_object_unref> pipeline(gst_parse_launch(description.c_str(), &raw));
  GErrorPtr error(raw);
  if (!pipeline || error) return false;
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  GPtr<GstBus, gst_object_unref> bus(gst_element_get_bus(pipeline.get()));
  GPtr<GstMessage, gst_message_unref> end(
      gst_bus_timed_pop_filtered(bus.get(), 10 * GST_SECOND,
                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return end && GST_MESSAGE_TYPE(end.get()) == GST_MESSAGE_EOS;
}

// The widget named `name` (gtk_widget_set_name) at or below `widget`; null
// when there is none.
GtkWidget* findNamedWidget(GtkWidget* widget, const char* name) {
  if (g_strcmp0(gtk_widget_get_name(widget), name) == 0) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GPtr<GList, g_list_free> children(gtk_container_get_children(GTK_CONTAINER(widget)));
  for (GList* child = children.get(); child != nullptr; child = child->next) {
    if (GtkWidget* found = findNamedWidget(GTK_WIDGET(child->data), name)) return found;
  }
  return nullptr;
}

// The colour on screen at (x, y) of the window, as "red", "white", "dark" or "".
std::string colourAt(GtkWidget* window, int x, int y) {
  GObjectPtr<GdkPixbuf> pixbuf(
      gdk_pixbuf_get_from_window(gtk_widget_get_window(window), x, y, 1, 1));
  if (!pixbuf) return "";
  const guchar* p = gdk_pixbuf_get_pixels(pixbuf.get());
  if (p[0] > 200 && p[1] < 60 && p[2] < 60) return "red";
  if (p[0] > 230 && p[1] > 230 && p[2] > 230) return "white";
  return p[0] < 60 && p[1] < 60 && p[2] < 60 ? "dark" : "";
}

class GStreamerVideoPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GLIMMET_REQUIRE_DISPLAY();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), 640, 480);
    GtkWidget* page = webkit_web_view_new();
    player_.emplace(page);
    gtk_container_add(GTK_CONTAINER(window_), player_->widget());
    webkit_web_view_load_html(WEBKIT_WEB_VIEW(page), "<body style='background:#fff'>", nullptr);
    gtk_widget_show_all(window_);
    // The page paints once it has loaded and is on screen.
    ASSERT_TRUE(spinMainUntil([&] { return colourAt(window_, 5, 5) == "white"; }, 20s));
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
    const int left = int(frame.x);
    const int top = int(frame.y);
    const int right = int(frame.x + frame.width) - 1;
    const int bottom = int(frame.y + frame.height) - 1;
    return colourAt(window_, left + int(frame.width / 2), top + int(frame.height / 3)) == "red" &&
           colourAt(window_, left + 1, top + 1) == "dark" &&
           colourAt(window_, right - 1, bottom - 1) == "dark" &&
           colourAt(window_, left - 2, top - 2) == "white" &&
           colourAt(window_, right + 2, bottom + 2) == "white";
  }
  bool showsPageAt(const PageRect& frame) const {
    return colourAt(window_, int(frame.x + frame.width / 2), int(frame.y + frame.height / 3)) ==
           "white";
  }

  TempDir dir_;
  GtkWidget* window_ = nullptr;
  std::optional<GStreamerVideoPlayer> player_;
  std::vector<double> rates_;
  std::vector<double> seconds_;
};

// A damaged file shows the error state; the next video replaces it, plays
// where asked, follows a move and goes.
TEST_F(GStreamerVideoPlayerTest, ShowsDamagedMediaAsAnErrorThenPlaysMovesAndGoes) {
  const std::filesystem::path clip = dir_ / "good.mp4";
  ASSERT_TRUE(encodeRedClip(clip)) << "openh264enc, h264parse (gstreamer1.0-plugins-bad)";
  // The real clip's header followed by noise.
  std::string bytes = testing::readFile(clip);
  for (std::size_t i = 48; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
  writeFile(dir_ / "video.mp4", bytes);
  const PageRect first{40, 30, 320, 240};
  show(dir_ / "video.mp4", first);
  GtkWidget* sign = named(GStreamerVideoPlayer::kErrorSign);
  ASSERT_NE(sign, nullptr);
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_get_mapped(sign); }));
  EXPECT_FALSE(gtk_widget_is_sensitive(named(GStreamerVideoPlayer::kPlayButton)));

  show(clip, first);
  GtkWidget* play = named(GStreamerVideoPlayer::kPlayButton);
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_is_sensitive(play) && playerCovers(first); }));
  EXPECT_TRUE(rates_.empty()) << "paused until the play button is pressed";
  gtk_button_clicked(GTK_BUTTON(play));
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

}  // namespace
}  // namespace glimmet
