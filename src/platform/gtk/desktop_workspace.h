#pragma once

// The desktop around the program on a freedesktop.org session: URLs open with
// the user's default handler (GIO), files are revealed through the file
// manager's org.freedesktop.FileManager1 D-Bus interface, the Trash is the
// freedesktop.org home or volume trash, and the other applications' windows
// are read from the X11 window manager's _NET_ACTIVE_WINDOW. On a display that
// is not X11 (Wayland) no other application's window can be seen: there is no
// frontmost application and activation answers false.
// Requires an initialised GTK; `moveToTrash` may run on any thread.

#include <gdk/gdk.h>

#include <vector>

#include "platform/linux/freedesktop_trash.h"
#include "platform/workspace.h"

namespace glimmet {

class DesktopWorkspace final : public Workspace {
 public:
  explicit DesktopWorkspace(FreedesktopTrash trash = FreedesktopTrash());
  ~DesktopWorkspace() override;
  DesktopWorkspace(const DesktopWorkspace&) = delete;
  DesktopWorkspace& operator=(const DesktopWorkspace&) = delete;

  bool openUrl(const std::string& url) override;
  // Asks the file manager to show the file selected; when no file manager
  // offers that on the session bus, opens the folder holding the file instead.
  bool revealFile(const std::filesystem::path& file) override;
  Result<std::filesystem::path> moveToTrash(const std::filesystem::path& item) override;
  // The owner of _NET_ACTIVE_WINDOW: its _NET_WM_PID, its WM_CLASS class name
  // and, for the name, the application's desktop entry name when one is named
  // after that class, else the class name itself.
  std::optional<RunningApplication> frontmostApplication() override;
  // Asks the window manager to activate the application's window, as a pager
  // does, so focus-stealing prevention lets it through; without a window
  // manager that supports it, raises and focuses the window directly. False
  // when the window no longer exists.
  bool activate(const RunningApplication& application) override;
  // Hears the window manager change _NET_ACTIVE_WINDOW on the root window.
  void observeActivation(std::function<void()> changed) override;

  // The WM_CLASS class names of the windows the window manager lists
  // (_NET_CLIENT_LIST), each once, in the list's order.
  std::vector<std::string> runningApplications() const;

 private:
  static GdkFilterReturn rootPropertyChanged(GdkXEvent* xEvent, GdkEvent* event, gpointer self);

  FreedesktopTrash trash_;
  std::function<void()> activationObserver_;
  bool filtering_ = false;
};

}  // namespace glimmet
