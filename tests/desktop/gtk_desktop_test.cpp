#include "desktop/gtk_desktop.h"

#include <gtk/gtk.h>
#include <httplib.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "desktop/desktop_test_support.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/webkit_test_support.h"

namespace glimmet {
namespace {

using testing::desktopOptions;
using testing::spinMainUntil;
using testing::TempDir;
using testing::writeFile;

bool printed(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// A frame page that posts one trace step to the bridge.
std::string postingFrame(const std::string& step) {
  return "<script>window.webkit.messageHandlers.plumora.postMessage("
         "{action: 'previewTrace', id: 1, value: {step: '" +
         step + "'}})</script>";
}

// A plain HTTP site on the loopback interface, serving a posting frame.
class LoopbackSite {
 public:
  LoopbackSite() {
    server_.Get("/frame.html", [this](const httplib::Request&, httplib::Response& response) {
      ++requests;
      response.set_content(postingFrame("loopback"), "text/html");
    });
    port = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // Stopping works only once the server runs.
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~LoopbackSite() {
    server_.stop();
    thread_.join();
  }

  int port = 0;
  std::atomic<int> requests = 0;

 private:
  httplib::Server server_;
  std::thread thread_;
};

// The whole desktop on a packaged page of the test's own: the panel shows,
// the page loads through the scheme and talks to the controller over the bridge.
// Only the main frame is answered: its same-origin frame, a srcdoc frame and a
// frame from a web server are not.
TEST(GtkDesktopTest, LaunchShowsThePanelAndOnlyTheMainFrameTalksOverTheBridge) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir dir;
  LoopbackSite site;
  std::filesystem::create_directories(dir / "web");
  // The page waits for its frames and then traces once through the bridge and
  // once more after the reply arrived.
  const std::string frames =
      "<iframe src=frame.html></iframe><iframe srcdoc=\"" + postingFrame("srcdoc") +
      "\"></iframe><iframe src=\"http://127.0.0.1:" + std::to_string(site.port) +
      "/frame.html\"></iframe>";
  writeFile(dir / "web" / "index.html",
            "<!doctype html>" + frames +
                "<script>addEventListener('load', async () => {"
                "  const works = await window.plumora.historyList();"
                "  await window.plumora.previewTrace({step: 'listed', count: works.length});"
                "});</script>");
  writeFile(dir / "web" / "frame.html", postingFrame("frame"));

  std::vector<std::string> lines;
  auto desktop = std::make_unique<GtkDesktop>(desktopOptions(dir, lines));
  desktop->launch();
  EXPECT_TRUE(desktop->panel().isVisible());
  EXPECT_EQ(desktop->panel().level(), PanelLevel::floating);
  EXPECT_FALSE(gtk_window_get_decorated(desktop->panel().window()));
  EXPECT_EQ(gtk_widget_get_visual(GTK_WIDGET(desktop->panel().window())),
            gdk_screen_get_rgba_visual(gdk_screen_get_default()));
  ASSERT_TRUE(spinMainUntil([&] { return printed(lines, "\"step\":\"listed\""); },
                            std::chrono::seconds(20)));
  EXPECT_TRUE(desktop->controller().loaded());
  EXPECT_TRUE(printed(lines, "PREVIEW_TRACE {\"count\":3,\"step\":\"listed\"}"));
  for (const char* frame : {"frame", "srcdoc", "loopback"}) {
    EXPECT_FALSE(printed(lines, frame)) << frame;
  }
  const std::filesystem::path root =
      dir / ("Plumora-library-validation-" + std::to_string(getpid()));
  EXPECT_TRUE(std::filesystem::is_directory(root));

  desktop->controller().hideCreator();
  EXPECT_FALSE(desktop->panel().isVisible());
  desktop->shutdown();
  EXPECT_FALSE(std::filesystem::exists(root));
  desktop.reset();
  EXPECT_TRUE(testing::awaitChildProcessesExited());
}

// A web link opens in the user's browser (here a script that records the
// address it was given) and the page stays where it is.
TEST(GtkDesktopTest, WebLinksOpenInTheBrowserAndThePageStays) {
  GLIMMET_REQUIRE_DISPLAY();
  // The handler is installed in the throwaway home of with-display.sh only.
  const char* home = g_getenv("HOME");
  if (home == nullptr || !std::filesystem::path(home).parent_path().filename().string().starts_with(
                             "glimmet-display.")) {
    GLIMMET_PEER_MISSING("no throwaway home (with-display.sh)");
  }
  TempDir dir;
  const std::filesystem::path opened = dir / "opened.txt";
  writeFile(dir / "browser.sh", "#!/bin/sh\nprintf %s \"$1\" > '" + opened.string() + "'\n");
  std::filesystem::permissions(dir / "browser.sh", std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  const std::filesystem::path applications =
      std::filesystem::path(g_get_user_data_dir()) / "applications";
  std::filesystem::create_directories(applications);
  writeFile(applications / "glimmet-test-browser.desktop",
            "[Desktop Entry]\nType=Application\nName=Browser\nNoDisplay=true\n"
            "MimeType=x-scheme-handler/https;\nExec=\"" +
                (dir / "browser.sh").string() + "\" %u\n");
  writeFile(std::filesystem::path(g_get_user_config_dir()) / "mimeapps.list",
            "[Default Applications]\nx-scheme-handler/https=glimmet-test-browser.desktop\n");

  std::filesystem::create_directories(dir / "web");
  writeFile(dir / "web" / "index.html",
            "<!doctype html><a id=out href=\"https://example.com/out?a=1\">out</a>");
  std::vector<std::string> lines;
  auto desktop = std::make_unique<GtkDesktop>(desktopOptions(dir, lines));
  desktop->launch();
  ASSERT_TRUE(
      spinMainUntil([&] { return desktop->controller().loaded(); }, std::chrono::seconds(20)));

  desktop->page().evaluate("document.getElementById('out').click();");
  ASSERT_TRUE(spinMainUntil(
      [&] { return std::filesystem::exists(opened) && testing::readFile(opened) != ""; }));
  EXPECT_EQ(testing::readFile(opened), "https://example.com/out?a=1");
  EXPECT_STREQ(webkit_web_view_get_uri(desktop->page().webView()), PlumoraController::kPageURL);
  desktop.reset();
  EXPECT_TRUE(testing::awaitChildProcessesExited());
}

// A library video plays over the panel's page where the page asks, its rate
// changes print the smoke-test lines, hiding the panel pauses it and null
// takes it away.
TEST(GtkDesktopTest, LibraryVideoPlaysOverThePageAndPrintsItsRate) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir dir;
  std::vector<std::string> lines;
  auto desktop = testing::launchedOnBlankPage(dir, lines);
  ASSERT_NE(desktop, nullptr);
  const std::string id = "0A1B2C3D-0000-4000-8000-00000000000B";
  const std::filesystem::path work =
      dir / ("Plumora-library-validation-" + std::to_string(getpid())) / id;
  std::filesystem::create_directories(work);
  writeFile(work / "record.json", Json{{"id", id},
                                       {"title", "视频"},
                                       {"prompt", "p"},
                                       {"createdAt", "2026-01-01T00:00:00Z"},
                                       {"kind", "video"}}
                                      .dump());
  ASSERT_TRUE(testing::encodeRedClip(work / "video.mp4"));

  desktop->page().evaluate("window.plumora.libraryVideo({id: '" + id +
                           "', x: 10, y: 20, width: 200, height: 150})"
                           ".then(shown => window.plumora.previewTrace({shown}))");
  ASSERT_TRUE(spinMainUntil([&] { return printed(lines, "PREVIEW_TRACE {\"shown\":true}"); }));
  GtkWidget* player = desktop->videoPlayer().playerWidget();
  ASSERT_NE(player, nullptr);
  GtkWidget* play = testing::findNamedWidget(player, GStreamerVideoPlayer::kPlayButton);
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_is_sensitive(play); }));
  int x = 0;
  int y = 0;
  gtk_widget_translate_coordinates(player, desktop->page().widget(), 0, 0, &x, &y);
  EXPECT_EQ(std::vector<int>({x, y, gtk_widget_get_allocated_width(player),
                              gtk_widget_get_allocated_height(player)}),
            std::vector<int>({10, 20, 200, 150}));

