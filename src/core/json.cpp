#include "core/json.h"

#include <cmath>

namespace glimmet {
namespace {

bool allNumbersFinite(const Json& value) {
  switch (value.type()) {
    case Json::value_t::number_float:
      return std::isfinite(value.get<double>());
    case Json::value_t::array:
    case Json::value_t::object:
      for (const auto& element : value) {
        if (!allNumbersFinite(element)) return false;
      }
      return true;
    default:
      return true;
  }
}

// Escapes "/" as "\/" and U+2028 and U+2029 (E2 80 A8 and E2 80 A9 in UTF-8)
// as "\u2028" and "\u2029". Outside strings JSON text holds neither, so every
// occurrence is inside a string literal.
std::string escapedForScript(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size() + text.size() / 16);
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '/') {
      escaped += "\\/";
    } else if (c == '\xE2' && at + 2 < text.size() && text[at + 1] == '\x80' &&
               (text[at + 2] == '\xA8' || text[at + 2] == '\xA9')) {
      escaped += text[at + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      at += 2;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::string json(const Json& value) {
  if (!allNumbersFinite(value)) return "null";
  try {
    return escapedForScript(value.dump(-1, ' ', false, Json::error_handler_t::strict));
  } catch (const Json::exception&) {
    return "null";
  }
}

}  // namespace glimmet
