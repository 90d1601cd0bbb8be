#pragma once

// Doubles for the island host: a panel that records what it was asked to do, a
// pointer and a set of monitors that tests script.

#include <utility>
#include <vector>

#include "platform/island_panel.h"
#include "platform/pointer_source.h"
#include "platform/screen_layout.h"

namespace glimmet {

class HeadlessIslandPanel final : public IslandPanel {
 public:
  struct Glass {
    Rect island;
    double lowerCornerRadius = 0;

    bool operator==(const Glass&) const = default;
  };

  explicit HeadlessIslandPanel(const Rect& frame = {}, bool visible = true)
      : frame_(frame), visible_(visible) {}

  Rect frame() const override { return frame_; }
  void setFrame(const Rect& frame) override;
  bool isVisible() const override { return visible_; }
  void setLevel(PanelLevel level) override { levels_.push_back(level); }
  void setInputRegion(const InputRegion& region) override { inputRegions_.push_back(region); }
  void showGlass(const Rect& island, double lowerCornerRadius) override;

  void setVisible(bool visible) { visible_ = visible; }

  // Every call, in order.
  const std::vector<Rect>& frames() const { return frames_; }
  const std::vector<PanelLevel>& levels() const { return levels_; }
  const std::vector<InputRegion>& inputRegions() const { return inputRegions_; }
  const std::vector<Glass>& glasses() const { return glasses_; }

 private:
  Rect frame_;
  bool visible_;
  std::vector<Rect> frames_;
  std::vector<PanelLevel> levels_;
  std::vector<InputRegion> inputRegions_;
  std::vector<Glass> glasses_;
};

class HeadlessPointerSource final : public PointerSource {
 public:
  PointerState pointer() const override { return state_; }

  void moveTo(Point position) { state_.position = position; }
  void setButtonDown(bool down) { state_.anyButtonDown = down; }

 private:
  PointerState state_;
};

class HeadlessScreenLayout final : public ScreenLayout {
 public:
  struct Monitor {
    Rect bounds;
    Rect workArea;
  };

  // The first monitor is the primary one.
  explicit HeadlessScreenLayout(std::vector<Monitor> monitors = {})
      : monitors_(std::move(monitors)) {}

  std::optional<Rect> workAreaAt(Point point) const override;
  std::optional<Rect> primaryWorkArea() const override;

 private:
  std::vector<Monitor> monitors_;
};

}  // namespace glimmet
