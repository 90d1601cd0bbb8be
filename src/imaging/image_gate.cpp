// The image gate: bounds untrusted image data, decodes exactly one frame with
// libvips and re-encodes it as PNG.

#include "imaging/image_gate.h"

#include <vips/vips.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

#include "core/failure.h"
#include "core/glib_ptr.h"

namespace glimmet::image_gate {
namespace {

static_assert(kPNGFilter == VIPS_FOREIGN_PNG_FILTER_ALL);

constexpr char kFormatMessage[] = "图片格式无效或超过 10 MB。";
constexpr char kDecodeMessage[] = "生成结果无法解码，或图片超过 4000 万像素。";
constexpr char kEncoderMessage[] = "无法编码生成图片。";
constexpr char kTooLargeMessage[] = "生成结果超过 10 MB，请生成更小的图片。";

// Raster loaders built on libraries meant for hostile files. Everything else
// libvips can sniff (SVG, PDF, ImageMagick, FITS, ...) is refused: those
// loaders run interpreters or reach for other files.
constexpr std::array<std::string_view, 6> kAllowedLoaders = {
    "pngload_buffer", "jpegload_buffer", "webpload_buffer",
    "gifload_buffer", "tiffload_buffer", "heifload_buffer",
};

void unrefBlob(VipsBlob* blob) { vips_area_unref(VIPS_AREA(blob)); }
using ImagePtr = GObjectPtr<VipsImage>;
using TargetPtr = GObjectPtr<VipsTargetCustom>;
using BlobPtr = GPtr<VipsBlob, unrefBlob>;

struct VipsRuntime {
  bool ready = false;
  bool pngWriter = false;
};

const VipsRuntime& vipsRuntime() {
  static std::once_flag once;
  static VipsRuntime runtime;
  std::call_once(once, [] {
    if (VIPS_INIT("glimmet") != 0) {
      vips_error_clear();
      return;
    }
    vips_block_untrusted_set(TRUE);
    // Every image is decoded once; a cache would only keep hostile input and
    // its pixels alive in a long-running process.
    vips_cache_set_max(0);
    runtime.pngWriter = vips_type_find("VipsOperation", "pngsave_target") != 0;
    runtime.ready = true;
  });
  return runtime;
}

// libvips' error buffer is one global, fixed-size log; its text is never shown,
// so it is emptied after each failure to keep later messages readable.
[[noreturn]] void fail(const char* message) {
  vips_error_clear();
  throw LocalAgentFailure(message);
}

// The nickname of the loader libvips picks for these bytes, when the gate allows
// it; null otherwise.
const char* allowedLoader(const std::uint8_t* data, std::size_t size) {
  const char* typeName = vips_foreign_find_load_buffer(data, size);
  const GType type = typeName != nullptr ? g_type_from_name(typeName) : 0;
  const char* nickname = type != 0 ? vips_nickname_find(type) : nullptr;
  if (nickname == nullptr || std::find(kAllowedLoaders.begin(), kAllowedLoaders.end(), nickname) ==
                                 kAllowedLoaders.end()) {
    return nullptr;
  }
  return nickname;
}

std::uint32_t readBigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// libvips reads only the default image of an animated PNG and reports one
// page; an "acTL" chunk ahead of the image data gives the animation away.
bool isAnimatedPNG(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kSignature = 8, kChunkHeader = 8, kChunkCRC = 4;
  std::size_t pos = kSignature;
  while (size - pos >= kChunkHeader) {
    const std::uint32_t length = readBigEndian32(data + pos);
    const std::string_view type(reinterpret_cast<const char*>(data + pos + 4), 4);
    if (type == "acTL") return true;
    if (type == "IDAT") return false;
    const std::size_t rest = size - pos - kChunkHeader;
    if (rest < kChunkCRC || length > rest - kChunkCRC) return false;
    pos += kChunkHeader + length + kChunkCRC;
  }
  return false;
}

// Header only: the loaders read pixels when the encoder asks for them.
ImagePtr openImage(const std::uint8_t* data, std::size_t size) {
  const char* loader = allowedLoader(data, size);
  if (loader == nullptr) fail(kDecodeMessage);
  if (std::string_view(loader) == "pngload_buffer" && isAnimatedPNG(data, size)) {
    fail(kDecodeMessage);
  }

  const BlobPtr blob(vips_blob_new(nullptr, data, size));
  VipsImage* raw = nullptr;
  // The allowed loader is called by name, so libvips cannot pick another one.
  // Sequential access streams rows from the decoder into the encoder, so no
  // whole bitmap is ever held; fail_on turns truncated or corrupt data into an
  // error instead of a grey-filled image.
  if (vips_call(loader, blob.get(), &raw, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                VIPS_FAIL_ON_ERROR, nullptr) != 0) {
    fail(kDecodeMessage);
  }
  return ImagePtr(raw);
}

void checkHeader(VipsImage* image) {
  // Read "n-pages" itself: vips_image_get_n_pages() answers 1 for 10000 pages
  // or more.
  if (vips_image_get_typeof(image, VIPS_META_N_PAGES) != 0) {
    int pages = 0;
    if (vips_image_get_int(image, VIPS_META_N_PAGES, &pages) != 0 || pages != 1) {
      fail(kDecodeMessage);
    }
  }
  const int width = vips_image_get_width(image);
  const int height = vips_image_get_height(image);
  if (width < 1 || height < 1 || width > kMaxPixels / height) fail(kDecodeMessage);
}

// Collects the PNG and refuses to grow it past kMaxPNGBytes, so an image that
// would compress poorly is stopped early instead of buffered in full.
struct PNGSink {
  Bytes bytes;
  bool overflowed = false;

