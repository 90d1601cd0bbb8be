#pragma once

// The page's pop-up menu as a GTK menu opened at a point of the web view:
// titles in the design font, monochrome icons tinted with the menu's text
// colour, the checked item marked. The completion runs on the main thread
// after the menu closed, with the chosen index or none. Until a widget is
// attached, or while it is not on screen, every request is answered none.

#include <gtk/gtk.h>

#include <memory>

#include "core/lifetime.h"
#include "platform/popup_menu.h"

namespace glimmet {

class GtkPopUpMenu final : public PopUpMenu {
 public:
  GtkPopUpMenu() = default;
  ~GtkPopUpMenu() override;
  GtkPopUpMenu(const GtkPopUpMenu&) = delete;
  GtkPopUpMenu& operator=(const GtkPopUpMenu&) = delete;

  // The widget whose coordinates the requests' locations are in.
  void attach(GtkWidget* anchor) { anchor_ = anchor; }

  void popUp(const PopUpMenuRequest& request, Completion completion) override;

  // The menu that is open, or null; its items are in the request's order.
  GtkMenu* openMenu() const;

 private:
  struct Tracking;
  static void itemActivated(GtkMenuItem* item, gpointer tracking);
  static void menuDeactivated(GtkMenuShell* menu, gpointer tracking);

  void finish(std::shared_ptr<Tracking> tracking);

  GtkWidget* anchor_ = nullptr;
  std::shared_ptr<Tracking> open_;
  Lifetime lifetime_;
};

}  // namespace glimmet
