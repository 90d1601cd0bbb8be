// The program's desktop wiring on a real X display: the panel, the page and
// its bridge, the tray item, the user's browser, the island's input shape and
// pointer as the X server and the page have them, and keys typed into the page.

// GtkStatusIcon is deprecated in GTK 3; the test emits its click signal.
#define GDK_DISABLE_DEPRECATION_WARNINGS

#include <webkit2/webkit2.h>

#include <filesystem>
#include <string>
#include <vector>

#include "desktop/desktop_test_support.h"

// After GoogleTest and the support's Xlib headers.
#include <X11/extensions/shape.h>

namespace glimmet {
namespace {

using testing::DesktopTest;
using testing::pressKeys;
using testing::spinMainUntil;
using testing::writeFile;
using testing::xDisplay;

// The page loads through the scheme and lists the smoke test's works over the
// bridge; a web link opens in the user's browser (a script that records the
// address it was given) and the page stays; the tray's click and menu reach
// the panel and the page.
TEST_F(DesktopTest, PanelPageTrayAndBrowserWorkTogether) {
  // The browser is installed in the throwaway home of with-display.sh only.
  const char* home = g_getenv("HOME");
  if (home == nullptr || !std::filesystem::path(home).parent_path().filename().string().starts_with(
                             "glimmet-display.")) {
    GLIMMET_PEER_MISSING("no throwaway home (with-display.sh)");
  }
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

  launch(R"(<!doctype html><a id=out href="https://example.com/out?a=1">out</a><script>
const trace = event => window.plumora.previewTrace({event});
addEventListener('plumora:toggle', () => trace('toggle'));
addEventListener('plumora:surface', e => trace('surface ' + e.detail));
addEventListener('load', async () => trace('listed ' + (await window.plumora.historyList()).length));
</script>)");
  EXPECT_TRUE(desktop->panel().isVisible());
  ASSERT_TRUE(spinMainUntil([&] { return !events().empty(); }, std::chrono::seconds(20)));
  EXPECT_EQ(events(), std::vector<std::string>{"listed 3"});

  desktop->page().evaluate("document.getElementById('out').click();");
  ASSERT_TRUE(spinMainUntil(
      [&] { return std::filesystem::exists(opened) && testing::readFile(opened) != ""; }));
  EXPECT_EQ(testing::readFile(opened), "https://example.com/out?a=1");
  EXPECT_STREQ(webkit_web_view_get_uri(desktop->page().webView()), PlumoraController::kPageURL);

  desktop->controller().hideCreator();
  ASSERT_FALSE(desktop->panel().isVisible());
  ASSERT_TRUE(desktop->statusItem().trayIcon);
  g_signal_emit_by_name(desktop->statusItem().trayIcon->icon(), "activate");
  EXPECT_TRUE(desktop->panel().isVisible());
  EXPECT_TRUE(spinMainUntil([&] { return events().back() == "toggle"; }));
  GList* items = gtk_container_get_children(GTK_CONTAINER(desktop->statusItem().menu->menu()));
  gtk_menu_item_activate(GTK_MENU_ITEM(g_list_nth_data(items, 1)));
  g_list_free(items);
  EXPECT_TRUE(spinMainUntil([&] { return events().back() == "surface quick"; }));
}

// The island the page reports, in panel coordinates.
constexpr Rect kIsland{200, 0, 300, 120};

// Device pixels per layout point (GDK_SCALE).
int scale() {
  return gdk_monitor_get_scale_factor(gdk_display_get_monitor(gdk_display_get_default(), 0));
}

// `to` in layout points, as the program measures the screen.
void movePointer(const Point& to) {
  XTestFakeMotionEvent(xDisplay(), -1, int(to.x * scale()), int(to.y * scale()), CurrentTime);
  XFlush(xDisplay());
}

void pressButton(bool down) {
  XTestFakeButtonEvent(xDisplay(), 1, down ? True : False, CurrentTime);
  XFlush(xDisplay());
}

void settle(std::chrono::milliseconds time = std::chrono::milliseconds(250)) {
  spinMainUntil([] { return false; }, time);
}

// Where the panel takes pointer input, in panel coordinates, as the X server has it.
std::vector<Rect> inputShape(FloatingPanel& panel) {
  const Window window = gdk_x11_window_get_xid(gtk_widget_get_window(GTK_WIDGET(panel.window())));
  int count = 0;
  int ordering = 0;
  XRectangle* rectangles = XShapeGetRectangles(xDisplay(), window, ShapeInput, &count, &ordering);
  std::vector<Rect> shape;
  for (int index = 0; index < count; ++index) {
    const XRectangle& part = rectangles[index];
    shape.push_back({double(part.x) / scale(), double(part.y) / scale(),
                     double(part.width) / scale(), double(part.height) / scale()});
  }
  XFree(rectangles);
  return shape;
}

// Only the island takes the mouse (the X server's input shape). The page hears
// the pointer enter and leave and the release of a drag; while the page's
// pop-up menu is up the whole panel takes the mouse.
TEST_F(DesktopTest, OnlyTheIslandTakesTheMouseAndThePageHearsThePointer) {
  launch(R"(<!doctype html><script>
const trace = event => window.plumora.previewTrace({event});
addEventListener('plumora:pointer', e => trace('pointer ' + e.detail));
addEventListener('plumora:pointer-release', () => trace('release'));
addEventListener('mousedown', () => trace('mousedown'));
addEventListener('load', async () => trace('geometry ' + await window.plumora.islandGeometry(
    {x: 200, y: 0, width: 300, height: 120})));
</script>)");
  FloatingPanel& panel = desktop->panel();
  ASSERT_TRUE(spinMainUntil([&] { return events().size() == 1; }, std::chrono::seconds(20)));
  ASSERT_EQ(events(), std::vector<std::string>{"geometry true"});
  lines.clear();

  const Rect frame = panel.frame();
  const Point onIsland{frame.x + kIsland.midX(), frame.y + kIsland.height / 2};
  const Point beside{frame.x + 40, frame.y + 300};
  const std::vector<Rect> wholePanel{{0, 0, frame.width, frame.height}};
  const std::vector<Rect> island{kIsland};
  EXPECT_EQ(inputShape(panel), island);

  // Into the island: one "inside"; moving on inside it adds nothing.
  movePointer(onIsland);
  ASSERT_TRUE(spinMainUntil([&] { return !events().empty(); }));
  movePointer({onIsland.x + 30, onIsland.y + 10});
  settle();
  EXPECT_EQ(events(), std::vector<std::string>{"pointer true"});

  // Pressed on the island and dragged out, the panel keeps the mouse until the
  // release, which is told once; then the island alone takes it.
  pressButton(true);
  ASSERT_TRUE(spinMainUntil([&] { return events().size() == 2; }));
  movePointer(beside);
  ASSERT_TRUE(spinMainUntil([&] { return events().size() == 3; }));
  EXPECT_EQ(inputShape(panel), wholePanel);
  pressButton(false);
  ASSERT_TRUE(spinMainUntil([&] { return events().size() == 4; }));
  settle();
  EXPECT_EQ(events(),
            (std::vector<std::string>{"pointer true", "mousedown", "pointer false", "release"}));
  EXPECT_EQ(inputShape(panel), island);

  // A click beside the island dismisses the menu.
  lines.clear();
  desktop->page().evaluate(
      "window.plumora.selectMenu({options: ['一', '二'], x: 250, y: 60})"
      ".then(chosen => trace('menu ' + chosen))");
  ASSERT_TRUE(spinMainUntil([&] { return desktop->controller().islandHost().menuOpen(); }));
  EXPECT_EQ(inputShape(panel), wholePanel);
  settle();
  movePointer(beside);
  settle(std::chrono::milliseconds(100));  // a tracking step sees the pointer there
  pressButton(true);
  pressButton(false);
  ASSERT_TRUE(spinMainUntil([&] { return !events().empty(); }));
  EXPECT_EQ(events(), std::vector<std::string>{"menu null"});
  EXPECT_EQ(inputShape(panel), island);

  // The island's shape outlasts hiding and showing the panel.
  desktop->controller().hideCreator();
  desktop->controller().show();
  ASSERT_TRUE(panel.isVisible());
  EXPECT_TRUE(spinMainUntil([&] { return inputShape(panel) == island; }));
}

// Each editing shortcut acts once on the page's focused field (a paste adds
// the text once, not again through the page's own handling) and the page
// hears each key press once.
TEST_F(DesktopTest, EditingShortcutsActOnce) {
  launch(
      "<!doctype html><input id=field><script>let keys = 0;"
      "addEventListener('keydown', () => { keys += 1; });</script>");
  ASSERT_TRUE(
      spinMainUntil([&] { return desktop->controller().loaded(); }, std::chrono::seconds(20)));
  const auto state = [&] {
    const std::size_t before = events().size();
    desktop->page().evaluate(
        "window.plumora.previewTrace({event: field.value + '|' + field.selectionStart + '-' + "
        "field.selectionEnd + '|' + keys})");
    return spinMainUntil([&] { return events().size() > before; }) ? events().back() : "";
  };
  gtk_widget_grab_focus(desktop->page().widget());
  desktop->page().evaluate("field.focus()");
  for (const KeySym letter : {XK_a, XK_b, XK_c}) pressKeys({letter});
  ASSERT_TRUE(spinMainUntil([&] { return state() == "abc|3-3|3"; }));
  const std::pair<std::vector<KeySym>, std::string> steps[] = {
      {{XK_Control_L, XK_a}, "abc|0-3|5"},
      {{XK_Control_L, XK_x}, "|0-0|7"},
      {{XK_Control_L, XK_v}, "abc|3-3|9"},
      {{XK_Control_L, XK_z}, "|0-0|11"},
      {{XK_Control_L, XK_Shift_L, XK_z}, "abc|3-3|14"},
  };
  for (const auto& [keys, expected] : steps) {
    pressKeys(keys);
    EXPECT_TRUE(spinMainUntil([&] { return state() == expected; }))
        << expected << " but " << state();
  }
}

// The glimmet program as a user starts it, in library smoke-test mode (the
// packaged page's library is followed by tests/e2e). Asked to stop while its
// page still loads (a hang-up ends the program like SIGTERM and SIGINT), it
// shuts down in order (the temporary library goes) and every process it
// started ends with it.
TEST_F(DesktopTest, TheProgramStopsCleanlyOnASignal) {
  // The program's web processes outlive it for a moment; wait for them too.
  testing::adoptOrphans();
  for (const int signal : {SIGTERM, SIGHUP}) {
    testing::TempDir tmp;
    testing::ChildProcess program({GLIMMET_PROGRAM, "--library-smoke-test", "--preview-smoke-test"},
                                  {{"TMPDIR", tmp.path().string()}}, true);
    const pid_t group = program.pid();
    ASSERT_TRUE(program.waitForLine("LIBRARY_VALIDATION root="));
    const std::string rootLine = program.lines.back();
    const std::filesystem::path root = rootLine.substr(rootLine.find('=') + 1);
    EXPECT_TRUE(std::filesystem::is_directory(root));
    EXPECT_EQ(program.stop(signal), 0) << signal;
    EXPECT_FALSE(std::filesystem::exists(root));
    const pid_t self = getpid();
    EXPECT_TRUE(spinMainUntil([&] {
      return !testing::anyProcess([&](const testing::ProcessStatus& process) {
        return process.state != 'Z' && (process.parent == self || process.group == group);
      });
    }));
  }
}

}  // namespace
}  // namespace glimmet
