#pragma once

// System-wide key combinations: the program registers a combination and hears
// it pressed whichever application has the focus. On X11 a registration is a
// passive key grab on the root window, which fails while another client holds
// the same grab. Main thread only.

#include <cstdint>
#include <functional>
#include <optional>

namespace glimmet {

// A key and its modifiers as the program stores them. `code` is the platform's
// key code (an X11 keycode); `modifiers` uses the stored mask, whose names come
// from another desktop: "command" is Ctrl, "control" is Super, "option" is Alt.
struct KeyCombination {
  static constexpr std::uint32_t kCommand = 0x100;
  static constexpr std::uint32_t kShift = 0x200;
  static constexpr std::uint32_t kOption = 0x800;
  static constexpr std::uint32_t kControl = 0x1000;

  std::uint32_t code = 0;
  std::uint32_t modifiers = 0;

  bool operator==(const KeyCombination&) const = default;
};

class HotKeys {
 public:
  using Id = std::uint32_t;

  virtual ~HotKeys() = default;

  // Runs `pressed` on the main queue, in a later turn than the key event, each
  // time a registered combination is pressed; an empty handler stops that.
  virtual void setHandler(std::function<void()> pressed) = 0;
  // None when the combination cannot be registered (another client holds it).
  virtual std::optional<Id> registerHotKey(const KeyCombination& combination) = 0;
  virtual void unregisterHotKey(Id id) = 0;
};

}  // namespace glimmet
