#include "core/page_origin.h"

#include <algorithm>

namespace glimmet {

namespace {

// A serialised URL is printable ASCII without spaces; anything else means the
// text did not come from a URL serialiser and is not judged further.
bool printableASCII(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7F;
  });
}

}  // namespace

bool trusted(std::optional<std::string_view> url) {
  if (!url || !printableASCII(*url)) return false;
  // The authority ends at the first "/", "?" or "#" (or the end), so it must
  // be exactly "local": any "@", ":" or other host character makes it longer.
  constexpr std::string_view kOrigin = wire::kPageOrigin;
  if (!url->starts_with(kOrigin)) return false;
  const std::string_view rest = url->substr(kOrigin.size());
  return rest.empty() || rest.front() == '/' || rest.front() == '?' || rest.front() == '#';
}

}  // namespace glimmet
