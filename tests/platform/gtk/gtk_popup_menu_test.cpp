#include "platform/gtk/gtk_popup_menu.h"

#include <gtk/gtk.h>

#include <optional>
#include <vector>

#include "platform/gtk/display_support.h"

namespace glimmet {
namespace {

using testing::spinMainUntil;

struct Answer {
  bool answered = false;
  std::optional<std::size_t> chosen;
};

PopUpMenu::Completion recordInto(Answer& answer) {
  return [&answer](std::optional<std::size_t> chosen) {
    EXPECT_FALSE(answer.answered) << "answered twice";
    answer = {true, chosen};
  };
}

GtkWidget* item(GtkMenu* menu, guint index) {
  GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
  auto* widget = GTK_WIDGET(g_list_nth_data(items, index));
  g_list_free(items);
  return widget;
}

TEST(GtkPopUpMenuTest, AnswersTheChosenIndexOrNoneWhenDismissed) {
  GLIMMET_REQUIRE_DISPLAY();
  GtkPopUpMenu menu;
  PopUpMenuRequest request;
  request.items = {{"Codex", std::filesystem::path(GLIMMET_RESOURCES) / "provider-codex.png"},
                   {"API", std::filesystem::path(GLIMMET_RESOURCES) / "provider-api.png"},
                   {"无图标", std::filesystem::path("/nonexistent.png")}};
  request.checked = 1;
  request.location = {5000, -20};

  // Nothing to open it on yet.
  Answer unattached;
  menu.popUp(request, recordInto(unattached));
  ASSERT_TRUE(spinMainUntil([&] { return unattached.answered; }));
  EXPECT_FALSE(unattached.chosen);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 300, 200);
  GtkWidget* area = gtk_drawing_area_new();
  gtk_container_add(GTK_CONTAINER(window), area);
  gtk_widget_show_all(window);
  ASSERT_TRUE(spinMainUntil([&] { return gtk_widget_get_mapped(area); }));
  menu.attach(area);

  Answer chosen;
  menu.popUp(request, recordInto(chosen));
  GtkMenu* open = menu.openMenu();
  ASSERT_NE(open, nullptr);
  EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item(open, 1))));
  EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item(open, 0))));
  gtk_menu_shell_activate_item(GTK_MENU_SHELL(open), item(open, 2), TRUE);
  ASSERT_TRUE(spinMainUntil([&] { return chosen.answered; }));
  EXPECT_EQ(chosen.chosen, 2u);
  EXPECT_EQ(menu.openMenu(), nullptr);

  // A second menu dismisses the first, which answers none; then it is dismissed too.
  Answer first;
  Answer second;
  menu.popUp(request, recordInto(first));
  menu.popUp(request, recordInto(second));
  ASSERT_TRUE(spinMainUntil([&] { return first.answered; }));
  EXPECT_FALSE(first.chosen);
  ASSERT_NE(menu.openMenu(), nullptr);
  gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu.openMenu()));
  ASSERT_TRUE(spinMainUntil([&] { return second.answered; }));
  EXPECT_FALSE(second.chosen);
  gtk_widget_destroy(window);
}

}  // namespace
}  // namespace glimmet
