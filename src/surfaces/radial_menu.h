#pragma once

// The radial action menu: a ring of three actions around a preview of the
// captured material, offered at the pointer so the user chooses what to do
// with a selection. For text: generate directly, apply a template or use a
// reference image; for an image: edit a part, edit the whole image or use it
// as a reference.
//
// RadialMenu is the menu's logic: its sectors by kind, the hit test, and the
// pointer and keys turned into a chosen sector or a dismissal. The window
// (platform RadialWindow) only draws and reports input. RadialPresenter shows
// one menu at a time for a capture payload and hands the payload back with the
// creation mode the choice stands for. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/json.h"
#include "platform/radial_window.h"
#include "platform/screen_layout.h"

namespace glimmet {

class RadialMenu final : public RadialWindowEvents {
 public:
  static constexpr double kSize = 320;
  static constexpr Point kCentre{160, 160};
  static constexpr double kInnerRadius = 67;
  static constexpr double kOuterRadius = 145;
  static constexpr int kSectors = 3;
  static constexpr std::size_t kSummaryLength = 10;
  static constexpr const char* kImageSummary = "选中图片";
  static constexpr const char* kEmptySummary = "添加素材";
  static constexpr const char* kAccessibilityLabel =
      "Glimmet 创作轮盘。数字 1 至 3 选择，回车打开，Esc 关闭。";

  struct Handlers {
    // The chosen sector, 0 to 2.
    std::function<void(int)> action;
    std::function<void()> dismiss;
    // The highlight moved to another sector: redraw.
    std::function<void(int)> selected;
  };

  // `image` is a capture payload's data URL, `text` its text.
  RadialMenu(const std::optional<std::string>& image, const std::string& text, Handlers handlers);

  const RadialFace& face() const { return face_; }
  bool isImage() const { return image_; }

  // The sector under `position` (view coordinates): strictly between the ring's
  // radii; each sector owns a full 120 degrees, gaps included.
  static std::optional<int> sectorAt(Point position);

  // RadialWindowEvents. The view never chooses or dismisses by itself.
  void pointerMoved(Point position) override;
  void pointerPressed(Point position) override;
  void keyPressed(RadialKey key, const std::string& characters) override;
  void pressedOutside() override;

 private:
  void select(int sector);

  bool image_ = false;
  RadialFace face_;
  Handlers handlers_;
};

// The creation mode a choice opens: ["edit", "direct", "reference"] for an
// image, ["direct", "template", "reference"] for text.
const char* radialMode(bool image, int sector);

// A `width` by `height` window centred on `point`, kept 8 points inside the
// work area of the monitor showing the point (else the primary one), and
// shrunk first to fit it.
Rect centredInWorkArea(double width, double height, Point point, const ScreenLayout& screens);

class RadialPresenter {
 public:
  // Gets the payload with its "mode" set to the chosen action.
  using Chosen = std::function<void(Json payload)>;

  RadialPresenter(RadialWindow& window, const ScreenLayout& screens);
  ~RadialPresenter();
  RadialPresenter(const RadialPresenter&) = delete;
  RadialPresenter& operator=(const RadialPresenter&) = delete;

  // Shows the menu for `payload` centred on `point`, replacing one still up.
  // `chosen` runs at most once; `closed` runs whenever the menu goes away.
  void present(Json payload, Point point, Chosen chosen, std::function<void()> closed = {});
  // Takes the menu away without a choice.
  void dismiss();
  bool isShown() const { return menu_ != nullptr; }

 private:
  // Hides the window and lets the menu go once the input that closed it is handled.
  void close();

  RadialWindow& window_;
  const ScreenLayout& screens_;
  std::unique_ptr<RadialMenu> menu_;
  std::function<void()> closed_;
};

}  // namespace glimmet
