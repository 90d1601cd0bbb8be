// The radial menu on the virtual screen: where it appears, what a click, the
// pointer and the keys choose, how Escape and a press outside dismiss it, and
// how it looks in the light and the dark theme (screenshots in the build
// tree). Input goes through XTest, as a user's would.

#include "platform/gtk/radial_view.h"

#include <gtk/gtk.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "diagnostics/seed_image.h"
#include "desktop/gtk_desktop.h"
#include "imaging/image_gate.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/gdk_desktop_services.h"
#include "surfaces/radial_menu.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace glimmet {
namespace {

using testing::spinMainUntil;
using namespace std::chrono_literals;

// The virtual screen of with-display.sh, without panels.
constexpr double kScreenWidth = 1280;
constexpr double kScreenHeight = 800;

Display* display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

void movePointer(Point to) {
  XTestFakeMotionEvent(display(), -1, int(to.x), int(to.y), CurrentTime);
  XFlush(display());
}

void click(Point at) {
  movePointer(at);
  XTestFakeButtonEvent(display(), 1, True, CurrentTime);
  XTestFakeButtonEvent(display(), 1, False, CurrentTime);
  XFlush(display());
}

void pressKey(KeySym key) {
  XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), key), True, CurrentTime);
  XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), key), False, CurrentTime);
  XFlush(display());
}

// The middle of `sector` in the window, on the icons' circle.
Point sectorMiddle(int sector) {
  const double angle = (sector * 120 - 90) * std::numbers::pi / 180;
  return {160 + 106 * std::cos(angle), 160 + 106 * std::sin(angle)};
}

Json textPayload() {
  return {{"text", "雨天的城市，一杯热咖啡"}, {"voice", false}, {"source", "编辑器"}};
}

Json imagePayload() {
  const std::string png = seedImagePNG();
  return {{"text", ""},
          {"voice", false},
          {"source", "文件"},
          {"image",
           image_gate::pngDataURL(reinterpret_cast<const std::uint8_t*>(png.data()), png.size())}};
}

class RadialViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GLIMMET_REQUIRE_DISPLAY();
    radial = std::make_unique<RadialView>();
    presenter = std::make_unique<RadialPresenter>(*radial, screens);
    g_signal_connect_after(radial->window(), "draw",
                           G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer frames) {
                             ++*static_cast<int*>(frames);
                             return FALSE;
                           }),
                           &frames);
  }

  // Where the window of `view` (this test's by default) really is on the screen.
  Rect shownFrame(const RadialView* view = nullptr) const {
    GtkWidget* window = GTK_WIDGET((view ? view : radial.get())->window());
    gint x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_window(window), &x, &y);
    return {double(x), double(y), double(gtk_widget_get_allocated_width(window)),
            double(gtk_widget_get_allocated_height(window))};
  }

  // Shown, drawn and holding the input.
  bool ready() const { return radial->isVisible() && radial->hasInput() && frames > 0; }

  // The screen under the shown window as a PNG in the build tree; the colour
  // of the frosted disc's rim, between the disc's and the ring's edges.
  double discLightness(const std::string& name) {
    const Rect frame = shownFrame();
    XSync(display(), False);
    GObjectPtr<GdkPixbuf> shot(gdk_pixbuf_get_from_window(gdk_get_default_root_window(),
                                                          int(frame.x), int(frame.y),
                                                          int(frame.width), int(frame.height)));
    EXPECT_TRUE(shot);
    if (!shot) return -1;
    std::filesystem::create_directories(RADIAL_SCREENSHOTS);
    EXPECT_TRUE(gdk_pixbuf_save(shot.get(),
                                (std::filesystem::path(RADIAL_SCREENSHOTS) / name).c_str(), "png",
                                nullptr, nullptr));
    const guchar* pixel = gdk_pixbuf_get_pixels(shot.get()) +
                          12 * gdk_pixbuf_get_rowstride(shot.get()) +
                          160 * gdk_pixbuf_get_n_channels(shot.get());
    return (pixel[0] + pixel[1] + pixel[2]) / (3.0 * 255);
  }

  GdkScreenLayout screens;
  // Made once GTK is up.
  std::unique_ptr<RadialView> radial;
  std::unique_ptr<RadialPresenter> presenter;
  int frames = 0;
};

