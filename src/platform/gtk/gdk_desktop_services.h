#pragma once

// Small desktop services read through GDK: the monitors' work areas, the
// pointer, whether one of the program's windows has the focus, and whether
// the user's selection in other applications can be read. Main thread only;
// requires an initialised GTK.

#include <optional>

#include "platform/accessibility.h"
#include "platform/application_activity.h"
#include "platform/pointer_source.h"
#include "platform/screen_layout.h"

typedef struct _GtkWindow GtkWindow;

namespace glimmet {

// Work areas as the window manager publishes them (_NET_WORKAREA), per monitor.
class GdkScreenLayout final : public ScreenLayout {
 public:
  std::optional<Rect> workAreaAt(Point point) const override;
  std::optional<Rect> primaryWorkArea() const override;
};

// The pointer of the default seat, in root-window coordinates.
class GdkPointerSource final : public PointerSource {
 public:
  PointerState pointer() const override;
};

// Active while any of the program's top-level windows has the focus; becoming
// active presents `mainWindow` with a user timestamp, so that the window
// manager hands it the focus.
class GtkApplicationActivity final : public ApplicationActivity {
 public:
  explicit GtkApplicationActivity(GtkWindow* mainWindow) : mainWindow_(mainWindow) {}

  bool isActive() const override;
  void activate() override;

 private:
  GtkWindow* mainWindow_;
};

// On X11 any client may read the PRIMARY selection, so the program is trusted
// whenever its display is an X11 one. Asking turns on the desktop's toolkit
// accessibility setting (GNOME's org.gnome.desktop.interface), which lets the
// accessibility bus describe the focused element.
class X11Accessibility final : public Accessibility {
 public:
  bool isTrusted() const override;
  void requestTrust() override;
};

}  // namespace glimmet
