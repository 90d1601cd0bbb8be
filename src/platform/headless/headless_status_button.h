#pragma once

// A status button for tests: records every title, tool tip and icon it was
// asked to show, and answers a scripted frame.

#include <string>
#include <vector>

#include "platform/status_button.h"

namespace glimmet {

class HeadlessStatusButton final : public StatusButton {
 public:
  // One icon shown: upright at rest, or turned by `degrees` with `description`.
  struct Icon {
    bool resting = true;
    double degrees = 0;
    std::string description;

    bool operator==(const Icon&) const = default;
  };

  void setTitle(const std::string& title) override { titles_.push_back(title); }
  void setToolTip(const std::string& toolTip) override { toolTips_.push_back(toolTip); }
  void showRestingIcon() override { icons_.push_back({}); }
  void showTurnedIcon(double degrees, const std::string& description) override;
  std::optional<Rect> frame() const override { return frame_; }

  void setFrame(std::optional<Rect> frame) { frame_ = frame; }

  // Everything shown so far, in order; the current value is the last one.
  const std::vector<std::string>& titles() const { return titles_; }
  const std::vector<std::string>& toolTips() const { return toolTips_; }
  const std::vector<Icon>& icons() const { return icons_; }

 private:
  std::optional<Rect> frame_;
  std::vector<std::string> titles_;
  std::vector<std::string> toolTips_;
  std::vector<Icon> icons_;
};

}  // namespace glimmet