  gtk_button_clicked(GTK_BUTTON(play));
  ASSERT_TRUE(spinMainUntil([&] { return printed(lines, "LIBRARY_VIDEO rate=1.0 time="); }));
  desktop->controller().hideCreator();
  ASSERT_TRUE(spinMainUntil([&] { return printed(lines, "LIBRARY_VIDEO rate=0.0 time="); }));
  desktop->page().evaluate("window.plumora.libraryVideo(null)");
  EXPECT_TRUE(spinMainUntil([&] { return desktop->videoPlayer().playerWidget() == nullptr; }));
  desktop.reset();
  EXPECT_TRUE(testing::awaitChildProcessesExited());
}

// The page's files are missing: the user is told and the panel stays. Last:
// without a page WebKit keeps its network process until the program ends.
TEST(GtkDesktopTest, MissingPageIsReportedAndThePanelStays) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir dir;
  std::vector<std::string> lines;
  auto desktop = std::make_unique<GtkDesktop>(desktopOptions(dir, lines));
  desktop->launch();

  auto shownAlert = [] {
    GList* windows = gtk_window_list_toplevels();
    std::string text;
    for (GList* item = windows; item != nullptr; item = item->next) {
      if (!GTK_IS_MESSAGE_DIALOG(item->data) || !gtk_widget_get_mapped(GTK_WIDGET(item->data))) {
        continue;
      }
      gchar* message = nullptr;
      g_object_get(item->data, "text", &message, nullptr);
      text = message ? message : "";
      g_free(message);
    }
    g_list_free(windows);
    return text;
  };
  EXPECT_TRUE(spinMainUntil([&] { return !shownAlert().empty(); }));
  EXPECT_EQ(shownAlert(), PlumoraController::kMissingResources);
  EXPECT_TRUE(desktop->panel().isVisible());
  EXPECT_FALSE(desktop->controller().loaded());
}

}  // namespace
}  // namespace glimmet
