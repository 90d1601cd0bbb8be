#pragma once

// The picture of the works the library smoke test seeds: an 8 by 8 pixel RGBA
// PNG, 8 bits per sample.

#include <string>

namespace glimmet {

std::string seedImagePNG();

}  // namespace glimmet
