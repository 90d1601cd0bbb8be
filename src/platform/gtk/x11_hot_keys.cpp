#include "platform/gtk/x11_hot_keys.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>

#include "core/executors.h"

namespace glimmet {

namespace {

Display* xDisplay() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

// The modifier bits of the lock keys, which must not change what a key means.
unsigned int lockModifiers() {
  return LockMask | XkbKeysymToModifiers(xDisplay(), XK_Num_Lock) |
         XkbKeysymToModifiers(xDisplay(), XK_Scroll_Lock);
}

constexpr std::pair<std::uint32_t, unsigned int> kModifierMap[] = {
    {KeyCombination::kCommand, ControlMask},
    {KeyCombination::kShift, ShiftMask},
    {KeyCombination::kOption, Mod1Mask},
    {KeyCombination::kControl, Mod4Mask}};

}  // namespace

X11HotKeys::X11HotKeys() { gdk_window_add_filter(gdk_get_default_root_window(), filter, this); }

X11HotKeys::~X11HotKeys() {
  for (const auto& [id, key] : grabs_) grab(key, false);
  gdk_window_remove_filter(gdk_get_default_root_window(), filter, this);
}

unsigned int X11HotKeys::x11Modifiers(std::uint32_t mask) {
  unsigned int state = 0;
  for (const auto& [stored, x11] : kModifierMap) {
    if ((mask & stored) != 0) state |= x11;
  }
  return state;
}

std::uint32_t X11HotKeys::storedModifiers(unsigned int state) {
  std::uint32_t mask = 0;
  for (const auto& [stored, x11] : kModifierMap) {
    if ((state & x11) != 0) mask |= stored;
  }
  return mask;
}

std::optional<HotKeys::Id> X11HotKeys::registerHotKey(const KeyCombination& combination) {
  int minimum = 0;
  int maximum = 0;
  XDisplayKeycodes(xDisplay(), &minimum, &maximum);
  // Key code 0 is AnyKey to the server: it would grab the whole keyboard.
  if (combination.code < static_cast<unsigned int>(minimum) ||
      combination.code > static_cast<unsigned int>(maximum)) {
    return std::nullopt;
  }
  const Grab key{combination.code, x11Modifiers(combination.modifiers)};
  if (!grab(key, true)) {
    grab(key, false);
    return std::nullopt;
  }
  const Id id = next_++;
  grabs_.emplace(id, key);
  return id;
}

void X11HotKeys::unregisterHotKey(Id id) {
  const auto found = grabs_.find(id);
  if (found == grabs_.end()) return;
  grab(found->second, false);
  grabs_.erase(found);
}

bool X11HotKeys::grab(const Grab& key, bool take) const {
  GdkDisplay* display = gdk_display_get_default();
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  const Window root = DefaultRootWindow(x);
  const unsigned int locks = lockModifiers();
  gdk_x11_display_error_trap_push(display);
  // Every subset of the lock bits.
  for (unsigned int extra = locks;; extra = (extra - 1) & locks) {
    if (take) {
      XGrabKey(x, static_cast<int>(key.keycode), key.modifiers | extra, root, False, GrabModeAsync,
               GrabModeAsync);
    } else {
      XUngrabKey(x, static_cast<int>(key.keycode), key.modifiers | extra, root);
    }
    if (extra == 0) break;
  }
  XSync(x, False);
  return gdk_x11_display_error_trap_pop(display) == 0;
}

void X11HotKeys::pressed(unsigned int keycode, unsigned int state) const {
  const unsigned int modifiers =
      state & ~lockModifiers() & (ShiftMask | ControlMask | Mod1Mask | Mod4Mask);
  for (const auto& [id, key] : grabs_) {
    if (key.keycode == keycode && key.modifiers == modifiers && handler_) {
      // The key event is done with at once; the work runs in a later turn.
      // The handler is looked up then, so one removed meanwhile never runs.
      MainQueue::shared().post([this, alive = lifetime_.guard()] {
        if (!alive.expired() && handler_) handler_();
      });
      return;
    }
  }
}

GdkFilterReturn X11HotKeys::filter(GdkXEvent* xEvent, GdkEvent*, gpointer self) {
  const auto* event = static_cast<const XEvent*>(xEvent);
  if (event->type != KeyPress) return GDK_FILTER_CONTINUE;
  static_cast<const X11HotKeys*>(self)->pressed(event->xkey.keycode, event->xkey.state);
  return GDK_FILTER_REMOVE;
}

}  // namespace glimmet
