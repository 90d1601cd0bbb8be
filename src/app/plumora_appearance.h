#pragma once

// The user's light/dark preference: "system" follows the desktop, "light" and
// "dark" force the program's windows and its page to that scheme. The page
// learns the preference and the scheme in effect.

#include <array>
#include <optional>
#include <string>

#include "core/defaults_store.h"
#include "core/json.h"
#include "platform/desktop_appearance.h"

namespace glimmet::PlumoraAppearance {

// The user-defaults key of the preference.
inline constexpr const char* key = "plumora-appearance";
// The preferences, in the order the page offers them.
inline constexpr std::array<const char*, 3> options = {"system", "light", "dark"};

// `value` when it is exactly one of `options`, otherwise "system".
std::string normalized(const std::optional<std::string>& value);
// The stored preference, normalized.
std::string saved(const DefaultsStore& defaults);
// Applies the preference `value` (normalized first) to the desktop appearance
// and, when `persist` is set, stores it. Answers {"preference": the normalized
// preference, "theme": "dark" or "light", the scheme now in effect}.
Json apply(const std::optional<std::string>& value, bool persist, DesktopAppearance& desktop,
           DefaultsStore& defaults);

}  // namespace glimmet::PlumoraAppearance
