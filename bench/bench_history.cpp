// Measures the history store against the work it cannot avoid.
//
// list: 1,000 works of 512 x 512 photo-like images; list() against a plain loop
// that reads and parses each record.json once and lists its work directory
// with file sizes. save: save() of a 2048 x 2048 PNG against the image gate's
// decode of the same data URL plus a 320-pixel libvips thumbnail alone.
//
// memory: 5,000 "historyList" requests of a 1,000-work library of small images,
// each answered (its reply script evaluated in the headless web view, as the
// harness does) before the next, as a page awaits its promise; the resident
// size after them against the size before the first.
//
// Ends with three lines: "list_ratio: X" (target at most 1.5), "save_ratio: X"
// (target at most 1.3), medians of interleaved runs, and "list_rss_growth_mib:
// X" (target under 30).

#include <dirent.h>
#include <glib.h>
#include <sys/stat.h>
#include <vips/vips.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/base64.h"
#include "core/executors.h"
#include "core/failure.h"
#include "core/files.h"
#include "core/glib_ptr.h"
#include "core/json.h"
#include "core/uuid.h"
#include "history/history_actions.h"
#include "history/plumora_history.h"
#include "imaging/image_gate.h"
#include "platform/headless/headless_clipboard.h"
#include "platform/headless/headless_shell.h"
#include "platform/headless/headless_workspace.h"

namespace {

using glimmet::bench::median;
using glimmet::bench::seconds;
using glimmet::bench::statusKiB;

namespace fs = std::filesystem;
using glimmet::Bytes;
using glimmet::Json;
using glimmet::LocalAgentFailure;
using glimmet::PlumoraHistory;
using Image = glimmet::GObjectPtr<VipsImage>;

constexpr int kWorks = 1000;
constexpr int kListRounds = 7;
constexpr int kSaveRounds = 7;
constexpr int kSessionLists = 5000;
constexpr int kSessionImageSide = 16;

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_history: %s %s\n", what.c_str(), vips_error_buffer());
  std::exit(1);
}

// Smooth colour fields with fine grain: compresses like a photograph.
Bytes photoLikePng(int side) {
  Bytes pixels(static_cast<std::size_t>(side) * side * 3);
  std::mt19937 random(7);
  std::normal_distribution<float> grain(0.0f, 3.0f);
  std::size_t i = 0;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const float u = static_cast<float>(x) / static_cast<float>(side);
      const float v = static_cast<float>(y) / static_cast<float>(side);
      const float light =
          0.5f + 0.5f * std::sin(6.0f * u + 3.0f * v) * std::cos(4.0f * v - 2.0f * u);
      for (float channel : {200.0f * light + 40.0f * u, 150.0f * light + 60.0f * v,
                            90.0f + 100.0f * (1.0f - light) * u}) {
        pixels[i++] = static_cast<std::uint8_t>(std::clamp(channel + grain(random), 0.0f, 255.0f));
      }
    }
  }
  const Image image(vips_image_new_from_memory_copy(pixels.data(), pixels.size(), side, side, 3,
                                                    VIPS_FORMAT_UCHAR));
  void* buffer = nullptr;
  std::size_t length = 0;
  if (!image || vips_pngsave_buffer(image.get(), &buffer, &length, "filter",
                                    VIPS_FOREIGN_PNG_FILTER_ALL, nullptr) != 0) {
    die("png");
  }
  Bytes png(static_cast<std::uint8_t*>(buffer), static_cast<std::uint8_t*>(buffer) + length);
  g_free(buffer);
  return png;
}

std::string dataUrl(const Bytes& png) {
  return "data:image/png;base64," + glimmet::base64Encode(png);
}

// Alternates the two sides (and which goes first) so drift hits both alike.
double timeRatio(const char* name, const std::function<void()>& measured,
                 const std::function<void()>& baseline, int rounds) {
  std::vector<double> measuredTimes, baselineTimes;
  for (int round = 0; round < rounds; ++round) {
    const auto timeMeasured = [&] { measuredTimes.push_back(seconds(measured)); };
    const auto timeBaseline = [&] { baselineTimes.push_back(seconds(baseline)); };
    if (round % 2 == 0) {
      timeMeasured();
      timeBaseline();
    } else {
      timeBaseline();
      timeMeasured();
    }
  }
  const double measuredMedian = median(measuredTimes), baselineMedian = median(baselineTimes);
  std::printf("%s: store %.1f ms, baseline %.1f ms\n", name, measuredMedian * 1e3,
              baselineMedian * 1e3);
  return measuredMedian / baselineMedian;
}

