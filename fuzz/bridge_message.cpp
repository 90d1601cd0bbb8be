// The bridge's gate: the posting frame's URL (the first line) and the body
// (the rest, as the web view parses it).
#include "bridge/bridge_message.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  if (newline == std::string_view::npos) return 0;
  const std::string_view frame = input.substr(0, newline);
  glimmet::Json body = glimmet::parseJson(input.substr(newline + 1));
  if (body.is_discarded()) return 0;
  const auto id = glimmet::acceptedId(frame, true, body);
  const auto message = glimmet::acceptedMessage(frame, true, std::move(body));
  if (id.has_value() != message.has_value() || (id && *id != message->id)) __builtin_trap();
  return 0;
}
