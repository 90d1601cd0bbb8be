#pragma once

// The local agents service. Its image gate turns untrusted image data (a data
// URL from the page, bytes from an image service, a file an agent wrote, a
// stored work) into PNG bytes of exactly one bounded image.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/base64.h"

namespace glimmet {

class LocalAgentManager {
 public:
  // PNG bytes (at most 10 MiB) with the pixel size of the one image they hold.
  struct DecodedImage {
    Bytes data;
    int width = 0;
    int height = 0;
  };

  // Takes a "data:image/...;base64," URL. Throws LocalAgentFailure.
  static DecodedImage decodeImage(std::string_view dataURL);
  // Takes encoded image bytes (PNG, JPEG, WebP, GIF, TIFF, HEIF). Throws
  // LocalAgentFailure. Pure and thread-safe.
  static DecodedImage decodeBytes(const std::uint8_t* data, std::size_t size);
  static DecodedImage decodeBytes(const Bytes& bytes) {
    return decodeBytes(bytes.data(), bytes.size());
  }
};

}  // namespace glimmet
