// The desktop's GTK parts on the private display and session bus of
// with-display.sh, driven through XTest as a user would. The radial menu:
// where it appears, what a click, the pointer and the keys choose, how Escape
// and a press outside dismiss it. The tray item both ways: a StatusIconButton
// in an XEmbed tray (trayer), and the StatusNotifierItem served to a watcher
// the test owns (registration, icon files, the menu over dbusmenu). Alerts,
// the pop-up menu, the clipboard, the workspace (windows, the file manager),
// the portal's appearance settings, the sounds (into a fake sink), the agent
// setup window and, last, the file panels.

// GtkStatusIcon is deprecated in GTK 3; it is the tray client under test.
#define GDK_DISABLE_DEPRECATION_WARNINGS

#include <gtk/gtk.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "agents/local_agent_setup.h"
#include "core/defaults_store.h"
#include "core/digest.h"
#include "desktop/gtk_desktop.h"
#include "diagnostics/seed_image.h"
#include "imaging/image_gate.h"
#include "platform/gtk/desktop_workspace.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/gdk_desktop_services.h"
#include "platform/gtk/gstreamer_sound.h"
#include "platform/gtk/gtk_agent_setup_window.h"
#include "platform/gtk/gtk_alerts.h"
#include "platform/gtk/gtk_clipboard_access.h"
#include "platform/gtk/gtk_file_panels.h"
#include "platform/gtk/gtk_popup_menu.h"
#include "platform/gtk/portal_desktop_appearance.h"
#include "platform/gtk/radial_view.h"
#include "platform/gtk/status_icon_button.h"
#include "platform/gtk/status_menu.h"
#include "platform/headless/headless_shell.h"
#include "support/archive/tar_gz.h"
#include "support/https/test_https_service.h"
#include "surfaces/radial_menu.h"

// Last: Xlib defines macros (None, Bool) that clash with GoogleTest's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::FakeBusService;
using testing::Reply;
using testing::spinMainUntil;
using testing::TempDir;

Display* display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override { GLIMMET_REQUIRE_DISPLAY(); }
};

// The virtual screen of with-display.sh, without panels.
constexpr double kScreenWidth = 1280;
constexpr double kScreenHeight = 800;

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
       {{Input::hover, 2}, byKey(XK_Return)},
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

TEST_F(RadialViewTest, TheDemoLauncherShowsTheDemoSelectionAtThePointer) {
  movePointer({640, 400});
  GdkPointerSource pointer;
  ASSERT_TRUE(spinMainUntil([&] { return pointer.pointer().position == Point{640, 400}; }));
  bool closed = false;
  DemoLauncher demo([&] { closed = true; });
  ASSERT_TRUE(spinMainUntil([&] { return demo.radial().isVisible() && demo.radial().hasInput(); }));
  EXPECT_EQ(shownFrame(&demo.radial()), (Rect{480, 240, 320, 320}));
  pressKey(XK_Escape);
  EXPECT_TRUE(spinMainUntil([&] { return closed; }));
}

// An XEmbed system tray on the test's display, stopped with the test.
struct Tray {
  ~Tray() {
    if (process) g_subprocess_force_exit(process.get());
    if (process) g_subprocess_wait(process.get(), nullptr, nullptr);
  }
  GObjectPtr<GSubprocess> process{g_subprocess_new(G_SUBPROCESS_FLAGS_STDERR_SILENCE, nullptr,
                                                   "trayer", "--expand", "false", "--widthtype",
                                                   "request", nullptr)};
};

