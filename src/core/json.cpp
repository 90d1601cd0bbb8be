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

// Whether the arrays and objects of `text` nest at most `limit` deep. Brackets
// inside strings do not count; for text that is not JSON the answer does not
// matter, as the parser refuses it anyway.
bool nestsWithin(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (inString) {
      if (c == '\\') {
        ++at;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
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

Json parseJson(std::string_view text) {
  if (!nestsWithin(text, kMaxJsonDepth)) return Json(Json::value_t::discarded);
  return Json::parse(text.begin(), text.end(), nullptr, false);
}

Json parseJson(const std::vector<std::uint8_t>& bytes) {
  return parseJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace glimmet
