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

void escapeScriptLineTerminators(std::string& text) {
  // U+2028 and U+2029 are E2 80 A8 and E2 80 A9 in UTF-8; outside strings JSON
  // text is ASCII, so every occurrence is inside a string literal.
  for (std::size_t at = text.find("\xE2\x80"); at != std::string::npos;
       at = text.find("\xE2\x80", at + 1)) {
    if (at + 2 >= text.size()) break;
    const unsigned char last = static_cast<unsigned char>(text[at + 2]);
    if (last == 0xA8 || last == 0xA9) text.replace(at, 3, last == 0xA8 ? "\\u2028" : "\\u2029");
  }
}

}  // namespace

std::string json(const Json& value) {
  if (!allNumbersFinite(value)) return "null";
  try {
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::strict);
    escapeScriptLineTerminators(text);
    return text;
  } catch (const Json::exception&) {
    return "null";
  }
}

}  // namespace glimmet
