// The island on a real X screen: the panel's input shape, the pointer tracking
// as the page hears it, and the chime preview on a machine without audio.

#include <gtk/gtk.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/json.h"
#include "desktop/desktop_test_support.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/webkit_test_support.h"

// After GoogleTest: Xlib's macros (None, True, …) would break its headers.
// clang-format off
#include <gdk/gdkx.h>
#include <X11/extensions/shape.h>
#include <X11/extensions/XTest.h>
// clang-format on

namespace glimmet {
namespace {

using testing::desktopOptions;
using testing::spinMainUntil;
using testing::TempDir;
using testing::writeFile;

// No audio output anywhere, whatever the machine has: no PulseAudio or
// PipeWire server, an ALSA configuration without devices, no JACK server
// started on demand. Set before anything starts GStreamer or another thread.
const bool kNoAudio = [] {
  g_setenv("PULSE_SERVER", "unix:/nonexistent/glimmet-no-pulse", TRUE);
  g_setenv("PIPEWIRE_REMOTE", "glimmet-no-pipewire", TRUE);
  g_setenv("ALSA_CONFIG_PATH", "/dev/null", TRUE);
  g_setenv("JACK_NO_START_SERVER", "1", TRUE);
  return true;
}();

// The island the page reports, in panel coordinates.
constexpr Rect kIsland{200, 0, 300, 120};

// The page reports every island event and every mouse press through the
// bridge's trace, which the desktop prints.
constexpr const char* kRecordingPage = R"(<!doctype html>
<script>
const trace = detail => window.plumora.previewTrace(detail);
addEventListener('plumora:pointer', e => trace({event: 'pointer ' + e.detail}));
addEventListener('plumora:pointer-release', () => trace({event: 'release'}));
addEventListener('mousedown', () => trace({event: 'mousedown'}));
addEventListener('load', async () => {
  const applied = await window.plumora.islandGeometry(
      {x: 200, y: 0, width: 300, height: 120});
  trace({event: 'geometry ' + applied});
});
</script>)";

std::vector<std::string> pageEvents(const std::vector<std::string>& lines) {
  constexpr std::string_view kPrefix = "PREVIEW_TRACE ";
  std::vector<std::string> events;
  for (const std::string& line : lines) {
    if (!line.starts_with(kPrefix)) continue;
    const Json trace = Json::parse(line.substr(kPrefix.size()), nullptr, false);
    if (trace.contains("event")) events.push_back(trace["event"].get<std::string>());
  }
  return events;
}

void settle(std::chrono::milliseconds time = std::chrono::milliseconds(250)) {
  spinMainUntil([] { return false; }, time);
}

// A window of another program under the panel, covering the screen, counting
// the presses it receives.
class WindowUnderneath {
 public:
  WindowUnderneath() : display_(XOpenDisplay(nullptr)) {
    const Window root = DefaultRootWindow(display_);
    XWindowAttributes screen;
    XGetWindowAttributes(display_, root, &screen);
    window_ = XCreateSimpleWindow(display_, root, 0, 0, screen.width, screen.height, 0, 0, 0);
    XSelectInput(display_, window_, ButtonPressMask);
    XMapWindow(display_, window_);
    XLowerWindow(display_, window_);
    XSync(display_, False);
  }
  ~WindowUnderneath() {
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
  }
  WindowUnderneath(const WindowUnderneath&) = delete;
  WindowUnderneath& operator=(const WindowUnderneath&) = delete;

  int presses() {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == ButtonPress) ++presses_;
    }
    return presses_;
  }

 private:
  Display* display_;
  Window window_ = 0;
  int presses_ = 0;
};

// Device pixels per layout point (GDK_SCALE).
int scale() {
  return gdk_monitor_get_scale_factor(gdk_display_get_monitor(gdk_display_get_default(), 0));
}