TEST_F(DisplayTest, StatusIconEmbedsInTheTrayAndAnswersLeftAndRightClicks) {
  Tray tray;
  ASSERT_TRUE(tray.process) << "trayer is required (scripts/setup)";
  int activated = 0;
  StatusMenu menu(StatusMenuActions{});
  StatusIconButton button;
  button.onActivate([&activated] { ++activated; });
  button.onMenu(
      [&](guint mouseButton, guint32 time) { menu.popUp(button.icon(), mouseButton, time); });

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
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(menu.menu())); }));
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
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
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
  // Runs on the service's thread.
  GVariant* answer(const std::string& method, GVariant* parameters) {
    std::lock_guard lock(mutex_);
    if (method == "RegisterStatusNotifierItem") {
      const gchar* item = nullptr;
      g_variant_get(parameters, "(&s)", &item);
      items_.push_back(item);
      return g_variant_new("()");
    }
    // The one property read: whether a host shows the items.
    return method == "Get" ? g_variant_new("(v)", g_variant_new_boolean(hosted_)) : nullptr;
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
// item's label ("—" for a separator) and its id.
std::vector<std::pair<std::string, int>> menuItems(const std::string& path) {
  std::vector<std::pair<std::string, int>> result;
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
    g_variant_lookup(properties.get(), "type", "&s", &type);
    g_variant_lookup(properties.get(), "label", "&s", &label);
    result.emplace_back(std::string(type) == "separator" ? "—" : label, id);
  }
  g_variant_iter_free(children);
  return result;
}

TEST_F(DisplayTest, TheTrayIconStandsInWithoutAPanelThatHostsItems) {
  GdkScreenLayout screens;
  Watcher unhosted(false);
  StatusItem item = makeStatusItem(
      {}, [] {}, screens);
  EXPECT_TRUE(item.trayIcon && !item.indicator);
}

TEST_F(DisplayTest, IndicatorRegistersWithThePanelAndServesItsIconAndMenu) {
  Watcher watcher(true);
  std::vector<std::string> done;
  StatusMenuActions actions;
  actions.openStudio = [&done] { done.push_back("studio"); };
  actions.openBrowser = [] {};
  actions.quit = [&done] { done.push_back("quit"); };
  GdkScreenLayout screens;
  // The desktop gives the panel a second to answer, which a loaded machine
  // may miss; the tray icon stands in then, so ask again.
  std::optional<StatusItem> made;
  ASSERT_TRUE(spinMainUntil([&] {
    made.reset();
    made.emplace(makeStatusItem(
        actions, [&done] { done.push_back("toggle"); }, screens));
    return made->indicator != nullptr;
  }));
  StatusItem& item = *made;
  ASSERT_TRUE(spinMainUntil([&] { return !watcher.items().empty(); }));
  const std::string path = watcher.items().front();

  EXPECT_EQ(property(path, "Title"), "Glimmet");
  const fs::path icons = property(path, "IconThemePath");
  const std::string resting = property(path, "IconName");
  EXPECT_TRUE(fs::exists(icons / (resting + ".png"))) << icons / resting;
  // A turn shows another pre-drawn step.
  item.button->showTurnedIcon(90, "Glimmet 正在生成");
  EXPECT_TRUE(fs::exists(icons / (property(path, "IconName") + ".png")));
  EXPECT_NE(property(path, "IconName"), resting);

  const std::string menu = property(path, "Menu");
  std::vector<std::pair<std::string, int>> items;
  ASSERT_TRUE(spinMainUntil([&] {
    items = menuItems(menu);
    return items.size() == 9;
  })) << items.size();
  std::vector<std::string> labels;
  for (const auto& [label, id] : items) labels.push_back(label);
  EXPECT_EQ(labels, (std::vector<std::string>{"切换创作面板", "—", "选中文字或图片，开始创作",
                                              "打开创作空间", "在浏览器中打开", "快捷键与权限设置…",
                                              "本地 Agent · 安装与登录…", "—", "退出 Glimmet"}));
  // The toggle, the studio and quit, as the panel clicks them.
  for (const std::size_t index : {0, 3, 8}) {
    call(menu, "com.canonical.dbusmenu", "Event",
         g_variant_new("(isvu)", items[index].second, "clicked", g_variant_new_int32(0), 0u));
  }
  EXPECT_TRUE(spinMainUntil([&] { return done.size() == 3; }));
  EXPECT_EQ(done, (std::vector<std::string>{"toggle", "studio", "quit"}));

  // The button goes before the menu it shows, as in the desktop.
  item.button.reset();
  item.menu.reset();
  EXPECT_FALSE(fs::exists(icons));
}

