#pragma once

// Bridge values are JSON values; `json` renders any of them as the text that
// replies and event details carry.

#include <nlohmann/json.hpp>
#include <string>

namespace glimmet {

using Json = nlohmann::json;

// JSON text of `value` (a bare string or number is fine). Any failure, such as
// invalid UTF-8 in a string or a number that is not finite, yields "null".
// "/" is written "\/", and U+2028 and U+2029 escaped, so that the text is also
// a valid script literal when it is spliced into page script.
std::string json(const Json& value);

// The user-facing message for data that should be JSON and is not.
inline constexpr const char* kUnreadableJsonMessage = "未能读取数据，因为它的格式不正确。";

}  // namespace glimmet
