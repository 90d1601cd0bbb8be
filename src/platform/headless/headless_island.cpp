#include "platform/headless/headless_island.h"

namespace glimmet {

void HeadlessIslandPanel::setFrame(const Rect& frame) {
  frame_ = frame;
  frames_.push_back(frame);
}

void HeadlessIslandPanel::showGlass(const Rect& island, double lowerCornerRadius) {
  glasses_.push_back({island, lowerCornerRadius});
}

std::optional<Rect> HeadlessScreenLayout::workAreaAt(Point point) const {
  for (const Monitor& monitor : monitors_) {
    if (monitor.bounds.contains(point)) return monitor.workArea;
  }
  return std::nullopt;
}

std::optional<Rect> HeadlessScreenLayout::primaryWorkArea() const {
  if (monitors_.empty()) return std::nullopt;
  return monitors_.front().workArea;
}

}  // namespace glimmet
