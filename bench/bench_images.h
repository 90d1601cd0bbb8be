#pragma once

// Benchmark images made with libvips.

#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "core/base64.h"
#include "core/glib_ptr.h"

namespace glimmet::bench {

using Image = GObjectPtr<VipsImage>;

// Smooth colour fields with fine sensor-like noise: compresses like a photograph,
// neither like flat colour nor like pure noise.
inline Image photoLike(int width, int height) {
  Bytes pixels(static_cast<std::size_t>(width) * height * 3);
  std::mt19937 random(42);
  std::normal_distribution<float> grain(0.0f, 3.0f);
  std::size_t i = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float u = x / float(width), v = y / float(height);
      const float light =
          0.5f + 0.5f * std::sin(6.0f * u + 3.0f * v) * std::cos(4.0f * v - 2.0f * u);
      const float base[3] = {200.0f * light + 40.0f * u, 150.0f * light + 60.0f * v,
                             90.0f + 100.0f * (1.0f - light) * u};
      for (float channel : base) {
        pixels[i++] = static_cast<std::uint8_t>(std::clamp(channel + grain(random), 0.0f, 255.0f));
      }
    }
  }
  return Image(vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height, 3,
                                               VIPS_FORMAT_UCHAR));
}

// The image in the format a file name suffix names ("name.png[filter=all]", ".jpg[Q=90]").
inline Bytes encode(VipsImage* image, const char* format) {
  void* buffer = nullptr;
  std::size_t length = 0;
  if (image == nullptr ||
      vips_image_write_to_buffer(image, format, &buffer, &length, nullptr) != 0) {
    std::fprintf(stderr, "bench: cannot write %s: %s\n", format, vips_error_buffer());
    std::exit(1);
  }
  Bytes bytes(static_cast<std::uint8_t*>(buffer), static_cast<std::uint8_t*>(buffer) + length);
  g_free(buffer);
  return bytes;
}

}  // namespace glimmet::bench
