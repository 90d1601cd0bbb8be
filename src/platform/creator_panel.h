#pragma once

// The creation panel as the controller drives it: the island panel that holds
// the page, presented with the keyboard or shown without taking it, hidden, and
// raised above other windows or stacked among them. Main thread only.

#include "platform/island_panel.h"

namespace glimmet {

class CreatorPanel : public IslandPanel {
 public:
  // The level last set (floating until the first change).
  virtual PanelLevel level() const = 0;
  // Shows the panel in front and gives it the keyboard.
  virtual void present() = 0;
  // Shows the panel in front without taking the keyboard or activating the program.
  virtual void showInactive() = 0;
  // Gives up the keyboard and hides the panel.
  virtual void hide() = 0;
  virtual bool isKey() const = 0;
  // Raises a file dialog attached to the panel, when one is up.
  virtual void raiseAttachedDialog() = 0;
};

}  // namespace glimmet
