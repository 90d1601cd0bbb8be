#pragma once

// Limits of the image gate (LocalAgentManager::decodeImage / decodeBytes).
// Callers that read image files check kMaxEncodedBytes before reading.

#include <cstddef>

namespace glimmet::image_gate {

inline constexpr std::size_t kMaxDataURLBytes = 14'000'100;
inline constexpr std::size_t kMaxEncodedBytes = 10'485'760;
inline constexpr int kMaxPixels = 40'000'000;
inline constexpr std::size_t kMaxPNGBytes = 10'485'760;

// The re-encoded PNG: zlib level 6 with adaptive row filters (libvips'
// VIPS_FOREIGN_PNG_FILTER_ALL). Unfiltered rows make photographs about half as
// large again, which pushes ordinary 2048 x 2048 results past kMaxPNGBytes.
inline constexpr int kPNGCompression = 6;
inline constexpr int kPNGFilter = 0xF8;

}  // namespace glimmet::image_gate
