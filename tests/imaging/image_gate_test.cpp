#include "imaging/image_gate.h"

#include <vips/vips.h>

#include <random>
#include <string>
#include <vector>

#include "core/glib_ptr.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::failureOf;

constexpr char kFormatMessage[] = "图片格式无效或超过 10 MB。";
constexpr char kDecodeMessage[] = "生成结果无法解码，或图片超过 4000 万像素。";
constexpr char kTooLargeMessage[] = "生成结果超过 10 MB，请生成更小的图片。";

using Image = GObjectPtr<VipsImage>;

// Declared first, so it runs before anything in this process starts libvips:
// an empty image was refused through libvips' error log before libvips ran.
TEST(ImageGateFirstUse, RefusesAnEmptyImageBeforeLibvipsStarts) {
  EXPECT_EQ(failureOf([] { image_gate::decodeImage("data:image/png;base64,"); }), kDecodeMessage);
}

class ImageGateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(VIPS_INIT("image_gate_test"), 0); }
};

// An RGB image: a pattern busy but smooth enough to survive lossy formats, or
// noise that lossless formats cannot shrink.
Image pattern(int width, int height, bool noisy = false) {
  std::mt19937 random(7);
  Bytes pixels(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const std::size_t pixel = i / 3;
    pixels[i] = static_cast<std::uint8_t>(
        noisy ? random() : pixel % width * 7 + pixel / width * 13 + i % 3 * 50);
  }
  return Image(vips_image_new_from_memory_copy(pixels.data(), pixels.size(), width, height, 3,
                                               VIPS_FORMAT_UCHAR));
}

// `count` frames of `height` rows each, for the animated and multi-page savers.
Image frames(int width, int height, int count) {
  const Image strip = pattern(width, height * count);
  VipsImage* copy = nullptr;
  vips_copy(strip.get(), &copy, nullptr);
  vips_image_set_int(copy, "page-height", height);
  return Image(copy);
}

Bytes encode(VipsImage* image, const char* format) {
  void* buffer = nullptr;
  std::size_t length = 0;
  if (vips_image_write_to_buffer(image, format, &buffer, &length, nullptr) != 0) {
    ADD_FAILURE() << "libvips could not write " << format << ": " << vips_error_buffer();
    return {};
  }
  Bytes bytes(static_cast<std::uint8_t*>(buffer), static_cast<std::uint8_t*>(buffer) + length);
  g_free(buffer);
  return bytes;
}

Bytes blackPNG(int width, int height) {
  VipsImage* black = nullptr;
  vips_black(&black, width, height, nullptr);
  return encode(Image(black).get(), ".png[compression=1]");
}

// `bytes` cut short or padded with zeros to `size`.
Bytes resized(Bytes bytes, std::size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

Bytes pixelsOf(VipsImage* image) {
  std::size_t size = 0;
  void* memory = vips_image_write_to_memory(image, &size);
  Bytes pixels(static_cast<std::uint8_t*>(memory), static_cast<std::uint8_t*>(memory) + size);
  g_free(memory);
  return pixels;
}

// The gate's answer must be a PNG of the stated size and nothing else.
Image expectPNG(const DecodedImage& decoded, int width, int height) {
  EXPECT_EQ(std::pair(decoded.width, decoded.height), std::pair(width, height));
  EXPECT_STREQ(vips_foreign_find_load_buffer(decoded.data.data(), decoded.data.size()),
               "VipsForeignLoadPngBuffer");
  Image back(vips_image_new_from_buffer(decoded.data.data(), decoded.data.size(), "", nullptr));
  EXPECT_EQ(std::pair(vips_image_get_width(back.get()), vips_image_get_height(back.get())),
            std::pair(width, height));
  return back;
}

TEST_F(ImageGateTest, ReencodesEachRasterFormatAsPNG) {
  const Image source = pattern(37, 23);
  for (const char* format : {".png", ".tif", ".jpg[Q=90]", ".webp", ".gif"}) {
    SCOPED_TRACE(format);
    const DecodedImage decoded = image_gate::decodeBytes(encode(source.get(), format));
    const Image back = expectPNG(decoded, 37, 23);
    const std::string_view name = format;
    if (name == ".png" || name == ".tif") {
      EXPECT_EQ(pixelsOf(back.get()), pixelsOf(source.get()));
    }
  }
}

TEST_F(ImageGateTest, DropsPrivateMetadata) {
  VipsImage* tagged = nullptr;
  vips_copy(pattern(8, 8).get(), &tagged, nullptr);
  const Image owner(tagged);
  vips_image_set_string(tagged, "exif-ifd0-Artist", "someone@example.com");
  const Bytes input = encode(tagged, ".jpg");
  const auto mentionsArtist = [](const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end()).find("someone@example.com") != std::string::npos;
  };
  ASSERT_TRUE(mentionsArtist(input));

  const DecodedImage decoded = image_gate::decodeBytes(input);
  EXPECT_FALSE(mentionsArtist(decoded.data));
  expectPNG(decoded, 8, 8);
}

