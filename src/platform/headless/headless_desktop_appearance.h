#pragma once

// Desktop appearance for tests: the system scheme and the reduced-motion
// setting are scripted; every override the program sets is recorded.

#include <vector>

#include "platform/desktop_appearance.h"

namespace glimmet {

class HeadlessDesktopAppearance final : public DesktopAppearance {
 public:
  ColorScheme systemScheme() const override { return system_; }
  void setSchemeOverride(std::optional<ColorScheme> scheme) override;
  bool reducesMotion() const override { return reducesMotion_; }

  void setSystemScheme(ColorScheme scheme) { system_ = scheme; }
  void setReducesMotion(bool reduces) { reducesMotion_ = reduces; }

  // The override in force; none while the program follows the desktop.
  std::optional<ColorScheme> schemeOverride() const { return override_; }
  // Every call of setSchemeOverride, in order.
  const std::vector<std::optional<ColorScheme>>& overrideCalls() const { return overrideCalls_; }

 private:
  ColorScheme system_ = ColorScheme::light;
  bool reducesMotion_ = false;
  std::optional<ColorScheme> override_;
  std::vector<std::optional<ColorScheme>> overrideCalls_;
};

}  // namespace glimmet
