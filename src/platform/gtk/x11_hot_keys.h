#pragma once

// Global hot keys as passive key grabs on the X11 root window. A combination is
// grabbed once for each state of the lock keys (Caps Lock, Num Lock), so that
// it works whichever of them is on; when another client already holds any of
// those grabs the X server refuses with BadAccess, every grab taken for the
// combination is released again and the registration fails. Presses arrive as
// root-window key events through a GDK event filter. Under Wayland only X11
// (XWayland) clients in front see these grabs. Main thread only; requires an
// initialised GTK on an X11 display.

#include <gdk/gdk.h>

#include <map>
#include <memory>

#include "core/lifetime.h"
#include "platform/hot_keys.h"

namespace glimmet {

class X11HotKeys final : public HotKeys {
 public:
  X11HotKeys();
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  void setHandler(std::function<void()> pressed) override { handler_ = std::move(pressed); }
  std::optional<Id> registerHotKey(const KeyCombination& combination) override;
  void unregisterHotKey(Id id) override;

  // The X11 modifier state of a stored mask: Ctrl for "command", Super for
  // "control", Alt for "option", Shift.
  static unsigned int x11Modifiers(std::uint32_t mask);
  // The stored mask of an X11 (or GDK) modifier state; lock keys do not count.
  static std::uint32_t storedModifiers(unsigned int state);

 private:
  struct Grab {
    unsigned int keycode;
    unsigned int modifiers;
  };
  // Grabs (or releases) the key with every combination of the lock keys;
  // answers whether the X server accepted all of it.
  bool grab(const Grab& key, bool take) const;
  void pressed(unsigned int keycode, unsigned int state) const;
  static GdkFilterReturn filter(GdkXEvent* xEvent, GdkEvent* event, gpointer self);

  std::map<Id, Grab> grabs_;
  std::function<void()> handler_;
  Id next_ = 1;
  Lifetime lifetime_;
};

}  // namespace glimmet
