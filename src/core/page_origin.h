#pragma once

// The origin of the program's own page, "plumora://local", and the rule that
// tells it apart from every other origin. The bridge accepts messages only
// from it, and the web view lets only it navigate the panel.

#include <optional>
#include <string_view>

#include "core/wire_names.h"

namespace glimmet {

// True only for URL text whose scheme is exactly "plumora" and whose authority
// is exactly "local": no user, no password, no port (not even an empty one
// after ":"). The text is judged as written, case-sensitively and without any
// decoding, so no spelling of another origin can pass. A path, query or
// fragment may follow. Text that cannot be a serialised URL (whitespace,
// control characters, non-ASCII bytes) is untrusted.
bool trusted(std::optional<std::string_view> url);

}  // namespace glimmet
