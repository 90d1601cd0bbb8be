#pragma once

// The radial action menu's window: a small borderless window at the pointer
// that draws a ring of three actions around the captured material and hands
// the user's pointer and keys to its owner, which decides what they mean.
// Main thread only.

#include <array>
#include <string>

#include "core/base64.h"
#include "platform/geometry.h"

namespace glimmet {

// What the window draws.
struct RadialFace {
  std::array<std::string, 3> titles;
  // The symbol names of the sector icons, in sector order.
  std::array<std::string, 3> symbols;
  // One line under the preview.
  std::string summary;
  // The encoded image acted on (PNG, JPEG...); empty for text. Without an
  // image that decodes, the window shows a text placeholder.
  Bytes preview;
  // The highlighted sector.
  int selected = 0;
};

enum class RadialKey { enter, escape, left, up, right, down, other };

// Input of the shown window. Positions are in the window's coordinates.
class RadialWindowEvents {
 public:
  virtual ~RadialWindowEvents() = default;
  virtual void pointerMoved(Point position) = 0;
  virtual void pointerPressed(Point position) = 0;
  // `characters` is the text the key types (empty when it types none).
  virtual void keyPressed(RadialKey key, const std::string& characters) = 0;
  // A press outside the window, or another program took the input away.
  virtual void pressedOutside() = 0;
};

class RadialWindow {
 public:
  virtual ~RadialWindow() = default;

  // Shows `face` at `frame` (screen coordinates) with the pointer and the
  // keyboard, replacing whatever the window showed. `events` must stay alive
  // until the next present or hide.
  virtual void present(const RadialFace& face, const Rect& frame, RadialWindowEvents& events) = 0;
  // Highlights another sector.
  virtual void select(int sector) = 0;
  virtual void hide() = 0;
  virtual bool isVisible() const = 0;
};

}  // namespace glimmet
