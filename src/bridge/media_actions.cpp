#include "bridge/media_actions.h"

#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <string_view>
#include <utility>

#include "core/base64.h"
#include "core/files.h"
#include "core/result.h"
#include "core/text.h"
#include "history/plumora_history.h"
#include "imaging/image_gate.h"
#include "platform/clipboard.h"
#include "platform/file_panels.h"
#include "platform/video_player.h"

namespace glimmet {
namespace fs = std::filesystem;

namespace {

constexpr const char* kInvalidVideoFrame = "视频预览位置无效";
constexpr const char* kNotAVideo = "不是视频资源";
constexpr const char* kFilePanelBusy = "请先完成当前文件选择";
constexpr const char* kTrue = "true";
constexpr const char* kFalse = "false";

// A saved image is the user's own document, readable like the files they make.
constexpr mode_t kSavedImageMode = 0644;

// The page rectangle of a "libraryVideo" request when it lies on the web view
// (one point of slack on the far edges for rounding on the page); none otherwise.
std::optional<PageRect> videoFrame(const Json& value, const MediaActions::WebViewSize& view) {
  std::array<double, 4> numbers{};
  const std::array<const char*, 4> keys = {"x", "y", "width", "height"};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto found = value.find(keys[i]);
    if (found == value.end() || !found->is_number()) return std::nullopt;
    numbers[i] = found->get<double>();
    if (!std::isfinite(numbers[i])) return std::nullopt;
  }
  const PageRect frame{numbers[0], numbers[1], numbers[2], numbers[3]};
  if (frame.width <= 1 || frame.height <= 1 || frame.x < 0 || frame.y < 0 ||
      frame.x + frame.width > view.width + 1 || frame.y + frame.height > view.height + 1) {
    return std::nullopt;
  }
  return frame;
}

// Shortest text that reads back as `number`, always with a decimal point for
// whole numbers ("1.0"), so the smoke-test lines read alike on every run.
std::string decimalText(double number) {
  std::array<char, 32> buffer{};
  const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
  std::string text(buffer.data(), error == std::errc() ? end : buffer.data());
  if (std::isfinite(number) && text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

// The image a copyImage data URL carries, as PNG: the text after its one comma
// must be standard Base64 of an image the gate accepts.
std::optional<Bytes> copiedImage(std::string_view dataURL) {
  const std::size_t comma = dataURL.find(',');
  if (comma == std::string_view::npos || dataURL.find(',', comma + 1) != std::string_view::npos) {
    return std::nullopt;
  }
  const std::optional<Bytes> bytes =
      base64Decode(dataURL.substr(comma + 1), image_gate::kMaxEncodedBytes);
  if (!bytes) return std::nullopt;
  Result<DecodedImage> image = resultOf([&] { return image_gate::decodeBytes(*bytes); });
  if (!image) return std::nullopt;
  return std::move(image).value().data;
}

}  // namespace

MediaActions::MediaActions(const PlumoraHistory& store, Clipboard& clipboard,
                           FilePanels& filePanels, VideoPlayer& videoPlayer, Host host,
                           ReplySink replies)
    : store_(store),
      clipboard_(clipboard),
      filePanels_(filePanels),
      videoPlayer_(videoPlayer),
      host_(std::move(host)),
      replies_(std::move(replies)) {}

void MediaActions::libraryVideo(std::int64_t messageId, const Json& value) {
  if (!value.is_object()) {
    clearLibraryVideo();
    reply(messageId, BridgeReply::literal(kTrue));
    return;
  }
  const auto id = value.find("id");
  const std::optional<PageRect> frame = videoFrame(value, host_.webViewSize());
  if (id == value.end() || !id->is_string() || !frame) {
    reply(messageId, BridgeReply::rejection(kInvalidVideoFrame));
    return;
  }
  const std::string& workId = id->get_ref<const std::string&>();
  Result<fs::path> file = resultOf([&] { return store_.mediaFile(workId); });
  if (!file) {
    reply(messageId, BridgeReply::rejection(file.failure().message()));
    return;
  }
  if (file.value().extension() != ".mp4") {
    reply(messageId, BridgeReply::rejection(kNotAVideo));
    return;
  }
  if (libraryVideoId_ == workId) {
    videoPlayer_.move(*frame);
  } else {
    clearLibraryVideo();
    VideoPlayer::RateObserver onRateChange;
    if (host_.librarySmokeTest && host_.printLine) {
      onRateChange = [printLine = host_.printLine](double rate, double seconds) {
        printLine("LIBRARY_VIDEO rate=" + decimalText(rate) + " time=" + decimalText(seconds));
      };
    }
    videoPlayer_.show({std::move(file).value(), *frame, kPlayerName, std::move(onRateChange)});
    libraryVideoId_ = workId;
  }
  reply(messageId, BridgeReply::literal(kTrue));
}

void MediaActions::clearLibraryVideo() {
  if (!libraryVideoId_) return;
  videoPlayer_.remove();
  libraryVideoId_.reset();
}

void MediaActions::pauseLibraryVideo() {
  if (libraryVideoId_) videoPlayer_.pause();
}

void MediaActions::saveImage(std::int64_t messageId, const Json& value) {
  // A value that is not a string carries no data URL: the gate refuses the
  // empty text with the same message as any malformed one.
  const std::string_view dataURL =
      value.is_string() ? std::string_view(value.get_ref<const std::string&>()) : "";
  Result<DecodedImage> image = resultOf([&] { return image_gate::decodeImage(dataURL); });
  if (!image) {
    reply(messageId, BridgeReply::rejection(image.failure().message()));
    return;
  }
  if (!host_.beginFilePanel()) {
    reply(messageId, BridgeReply::rejection(kFilePanelBusy));
    return;
  }
  filePanels_.runSavePanel(
      {kSaveFileName}, [this, alive = lifetime_.guard(), messageId,
                        png = std::move(image).value().data](std::optional<fs::path> location) {
        if (alive.expired()) return;
        host_.endFilePanel();
        if (!location) {
          reply(messageId, BridgeReply::literal(kFalse));
          return;
        }
        const Result<Unit> written = resultOf([&] {
          writeFileAtomically(
              *location, std::string_view(reinterpret_cast<const char*>(png.data()), png.size()),
              kSavedImageMode);
        });
        reply(messageId, written ? BridgeReply::literal(kTrue)
                                 : BridgeReply::rejection(written.failure().message()));
      });
}

// A value the page should never send (not a string, too long) copies nothing
// and answers false, as a refusing clipboard would, so no promise hangs.
void MediaActions::copyText(std::int64_t messageId, const Json& value) {
  const bool copied =
      value.is_string() &&
      text::graphemeCount(value.get_ref<const std::string&>()) <= kMaxCopyTextCharacters &&
      clipboard_.writeText(value.get_ref<const std::string&>());
  reply(messageId, BridgeReply::literal(copied ? kTrue : kFalse));
}

// Like data that does not decode, a value of the wrong shape answers false and
// leaves the clipboard as it was.
void MediaActions::copyImage(std::int64_t messageId, const Json& value) {
  std::optional<Bytes> png;
  if (value.is_string()) {
    const std::string& dataURL = value.get_ref<const std::string&>();
    if (dataURL.size() <= image_gate::kMaxDataURLBytes && dataURL.starts_with("data:image/")) {
      png = copiedImage(dataURL);
    }
  }
  const bool copied = png && clipboard_.writeImage(*png);
  reply(messageId, BridgeReply::literal(copied ? kTrue : kFalse));
}

void MediaActions::clipboard(std::int64_t messageId, const Json& /*value*/) {
  const std::string text = clipboard_.readText().value_or("");
  reply(messageId, BridgeReply::resolve(text::graphemePrefix(text, kMaxClipboardCharacters)));
}

}  // namespace glimmet
