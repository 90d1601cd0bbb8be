#include "platform/headless/headless_desktop_appearance.h"

namespace glimmet {

void HeadlessDesktopAppearance::setSchemeOverride(std::optional<ColorScheme> scheme) {
  override_ = scheme;
  overrideCalls_.push_back(scheme);
}

}  // namespace glimmet
