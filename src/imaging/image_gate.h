#pragma once

// The image gate: turns untrusted image data (a data URL from the page, bytes
// from an image service, a file an agent wrote, a stored work, a captured
// file) into PNG bytes of exactly one bounded image. Callers that read image
// files check kMaxEncodedBytes before reading.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/base64.h"

namespace glimmet {

// PNG bytes (at most 10 MiB) with the pixel size of the one image they hold.
struct DecodedImage {
  Bytes data;
  int width = 0;
  int height = 0;
};

namespace image_gate {

inline constexpr std::size_t kMaxDataURLBytes = 14'000'100;
inline constexpr std::size_t kMaxEncodedBytes = 10'485'760;
inline constexpr int kMaxPixels = 40'000'000;
inline constexpr std::size_t kMaxPNGBytes = 10'485'760;

// The re-encoded PNG: zlib level 6 with adaptive row filters (libvips'
// VIPS_FOREIGN_PNG_FILTER_ALL). Unfiltered rows make photographs about half as
// large again, which pushes ordinary 2048 x 2048 results past kMaxPNGBytes.
inline constexpr int kPNGCompression = 6;
inline constexpr int kPNGFilter = 0xF8;

// Takes a "data:image/...;base64," URL. Throws LocalAgentFailure.
DecodedImage decodeImage(std::string_view dataURL);
// Takes encoded image bytes (PNG, JPEG, WebP, GIF, TIFF, HEIF). Throws
// LocalAgentFailure. Pure and thread-safe.
DecodedImage decodeBytes(const std::uint8_t* data, std::size_t size);
inline DecodedImage decodeBytes(const Bytes& bytes) {
  return decodeBytes(bytes.data(), bytes.size());
}
// Bytes as a file read them.
inline DecodedImage decodeBytes(std::string_view bytes) {
  return decodeBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// PNG bytes as the data URL the page takes.
inline std::string pngDataURL(const std::uint8_t* png, std::size_t size) {
  return "data:image/png;base64," + base64Encode(png, size);
}
inline std::string pngDataURL(const Bytes& png) { return pngDataURL(png.data(), png.size()); }

}  // namespace image_gate
}  // namespace glimmet