// `to` in layout points, as the program measures the screen.
void movePointer(const Point& to) {
  Display* display = gdk_x11_get_default_xdisplay();
  XTestFakeMotionEvent(display, -1, int(to.x * scale()), int(to.y * scale()), CurrentTime);
  XFlush(display);
}

void pressButton(bool down) {
  Display* display = gdk_x11_get_default_xdisplay();
  XTestFakeButtonEvent(display, 1, down ? True : False, CurrentTime);
  XFlush(display);
}

void click(const Point& at) {
  movePointer(at);
  // At least one tracking step sees the pointer where it now is.
  settle(std::chrono::milliseconds(100));
  pressButton(true);
  pressButton(false);
}

// Where the panel takes pointer input, in panel coordinates, as the X server has it.
std::vector<Rect> inputShape(FloatingPanel& panel) {
  Display* display = gdk_x11_get_default_xdisplay();
  const Window window = gdk_x11_window_get_xid(gtk_widget_get_window(GTK_WIDGET(panel.window())));
  int count = 0;
  int ordering = 0;
  XRectangle* rectangles = XShapeGetRectangles(display, window, ShapeInput, &count, &ordering);
  std::vector<Rect> shape;
  for (int index = 0; index < count; ++index) {
    const XRectangle& part = rectangles[index];
    shape.push_back({double(part.x) / scale(), double(part.y) / scale(),
                     double(part.width) / scale(), double(part.height) / scale()});
  }
  XFree(rectangles);
  return shape;
}

TEST(IslandScreenTest, OnlyTheIslandTakesTheMouseAndThePageHearsThePointer) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir dir;
  std::filesystem::create_directories(dir / "web");
  writeFile(dir / "web" / "index.html", kRecordingPage);
  std::vector<std::string> lines;
  auto desktop = std::make_unique<GtkDesktop>(desktopOptions(dir, lines));
  desktop->launch();
  FloatingPanel& panel = desktop->panel();
  ASSERT_TRUE(
      spinMainUntil([&] { return pageEvents(lines).size() == 1; }, std::chrono::seconds(20)));
  ASSERT_EQ(pageEvents(lines), std::vector<std::string>{"geometry true"});
  WindowUnderneath underneath;
  lines.clear();

  const Rect frame = panel.frame();
  const Point onIsland{frame.x + kIsland.midX(), frame.y + kIsland.height / 2};
  const Point beside{frame.x + 40, frame.y + 300};
  const Rect wholePanel{0, 0, frame.width, frame.height};
  EXPECT_EQ(inputShape(panel), std::vector<Rect>{kIsland});

  // Beside the island a click reaches the window underneath; the page hears nothing.
  click(beside);
  ASSERT_TRUE(spinMainUntil([&] { return underneath.presses() == 1; }));

  // Into the island: one "inside"; moving on inside it adds nothing.
  movePointer(onIsland);
  ASSERT_TRUE(spinMainUntil([&] { return !pageEvents(lines).empty(); }));
  movePointer({onIsland.x + 30, onIsland.y + 10});
  settle();
  EXPECT_EQ(pageEvents(lines), std::vector<std::string>{"pointer true"});

  // A press on the island reaches the page; dragged out, the panel keeps the
  // mouse until the release, which is told once; then the island alone takes it.
  pressButton(true);
  ASSERT_TRUE(spinMainUntil([&] { return pageEvents(lines).size() == 2; }));
  movePointer(beside);
  ASSERT_TRUE(spinMainUntil([&] { return pageEvents(lines).size() == 3; }));
  EXPECT_EQ(inputShape(panel), std::vector<Rect>{wholePanel});
  pressButton(false);
  ASSERT_TRUE(spinMainUntil([&] { return pageEvents(lines).size() == 4; }));
  settle();
  EXPECT_EQ(pageEvents(lines),
            (std::vector<std::string>{"pointer true", "mousedown", "pointer false", "release"}));
  EXPECT_EQ(inputShape(panel), std::vector<Rect>{kIsland});
  EXPECT_EQ(underneath.presses(), 1);

  // While the page shows a modal, a click beside the island is the page's.
  lines.clear();
  desktop->page().evaluate("window.plumora.templateModal(true)");
  ASSERT_TRUE(spinMainUntil([&] { return inputShape(panel) == std::vector<Rect>{wholePanel}; }));
  click(beside);
  ASSERT_TRUE(spinMainUntil([&] { return !pageEvents(lines).empty(); }));
  EXPECT_EQ(pageEvents(lines), std::vector<std::string>{"mousedown"});
  desktop->page().evaluate("window.plumora.templateModal(false)");
  EXPECT_TRUE(spinMainUntil([&] { return inputShape(panel) == std::vector<Rect>{kIsland}; }));

  // While the page's pop-up menu is up the whole panel takes the mouse; a click
  // beside the island dismisses the menu and reaches nothing underneath.
  lines.clear();
  desktop->page().evaluate(
      "window.plumora.selectMenu({options: ['一', '二'], x: 250, y: 60})"
      ".then(chosen => trace({event: 'menu ' + chosen}))");
  ASSERT_TRUE(spinMainUntil([&] { return desktop->controller().islandHost().menuOpen(); }));
  EXPECT_EQ(inputShape(panel), std::vector<Rect>{wholePanel});
  settle();
  click(beside);
  ASSERT_TRUE(spinMainUntil([&] { return !pageEvents(lines).empty(); }));
  EXPECT_EQ(pageEvents(lines), std::vector<std::string>{"menu null"});
  EXPECT_FALSE(desktop->controller().islandHost().menuOpen());
  EXPECT_EQ(inputShape(panel), std::vector<Rect>{kIsland});
  EXPECT_EQ(underneath.presses(), 1);

  // The island's shape outlasts hiding and showing the panel.
  desktop->controller().hideCreator();
  desktop->controller().show();
  ASSERT_TRUE(panel.isVisible());
  click(beside);
  EXPECT_TRUE(spinMainUntil([&] { return underneath.presses() == 2; }));
  EXPECT_EQ(inputShape(panel), std::vector<Rect>{kIsland});
  desktop.reset();
  EXPECT_TRUE(testing::awaitChildProcessesExited());
}

