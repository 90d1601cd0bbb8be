// What the user clicks on the virtual screen, through XTest as a user would.
// The radial menu: where it appears, what a click, the pointer and the keys
// choose, how Escape and a press outside dismiss it, and how it looks in the
// light and the dark theme (screenshots in the build tree). The tray item both
// ways: a StatusIconButton embedded in an XEmbed tray (trayer), and the
// StatusNotifierItem served to a watcher the test owns on its private session
// bus (registration, icon files, the menu over dbusmenu).

// GtkStatusIcon is deprecated in GTK 3; it is the tray client under test.
#define GDK_DISABLE_DEPRECATION_WARNINGS

#include <gtk/gtk.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "desktop/gtk_desktop.h"
#include "diagnostics/seed_image.h"
#include "imaging/image_gate.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/gdk_desktop_services.h"
#include "platform/gtk/radial_view.h"
#include "platform/gtk/status_icon_button.h"
#include "platform/gtk/status_menu.h"
#include "surfaces/radial_menu.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace glimmet {
namespace {

using namespace std::chrono_literals;
using testing::FakeBusService;
using testing::spinMainUntil;

// The virtual screen of with-display.sh, without panels.
constexpr double kScreenWidth = 1280;
constexpr double kScreenHeight = 800;

Display* display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

void movePointer(Point to) {
  XTestFakeMotionEvent(display(), -1, int(to.x), int(to.y), CurrentTime);
  XFlush(display());
}

void click(Point at, unsigned button = 1) {
  movePointer(at);
  XTestFakeButtonEvent(display(), button, True, CurrentTime);
  XTestFakeButtonEvent(display(), button, False, CurrentTime);
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
  // A key, a click or a hover on a sector (-1: the centre, inside the ring's
  // hole), or a press outside the window.
  struct Input {
    enum { key, click, hover, outside } kind;
    long value = 0;
  };
  const auto byKey = [](KeySym key) { return Input{Input::key, long(key)}; };
  const auto byClick = [](int sector) { return Input{Input::click, sector}; };
  const auto byHover = [](int sector) { return Input{Input::hover, sector}; };
  struct Row {
    const char* name;
    bool image;
    Point pointer;
    std::vector<Input> input;
    std::optional<std::string> mode;  // none: dismissed without a choice
    Point origin;
  };
  const double right = kScreenWidth - 320 - 8;
  const double bottom = kScreenHeight - 320 - 8;
  const std::vector<Row> rows = {
      {"text, click", false, {640, 400}, {byClick(0)}, "direct", {480, 240}},
      {"text, key at the top left corner", false, {3, 3}, {byKey(XK_2)}, "template", {8, 8}},
      {"text, key", false, {640, 400}, {byKey(XK_3)}, "reference", {480, 240}},
      {"text, the hole and the gaps choose nothing",
       false,
       {640, 400},
       {byClick(-1), byKey(XK_0), byKey(XK_4), byKey(XK_Escape)},
       std::nullopt,
       {480, 240}},
      {"image, click", true, {1279, 799}, {byClick(1)}, "direct", {right, bottom}},
      {"image, arrows and Return",
       true,
       {640, 799},
       {byKey(XK_Left), byKey(XK_Left), byKey(XK_Return)},
       "direct",
       {480, bottom}},
      {"image, hover",
       true,
       {1279, 400},
       {byHover(2), byKey(XK_Return)},
       "reference",
       {right, 240}},
      {"image, a press outside", true, {640, 400}, {{Input::outside}}, std::nullopt, {480, 240}},
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
        row.image
            ? imagePayload()
            : Json{{"text", "雨天的城市，一杯热咖啡"}, {"voice", false}, {"source", "编辑器"}},
        pointer.pointer().position, [&](Json payload) { chosen = payload.value("mode", ""); },
        [&] { closed = true; });
    ASSERT_TRUE(spinMainUntil([&] { return ready(); }));
    EXPECT_EQ(shownFrame(), (Rect{row.origin.x, row.origin.y, 320, 320}));
    for (const Input& input : row.input) {
      const Point at = input.value < 0 ? Point{160, 160} : sectorMiddle(int(input.value));
      const Point onScreen{row.origin.x + at.x, row.origin.y + at.y};
      if (input.kind == Input::key) pressKey(KeySym(input.value));
      if (input.kind == Input::click) click(onScreen);
      if (input.kind == Input::hover) movePointer(onScreen);
      if (input.kind == Input::outside) click({row.origin.x - 100, row.origin.y + 10});
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

// An XEmbed system tray on the test's display, stopped with the test.
class Tray {
 public:
  Tray() {
    GError* error = nullptr;
    process_.reset(g_subprocess_new(G_SUBPROCESS_FLAGS_STDERR_SILENCE, &error, "trayer", "--expand",
                                    "false", "--widthtype", "request", nullptr));
    if (error) g_error_free(error);
  }
  ~Tray() {
    if (process_) {
      g_subprocess_force_exit(process_.get());
      g_subprocess_wait(process_.get(), nullptr, nullptr);
    }
  }
  explicit operator bool() const { return bool(process_); }

 private:
  GObjectPtr<GSubprocess> process_;
};

TEST(StatusIconTest, EmbedsInTheTrayAndAnswersLeftAndRightClicks) {
  GLIMMET_REQUIRE_DISPLAY();
  Tray tray;
  ASSERT_TRUE(tray) << "trayer is required (scripts/setup)";
  int opened = 0;
  int activated = 0;
  int menus = 0;
  StatusMenuActions actions;
  actions.openStudio = [&opened] { ++opened; };
  actions.openBrowser = [] {};
  actions.quit = [] {};
  StatusMenu menu(std::move(actions));
  StatusIconButton button;
  button.onActivate([&activated] { ++activated; });
  button.onMenu([&](guint mouseButton, guint32 time) {
    ++menus;
    menu.popUp(button.icon(), mouseButton, time);
  });
  button.setTitle("生成中");
  button.setToolTip("Glimmet");
  EXPECT_STREQ(GTextPtr(gtk_status_icon_get_tooltip_text(button.icon())).get(), "生成中\nGlimmet");

  ASSERT_TRUE(spinMainUntil([&] { return button.isEmbedded() && button.frame(); }));
  // The tray settles its layout after taking the icon in: click where it ends up.
  std::optional<Rect> settled;
  ASSERT_TRUE(spinMainUntil([&] {
    std::optional<Rect> now = button.frame();
    const bool same = now && settled && *now == *settled;
    settled = now;
    if (!same) spinMainUntil([] { return false; }, 200ms);
    return same;
  }));
  const Rect frame = *settled;
  click({frame.midX(), frame.y + frame.height / 2}, 3);
  ASSERT_TRUE(spinMainUntil([&] { return menus == 1; }));
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(menu.menu())); }));
  // Without a toggle action the menu has no toggle item: "打开创作空间" comes second.
  GPtr<GList, g_list_free> items(gtk_container_get_children(GTK_CONTAINER(menu.menu())));
  EXPECT_EQ(g_list_length(items.get()), 7u);
  gtk_menu_item_activate(GTK_MENU_ITEM(g_list_nth_data(items.get(), 1)));
  EXPECT_EQ(opened, 1);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu.menu()));
  ASSERT_TRUE(spinMainUntil([&] { return !gtk_widget_get_mapped(GTK_WIDGET(menu.menu())); }));

  // A left click after the menu toggles the panel rather than opening the menu.
  click({frame.midX(), frame.y + frame.height / 2});
  ASSERT_TRUE(spinMainUntil([&] { return activated == 1; }));
  EXPECT_FALSE(gtk_widget_get_mapped(GTK_WIDGET(menu.menu())));
}

