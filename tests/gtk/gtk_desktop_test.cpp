#include "platform/gtk/gtk_desktop.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "gtk/display_support.h"
#include "gtk/webkit_test_support.h"

namespace glimmet {
namespace {

using testing::spinMainUntil;
using testing::TempDir;
using testing::writeFile;

bool printed(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// The whole desktop on a packaged page of the test's own: the panel shows,
// the page loads through the scheme and talks to the controller over the bridge.
TEST(GtkDesktopTest, LaunchShowsThePanelAndThePageTalksOverTheBridge) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir dir;
  std::filesystem::create_directories(dir / "web");
  // The page waits for its same-origin frame, whose post must be dropped, and
  // then traces once through the bridge and once more after the reply arrived.
  writeFile(dir / "web" / "index.html",
            "<!doctype html><iframe src=frame.html></iframe><script>"
            "addEventListener('load', async () => {"
            "  const works = await window.plumora.historyList();"
            "  await window.plumora.previewTrace({step: 'listed', count: works.length});"
            "});</script>");
  writeFile(dir / "web" / "frame.html",
            "<script>window.webkit.messageHandlers.plumora.postMessage("
            "{action: 'previewTrace', id: 1, value: {step: 'frame'}})</script>");

  std::vector<std::string> lines;
  DesktopOptions options;
  options.controller.switches.librarySmokeTest = true;
  options.controller.switches.previewSmokeTest = true;
  options.controller.resourceDirectory = dir.path();
  options.controller.temporaryDirectory = dir.path();
  options.controller.printLine = [&lines](const std::string& line) { lines.push_back(line); };
  options.extensionDirectory = GLIMMET_TEST_EXTENSION_DIR;
  options.defaultsFile = dir / "defaults.json";
  auto desktop = std::make_unique<GtkDesktop>(std::move(options));

  desktop->launch();
  EXPECT_TRUE(desktop->panel().isVisible());
  EXPECT_EQ(desktop->panel().level(), PanelLevel::floating);
  EXPECT_FALSE(gtk_window_get_decorated(desktop->panel().window()));
  EXPECT_EQ(gtk_widget_get_visual(GTK_WIDGET(desktop->panel().window())),
            gdk_screen_get_rgba_visual(gdk_screen_get_default()));
  ASSERT_TRUE(spinMainUntil([&] { return printed(lines, "\"step\":\"listed\""); },
                            std::chrono::seconds(20)));
  EXPECT_TRUE(desktop->controller().state().loaded);
  EXPECT_TRUE(printed(lines, "PREVIEW_TRACE {\"count\":3,\"step\":\"listed\"}"));
  EXPECT_FALSE(printed(lines, "frame"));
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

}  // namespace
}  // namespace glimmet
