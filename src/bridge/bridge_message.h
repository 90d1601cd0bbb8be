#pragma once

// The gate in front of the action dispatcher: which pages may use the bridge
// and which posted bodies are requests at all. Everything that fails here is
// dropped without a reply.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/page_origin.h"

namespace glimmet {

// One request from the page that passed every check.
struct BridgeMessage {
  std::int64_t id = 0;
  std::string action;
  Json value;  // null when the page sent none
};

// The id of the request carried by `body`, posted by the frame at `frameURL`;
// none when the frame is not the main frame, the frame is not trusted, the body
// is not an object, its "id" is not an integer that fits 64 signed bits (floats
// such as 1.0 and booleans are not integers), its "action" is not a string, or
// the action is unknown.
std::optional<std::int64_t> acceptedId(std::optional<std::string_view> frameURL, bool mainFrame,
                                       const Json& body);

// The request carried by `body`, its value moved out of it; none when
// `acceptedId` has none.
std::optional<BridgeMessage> acceptedMessage(std::optional<std::string_view> frameURL,
                                             bool mainFrame, Json body);

}  // namespace glimmet
