// Strict Base64: whatever decodes must encode back to exactly the same text,
// and never exceed the limit it was decoded under.
#include "core/base64.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the limit, so the bound itself is exercised.
  const std::size_t limit = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto decoded = glimmet::base64Decode(text, limit);
  if (decoded && (decoded->size() > limit || glimmet::base64Encode(*decoded) != text)) {
    __builtin_trap();
  }
  return 0;
}
