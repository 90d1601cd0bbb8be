#include "surfaces/radial_menu.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>
#include <utility>

#include "core/executors.h"
#include "core/text.h"
#include "imaging/image_gate.h"

namespace glimmet {

namespace {

constexpr std::array<const char*, 3> kTextTitles = {"直接生图", "套用模板", "参考图片"};
constexpr std::array<const char*, 3> kTextSymbols = {"sparkles", "square.grid.2x2",
                                                     "photo.on.rectangle"};
constexpr std::array<const char*, 3> kImageTitles = {"局部修改", "整体改图", "作为参考"};
constexpr std::array<const char*, 3> kImageSymbols = {"paintbrush.pointed", "slider.horizontal.3",
                                                      "photo.on.rectangle"};
constexpr std::array<const char*, 3> kTextModes = {"direct", "template", "reference"};
constexpr std::array<const char*, 3> kImageModes = {"edit", "direct", "reference"};

constexpr double kMargin = 8;

std::array<std::string, 3> strings(const std::array<const char*, 3>& texts) {
  return {texts[0], texts[1], texts[2]};
}

// The encoded image of a data URL: the Base64 after its last ",", at most
// what the image gate takes. Captured images passed the gate already; the
// view decodes the bytes and shows the text placeholder when they do not.
Bytes previewOf(const std::string& dataURL) {
  const std::size_t comma = dataURL.rfind(',');
  const std::string_view encoded = comma == std::string::npos
                                       ? std::string_view(dataURL)
                                       : std::string_view(dataURL).substr(comma + 1);
  return base64Decode(encoded, image_gate::kMaxEncodedBytes).value_or(Bytes());
}

// A key's text as a decimal number, when it is nothing else.
std::optional<int> decimal(const std::string& characters) {
  int value = 0;
  const char* end = characters.data() + characters.size();
  const auto [stop, error] = std::from_chars(characters.data(), end, value);
  if (characters.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

}  // namespace

RadialMenu::RadialMenu(const std::optional<std::string>& image, const std::string& text,
                       Handlers handlers)
    : image_(image.has_value()), handlers_(std::move(handlers)) {
  if (image) {
    face_.titles = strings(kImageTitles);
    face_.symbols = strings(kImageSymbols);
    face_.summary = kImageSummary;
    face_.preview = previewOf(*image);
  } else {
    face_.titles = strings(kTextTitles);
    face_.symbols = strings(kTextSymbols);
    face_.summary = text.empty() ? kEmptySummary : text::graphemePrefix(text, kSummaryLength);
  }
}

std::optional<int> RadialMenu::sectorAt(Point position) {
  const double dx = position.x - kCentre.x;
  const double dy = position.y - kCentre.y;
  const double distance = std::hypot(dx, dy);
  if (!(distance > kInnerRadius && distance < kOuterRadius)) return std::nullopt;
  const double degrees = std::atan2(dy, dx) * 180 / std::numbers::pi + 150;
  const double turned = std::fmod(std::fmod(degrees, 360) + 360, 360);
  return std::min(kSectors - 1, static_cast<int>(turned / 120));
}

void RadialMenu::pointerMoved(Point position) {
  if (const std::optional<int> sector = sectorAt(position)) select(*sector);
}

void RadialMenu::pointerPressed(Point position) {
  if (const std::optional<int> sector = sectorAt(position)) {
    if (handlers_.action) handlers_.action(*sector);
  }
}

void RadialMenu::keyPressed(RadialKey key, const std::string& characters) {
  switch (key) {
    case RadialKey::enter:
      if (handlers_.action) handlers_.action(face_.selected);
      return;
    case RadialKey::escape:
      if (handlers_.dismiss) handlers_.dismiss();
      return;
    case RadialKey::left:
    case RadialKey::up:
      select((face_.selected + kSectors - 1) % kSectors);
      return;
    case RadialKey::right:
    case RadialKey::down:
      select((face_.selected + 1) % kSectors);
      return;
    case RadialKey::other:
      break;
  }
  const std::optional<int> number = decimal(characters);
  if (number && *number >= 1 && *number <= kSectors && handlers_.action)
    handlers_.action(*number - 1);
}

void RadialMenu::pressedOutside() {
  if (handlers_.dismiss) handlers_.dismiss();
}

void RadialMenu::select(int sector) {
  if (sector == face_.selected) return;
  face_.selected = sector;
  if (handlers_.selected) handlers_.selected(sector);
}

const char* radialMode(bool image, int sector) {
  return (image ? kImageModes : kTextModes).at(static_cast<std::size_t>(sector));
}

Rect centredInWorkArea(double width, double height, Point point, const ScreenLayout& screens) {
  std::optional<Rect> area = screens.workAreaAt(point);
  if (!area) area = screens.primaryWorkArea();
  if (!area) return {point.x - width / 2, point.y - height / 2, width, height};
  width = std::min(width, area->width - 2 * kMargin);
  height = std::min(height, area->height - 2 * kMargin);
  return {std::min(area->maxX() - width - kMargin,
                   std::max(area->minX() + kMargin, point.x - width / 2)),
          std::min(area->maxY() - height - kMargin,
                   std::max(area->minY() + kMargin, point.y - height / 2)),
          width, height};
}

RadialPresenter::RadialPresenter(RadialWindow& window, const ScreenLayout& screens)
    : window_(window), screens_(screens) {}

RadialPresenter::~RadialPresenter() {
  if (menu_) window_.hide();
}

void RadialPresenter::present(Json payload, Point point, Chosen chosen,
                              std::function<void()> closed) {
  if (menu_) close();
  std::optional<std::string> image;
  if (const auto found = payload.find("image"); found != payload.end() && found->is_string()) {
    image = found->get<std::string>();
  }
  const auto text = payload.find("text");
  const std::string shown =
      text != payload.end() && text->is_string() ? text->get<std::string>() : std::string();
  const bool isImage = image.has_value();
  RadialMenu::Handlers handlers;
  handlers.dismiss = [this] { close(); };
  handlers.action = [this, isImage, payload = std::move(payload),
                     chosen = std::move(chosen)](int sector) mutable {
    // Taken before closing: closing lets go of this handler.
    Json answer = std::move(payload);
    Chosen deliver = std::move(chosen);
    close();
    answer["mode"] = radialMode(isImage, sector);
    if (deliver) deliver(std::move(answer));
  };
  handlers.selected = [this](int sector) { window_.select(sector); };
  menu_ = std::make_unique<RadialMenu>(image, shown, std::move(handlers));
  closed_ = std::move(closed);
  window_.present(menu_->face(),
                  centredInWorkArea(RadialMenu::kSize, RadialMenu::kSize, point, screens_), *menu_);
}

void RadialPresenter::dismiss() {
  if (menu_) close();
}

void RadialPresenter::close() {
  window_.hide();
  // The menu may be in the middle of reporting the input that closes it.
  MainQueue::shared().post([menu = std::shared_ptr<RadialMenu>(std::move(menu_))] {});
  if (std::function<void()> closed = std::exchange(closed_, {})) closed();
}

}  // namespace glimmet
