// GtkStatusIcon is deprecated in GTK 3; it is the tray client under test.
#define GDK_DISABLE_DEPRECATION_WARNINGS

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "core/glib_ptr.h"
#include "platform/gtk/display_support.h"
#include "platform/gtk/status_icon_button.h"
#include "platform/gtk/status_menu.h"

// After GoogleTest: Xlib's macros (None, True, …) would break its headers.
// clang-format off
#include <gdk/gdkx.h>
#include <X11/extensions/XTest.h>
// clang-format on

namespace glimmet {
namespace {

using testing::spinMainUntil;

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

// A real click through the X server, at the middle of `frame`.
void click(const Rect& frame, unsigned button) {
  Display* display = gdk_x11_get_default_xdisplay();
  XTestFakeMotionEvent(display, -1, int(frame.midX()), int(frame.y + frame.height / 2),
                       CurrentTime);
  XTestFakeButtonEvent(display, button, True, CurrentTime);
  XTestFakeButtonEvent(display, button, False, CurrentTime);
  XFlush(display);
}

std::vector<std::string> titles(GtkMenu* menu) {
  std::vector<std::string> result;
  GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
  for (GList* item = items; item; item = item->next) {
    const char* label = gtk_menu_item_get_label(GTK_MENU_ITEM(item->data));
    const bool sensitive = gtk_widget_get_sensitive(GTK_WIDGET(item->data));
    result.push_back(GTK_IS_SEPARATOR_MENU_ITEM(item->data)
                         ? "—"
                         : std::string(label ? label : "") + (sensitive ? "" : " (off)"));
  }
  g_list_free(items);
  return result;
}

TEST(StatusIconTest, EmbedsInTheTrayAndAnswersLeftAndRightClicks) {
  GLIMMET_REQUIRE_DISPLAY();
  Tray tray;
  ASSERT_TRUE(tray) << "trayer is required (scripts/setup)";
  int opened = 0;
  int activated = 0;
  StatusMenuActions actions;
  actions.openStudio = [&opened] { ++opened; };
  actions.openBrowser = [] {};
  actions.quit = [] {};
  StatusMenu menu(std::move(actions));
  StatusIconButton button;
  button.onActivate([&activated] { ++activated; });
  int menus = 0;
  button.onMenu([&](guint mouseButton, guint32 time) {
    ++menus;
    menu.popUp(button.icon(), mouseButton, time);
  });
  button.setTitle("生成中");
  button.setToolTip("Glimmet");
  GTextPtr tip(gtk_status_icon_get_tooltip_text(button.icon()));
  EXPECT_STREQ(tip.get(), "生成中\nGlimmet");

  ASSERT_TRUE(spinMainUntil([&] { return button.isEmbedded() && button.frame(); },
                            std::chrono::seconds(5)));
  // The tray settles its layout after taking the icon in: click where it ends up.
  std::optional<Rect> settled;
  ASSERT_TRUE(spinMainUntil(
      [&] {
        std::optional<Rect> now = button.frame();
        const bool same = now && settled && *now == *settled;
        settled = now;
        if (!same) spinMainUntil([] { return false; }, std::chrono::milliseconds(200));
        return same;
      },
      std::chrono::seconds(5)));
  const Rect frame = *settled;
  EXPECT_GT(frame.width, 0);
  EXPECT_GT(frame.height, 0);
  button.showTurnedIcon(90, "Glimmet 正在生成");
  EXPECT_EQ(button.turn(), 90);
  button.showRestingIcon();
  EXPECT_FALSE(button.turn());

  click(frame, 3);
  ASSERT_TRUE(spinMainUntil([&] { return menus == 1; }, std::chrono::seconds(5)));
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(menu.menu())); },
                            std::chrono::seconds(5)));
  EXPECT_EQ(titles(menu.menu()),
            (std::vector<std::string>{"选中文字或图片，开始创作 (off)", "打开创作空间",
                                      "在浏览器中打开", "快捷键与权限设置… (off)",
                                      "本地 Agent · 安装与登录… (off)", "—", "退出 Glimmet"}));
  GList* items = gtk_container_get_children(GTK_CONTAINER(menu.menu()));
  gtk_menu_item_activate(GTK_MENU_ITEM(g_list_nth_data(items, 1)));
  g_list_free(items);
  EXPECT_EQ(opened, 1);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu.menu()));
  ASSERT_TRUE(spinMainUntil([&] { return !gtk_widget_get_mapped(GTK_WIDGET(menu.menu())); },
                            std::chrono::seconds(5)));

  // A left click after the menu toggles the panel rather than opening the menu.
  click(frame, 1);
  ASSERT_TRUE(spinMainUntil([&] { return activated == 1; }, std::chrono::seconds(5)));
  EXPECT_FALSE(gtk_widget_get_mapped(GTK_WIDGET(menu.menu())));
}

}  // namespace
}  // namespace glimmet
