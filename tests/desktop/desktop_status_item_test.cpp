// GtkStatusIcon is deprecated in GTK 3; the test emits its click signals.
#define GDK_DISABLE_DEPRECATION_WARNINGS

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "desktop/desktop_test_support.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/webkit_test_support.h"
#include "desktop/gtk_desktop.h"

namespace glimmet {
namespace {

using testing::spinMainUntil;
using testing::TempDir;
using testing::writeFile;

// The tray icon's clicks reach the controller: a left click shows the hidden
// panel and tells the page to toggle; "打开创作空间" asks for the quick surface.
TEST(DesktopStatusItemTest, ClicksReachThePanelAndThePage) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir dir;
  std::filesystem::create_directories(dir / "web");
  writeFile(
      dir / "web" / "index.html",
      "<!doctype html><script>"
      "addEventListener('plumora:toggle', () => window.plumora.previewTrace({step: 'toggle'}));"
      "addEventListener('plumora:surface', (e) =>"
      "  window.plumora.previewTrace({step: e.detail}));"
      "addEventListener('load', () => window.plumora.previewTrace({step: 'loaded'}));"
      "</script>");
  std::vector<std::string> lines;
  const auto printed = [&lines](const std::string& text) {
    for (const std::string& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  };
  auto desktop = std::make_unique<GtkDesktop>(testing::desktopOptions(dir, lines));
  desktop->launch();
  ASSERT_TRUE(
      spinMainUntil([&] { return printed("\"step\":\"loaded\""); }, std::chrono::seconds(20)));

  desktop->controller().hideCreator();
  ASSERT_FALSE(desktop->panel().isVisible());
  ASSERT_TRUE(desktop->statusItem().trayIcon);
  g_signal_emit_by_name(desktop->statusItem().trayIcon->icon(), "activate");
  EXPECT_TRUE(desktop->panel().isVisible());
  EXPECT_TRUE(spinMainUntil([&] { return printed("\"step\":\"toggle\""); }));

  GList* items = gtk_container_get_children(GTK_CONTAINER(desktop->statusItem().menu->menu()));
  gtk_menu_item_activate(GTK_MENU_ITEM(g_list_nth_data(items, 1)));
  g_list_free(items);
  EXPECT_TRUE(spinMainUntil([&] { return printed("\"step\":\"quick\""); }));

  desktop->shutdown();
  desktop.reset();
  EXPECT_TRUE(testing::awaitChildProcessesExited());
}

}  // namespace
}  // namespace glimmet