TEST_F(RadialViewTest, AppearsAtThePointerAndTurnsClicksAndKeysIntoModes) {
  struct Key {
    KeySym key;
  };
  struct Click {
    int sector;
  };
  struct Hover {
    int sector;
  };
  struct Outside {};
  using Input = std::variant<Key, Click, Hover, Outside>;
  struct Row {
    const char* name;
    Json payload;
    Point pointer;
    std::vector<Input> input;
    std::optional<std::string> mode;  // none: dismissed without a choice
    Point origin;
  };
  const double right = kScreenWidth - 320 - 8;
  const double bottom = kScreenHeight - 320 - 8;
  const std::vector<Row> rows = {
      {"text, click", textPayload(), {640, 400}, {Click{0}}, "direct", {480, 240}},
      {"text, number key at the top left corner",
       textPayload(),
       {3, 3},
       {Key{XK_2}},
       "template",
       {8, 8}},
      {"text, number key", textPayload(), {640, 400}, {Key{XK_3}}, "reference", {480, 240}},
      {"text, the hole and the gaps choose nothing",
       textPayload(),
       {640, 400},
       {Click{-1}, Key{XK_0}, Key{XK_4}, Key{XK_Escape}},
       std::nullopt,
       {480, 240}},
      {"image, click", imagePayload(), {1279, 799}, {Click{1}}, "direct", {right, bottom}},
      {"image, arrows and Return",
       imagePayload(),
       {640, 799},
       {Key{XK_Left}, Key{XK_Left}, Key{XK_Return}},
       "direct",
       {480, bottom}},
      {"image, hover and Return",
       imagePayload(),
       {1279, 400},
       {Hover{2}, Key{XK_Return}},
       "reference",
       {right, 240}},
      {"image, a press outside", imagePayload(), {640, 400}, {Outside{}}, std::nullopt, {480, 240}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    movePointer(row.pointer);
    std::optional<std::string> chosen;
    bool closed = false;
    frames = 0;
    GdkPointerSource pointer;
    ASSERT_TRUE(spinMainUntil([&] { return pointer.pointer().position == row.pointer; }));
    presenter->present(
        row.payload, pointer.pointer().position,
        [&](Json payload) { chosen = payload.value("mode", ""); }, [&] { closed = true; });
    ASSERT_TRUE(spinMainUntil([&] { return ready(); }));
    EXPECT_EQ(shownFrame(), (Rect{row.origin.x, row.origin.y, 320, 320}));
    for (const Input& input : row.input) {
      if (const auto* key = std::get_if<Key>(&input)) pressKey(key->key);
      if (const auto* press = std::get_if<Click>(&input)) {
        // Sector -1: the centre, inside the ring's hole.
        const Point at = press->sector < 0 ? Point{160, 160} : sectorMiddle(press->sector);
        click({row.origin.x + at.x, row.origin.y + at.y});
      }
      if (const auto* hover = std::get_if<Hover>(&input)) {
        const Point at = sectorMiddle(hover->sector);
        movePointer({row.origin.x + at.x, row.origin.y + at.y});
      }
      if (std::holds_alternative<Outside>(input)) click({row.origin.x - 100, row.origin.y + 10});
      // Each input is handled before the next, as a person's would be.
      spinMainUntil([] { return false; }, 60ms);
    }
    ASSERT_TRUE(spinMainUntil([&] { return closed; }));
    EXPECT_EQ(chosen, row.mode);
    EXPECT_FALSE(radial->isVisible());
    EXPECT_FALSE(radial->hasInput());
  }
}

TEST_F(RadialViewTest, TheDemoLauncherShowsTheDemoSelectionAtThePointerAndFollowsTheTheme) {
  movePointer({640, 400});
  GdkPointerSource pointer;
  ASSERT_TRUE(spinMainUntil([&] { return pointer.pointer().position == Point{640, 400}; }));
  bool closed = false;
  DemoLauncher demo([&] { closed = true; });
  ASSERT_TRUE(spinMainUntil([&] { return demo.radial().isVisible() && demo.radial().hasInput(); }));
  EXPECT_EQ(shownFrame(&demo.radial()), (Rect{480, 240, 320, 320}));
  pressKey(XK_Escape);
  ASSERT_TRUE(spinMainUntil([&] { return closed; }));

  // An image in light and in dark; the rim of the disc follows the theme.
  GtkSettings* settings = gtk_settings_get_default();
  double lightness[2] = {0, 0};
  for (const bool dark : {false, true}) {
    g_object_set(settings, "gtk-application-prefer-dark-theme", dark, nullptr);
    frames = 0;
    presenter->present(imagePayload(), {640, 400}, {});
    ASSERT_TRUE(spinMainUntil([&] { return ready(); }));
    movePointer({480 + sectorMiddle(1).x, 240 + sectorMiddle(1).y});
    ASSERT_TRUE(spinMainUntil([&] { return frames > 1; }));
    spinMainUntil([] { return false; }, 200ms);
    lightness[dark] = discLightness(dark ? "radial-dark.png" : "radial-light.png");
    presenter->dismiss();
  }
  g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);
  EXPECT_GT(lightness[0], 0.8);
  EXPECT_LT(lightness[1], 0.3);
}

}  // namespace
}  // namespace glimmet
