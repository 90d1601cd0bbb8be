#include "diagnostics/seed_image.h"

#include <array>
#include <cstdint>

namespace glimmet {

namespace {

constexpr int kSide = 8;

std::uint32_t crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::uint32_t adler32(const std::string& bytes) {
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (unsigned char byte : bytes) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void appendChunk(std::string& png, const std::string& type, const std::string& data) {
  appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
  const std::string typed = type + data;
  png += typed;
  appendBigEndian(png, crc32(typed));
}

}  // namespace

// The rows are small enough for one stored (uncompressed) deflate block, so
// no compressor is needed.
std::string seedImagePNG() {
  std::string rows;
  for (int y = 0; y < kSide; ++y) {
    rows.push_back('\0');  // filter: none
    for (int x = 0; x < kSide; ++x) {
      const std::array<unsigned char, 4> pixel = {0x6C, 0x5C, 0xE7, 0xFF};
      rows.append(pixel.begin(), pixel.end());
    }
  }
  std::string zlib = {'\x78', '\x01', '\x01'};  // header, then the final stored block
  const auto length = static_cast<std::uint16_t>(rows.size());
  zlib.push_back(static_cast<char>(length & 0xFF));
  zlib.push_back(static_cast<char>(length >> 8));
  zlib.push_back(static_cast<char>(~length & 0xFF));
  zlib.push_back(static_cast<char>((~length >> 8) & 0xFF));
  zlib += rows;
  appendBigEndian(zlib, adler32(rows));

  std::string header;
  appendBigEndian(header, kSide);
  appendBigEndian(header, kSide);
  header += std::string{'\x08', '\x06', '\0', '\0', '\0'};  // 8-bit RGBA, no interlace

  std::string png = "\x89PNG\r\n\x1a\n";
  appendChunk(png, "IHDR", header);
  appendChunk(png, "IDAT", zlib);
  appendChunk(png, "IEND", "");
  return png;
}

}  // namespace glimmet
