#pragma once

// The creation panel as the island host sees it: a borderless, transparent
// window holding the page, with a frosted glass island drawn behind the page's
// island and pointer input limited to a region so that clicks beside the island
// reach the windows underneath. Main thread only.

#include <optional>

#include "platform/geometry.h"

namespace glimmet {

enum class PanelLevel {
  // Kept above other windows.
  floating,
  // Stacked like any other window.
  normal,
};

// Where the panel takes pointer input.
struct InputRegion {
  // None: the whole panel. Otherwise the island, in panel coordinates.
  std::optional<Rect> island;

  static InputRegion wholePanel() { return {}; }
  static InputRegion only(const Rect& island) { return {island}; }
  bool operator==(const InputRegion&) const = default;
};

class IslandPanel {
 public:
  virtual ~IslandPanel() = default;

  // The panel's rectangle in screen coordinates.
  virtual Rect frame() const = 0;
  // Moves and resizes the panel and redraws it.
  virtual void setFrame(const Rect& frame) = 0;
  virtual bool isVisible() const = 0;
  virtual void setLevel(PanelLevel level) = 0;
  // The region stays in force, across hiding and showing, until the next call.
  virtual void setInputRegion(const InputRegion& region) = 0;
  // Draws the glass over `island` (panel coordinates): square top corners, where
  // the island meets the top of the screen, and lower corners rounded with
  // `lowerCornerRadius`. Without animation.
  virtual void showGlass(const Rect& island, double lowerCornerRadius) = 0;
};

}  // namespace glimmet