// One saved work copied under 999 more identifiers, each record naming its own.
void seedLibrary(const PlumoraHistory& store, int imageSide) {
  const Json first =
      store.save({{"image", dataUrl(photoLikePng(imageSide))}, {"prompt", "基准测试作品"}});
  const fs::path source = store.root() / first["id"].get<std::string>();
  const std::string image = glimmet::readFileBounded(source / "image.png", SIZE_MAX, "");
  Json record = Json::parse(glimmet::readFileBounded(source / "record.json", SIZE_MAX, ""));
  for (int i = 1; i < kWorks; ++i) {
    const std::string id = glimmet::Uuid::random().string();
    glimmet::createPrivateDirectories(store.root() / id);
    glimmet::writeFileAtomically(store.root() / id / "image.png", image);
    record["id"] = id;
    record["createdAt"] = "2026-01-01T00:00:" + std::to_string(10 + i % 50) + "Z";
    glimmet::writeFileAtomically(store.root() / id / "record.json", glimmet::json(record));
  }
}

// The inherent work of a listing: each record read and parsed once, each work
// directory listed with file sizes.
std::size_t plainListing(const fs::path& root) {
  std::size_t works = 0;
  for (const auto& work : fs::directory_iterator(root)) {
    std::ifstream file(work.path() / "record.json");
    std::stringstream text;
    text << file.rdbuf();
    const Json record = Json::parse(text.str(), nullptr, false);
    std::uintmax_t bytes = 0;
    for (const auto& item : fs::directory_iterator(work.path())) bytes += item.file_size();
    if (record.is_object() && bytes > 0) ++works;
  }
  return works;
}

void thumbnailAlone(const Bytes& png) {
  VipsImage* raw = nullptr;
  if (vips_thumbnail_buffer(const_cast<std::uint8_t*>(png.data()), png.size(), &raw, 320, "height",
                            320, nullptr) != 0) {
    die("thumbnail");
  }
  const Image thumbnail(raw);
  void* buffer = nullptr;
  std::size_t length = 0;
  if (vips_pngsave_buffer(thumbnail.get(), &buffer, &length, nullptr) != 0) die("thumbnail png");
  g_free(buffer);
}

// Resident MiB gained over a session of listings.
double listSessionGrowthMiB(const PlumoraHistory& store) {
  glimmet::SerialQueue historyQueue(glimmet::HistoryActions::kQueueLabel);
  glimmet::HeadlessClipboard clipboard;
  glimmet::HeadlessWorkspace workspace;
  glimmet::HeadlessWebView page;
  int answered = 0;
  std::size_t replyBytes = 0;
  page.setObserver([&](const std::string& script) {
    replyBytes = script.size();
    ++answered;
  });
  glimmet::HistoryActions actions(store, historyQueue, clipboard, workspace,
                                  [&](std::int64_t messageId, const glimmet::BridgeReply& reply) {
                                    page.evaluate(reply.script(messageId));
                                  });
  const long before = statusKiB("VmRSS:");
  for (int request = 1; request <= kSessionLists; ++request) {
    actions.historyList(request, nullptr);
    while (answered < request) g_main_context_iteration(nullptr, TRUE);
  }
  if (replyBytes < kWorks * 100) die("the listing replies are too short");
  return static_cast<double>(statusKiB("VmRSS:") - before) / 1024.0;
}

}  // namespace

int main(int, char** argv) {
  if (VIPS_INIT(argv[0]) != 0) die("cannot start libvips");
  char pattern[] = "/tmp/bench-history-XXXXXX";
  if (mkdtemp(pattern) == nullptr) die("mkdtemp");
  const fs::path temp = pattern;

  try {
    const PlumoraHistory library(temp / "library");
    seedLibrary(library, 512);
    if (library.list().size() != kWorks || plainListing(library.root()) != kWorks) {
      die("the seeded library does not list every work");
    }
    const double listRatio = timeRatio(
        "list", [&] { library.list(); }, [&] { plainListing(library.root()); }, kListRounds);

    const std::string large = dataUrl(photoLikePng(2048));
    const PlumoraHistory saves(temp / "saves");
    saves.save({{"image", large}, {"prompt", "p"}});
    const double saveRatio = timeRatio(
        "save",
        [&] {
          saves.save({{"image", large}, {"prompt", "p"}});
        },
        [&] { thumbnailAlone(glimmet::image_gate::decodeImage(large).data); }, kSaveRounds);

    const PlumoraHistory session(temp / "session");
    seedLibrary(session, kSessionImageSide);
    const double growth = listSessionGrowthMiB(session);

    fs::remove_all(temp);
    std::printf("list_ratio: %.3f\n", listRatio);
    std::printf("save_ratio: %.3f\n", saveRatio);
    std::printf("list_rss_growth_mib: %.1f\n", growth);
  } catch (const LocalAgentFailure& failure) {
    fs::remove_all(temp);
    die(failure.message());
  }
  return 0;
}
