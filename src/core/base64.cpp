#include "core/base64.h"

#include <array>

namespace glimmet {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  return table;
}
constexpr auto kDecode = makeDecodeTable();

}  // namespace

std::string base64Encode(const std::uint8_t* data, std::size_t size) {
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const std::uint32_t n = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (size - i == 1) {
    const std::uint32_t n = data[i] << 16;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += "==";
  } else if (size - i == 2) {
    const std::uint32_t n = (data[i] << 16) | (data[i + 1] << 8);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += '=';
  }
  return out;
}

std::optional<Bytes> base64Decode(std::string_view text, std::size_t maxBytes) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  const std::size_t decodedSize = text.size() / 4 * 3 - padding;
  if (decodedSize > maxBytes) return std::nullopt;

  Bytes out;
  out.reserve(decodedSize);
  const std::size_t dataChars = text.size() - padding;
  std::uint32_t accumulator = 0;
  int bits = 0;
  for (std::size_t i = 0; i < dataChars; ++i) {
    const std::int8_t value = kDecode[static_cast<unsigned char>(text[i])];
    if (value < 0) return std::nullopt;  // white space, "=" inside the text, foreign letters
    accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>((accumulator >> bits) & 0xFF));
    }
  }
  // Canonical text leaves the bits before the padding zero; otherwise several
  // texts would stand for the same bytes.
  if ((accumulator & ((1U << bits) - 1)) != 0) return std::nullopt;
  return out;
}

}  // namespace glimmet
