#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/display_support.h"
#include "desktop/gtk_desktop.h"

namespace glimmet {
namespace {

using testing::FakeBusService;
using testing::spinMainUntil;

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
  StatusItem item = makeStatusItem(
      actions, [&toggles] { ++toggles; }, screens);
  ASSERT_TRUE(item.indicator);
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
