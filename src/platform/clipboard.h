#pragma once

// The desktop's general clipboard (the one Ctrl+C and Ctrl+V use). Each write
// replaces everything on the clipboard and answers whether the clipboard took
// the new content. Main thread only.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/base64.h"

namespace glimmet {

class Clipboard {
 public:
  virtual ~Clipboard() = default;

  virtual bool writeText(const std::string& text) = 0;
  // `png` holds PNG-encoded image bytes.
  virtual bool writeImage(const Bytes& png) = 0;
  // Offers the files as file URLs, so file managers and editors paste the files themselves.
  virtual bool writeFileUrls(const std::vector<std::filesystem::path>& paths) = 0;
  // The clipboard's plain text; none when it holds no text.
  virtual std::optional<std::string> readText() = 0;
};

}  // namespace glimmet
