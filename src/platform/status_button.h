#pragma once

// The program's status-bar button (the tray icon): its title beside the icon,
// its tool tip, its icon and where it sits on screen. Main thread only.

#include <optional>
#include <string>

#include "platform/geometry.h"

namespace glimmet {

class StatusButton {
 public:
  virtual ~StatusButton() = default;

  // Text shown beside the icon; empty shows the icon alone. Desktops that
  // cannot show a title next to a tray icon may append it to the tool tip.
  virtual void setTitle(const std::string& title) = 0;
  virtual void setToolTip(const std::string& toolTip) = 0;
  // Shows the resting icon, upright.
  virtual void showRestingIcon() = 0;
  // Shows the resting icon turned clockwise by `degrees` about its centre, at its
  // own size, described to assistive technology as `description`.
  virtual void showTurnedIcon(double degrees, const std::string& description) = 0;
  // The button's rectangle on screen; none when the desktop does not tell
  // (an indicator may answer a small rectangle inside the work area's top-right
  // corner instead, where such indicators live).
  virtual std::optional<Rect> frame() const = 0;
};

}  // namespace glimmet
