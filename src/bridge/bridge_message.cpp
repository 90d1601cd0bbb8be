#include "bridge/bridge_message.h"

#include <limits>
#include <utility>

#include "bridge/bridge_actions.h"

namespace glimmet {
namespace {

std::optional<std::int64_t> integerID(const Json& id) {
  if (id.is_number_unsigned()) {
    const auto value = id.get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
  }
  if (id.is_number_integer()) return id.get<std::int64_t>();
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> acceptedId(std::optional<std::string_view> frameURL, bool mainFrame,
                                       const Json& body) {
  if (!mainFrame || !trusted(frameURL) || !body.is_object()) return std::nullopt;
  const auto id = body.find("id");
  const auto action = body.find("action");
  if (id == body.end() || action == body.end() || !action->is_string()) return std::nullopt;
  const auto number = integerID(*id);
  if (!number || !isBridgeAction(action->get_ref<const std::string&>())) return std::nullopt;
  return number;
}

std::optional<BridgeMessage> acceptedMessage(std::optional<std::string_view> frameURL,
                                             bool mainFrame, Json body) {
  const std::optional<std::int64_t> id = acceptedId(frameURL, mainFrame, body);
  if (!id) return std::nullopt;
  const auto value = body.find("value");
  return BridgeMessage{*id, body["action"].get<std::string>(),
                       value == body.end() ? Json() : std::move(*value)};
}

}  // namespace glimmet
