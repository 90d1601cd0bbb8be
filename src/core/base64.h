#pragma once

// Strict standard Base64 (RFC 4648 alphabet with "=" padding). Decoding accepts
// no white space, no URL-safe letters and no missing or misplaced padding.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glimmet {

using Bytes = std::vector<std::uint8_t>;

std::string base64Encode(const std::uint8_t* data, std::size_t size);
inline std::string base64Encode(const Bytes& bytes) {
  return base64Encode(bytes.data(), bytes.size());
}

// Answers none when the text is not canonical standard Base64, or when the
// decoded bytes would exceed `maxBytes`.
std::optional<Bytes> base64Decode(std::string_view text, std::size_t maxBytes = SIZE_MAX);

}  // namespace glimmet
