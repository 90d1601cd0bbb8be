// plumora:// addresses the page asks for: the packaged page's files (the
// repository's web/) and the history preview route, over an empty library.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "bridge/bundled_web_handler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const glimmet::PlumoraHistory history(std::filesystem::temp_directory_path() /
                                               "glimmet-fuzz-no-history");
  static const glimmet::BundledWebHandler handler(history, GLIMMET_FUZZ_WEB_DIRECTORY);
  try {
    (void)handler.resource(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const glimmet::LocalAgentFailure&) {
  }
  return 0;
}
