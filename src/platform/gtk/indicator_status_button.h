#pragma once

// The status button as a StatusNotifierItem (libayatana-appindicator3), for
// desktops whose panel hosts such items (KDE Plasma, GNOME with the
// AppIndicator extension, most others today).
//
// What an indicator cannot do, and what this button does instead:
// - The panel, not the program, handles the clicks: any click opens the menu,
//   so a left click cannot be told from a right one. The menu's first item
//   does what a left click does elsewhere, and a middle click (the item's
//   secondary activation) runs that same item.
// - The panel never says where the item is: `frame` answers a small square in
//   the top-right corner of the primary monitor's work area, where such items
//   usually live.
// - The panel draws icons from files by name: the glyph is written as PNG files
//   to a private temporary directory (removed with the button) and named by
//   its colour and turn, so a changed icon is a new name the panel reloads.
// - There is no tool tip: the tool tip becomes the item's title, the title
//   beside the icon its label (shown where the panel supports labels).
//
// Main thread only; requires an initialised GTK.

#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <optional>
#include <set>
#include <string>

#include "core/files.h"
#include "core/glib_ptr.h"
#include "platform/screen_layout.h"
#include "platform/status_button.h"

namespace glimmet {

class IndicatorStatusButton final : public StatusButton {
 public:
  // A turn is shown as one of this many fixed steps around the circle, each
  // drawn once per colour: the panel reloads a file for every new icon, so a
  // step changes the icon a few times a second instead of at every frame.
  static constexpr int kTurnSteps = 8;
  // The side of the square `frame` answers.
  static constexpr double kSlotSize = 24;

  // Opens `menu` on a click; a middle click activates `secondaryItem`, one of
  // its items. Both must outlive the button. Throws LocalAgentFailure when
  // the icon directory cannot be made.
  IndicatorStatusButton(GtkMenu* menu, GtkWidget* secondaryItem, const ScreenLayout& screens);
  ~IndicatorStatusButton() override;
  IndicatorStatusButton(const IndicatorStatusButton&) = delete;
  IndicatorStatusButton& operator=(const IndicatorStatusButton&) = delete;

  // StatusButton.
  void setTitle(const std::string& title) override;
  void setToolTip(const std::string& toolTip) override;
  void showRestingIcon() override;
  void showTurnedIcon(double degrees, const std::string& description) override;
  std::optional<Rect> frame() const override;

  AppIndicator* indicator() const { return indicator_.get(); }
  // The turn step the icon shows, none while resting.
  std::optional<int> step() const { return step_; }

 private:
  static void themeChanged(GObject* settings, GParamSpec* property, gpointer self);

  // The icon for the theme's text colour and the current step.
  std::string iconName() const;
  // Shows the current icon, drawing its file first if needed; keeps the
  // previous icon when that fails.
  void showIcon();
  // Writes the file of `icon` (the current one) unless it exists. Throws
  // LocalAgentFailure.
  void draw(const std::string& icon);
  void updateTitle();

  const ScreenLayout& screens_;
  TemporaryDirectory icons_;
  GObjectPtr<AppIndicator> indicator_;
  std::set<std::string> drawnIcons_;
  GdkRGBA colour_{};
  std::optional<int> step_;
  std::string description_;
  std::string title_;
  std::string toolTip_;
  gulong themeHandler_ = 0;
  gulong darkHandler_ = 0;
};

}  // namespace glimmet