constexpr const char* kWatcherInterface = R"(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>)";

// A panel's StatusNotifierWatcher on the test's session bus, with or without
// a host that shows the items; it records the items that register.
class Watcher {
 public:
  explicit Watcher(bool hosted)
      : hosted_(hosted),
        service_("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", kWatcherInterface,
                 [this](const std::string& method, GVariant* parameters) {
                   return answer(method, parameters);
                 }) {}

  std::vector<std::string> items() const {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  GVariant* property(const std::string& name) {
    if (name == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(hosted_);
    if (name == "ProtocolVersion") return g_variant_new_int32(0);
    if (name != "RegisteredStatusNotifierItems") return nullptr;
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("as"));
    for (const std::string& item : items_) g_variant_builder_add(&list, "s", item.c_str());
    return g_variant_builder_end(&list);
  }

  // Runs on the service's thread.
  GVariant* answer(const std::string& method, GVariant* parameters) {
    std::lock_guard lock(mutex_);
    if (method == "RegisterStatusNotifierItem") {
      const gchar* item = nullptr;
      g_variant_get(parameters, "(&s)", &item);
      items_.push_back(item);
      return g_variant_new("()");
    }
    if (method == "RegisterStatusNotifierHost") return g_variant_new("()");
    if (method == "Get") {
      const gchar* name = nullptr;
      g_variant_get(parameters, "(&s&s)", nullptr, &name);
      GVariant* value = property(name);
      return value ? g_variant_new("(v)", value) : nullptr;
    }
    if (method == "GetAll") {
      GVariantBuilder all;
      g_variant_builder_init(&all, G_VARIANT_TYPE("a{sv}"));
      for (const char* name :
           {"IsStatusNotifierHostRegistered", "ProtocolVersion", "RegisteredStatusNotifierItems"}) {
        g_variant_builder_add(&all, "{sv}", name, property(name));
      }
      return g_variant_new("(a{sv})", &all);
    }
    return nullptr;
  }

  const bool hosted_;
  mutable std::mutex mutex_;
  std::vector<std::string> items_;
  FakeBusService service_;  // last: its thread calls answer()
};

GDBusConnection* sessionBus() {
  static GDBusConnection* const bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  return bus;
}

// Calls this process's own objects: asynchronously, spinning the main loop
// that serves them.
GVariantPtr call(const std::string& path, const char* interface, const char* method,
                 GVariant* parameters) {
  struct Pending {
    GVariantPtr reply;
    bool done = false;
  } pending;
  g_dbus_connection_call(
      sessionBus(), g_dbus_connection_get_unique_name(sessionBus()), path.c_str(), interface,
      method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
      [](GObject* bus, GAsyncResult* result, gpointer data) {
        auto& answer = *static_cast<Pending*>(data);
        answer.reply.reset(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, nullptr));
        answer.done = true;
      },
      &pending);
  spinMainUntil([&] { return pending.done; });
  return std::move(pending.reply);
}