// The last visible top-level window of `type`, as the dialogs show themselves.
GtkWidget* shownWindow(GType type) {
  GtkWidget* found = nullptr;
  GPtr<GList, g_list_free> windows(gtk_window_list_toplevels());
  for (GList* item = windows.get(); item != nullptr; item = item->next) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(item->data, type) &&
        gtk_widget_get_visible(GTK_WIDGET(item->data)))
      found = GTK_WIDGET(item->data);
  }
  return found;
}

GtkDialog* shownAlert() { return GTK_DIALOG(shownWindow(GTK_TYPE_MESSAGE_DIALOG)); }
GtkFileChooser* shownChooser() {
  return GTK_FILE_CHOOSER(shownWindow(GTK_TYPE_FILE_CHOOSER_DIALOG));
}

std::string textOf(GtkDialog* dialog, const char* property) {
  gchar* raw = nullptr;
  g_object_get(dialog, property, &raw, nullptr);
  const GTextPtr text(raw);
  return raw != nullptr ? raw : "";
}

// The label of the button that answers `response`.
std::string buttonOf(GtkDialog* dialog, int response) {
  GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, response);
  return button != nullptr ? gtk_button_get_label(GTK_BUTTON(button)) : "";
}

TEST_F(DisplayTest, AlertsShowTheTextsAndAnswerTheChosenButton) {
  GtkAlerts alerts;
  std::vector<std::size_t> answers;
  const auto record = [&](std::size_t index) { answers.push_back(index); };
  alerts.present({"移到废纸篓？", "50% <b>不会</b> 删除", {"移到废纸篓", "取消"}}, record);
  GtkDialog* dialog = shownAlert();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(textOf(dialog, "text"), "移到废纸篓？");
  EXPECT_EQ(textOf(dialog, "secondary-text"), "50% <b>不会</b> 删除");
  EXPECT_EQ(buttonOf(dialog, 0), "移到废纸篓");
  gtk_dialog_response(dialog, 0);
  EXPECT_EQ(answers, std::vector<std::size_t>{0});
  EXPECT_EQ(shownAlert(), nullptr);

  // Closing declines: the last button; an alert without buttons acknowledges.
  alerts.present({"保存失败", "", {"重试", "稍后", "放弃"}}, record);
  gtk_window_close(GTK_WINDOW(shownAlert()));
  ASSERT_TRUE(spinMainUntil([&] { return answers.size() == 2; }));
  alerts.present({"完成", "", {}}, record);
  dialog = shownAlert();
  EXPECT_EQ(buttonOf(dialog, 0), GtkAlerts::kAcknowledgeTitle);
  gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
  EXPECT_EQ(answers, (std::vector<std::size_t>{0, 2, 0}));
}

