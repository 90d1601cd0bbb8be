// Data URLs of images from the page and the services, through the image
// gate: Base64, the bounds and the decoder.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/failure.h"
#include "imaging/image_gate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const glimmet::DecodedImage image = glimmet::image_gate::decodeImage(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (image.data.empty() || image.width <= 0 || image.height <= 0) __builtin_trap();
  } catch (const glimmet::LocalAgentFailure&) {
  }
  return 0;
}
