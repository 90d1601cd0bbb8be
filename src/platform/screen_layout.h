#pragma once

// The monitors of the desktop and their work areas (the monitor minus panels
// and docks, where windows may go). Main thread only.

#include <optional>

#include "platform/geometry.h"

namespace glimmet {

class ScreenLayout {
 public:
  virtual ~ScreenLayout() = default;

  // The work area of the monitor showing `point`; none when no monitor does.
  virtual std::optional<Rect> workAreaAt(Point point) const = 0;
  // The work area of the primary monitor, or else of the first one; none
  // without any monitor.
  virtual std::optional<Rect> primaryWorkArea() const = 0;
};

}  // namespace glimmet
