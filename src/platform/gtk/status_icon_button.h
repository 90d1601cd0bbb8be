#pragma once

// The status button as a tray icon in the desktop's XEmbed system tray
// (GtkStatusIcon). The icon is the brand glyph in the theme's text colour,
// redrawn when the tray changes its size or the theme changes; a left click
// runs the activate handler and a right click the menu handler with the
// click's button and time, so the menu can take the pointer grab. The icon
// has a place on screen only while a tray holds it. Main thread only;
// requires an initialised GTK on X11.

#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>

#include "core/glib_ptr.h"
#include "platform/status_button.h"

namespace glimmet {

// The colour of ordinary text in the current theme, light or dark: the colour
// tray icons draw the brand glyph in.
GdkRGBA themeTextColour();

class StatusIconButton final : public StatusButton {
 public:
  using MenuHandler = std::function<void(guint button, guint32 time)>;

  StatusIconButton();
  ~StatusIconButton() override;
  StatusIconButton(const StatusIconButton&) = delete;
  StatusIconButton& operator=(const StatusIconButton&) = delete;

  void onActivate(std::function<void()> handler) { activate_ = std::move(handler); }
  void onMenu(MenuHandler handler) { menu_ = std::move(handler); }

  // StatusButton. A tray icon has no room for a title: it follows the tool tip.
  void setTitle(const std::string& title) override;
  void setToolTip(const std::string& toolTip) override;
  void showRestingIcon() override;
  void showTurnedIcon(double degrees, const std::string& description) override;
  std::optional<Rect> frame() const override;

  bool isEmbedded() const;
  GtkStatusIcon* icon() const { return icon_.get(); }

 private:
  static gboolean sizeChanged(GtkStatusIcon* icon, gint size, gpointer self);
  static void activated(GtkStatusIcon* icon, gpointer self);
  static void menuRequested(GtkStatusIcon* icon, guint button, guint32 time, gpointer self);
  static void themeChanged(GObject* settings, GParamSpec* property, gpointer self);

  void drawIcon();
  void updateToolTip();

  GObjectPtr<GtkStatusIcon> icon_;
  std::function<void()> activate_;
  MenuHandler menu_;
  std::string title_;
  std::string toolTip_;
  std::optional<double> turn_;
  GdkRGBA colour_{};
  int size_ = 0;
  gulong themeHandler_ = 0;
  gulong darkHandler_ = 0;
};

}  // namespace glimmet