TEST_F(DisplayTest, PopUpMenuAnswersTheChosenIndexOrNoneWhenDismissed) {
  // Every menu answers exactly once, in the order they were opened.
  std::vector<std::optional<std::size_t>> answers;
  const auto record = [&](std::optional<std::size_t> chosen) { answers.push_back(chosen); };
  GtkPopUpMenu menu;
  PopUpMenuRequest request;
  request.items = {{"Codex", fs::path(GLIMMET_RESOURCES) / "provider-codex.png"},
                   {"API", fs::path(GLIMMET_RESOURCES) / "provider-api.png"},
                   {"无图标", fs::path("/nonexistent.png")}};
  request.checked = 1;
  request.location = {5000, -20};

  // Nothing to open it on yet.
  menu.popUp(request, record);
  ASSERT_TRUE(spinMainUntil([&] { return answers.size() == 1; }));

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
  gtk_widget_show(window);
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_get_mapped(window); }));
  menu.attach(window);
  menu.popUp(request, record);
  ASSERT_NE(menu.openMenu(), nullptr);
  GPtr<GList, g_list_free> items(gtk_container_get_children(GTK_CONTAINER(menu.openMenu())));
  EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(g_list_nth_data(items.get(), 1))));
  gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu.openMenu()),
                               GTK_WIDGET(g_list_nth_data(items.get(), 2)), TRUE);
  ASSERT_TRUE(spinMainUntil([&] { return answers.size() == 2; }));
  EXPECT_EQ(menu.openMenu(), nullptr);

  // A second menu dismisses the first, which answers none; then it is dismissed too.
  menu.popUp(request, record);
  menu.popUp(request, record);
  ASSERT_TRUE(spinMainUntil([&] { return answers.size() == 3; }));
  ASSERT_NE(menu.openMenu(), nullptr);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu.openMenu()));
  ASSERT_TRUE(spinMainUntil([&] { return answers.size() == 4; }));
  spinMainUntil([] { return false; }, 100ms);
  EXPECT_EQ(answers,
            (std::vector<std::optional<std::size_t>>{std::nullopt, 2, std::nullopt, std::nullopt}));
  gtk_widget_destroy(window);
}

// What the clipboard's owner offers as `target`.
std::string offered(const char* target) {
  GPtr<GtkSelectionData, gtk_selection_data_free> data(gtk_clipboard_wait_for_contents(
      gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), gdk_atom_intern(target, FALSE)));
  if (!data) return "";
  const auto* bytes = reinterpret_cast<const char*>(gtk_selection_data_get_data(data.get()));
  return std::string(bytes, gtk_selection_data_get_length(data.get()));
}

TEST_F(DisplayTest, ClipboardCarriesTextImagesAndFiles) {
  GtkClipboardAccess clipboard;
  EXPECT_EQ(clipboard.readText(), std::nullopt);
  const std::string text = "生成完成 ✓\nline two";
  ASSERT_TRUE(clipboard.writeText(text));
  EXPECT_EQ(clipboard.readText(), text);
  EXPECT_FALSE(clipboard.writeText("bad \xff byte"));
  EXPECT_EQ(clipboard.readText(), text);

  // A small image, offered as given.
  GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 2));
  gdk_pixbuf_fill(pixbuf.get(), 0x2080c0ff);
  gchar* buffer = nullptr;
  gsize size = 0;
  ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "png", nullptr, nullptr));
  const GTextPtr owned(buffer);
  ASSERT_TRUE(clipboard.writeImage(Bytes(buffer, buffer + size)));
  EXPECT_EQ(clipboard.readText(), std::nullopt);
  // Bytes that are not a PNG leave the clipboard as it was.
  EXPECT_FALSE(clipboard.writeImage(Bytes{0x89, 'P', 'N', 'G', 0, 1, 2}));
  EXPECT_EQ(offered("image/png"), std::string(buffer, size));

  ASSERT_TRUE(clipboard.writeFileUrls({"/tmp/a b.png", "/tmp/图.png"}));
  EXPECT_EQ(offered("text/uri-list"), "file:///tmp/a%20b.png\r\nfile:///tmp/%E5%9B%BE.png\r\n");
  EXPECT_EQ(clipboard.readText(), "/tmp/a b.png\n/tmp/图.png");
  EXPECT_EQ(offered("x-special/gnome-copied-files"),
            "copy\nfile:///tmp/a%20b.png\nfile:///tmp/%E5%9B%BE.png");
  EXPECT_FALSE(clipboard.writeFileUrls({}));
}

// Plays the window manager's part: names the active window on the root window.
void setActiveWindow(unsigned long window) {
  Display* x = display();
  XChangeProperty(x, DefaultRootWindow(x), XInternAtom(x, "_NET_ACTIVE_WINDOW", False), XA_WINDOW,
                  32, PropModeReplace, reinterpret_cast<unsigned char*>(&window), 1);
  XSync(x, False);
}

