#pragma once

// Real libraries on disk for the history tests: PNG data URLs of a given size
// (testPNG gives the file bytes) and works written by hand, the way a damaged
// or hostile tree would hold them.

#include <filesystem>
#include <string>

#include "core/base64.h"
#include "core/json.h"
#include "support/https/fake_image_services.h"
#include "support/test_support.h"

namespace glimmet::testing {

// Work ids the history and bridge tests seed their libraries with.
inline constexpr const char* kWorkA = "0A1B2C3D-0000-4000-8000-00000000000A";
inline constexpr const char* kWorkB = "0A1B2C3D-0000-4000-8000-00000000000B";
inline constexpr const char* kWorkC = "0A1B2C3D-0000-4000-8000-00000000000C";
inline constexpr const char* kWorkD = "0A1B2C3D-0000-4000-8000-00000000000D";

inline std::string pngDataUrl(int width, int height) {
  const std::string png = testPNG(width, height);
  return "data:image/png;base64," +
         base64Encode(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
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

}  // namespace glimmet::testing
