#pragma once

// SHA-256 digests as lower-case hexadecimal text.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace glimmet {

std::string sha256Hex(std::string_view bytes);
std::string sha256Hex(const std::uint8_t* data, std::size_t size);

// Digest of a file's contents, read in 1 MiB blocks so large files never sit in
// memory whole. None when the file cannot be opened or read, or when
// `keepGoing` (asked before each block) answers false.
std::optional<std::string> sha256HexOfFile(const std::filesystem::path& path,
                                           const std::function<bool()>& keepGoing = {});

}  // namespace glimmet