struct TestWindow {
  TestWindow() {
    widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(widget);
    spinMainUntil([this] { return gtk_widget_get_mapped(widget); });
    id = GDK_WINDOW_XID(gtk_widget_get_window(widget));
    XClassHint hint{const_cast<char*>("glimmet-test"), const_cast<char*>("Glimmet-Test-Editor")};
    XSetClassHint(display(), id, &hint);
  }
  ~TestWindow() { gtk_widget_destroy(widget); }
  GtkWidget* widget;
  unsigned long id;
};

TEST_F(DisplayTest, WorkspaceFindsAndActivatesTheActiveWindowsOwner) {
  DesktopWorkspace workspace;
  std::uint64_t gone = 0;
  {
    TestWindow window;
    setActiveWindow(window.id);
    const auto application = workspace.frontmostApplication();
    ASSERT_TRUE(application);
    EXPECT_EQ(application->pid, getpid());
    EXPECT_EQ(application->bundleIdentifier, "Glimmet-Test-Editor");
    EXPECT_EQ(application->window, window.id);
    gone = window.id;
  }
  // A window manager may still name a window that has just closed.
  XSync(display(), False);
  EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
  EXPECT_FALSE(workspace.activate({1, "Glimmet-Test-Editor", "", gone}));

  // Without a window manager, activation focuses the window itself.
  TestWindow window;
  ASSERT_TRUE(workspace.activate({getpid(), "Glimmet-Test-Editor", "", window.id}));
  Window focused = None;
  int revert = 0;
  XGetInputFocus(display(), &focused, &revert);
  EXPECT_EQ(focused, window.id);
}

TEST_F(DisplayTest, WorkspaceAsksTheFileManagerToRevealTheItem) {
  TempDir dir;
  testing::writeFile(dir / "作品 1.png", "x");
  std::vector<std::string> shown;
  FakeBusService fileManager("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                             R"(<node><interface name="org.freedesktop.FileManager1">
           <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/>
           </method></interface></node>)",
                             [&](const std::string&, GVariant* parameters) {
                               const gchar** raw = nullptr;
                               g_variant_get(parameters, "(^a&s&s)", &raw, nullptr);
                               GPtr<const gchar*, g_free> uris(raw);
                               for (const gchar** uri = raw; *uri != nullptr; ++uri)
                                 shown.emplace_back(*uri);
                               return g_variant_new("()");
                             });
  DesktopWorkspace workspace;
  ASSERT_TRUE(workspace.revealFile(dir / "作品 1.png"));
  ASSERT_TRUE(spinMainUntil([&] { return !shown.empty(); }));
  GTextPtr expected(g_filename_to_uri((dir / "作品 1.png").c_str(), nullptr, nullptr));
  EXPECT_EQ(shown, std::vector<std::string>{expected.get()});
  EXPECT_FALSE(workspace.revealFile(dir / "absent.png"));
}

bool prefersDark() {
  gboolean dark = FALSE;
  g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
  return dark;
}

// Without a portal the desktop is light; an older portal answers only Read,
// its value wrapped in one more variant.
TEST_F(DisplayTest, AppearanceFollowsThePortalsSettingsAndTheirChanges) {
  EXPECT_EQ(PortalDesktopAppearance().systemScheme(), ColorScheme::light);
  FakeBusService portal("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                        R"(<node><interface name="org.freedesktop.portal.Settings">
  <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="v" direction="out"/></method>
</interface></node>)",
                        [](const std::string&, GVariant*) {
                          // Both prefer dark (color-scheme) and reduce motion (reduced-motion).
                          return g_variant_new("(v)",
                                               g_variant_new_variant(g_variant_new_uint32(1)));
                        });
  PortalDesktopAppearance appearance;
  EXPECT_EQ(appearance.systemScheme(), ColorScheme::dark);
  EXPECT_TRUE(appearance.reducesMotion());
  EXPECT_TRUE(prefersDark());
  appearance.setSchemeOverride(ColorScheme::light);
  EXPECT_FALSE(prefersDark());
  appearance.setSchemeOverride(std::nullopt);
  EXPECT_TRUE(prefersDark());

  portal.emitSignal("org.freedesktop.portal.Settings", "SettingChanged",
                    g_variant_new("(ssv)", "org.freedesktop.appearance", "color-scheme",
                                  g_variant_new_uint32(2)));
  ASSERT_TRUE(spinMainUntil([&] { return appearance.systemScheme() == ColorScheme::light; }));
  EXPECT_FALSE(prefersDark());
}