TEST_F(ImageGateTest, RefusesWhatIsNotExactlyOneBoundedRaster) {
  const Bytes png = encode(pattern(16, 16).get(), ".png");
  const Bytes busyPNG = encode(pattern(200, 200, true).get(), ".png");
  const Bytes busyJPEG = encode(pattern(200, 200, true).get(), ".jpg");
  struct Row {
    const char* name;
    Bytes bytes;
  };
  const Row rows[] = {
      {"two-frame GIF", encode(frames(16, 16, 2).get(), ".gif")},
      // libvips' page-count helper answers 1 from 10000 pages on
      {"10000-page TIFF", encode(frames(1, 1, 10000).get(), ".tif")},
      {"truncated PNG", resized(busyPNG, busyPNG.size() * 3 / 5)},
      {"truncated JPEG", resized(busyJPEG, busyJPEG.size() * 3 / 5)},
      {"not an image", {'h', 'e', 'l', 'l', 'o'}},
      {"8000 x 5001", blackPNG(8000, 5001)},
      {"over 10 MiB", resized(png, image_gate::kMaxEncodedBytes + 1)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(failureOf([&] { image_gate::decodeBytes(row.bytes); }), kDecodeMessage);
  }
  expectPNG(image_gate::decodeBytes(resized(png, image_gate::kMaxEncodedBytes)), 16, 16);
  expectPNG(image_gate::decodeBytes(blackPNG(8000, 5000)), 8000, 5000);
}

// libvips 8.14 also blocks its SVG loader as untrusted; the gate must not rely
// on that list, which differs between libvips versions.
TEST_F(ImageGateTest, RefusesLoadersOutsideItsListEvenWhenLibvipsTrustsThem) {
  image_gate::decodeBytes(encode(pattern(4, 4).get(), ".png"));  // the gate's set-up
  const std::string svg =
      R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"><rect width="10" height="10"/></svg>)";
  vips_operation_block_set("VipsForeignLoadSvg", FALSE);
  const std::string failure =
      failureOf([&] { image_gate::decodeBytes(Bytes(svg.begin(), svg.end())); });
  vips_operation_block_set("VipsForeignLoadSvg", TRUE);
  EXPECT_EQ(failure, kDecodeMessage);
}

TEST_F(ImageGateTest, RefusesAPNGOverTenMiB) {
  // Noise survives JPEG at a few MiB but needs about 12 MiB as PNG.
  const Bytes input = encode(pattern(2000, 2000, true).get(), ".jpg[Q=75]");
  ASSERT_LE(input.size(), image_gate::kMaxEncodedBytes);
  EXPECT_EQ(failureOf([&] { image_gate::decodeBytes(input); }), kTooLargeMessage);
}

TEST_F(ImageGateTest, ReadsDataURLs) {
  const std::string base64 = base64Encode(encode(pattern(5, 3).get(), ".png"));
  // The declared type is not examined; the bytes decide.
  expectPNG(image_gate::decodeImage("data:image/jpeg;base64," + base64), 5, 3);

  struct Row {
    const char* name;
    std::string text;
    const char* message;
  };
  const std::string header = "data:image/png;base64,";
  const Row rows[] = {
      {"not an image type", "data:text/plain;base64," + base64, kFormatMessage},
      {"over 10 MiB decoded", header + std::string(13'981'016, 'A'), kFormatMessage},
      {"text too long", header + std::string(image_gate::kMaxDataURLBytes - header.size() + 1, 'A'),
       kFormatMessage},
      {"no image in the bytes", "data:image/png;base64,AAAA", kDecodeMessage},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(failureOf([&] { image_gate::decodeImage(row.text); }), row.message);
  }
}

}  // namespace
}  // namespace glimmet
