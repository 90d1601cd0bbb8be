#pragma once

// Bridge values are JSON values; `json` renders any of them as the text that
// replies and event details carry.

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace glimmet {

using Json = nlohmann::json;

// JSON text of `value` (a bare string or number is fine). Any failure, such as
// invalid UTF-8 in a string or a number that is not finite, yields "null".
// "/" is written "\/", and U+2028 and U+2029 escaped, so that the text is also
// a valid script literal when it is spliced into page script.
std::string json(const Json& value);

// The deepest nesting of arrays and objects accepted in JSON text from outside
// the program; far beyond any answer, record or message it reads.
inline constexpr std::size_t kMaxJsonDepth = 256;

// `text` parsed as JSON, or a discarded value (`is_discarded()`) when it is not
// JSON or nests deeper than kMaxJsonDepth. Every JSON text from outside (page
// messages, service answers, agent output, stored files, harness input) is
// read through here: deeper text is refused before any value is built, so no
// copy, comparison or serialisation of a value recurses without bound.
Json parseJson(std::string_view text);
Json parseJson(const std::vector<std::uint8_t>& bytes);

// The user-facing message for data that should be JSON and is not.
inline constexpr const char* kUnreadableJsonMessage = "未能读取数据，因为它的格式不正确。";

}  // namespace glimmet
