// JSON text from outside: parseJson with its depth limit, and the rendering
// every accepted value goes through on its way back to the page.
#include "core/json.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const glimmet::Json value =
      glimmet::parseJson(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!value.is_discarded()) (void)glimmet::json(value);
  return 0;
}
