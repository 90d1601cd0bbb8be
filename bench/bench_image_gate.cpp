// Measures the image gate against libvips alone (load from memory, save PNG at
// the gate's compression) on photo-like 2048 x 2048 JPEG and PNG input, and the
// growth of peak resident memory while the gate handles an 8000 x 5000 image.
//
// Ends with three lines: "jpeg_ratio: X", "png_ratio: X" (gate time over
// libvips time with the same PNG settings, medians of interleaved runs; target
// at most 1.2) and "peak_rss_ratio: X" (peak resident growth over
// width x height x 4; target at most 1.25).

#include <malloc.h>
#include <vips/vips.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_images.h"
#include "bench_support.h"
#include "core/failure.h"
#include "core/glib_ptr.h"
#include "imaging/image_gate.h"

namespace {

using glimmet::bench::median;
using glimmet::bench::seconds;
using glimmet::bench::statusKiB;

using glimmet::Bytes;
using glimmet::LocalAgentFailure;

constexpr int kPhotoSide = 2048;
constexpr int kLargeWidth = 8000, kLargeHeight = 5000;
constexpr int kTimedRounds = 11;
constexpr int kMemoryRounds = 3;

using glimmet::bench::encode;
using glimmet::bench::Image;

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_image_gate: %s %s\n", what.c_str(), vips_error_buffer());
  std::exit(1);
}

// Horizontal colour ramps: cheap to make and to compress.
Bytes simpleLargePNG() {
  VipsImage* xyz = nullptr;
  VipsImage* ramp = nullptr;
  VipsImage* rgb = nullptr;
  if (vips_xyz(&xyz, kLargeWidth, kLargeHeight, nullptr) != 0) die("xyz");
  const Image owner(xyz);
  if (vips_cast(xyz, &ramp, VIPS_FORMAT_UCHAR, "shift", FALSE, nullptr) != 0) die("cast");
  const Image rampOwner(ramp);
  VipsImage* bands[] = {ramp, ramp, ramp};
  if (vips_bandjoin(bands, &rgb, 3, nullptr) != 0) die("bandjoin");
  const Image rgbOwner(rgb);
  return encode(rgb, ".png[compression=1]");
}

glimmet::DecodedImage gate(const Bytes& input) {
  try {
    return glimmet::image_gate::decodeBytes(input);
  } catch (const LocalAgentFailure& failure) {
    die("the gate refused a benchmark image: " + failure.message());
  }
}

void libvipsAlone(const Bytes& input) {
  const Image image(vips_image_new_from_buffer(input.data(), input.size(), "", nullptr));
  void* buffer = nullptr;
  std::size_t length = 0;
  if (!image || vips_pngsave_buffer(image.get(), &buffer, &length, "compression",
                                    glimmet::image_gate::kPNGCompression, "filter",
                                    glimmet::image_gate::kPNGFilter, nullptr) != 0) {
    die("libvips alone failed");
  }
  g_free(buffer);
}

// Alternates gate and libvips runs (and which goes first) so drift in clock
// speed or cache state hits both alike.
double timeRatio(const char* name, const Bytes& input) {
  std::vector<double> gateTimes, aloneTimes;
  const std::size_t outputSize = gate(input).data.size();
  libvipsAlone(input);
  for (int round = 0; round < kTimedRounds; ++round) {
    const auto timeGate = [&] { gateTimes.push_back(seconds([&] { gate(input); })); };
    const auto timeAlone = [&] { aloneTimes.push_back(seconds([&] { libvipsAlone(input); })); };
    if (round % 2 == 0) {
      timeGate();
      timeAlone();
    } else {
      timeAlone();
      timeGate();
    }
  }
  const double gateMedian = median(gateTimes), aloneMedian = median(aloneTimes);
  std::printf("%s: input %zu bytes, PNG %zu bytes, gate %.1f ms, libvips alone %.1f ms\n", name,
              input.size(), outputSize, gateMedian * 1e3, aloneMedian * 1e3);
  return gateMedian / aloneMedian;
}

// Peak resident growth during one gate run: freed heap is handed back first,
// then "5" in clear_refs resets the high-water mark to the current size.
double peakGrowthBytes(const Bytes& input) {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = statusKiB("VmRSS:");
  gate(input);
  return (statusKiB("VmHWM:") - before) * 1024.0;
}

}  // namespace

int main(int, char** argv) {
  if (VIPS_INIT(argv[0]) != 0) die("cannot start libvips");

  const Image photo = glimmet::bench::photoLike(kPhotoSide, kPhotoSide);
  const Bytes jpeg = encode(photo.get(), ".jpg[Q=90]");
  const Bytes png = encode(photo.get(), ".png[filter=all]");
  const Bytes large = simpleLargePNG();
  for (const Bytes* input : {&jpeg, &png, &large}) {
    if (input->size() > glimmet::image_gate::kMaxEncodedBytes) die("benchmark input over 10 MiB");
  }

  const double jpegRatio = timeRatio("jpeg", jpeg);
  const double pngRatio = timeRatio("png", png);

  gate(large);  // start libvips' worker threads before measuring
  std::vector<double> growth;
  for (int round = 0; round < kMemoryRounds; ++round) growth.push_back(peakGrowthBytes(large));
  const double pixelBytes = double(kLargeWidth) * kLargeHeight * 4;
  std::printf("large: input %zu bytes, peak growth %.1f MiB (median of %d)\n", large.size(),
              median(growth) / (1 << 20), kMemoryRounds);

  std::printf("jpeg_ratio: %.3f\n", jpegRatio);
  std::printf("png_ratio: %.3f\n", pngRatio);
  std::printf("peak_rss_ratio: %.3f\n", median(growth) / pixelBytes);
  return 0;
}
