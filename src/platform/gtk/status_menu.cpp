// gtk_menu_popup with gtk_status_icon_position_menu is the one way to place a
// menu at a tray icon; both are deprecated in GTK 3 along with GtkStatusIcon.
#define GDK_DISABLE_DEPRECATION_WARNINGS

#include "platform/gtk/status_menu.h"

#include <utility>

namespace glimmet {

StatusMenu::StatusMenu(StatusMenuActions actions)
    : actions_(std::move(actions)),
      menu_(g_object_ref_sink(gtk_menu_new())),
      accelerators_(gtk_accel_group_new()) {
  gtk_menu_set_accel_group(GTK_MENU(menu_), accelerators_);
  if (actions_.togglePanel) {
    toggleItem_ = addItem(kTogglePanel, actions_.togglePanel);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), gtk_separator_menu_item_new());
  }
  addItem(kCaptureText, actions_.captureText);
  addItem(kOpenStudio, actions_.openStudio);
  addItem(kOpenBrowser, actions_.openBrowser);
  addItem(kSettings, actions_.openSettings);
  addItem(kAgentSetup, actions_.openAgentSetup);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu_), gtk_separator_menu_item_new());
  GtkWidget* quit = addItem(kQuit, actions_.quit);
  gtk_widget_add_accelerator(quit, "activate", accelerators_, GDK_KEY_q, GDK_CONTROL_MASK,
                             GTK_ACCEL_VISIBLE);
  gtk_widget_show_all(menu_);
}

StatusMenu::~StatusMenu() {
  gtk_widget_destroy(menu_);
  g_object_unref(menu_);
  g_object_unref(accelerators_);
}

void StatusMenu::popUp(GtkStatusIcon* icon, guint button, guint32 time) {
  gtk_menu_popup(GTK_MENU(menu_), nullptr, nullptr, gtk_status_icon_position_menu, icon, button,
                 time);
}

GtkWidget* StatusMenu::addItem(const char* title, std::function<void()>& action) {
  GtkWidget* item = gtk_menu_item_new_with_label(title);
  if (action) {
    // The action lives in actions_, which outlives the menu's items.
    g_signal_connect(item, "activate", G_CALLBACK(activated), &action);
  } else {
    gtk_widget_set_sensitive(item, FALSE);
  }
  gtk_menu_shell_append(GTK_MENU_SHELL(menu_), item);
  return item;
}

void StatusMenu::activated(GtkMenuItem*, gpointer action) {
  (*static_cast<std::function<void()>*>(action))();
}

}  // namespace glimmet