// A string property of the item.
std::string property(const std::string& path, const char* name) {
  GVariantPtr reply = call(path, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", "org.kde.StatusNotifierItem", name));
  if (!reply) return "";
  GVariant* value = nullptr;
  g_variant_get(reply.get(), "(v)", &value);
  return g_variant_get_string(GVariantPtr(value).get(), nullptr);
}

// The menu's top level as the panel reads it (com.canonical.dbusmenu): each
// item's label ("—" for a separator, " (off)" when disabled, its shortcut),
// and in `ids` the item's id by that text.
std::vector<std::string> menuTexts(const std::string& path, std::map<std::string, int>& ids) {
  std::vector<std::string> result;
  GVariantPtr reply = call(path, "com.canonical.dbusmenu", "GetLayout",
                           g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)));
  if (!reply) return result;
  GVariantIter* children = nullptr;
  g_variant_get(reply.get(), "(u(ia{sv}av))", nullptr, nullptr, nullptr, &children);
  GVariant* child = nullptr;
  while (g_variant_iter_next(children, "v", &child)) {
    const GVariantPtr owned(child);
    int id = 0;
    GVariant* values = nullptr;
    g_variant_get(child, "(i@a{sv}av)", &id, &values, nullptr);
    const GVariantPtr properties(values);
    const gchar* type = "";
    const gchar* label = "";
    gboolean enabled = TRUE;
    g_variant_lookup(properties.get(), "type", "&s", &type);
    g_variant_lookup(properties.get(), "label", "&s", &label);
    g_variant_lookup(properties.get(), "enabled", "b", &enabled);
    std::string text = std::string(type) == "separator" ? "—" : label;
    if (!enabled) text += " (off)";
    GVariantPtr keys(g_variant_lookup_value(properties.get(), "shortcut", G_VARIANT_TYPE("aas")));
    if (keys) text += " " + std::string(GTextPtr(g_variant_print(keys.get(), FALSE)).get());
    ids[text] = id;
    result.push_back(text);
  }
  g_variant_iter_free(children);
  return result;
}

// The icon file the panel would load: a square of the glyph's size in one
// colour, that of the spark's opaque centre (other opaque pixels differ only
// by rounding). That colour's red, or none when the file is not such an icon.
std::optional<int> glyphRed(const std::filesystem::path& file) {
  GObjectPtr<GdkPixbuf> image(gdk_pixbuf_new_from_file(file.c_str(), nullptr));
  if (!image || gdk_pixbuf_get_width(image.get()) != 20 ||
      gdk_pixbuf_get_height(image.get()) != 20 || !gdk_pixbuf_get_has_alpha(image.get())) {
    return std::nullopt;
  }
  const guchar* pixels = gdk_pixbuf_get_pixels(image.get());
  const int stride = gdk_pixbuf_get_rowstride(image.get());
  const guchar* centre = pixels + 10 * stride + 10 * 4;
  for (int offset = 0; offset < 20 * stride; offset += 4) {
    const guchar* pixel = pixels + offset;
    if (offset % stride >= 20 * 4 || pixel[3] < 160) continue;
    for (int channel = 0; channel < 3; ++channel) {
      if (std::abs(pixel[channel] - centre[channel]) > 8) return std::nullopt;
    }
  }
  return centre[0];
}

