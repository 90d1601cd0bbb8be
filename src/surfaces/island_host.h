#pragma once

// The island host: places the creation panel under the status-bar button,
// applies the island rectangle that the page reports, and follows the pointer
// so that only the island takes the mouse while clicks beside it reach the
// windows underneath.
//
// Coordinates. Everything here uses the X11 convention: origin at the top-left
// corner, y growing downwards, for the screen (work areas, the status button,
// the pointer, the panel frame) and inside the panel alike. The page measures
// its island from the panel's top-left corner too, so its rectangle is used as
// reported, without the flip a bottom-left origin would need; the panel hangs
// from the top of the work area (its y is the work area's minY).
//
// Pass-through. Outside the island the panel takes the mouse only while a
// button is held (so a drag that began on the island keeps its events until
// release) or while a native menu, a file panel or a page modal is open; then
// the whole panel takes it. Otherwise only the island does: on X11 the panel's
// input shape is the island rectangle, so clicks elsewhere fall through at once
// rather than on the next poll. The region is handed to the panel only when it
// changes, since reshaping a window costs a round trip to the X server.
//
// The page hears about it through script statements: "plumora:pointer" when
// the pointer enters or leaves the island, "plumora:pointer-release" when a
// button seen down is released, "plumora:anchor" with the distance from the
// panel's left edge to the status button's centre. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/clock.h"
#include "core/json.h"
#include "platform/island_panel.h"
#include "platform/pointer_source.h"
#include "platform/screen_layout.h"
#include "platform/status_button.h"
#include "surfaces/design.h"

namespace glimmet {

class PlumoraIslandHost {
 public:
  // Evaluates one script statement in the page.
  using ScriptSink = std::function<void(std::string script)>;

  // Where the status button's centre lies inside the panel before the first
  // positioning: the middle of a full-width panel.
  static constexpr double kInitialAnchorX = PlumoraDesign::Layout::hostWidth / 2;

  PlumoraIslandHost(Clock& clock, const PointerSource& pointer, const ScreenLayout& screens,
                    ScriptSink sendScript);
  ~PlumoraIslandHost();
  PlumoraIslandHost(const PlumoraIslandHost&) = delete;
  PlumoraIslandHost& operator=(const PlumoraIslandHost&) = delete;

  // Hosts `panel` and starts following the pointer every 35 ms. Once the panel
  // is gone, every operation does nothing.
  void attach(std::weak_ptr<IslandPanel> panel);
  // Places the panel under `anchor` (the status button; none, or a button whose
  // place is unknown, centres it on the primary work area) and tells the page
  // the anchor's distance from the panel's left edge.
  void position(const StatusButton* anchor);
  // Applies the island rectangle the page reports: {"x", "y", "width", "height"}
  // in panel coordinates. Answers false, changing nothing, when the value is not
  // such a rectangle inside the panel (one point of tolerance) or there is no panel.
  bool geometry(const Json& value);
  // Stops following the pointer (at shutdown).
  void stop();

  // Overlays during which the whole panel takes the mouse; applied at once.
  void setMenuOpen(bool open);
  void setFilePanelOpen(bool open);
  void setModalOpen(bool open);
  bool menuOpen() const { return menuOpen_; }
  bool filePanelOpen() const { return filePanelOpen_; }
  bool modalOpen() const { return modalOpen_; }
  bool overlayOpen() const { return menuOpen_ || filePanelOpen_ || modalOpen_; }

  double anchorX() const { return anchorX_; }
  // The island as last applied, in panel coordinates.
  const Rect& rect() const { return rect_; }
  bool pointerInside() const { return inside_; }

  // The radius of the island's lower corners: half the shorter side, at most
  // the panel radius of the design.
  static double cornerRadius(double width, double height);

 private:
  void track();
  void scheduleTracking();
  void applyInputRegion(IslandPanel& panel, const InputRegion& region);

  Clock& clock_;
  const PointerSource& pointer_;
  const ScreenLayout& screens_;
  ScriptSink sendScript_;
  std::weak_ptr<IslandPanel> panel_;
  std::shared_ptr<ScheduledWork> timer_;
  Rect rect_;
  bool inside_ = false;
  bool pressed_ = false;
  bool menuOpen_ = false;
  bool filePanelOpen_ = false;
  bool modalOpen_ = false;
  double anchorX_ = kInitialAnchorX;
  std::optional<InputRegion> inputRegion_;
};

}  // namespace glimmet
