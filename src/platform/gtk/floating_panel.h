#pragma once

// The creation panel on X11: an undecorated GTK window with an RGBA visual
// that floats above other windows (keep-above) at the floating level and
// stacks like any window at the normal level, shows on every workspace
// (sticky), stays out of the task bar and the pager, and draws nothing but the
// frosted island behind the page, so the rest of the panel is see-through.
// Pointer input is limited to the region set (an X11 input shape), so clicks
// beside the island reach the windows underneath.
//
// The window is never destroyed while the panel exists: a close request from
// the window manager is handed to the owner, which hides the panel. Main
// thread only; requires an initialised GTK.

#include <functional>

#include "platform/creator_panel.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace glimmet {

class FloatingPanel final : public CreatorPanel {
 public:
  static constexpr const char* kTitle = "Glimmet";

  explicit FloatingPanel(const Rect& frame);
  ~FloatingPanel() override;
  FloatingPanel(const FloatingPanel&) = delete;
  FloatingPanel& operator=(const FloatingPanel&) = delete;

  // Fills the panel with `content`, which the panel holds; `focus` (the web
  // view inside it) takes the keyboard focus when the panel is presented.
  void setContent(GtkWidget* content, GtkWidget* focus);
  // Runs when the window manager asks to close the panel.
  void onCloseRequest(std::function<void()> handler) { closeRequest_ = std::move(handler); }
  // Runs when the panel loses the keyboard focus.
  void onFocusLost(std::function<void()> handler) { focusLost_ = std::move(handler); }
  GtkWindow* window() const;

  // IslandPanel.
  Rect frame() const override { return frame_; }
  void setFrame(const Rect& frame) override;
  bool isVisible() const override;
  void setLevel(PanelLevel level) override;
  void setInputRegion(const InputRegion& region) override;
  void showGlass(const Rect& island, double lowerCornerRadius) override;

  // CreatorPanel.
  PanelLevel level() const override { return level_; }
  void present() override;
  void showInactive() override;
  void hide() override;
  bool isKey() const override;
  void raiseAttachedDialog() override;

 private:
  struct Signals;

  void applyInputRegion();

  GtkWidget* window_ = nullptr;
  GtkWidget* content_ = nullptr;
  GtkWidget* focus_ = nullptr;
  Rect frame_;
  PanelLevel level_ = PanelLevel::floating;
  InputRegion region_;
  Rect glass_;
  double glassRadius_ = 0;
  bool glassShown_ = false;
  std::function<void()> closeRequest_;
  std::function<void()> focusLost_;
};

}  // namespace glimmet