  static gint64 write(VipsTargetCustom*, const void* data, gint64 length, PNGSink* sink) {
    const auto* begin = static_cast<const std::uint8_t*>(data);
    if (length < 0 || static_cast<std::uint64_t>(length) > kMaxPNGBytes - sink->bytes.size()) {
      sink->overflowed = true;
      return -1;
    }
    sink->bytes.insert(sink->bytes.end(), begin, begin + length);
    return length;
  }
};

// Drops EXIF (with its GPS position), XMP, IPTC and comments, but keeps the
// colour profile so wide-gamut photographs keep their colours.
ImagePtr withoutMetadata(VipsImage* image) {
  VipsImage* copy = nullptr;
  if (vips_copy(image, &copy, nullptr) != 0) fail(kDecodeMessage);
  ImagePtr owned(copy);
  const GPtr<gchar*, g_strfreev> fields(vips_image_get_fields(copy));
  for (gchar** field = fields.get(); *field != nullptr; ++field) {
    if (std::string_view(*field) != VIPS_META_ICC_NAME) vips_image_remove(copy, *field);
  }
  return owned;
}

Bytes encodePNG(VipsImage* decoded) {
  if (!vipsRuntime().pngWriter) fail(kEncoderMessage);
  const ImagePtr image = withoutMetadata(decoded);
  const TargetPtr target(vips_target_custom_new());
  PNGSink sink;
  g_signal_connect(target.get(), "write", G_CALLBACK(PNGSink::write), &sink);
  // Decoding happens here, row by row; an error that is not the sink's refusal
  // comes from undecodable pixels.
  if (vips_pngsave_target(image.get(), VIPS_TARGET(target.get()), "compression", kPNGCompression,
                          "filter", kPNGFilter, nullptr) != 0) {
    fail(sink.overflowed ? kTooLargeMessage : kDecodeMessage);
  }
  return std::move(sink.bytes);
}

}  // namespace

DecodedImage decodeImage(std::string_view dataURL) {
  constexpr std::string_view kPrefix = "data:image/", kBase64Marker = ";base64";
  if (dataURL.size() > kMaxDataURLBytes || !dataURL.starts_with(kPrefix)) {
    throw LocalAgentFailure(kFormatMessage);
  }
  const std::size_t comma = dataURL.find(',');
  if (comma == std::string_view::npos || !dataURL.substr(0, comma).ends_with(kBase64Marker)) {
    throw LocalAgentFailure(kFormatMessage);
  }
  const auto bytes = base64Decode(dataURL.substr(comma + 1), kMaxEncodedBytes);
  if (!bytes) throw LocalAgentFailure(kFormatMessage);
  return decodeBytes(*bytes);
}

DecodedImage decodeBytes(const std::uint8_t* data, std::size_t size) {
  // libvips starts first: refusing bounds clears its error log, which needs it running.
  if (!vipsRuntime().ready || size == 0 || size > kMaxEncodedBytes) fail(kDecodeMessage);
  const ImagePtr image = openImage(data, size);
  checkHeader(image.get());
  DecodedImage decoded;
  decoded.width = vips_image_get_width(image.get());
  decoded.height = vips_image_get_height(image.get());
  decoded.data = encodePNG(image.get());
  return decoded;
}

}  // namespace glimmet::image_gate
