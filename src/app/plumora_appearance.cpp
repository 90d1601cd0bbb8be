#include "app/plumora_appearance.h"

#include <algorithm>

namespace glimmet::PlumoraAppearance {

std::string normalized(const std::optional<std::string>& value) {
  if (value && std::find(options.begin(), options.end(), *value) != options.end()) return *value;
  return "system";
}

std::string saved(const DefaultsStore& defaults) { return normalized(defaults.string(key)); }

Json apply(const std::optional<std::string>& value, bool persist, DesktopAppearance& desktop,
           DefaultsStore& defaults) {
  const std::string preference = normalized(value);
  std::optional<ColorScheme> forced;
  if (preference == "light") forced = ColorScheme::light;
  if (preference == "dark") forced = ColorScheme::dark;
  desktop.setSchemeOverride(forced);
  if (persist) defaults.set(key, preference);

  const ColorScheme inEffect = forced.value_or(desktop.systemScheme());
  return {{"preference", preference}, {"theme", inEffect == ColorScheme::dark ? "dark" : "light"}};
}

}  // namespace glimmet::PlumoraAppearance
