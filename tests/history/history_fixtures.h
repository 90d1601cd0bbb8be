#pragma once

// Real libraries on disk for the history tests: PNG data URLs of a given size
// and works written by hand, the way a damaged or hostile tree would hold them.

#include <vips/vips.h>

#include <filesystem>
#include <string>

#include "core/base64.h"
#include "core/json.h"
#include "support/test_support.h"

namespace glimmet::testing {

inline Bytes solidPng(int width, int height) {
  if (VIPS_INIT("history-test") != 0) throw std::runtime_error("libvips did not start");
  VipsImage* black = nullptr;
  void* buffer = nullptr;
  std::size_t length = 0;
  if (vips_black(&black, width, height, "bands", 3, nullptr) != 0 ||
      vips_pngsave_buffer(black, &buffer, &length, nullptr) != 0) {
    throw std::runtime_error("cannot make a PNG");
  }
  g_object_unref(black);
  Bytes png(static_cast<std::uint8_t*>(buffer), static_cast<std::uint8_t*>(buffer) + length);
  g_free(buffer);
  return png;
}

inline std::string pngDataUrl(int width, int height) {
  return "data:image/png;base64," + base64Encode(solidPng(width, height));
}

// A work directory with a record naming `id` and, unless empty, `media` as its
// image (or its video when `kind` is "video").
inline void seedWork(const std::filesystem::path& root, const std::string& id,
                     const std::string& media,
                     const std::string& createdAt = "2026-01-01T00:00:00Z",
                     const std::string& kind = "") {
  std::filesystem::create_directories(root / id);
  Json record = {{"id", id}, {"title", "作品"}, {"prompt", "p"}, {"createdAt", createdAt}};
  if (!kind.empty()) record["kind"] = kind;
  writeFile(root / id / "record.json", record.dump());
  if (!media.empty()) writeFile(root / id / (kind == "video" ? "video.mp4" : "image.png"), media);
}

inline std::string pngFileBytes(int width, int height) {
  const Bytes png = solidPng(width, height);
  return std::string(png.begin(), png.end());
}

}  // namespace glimmet::testing
