#pragma once

// Reads the mouse pointer, polled by the island host every few milliseconds.
// Main thread only.

#include "platform/geometry.h"

namespace glimmet {

struct PointerState {
  // Screen coordinates.
  Point position;
  // Whether any mouse button is held down.
  bool anyButtonDown = false;
};

class PointerSource {
 public:
  virtual ~PointerSource() = default;
  virtual PointerState pointer() const = 0;
};

}  // namespace glimmet
