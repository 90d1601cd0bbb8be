#pragma once

// Work and task identifiers: RFC 4122 UUIDs written in the canonical upper-case
// hyphenated form, accepted in either case.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace glimmet {

class Uuid {
 public:
  // A random (version 4) UUID from the kernel's random source.
  static Uuid random();
  // Accepts exactly the 8-4-4-4-12 hexadecimal form, in upper or lower case.
  static std::optional<Uuid> parse(std::string_view text);

  std::string string() const;  // canonical, upper case
  const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
  bool operator==(const Uuid&) const = default;

 private:
  explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}
  std::array<std::uint8_t, 16> bytes_;
};

}  // namespace glimmet
