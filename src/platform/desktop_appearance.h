#pragma once

// The desktop's appearance settings as the program follows them: the light or
// dark colour scheme (on Linux the desktop portal's org.freedesktop.appearance
// color-scheme, applied with gtk-application-prefer-dark-theme) and the
// reduced-motion accessibility setting (the same portal namespace, or GTK's
// gtk-enable-animations). Main thread only.

#include <optional>

namespace glimmet {

enum class ColorScheme { light, dark };

class DesktopAppearance {
 public:
  virtual ~DesktopAppearance() = default;

  // The scheme the desktop asks applications to use.
  virtual ColorScheme systemScheme() const = 0;
  // Forces the program's windows and its page to `scheme`; none removes the
  // override so that they follow the desktop again.
  virtual void setSchemeOverride(std::optional<ColorScheme> scheme) = 0;
  // Whether the user asked for less motion on screen.
  virtual bool reducesMotion() const = 0;
};

}  // namespace glimmet
