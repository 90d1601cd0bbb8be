#pragma once

// The desktop's appearance settings, followed live. The colour scheme comes
// from the desktop portal's org.freedesktop.appearance color-scheme on the
// session bus; without a portal, from GNOME's org.gnome.desktop.interface
// color-scheme when that schema is installed; else it is light. Reduced motion
// is the portal's org.freedesktop.appearance reduced-motion where the portal
// offers it, else GTK's own gtk-enable-animations setting turned off.
//
// The scheme reaches GTK windows through gtk-application-prefer-dark-theme:
// forced by an override, or, without one, set while the desktop prefers dark
// and otherwise left to the session's own value. Requires an initialised GTK;
// main thread only.

#include <memory>

#include "platform/desktop_appearance.h"

namespace glimmet {

class PortalDesktopAppearance final : public DesktopAppearance {
 public:
  // Reads the current settings (a short, bounded wait for the portal) and
  // starts following their changes.
  PortalDesktopAppearance();
  ~PortalDesktopAppearance() override;
  PortalDesktopAppearance(const PortalDesktopAppearance&) = delete;
  PortalDesktopAppearance& operator=(const PortalDesktopAppearance&) = delete;

  ColorScheme systemScheme() const override;
  void setSchemeOverride(std::optional<ColorScheme> scheme) override;
  bool reducesMotion() const override;

 private:
  struct Sources;
  void applyToGtk();

  std::unique_ptr<Sources> sources_;
  std::optional<ColorScheme> override_;
};

}  // namespace glimmet