// Without any audio output the chime preview answers false and records the
// failure; without the chime file it records the missing resource.
TEST(IslandScreenTest, ChimePreviewAnswersWhetherTheChimeStarted) {
  GLIMMET_REQUIRE_DISPLAY();
  ASSERT_TRUE(kNoAudio);
  TempDir dir;
  std::vector<std::string> lines;
  auto desktop = testing::launchedOnBlankPage(dir, lines);
  ASSERT_NE(desktop, nullptr);
  PlumoraTaskFeedback& feedback = desktop->controller().taskFeedback();

  struct Row {
    bool chimePresent;
    const char* status;
  };
  for (const Row& row : {Row{false, "missing-resource"}, Row{true, "play-failed"}}) {
    if (row.chimePresent) {
      std::filesystem::copy_file(GLIMMET_CHIME, dir / PlumoraTaskFeedback::kChimeFile);
    }
    lines.clear();
    desktop->page().evaluate(
        "window.plumora.previewSound().then(started => "
        "window.plumora.previewTrace({event: 'sound ' + started}))");
    ASSERT_TRUE(spinMainUntil([&] { return !pageEvents(lines).empty(); })) << row.status;
    EXPECT_EQ(pageEvents(lines), std::vector<std::string>{"sound false"}) << row.status;
    EXPECT_EQ(feedback.soundStatus(), row.status);
  }
  EXPECT_EQ(feedback.soundPlayCount(), 0);
  desktop.reset();
  EXPECT_TRUE(testing::awaitChildProcessesExited());
}

}  // namespace
}  // namespace glimmet