using PlayStatus = Sound::PlayStatus;
const fs::path kChime = GLIMMET_CHIME;

TEST(GStreamerSoundTest, PlaysReplacesStopsAndFailsOnBadFilesAndSinks) {
  TempDir dir;
  testing::writeFile(dir / "notes.wav", "not a sound at all");
  GStreamerSound sound("fakesink sync=true");
  std::vector<bool> ends;
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(sound.play(kChime, 0.8, [&](bool finished) { ends.push_back(finished); }),
            PlayStatus::playing);
  for (const auto& bad : {dir / "absent.wav", dir / "notes.wav", dir.path()}) {
    EXPECT_EQ(sound.play(bad, 1, [&](bool) { ends.push_back(false); }), PlayStatus::missingResource)
        << bad;
  }
  ASSERT_TRUE(spinMainUntil([&] { return !ends.empty(); }));
  EXPECT_EQ(ends, std::vector<bool>{true});
  // The chime lasts about 0.4 s.
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);

  // A replaced sound and a stopped one never complete.
  std::vector<std::string> names;
  sound.play(kChime, 1, [&](bool) { names.push_back("first"); });
  ASSERT_EQ(sound.play(kChime, 1, [&](bool) { names.push_back("second"); }), PlayStatus::playing);
  ASSERT_TRUE(spinMainUntil([&] { return !names.empty(); }));
  sound.play(kChime, 1, [&](bool) { names.push_back("stopped"); });
  sound.stop();
  spinMainUntil([] { return false; }, 700ms);
  EXPECT_EQ(names, std::vector<std::string>{"second"});

  // An error while playing breaks the sound off; without its audio device
  // a sound fails at once and never completes.
  GStreamerSound failing("identity error-after=3 ! fakesink sync=true");
  GStreamerSound broken("alsasink device=glimmet_no_such_device");
  ends.clear();
  ASSERT_EQ(failing.play(kChime, 1, [&](bool finished) { ends.push_back(finished); }),
            PlayStatus::playing);
  EXPECT_EQ(broken.play(kChime, 1, [&](bool) { ends.push_back(true); }), PlayStatus::failed);
  ASSERT_TRUE(spinMainUntil([&] { return !ends.empty(); }));
  spinMainUntil([] { return false; }, 300ms);
  EXPECT_EQ(ends, std::vector<bool>{false});
}

