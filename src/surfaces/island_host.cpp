#include "surfaces/island_host.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "surfaces/design.h"

namespace glimmet {

namespace {

namespace Layout = PlumoraDesign::Layout;

std::string pointerEvent(bool inside) {
  return std::string("window.dispatchEvent(new CustomEvent('plumora:pointer',{detail:") +
         (inside ? "true" : "false") + "}));";
}

constexpr const char* kPointerReleaseEvent =
    "window.dispatchEvent(new Event('plumora:pointer-release'));";

// The shortest text that reads back as `value`; "null" for a value script
// could not parse as a number.
std::string shortestDecimal(double value) {
  if (!std::isfinite(value)) return "null";
  std::array<char, 32> text{};
  const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
  return std::string(text.data(), end);
}

std::string anchorEvent(double anchorX) {
  return "window.dispatchEvent(new CustomEvent('plumora:anchor',{detail:" +
         shortestDecimal(anchorX) + "}));";
}

std::optional<double> finiteNumber(const Json& value, const char* key) {
  const auto field = value.find(key);
  if (field == value.end() || !field->is_number()) return std::nullopt;
  const double number = field->get<double>();
  if (!std::isfinite(number)) return std::nullopt;
  return number;
}

}  // namespace

PlumoraIslandHost::PlumoraIslandHost(Clock& clock, const PointerSource& pointer,
                                     const ScreenLayout& screens, ScriptSink sendScript)
    : clock_(clock), pointer_(pointer), screens_(screens), sendScript_(std::move(sendScript)) {}

PlumoraIslandHost::~PlumoraIslandHost() { stop(); }

void PlumoraIslandHost::attach(std::weak_ptr<IslandPanel> panel) {
  panel_ = std::move(panel);
  inputRegion_.reset();
  stop();
  scheduleTracking();
}

void PlumoraIslandHost::stop() {
  if (timer_ == nullptr) return;
  timer_->cancel();
  timer_.reset();
}

void PlumoraIslandHost::scheduleTracking() {
  // Cancelled by stop() and the destructor, so `this` outlives every tick.
  timer_ = clock_.after(PlumoraDesign::Motion::pointerPoll, [this] {
    scheduleTracking();
    track();
  });
}

void PlumoraIslandHost::position(const StatusButton* anchor) {
  const std::shared_ptr<IslandPanel> panel = panel_.lock();
  if (!panel) return;
  const std::optional<Rect> anchorFrame = anchor ? anchor->frame() : std::nullopt;
  std::optional<Rect> workArea;
  if (anchorFrame) {
    workArea = screens_.workAreaAt({anchorFrame->midX(), anchorFrame->y + anchorFrame->height / 2});
  }
  if (!workArea) workArea = screens_.primaryWorkArea();
  if (!workArea) return;
  const Rect& area = *workArea;

  // A work area smaller than the insets still gets a panel of one point.
  const double width =
      std::max(1.0, std::min(area.width - 2 * Layout::screenInset, Layout::hostWidth));
  const double height =
      std::max(1.0, std::min(area.height - Layout::screenInset, Layout::hostHeight));
  const double anchorMidX = (anchorFrame ? *anchorFrame : area).midX();
  // The right bound wins on a work area too narrow for both.
  double x = std::max(anchorMidX - width / 2, area.minX() + Layout::screenInset);
  x = std::min(x, area.maxX() - width - Layout::screenInset);
  panel->setFrame({x, area.minY(), width, height});

  anchorX_ = anchorMidX - x;
  sendScript_(anchorEvent(anchorX_));
}

bool PlumoraIslandHost::geometry(const Json& value) {
  const std::shared_ptr<IslandPanel> panel = panel_.lock();
  if (!panel || !value.is_object()) return false;
  const auto x = finiteNumber(value, "x");
  const auto y = finiteNumber(value, "y");
  const auto width = finiteNumber(value, "width");
  const auto height = finiteNumber(value, "height");
  if (!x || !y || !width || !height) return false;
  const Rect bounds = panel->frame();
  constexpr double tolerance = 1;
  if (*x < 0 || *y < 0 || *width < 1 || *height < 1 || *x + *width > bounds.width + tolerance ||
      *y + *height > bounds.height + tolerance) {
    return false;
  }

  rect_ = {*x, *y, *width, *height};
  panel->showGlass(rect_, cornerRadius(*width, *height));
  track();
  return true;
}

double PlumoraIslandHost::cornerRadius(double width, double height) {
  return std::min(std::min(width, height) / 2, PlumoraDesign::Radius::panel);
}

void PlumoraIslandHost::setMenuOpen(bool open) {
  menuOpen_ = open;
  track();
}

void PlumoraIslandHost::setFilePanelOpen(bool open) {
  filePanelOpen_ = open;
  track();
}

void PlumoraIslandHost::setModalOpen(bool open) {
  modalOpen_ = open;
  track();
}

void PlumoraIslandHost::track() {
  const std::shared_ptr<IslandPanel> panel = panel_.lock();
  if (!panel || !panel->isVisible()) return;

  const PointerState state = pointer_.pointer();
  if (pressed_ && !state.anyButtonDown) sendScript_(kPointerReleaseEvent);
  pressed_ = state.anyButtonDown;

  const Rect frame = panel->frame();
  const Point local{state.position.x - frame.x, state.position.y - frame.y};
  const bool inside = rect_.contains(local);

  if (!inside && !overlayOpen()) {
    applyInputRegion(*panel,
                     state.anyButtonDown ? InputRegion::wholePanel() : InputRegion::only(rect_));
  } else {
    applyInputRegion(*panel, InputRegion::wholePanel());
  }
  if (inside == inside_) return;
  inside_ = inside;
  sendScript_(pointerEvent(inside));
}

void PlumoraIslandHost::applyInputRegion(IslandPanel& panel, const InputRegion& region) {
  if (inputRegion_ == region) return;
  inputRegion_ = region;
  panel.setInputRegion(region);
}

}  // namespace glimmet
