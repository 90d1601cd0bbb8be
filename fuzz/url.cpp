// Absolute URLs as written: a parsed URL keeps its exact text, and a path
// component appended to it still parses.
#include "core/http/url.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto url = glimmet::URL::parse(text);
  if (!url) return 0;
  if (url->absoluteString() != text) __builtin_trap();
  const glimmet::URL longer = url->appendingPathComponent("tasks");
  if (!glimmet::URL::parse(longer.absoluteString())) __builtin_trap();
  return 0;
}