TEST(IndicatorStatusButtonTest, TheTrayIconStandsInWithoutAPanelThatHostsItems) {
  GLIMMET_REQUIRE_DISPLAY();
  GdkScreenLayout screens;
  for (const bool watcher : {false, true}) {
    std::optional<Watcher> unhosted;
    if (watcher) unhosted.emplace(false);
    StatusItem item = makeStatusItem(
        {}, [] {}, screens);
    EXPECT_TRUE(item.trayIcon && !item.indicator) << "watcher: " << watcher;
  }
}

TEST(IndicatorStatusButtonTest, RegistersWithThePanelAndServesItsIconAndMenu) {
  GLIMMET_REQUIRE_DISPLAY();
  Watcher watcher(true);
  int toggles = 0;
  int opened = 0;
  int quits = 0;
  StatusMenuActions actions;
  actions.openStudio = [&opened] { ++opened; };
  actions.openBrowser = [] {};
  actions.quit = [&quits] { ++quits; };
  GdkScreenLayout screens;
  // The desktop gives the panel a second to answer, which a loaded machine
  // may miss; the tray icon stands in then, so ask again.
  std::optional<StatusItem> made;
  ASSERT_TRUE(spinMainUntil([&] {
    made.reset();
    made.emplace(makeStatusItem(
        actions, [&toggles] { ++toggles; }, screens));
    return made->indicator != nullptr;
  }));
  StatusItem& item = *made;
  ASSERT_TRUE(spinMainUntil([&] { return !watcher.items().empty(); }));
  const std::string path = watcher.items().front();

  EXPECT_EQ(property(path, "Title"), "Glimmet");
  EXPECT_EQ(property(path, "Status"), "Active");
  const std::filesystem::path icons = property(path, "IconThemePath");
  const std::string resting = property(path, "IconName");
  const std::optional<int> lightRed = glyphRed(icons / (resting + ".png"));
  EXPECT_TRUE(lightRed) << icons / resting;

  // A turn shows another pre-drawn step; the tool tip becomes the title.
  item.button->showTurnedIcon(90, "Glimmet 正在生成");
  item.button->setToolTip("新作品已就绪");
  EXPECT_NE(property(path, "IconName"), resting);
  EXPECT_TRUE(glyphRed(icons / (property(path, "IconName") + ".png")));
  EXPECT_EQ(property(path, "IconAccessibleDesc"), "Glimmet 正在生成");
  EXPECT_EQ(property(path, "Title"), "新作品已就绪");
  item.button->showRestingIcon();
  EXPECT_EQ(property(path, "IconName"), resting);

  // A dark theme gives an icon in its lighter text colour.
  GtkSettings* settings = gtk_settings_get_default();
  g_object_set(settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
  ASSERT_TRUE(spinMainUntil([&] { return property(path, "IconName") != resting; }));
  const std::optional<int> darkRed = glyphRed(icons / (property(path, "IconName") + ".png"));
  ASSERT_TRUE(darkRed && lightRed);
  EXPECT_GT(*darkRed, *lightRed);
  g_object_set(settings, "gtk-application-prefer-dark-theme", FALSE, nullptr);

  const std::string menu = property(path, "Menu");
  std::map<std::string, int> ids;
  std::vector<std::string> texts;
  ASSERT_TRUE(spinMainUntil([&] {
    texts = menuTexts(menu, ids);
    return texts.size() == 9;
  })) << texts.size();
  const std::string quit = "退出 Glimmet [['Control', 'q']]";
  EXPECT_EQ(texts,
            (std::vector<std::string>{"切换创作面板", "—", "选中文字或图片，开始创作 (off)",
                                      "打开创作空间", "在浏览器中打开", "快捷键与权限设置… (off)",
                                      "本地 Agent · 安装与登录… (off)", "—", quit}));
  for (const std::string& text : {std::string("切换创作面板"), std::string("打开创作空间"), quit}) {
    call(menu, "com.canonical.dbusmenu", "Event",
         g_variant_new("(isvu)", ids[text], "clicked", g_variant_new_int32(0), 0u));
  }
  EXPECT_TRUE(spinMainUntil([&] { return toggles == 1 && opened == 1 && quits == 1; }));
  // A middle click does what the first item does.
  call(path, "org.kde.StatusNotifierItem", "SecondaryActivate", g_variant_new("(ii)", 0, 0));
  EXPECT_TRUE(spinMainUntil([&] { return toggles == 2; }));

  // The button goes before the menu it shows, as in the desktop.
  item.button.reset();
  item.menu.reset();
  EXPECT_FALSE(std::filesystem::exists(icons));
}

}  // namespace
}  // namespace glimmet