// The agent setup window's buttons drive an installation against a loopback
// release host, the log shows it, cancel rolls it back.
TEST_F(DisplayTest, AgentSetupWindowInstallsShowsProgressAndCancels) {
  TempDir dir;
  testing::TestHttpsService service({"releases.test"});
  // A release of two real executables of this machine.
  const char* const codex = "package/bin/codex";
  const char* const runtime = "package/bin/codex-code-mode-host";
  const std::string archive = testing::tarGz(
      {{codex, testing::readFile("/bin/true")}, {runtime, testing::readFile("/bin/false")}});
  CodexInstallerSettings settings;
  settings.session.trustedCAFile = service.caFile();
  settings.session.connectTo = {service.connectTo("releases.test")};
  settings.release = CodexRelease{
      "https://releases.test/codex.tgz", archive.size(), sha256Hex(archive), codex, runtime,
      testing::hostElfMachine()};
  LocalAgentPaths paths;
  paths.dataHome = dir / "data";
  paths.home = dir / "home";
  DefaultsStore defaults(dir / "defaults.json");
  LocalAgentManager manager(defaults, paths);
  GtkAgentSetupWindow window;
  HeadlessAccessibility accessibility;
  LocalAgentSetup setup(manager, window, accessibility, paths, settings, [] {});

  // The inventory replaces the detecting line.
  setup.show();
  ASSERT_TRUE(spinMainUntil([&] {
    return std::string(gtk_label_get_text(window.statusLabel())).find("codex：未安装") !=
           std::string::npos;
  }));
  EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(window.loginButton())));

  // Cancel while the host holds the download back: nothing is installed.
  Reply release = Reply::with(200, archive);
  release.contentType = "application/octet-stream";
  release.delay = 20s;
  service.route("GET", "/codex.tgz", release);
  gtk_button_clicked(window.installButton());
  EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(window.installButton())));
  ASSERT_TRUE(spinMainUntil([&] { return !service.requests().empty(); }));
  gtk_button_clicked(window.cancelButton());
  ASSERT_TRUE(
      spinMainUntil([&] { return gtk_widget_get_sensitive(GTK_WIDGET(window.installButton())); }));
  EXPECT_FALSE(fs::exists(paths.managedCodex()));

  // A full installation: the log reports it and the inventory finds the CLI.
  release.delay = {};
  service.route("GET", "/codex.tgz", release);
  gtk_button_clicked(window.installButton());
  ASSERT_TRUE(spinMainUntil(
      [&] { return window.logText().find(LocalAgentSetup::kInstalled) != std::string::npos; }));
  EXPECT_TRUE(fs::exists(paths.managedCodex()));
  EXPECT_TRUE(
      spinMainUntil([&] { return gtk_widget_get_sensitive(GTK_WIDGET(window.loginButton())); }));
}

// Last in the program (its own suite): GTK's file chooser, closed while it still loads a
// folder, may later run a callback on its destroyed list (a GTK critical,
// fatal here) once the main loop runs again in a later test.
TEST(GtkFilePanelsTest, AskAsRequestedAndAnswerTheChoice) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkFilePanels panels;
  std::optional<std::vector<fs::path>> opened;
  panels.runOpenPanel({true, false, "选择图片"}, [&](auto files) { opened = std::move(files); });
  GtkFileChooser* chooser = shownChooser();
  ASSERT_NE(chooser, nullptr);
  gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
  ASSERT_TRUE(spinMainUntil([&] { return opened.has_value(); }));
  EXPECT_TRUE(opened->empty());

  TempDir dir;
  std::optional<std::optional<fs::path>> saved;
  panels.runSavePanel({"作品 1.png"}, [&](auto path) { saved = std::move(path); });
  chooser = shownChooser();
  ASSERT_NE(chooser, nullptr);
  EXPECT_STREQ(GTextPtr(gtk_file_chooser_get_current_name(chooser)).get(), "作品 1.png");
  gtk_file_chooser_set_current_folder(chooser, dir.path().c_str());
  // The dialog ignores Save while it still loads the folder, as a user would see.
  for (int tries = 0; tries < 50 && !saved; ++tries) {
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    spinMainUntil([&] { return saved.has_value(); }, 200ms);
  }
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(*saved, dir / "作品 1.png");

  saved.reset();
  panels.runSavePanel({"x.png"}, [&](auto path) { saved = std::move(path); });
  gtk_dialog_response(GTK_DIALOG(shownChooser()), GTK_RESPONSE_DELETE_EVENT);
  ASSERT_TRUE(spinMainUntil([&] { return saved.has_value(); }));
  EXPECT_EQ(*saved, std::nullopt);
}

}  // namespace
}  // namespace glimmet
