#pragma once

// The desktop program: every platform service on GTK, WebKitGTK and the
// session's desktop services, bundled for the controller, which this class
// creates and wires to the creation panel and its web view. `launch` runs the
// controller's launch sequence; the caller then runs the GTK main loop and
// calls `shutdown` when it returns. Main thread only; requires an initialised
// GTK on an X11 display.

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "app/plumora_controller.h"
#include "core/clock.h"
#include "core/defaults_store.h"
#include "core/lifetime.h"
#include "platform/gtk/desktop_workspace.h"
#include "platform/gtk/floating_panel.h"
#include "platform/gtk/gdk_desktop_services.h"
#include "platform/gtk/gstreamer_sound.h"
#include "platform/gtk/gstreamer_video_player.h"
#include "platform/gtk/gtk_agent_setup_window.h"
#include "platform/gtk/gtk_alerts.h"
#include "platform/gtk/gtk_clipboard_access.h"
#include "platform/gtk/gtk_file_panels.h"
#include "platform/gtk/gtk_popup_menu.h"
#include "platform/gtk/gtk_settings_window.h"
#include "platform/gtk/indicator_status_button.h"
#include "platform/gtk/portal_desktop_appearance.h"
#include "platform/gtk/radial_view.h"
#include "platform/gtk/status_icon_button.h"
#include "platform/gtk/status_menu.h"
#include "platform/gtk/webkit_page_view.h"
#include "platform/gtk/x11_hot_keys.h"
#include "platform/gtk/x11_selection_reader.h"
#include "platform/linux/libsecret_store.h"
#include "platform/linux/xdg_autostart.h"

namespace glimmet {

// The tray item and the menu it opens. The menu is declared first, so the
// button that shows it goes first.
struct StatusItem {
  std::unique_ptr<StatusMenu> menu;
  std::shared_ptr<StatusButton> button;
  // `button` by its kind: exactly one of these is set.
  StatusIconButton* trayIcon = nullptr;
  IndicatorStatusButton* indicator = nullptr;
};

// Whether a StatusNotifierItem would be seen: a watcher owns its name on the
// session bus and says that a panel hosts its items.
bool statusNotifierHostPresent();

// The tray item for this session: an indicator when statusNotifierHostPresent,
// else a GtkStatusIcon for the XEmbed tray (which also covers an indicator
// that could not draw its icon). `click` is what a left click does; where
// every click opens the menu (the indicator), the menu offers it first and a
// middle click runs it.
StatusItem makeStatusItem(StatusMenuActions actions, std::function<void()> click,
                          const ScreenLayout& screens);

struct DesktopOptions {
  ControllerOptions controller;
  // Holds the web process extension that carries the page's bridge messages.
  std::filesystem::path extensionDirectory;
  // The user defaults file; the standard location when empty.
  std::filesystem::path defaultsFile;
};

class GtkDesktop final : private WebPageDelegate {
 public:
  explicit GtkDesktop(DesktopOptions options);
  ~GtkDesktop() override;
  GtkDesktop(const GtkDesktop&) = delete;
  GtkDesktop& operator=(const GtkDesktop&) = delete;

  // Shows the panel and loads the page (the controller's launch sequence).
  void launch();
  // Stops the controller's services; later bridge messages are dropped.
  void shutdown();

  PlumoraController& controller() { return *controller_; }
  FloatingPanel& panel() { return *panel_; }
  WebKitPageView& page() { return *page_; }
  StatusItem& statusItem() { return statusItem_; }
  GtkSettingsWindow& settingsWindow() { return settingsWindow_; }
  GStreamerVideoPlayer& videoPlayer() { return *videoPlayer_; }
  RadialView& radial() { return radial_; }
  const X11SelectionReader& selectionReader() const { return selection_; }

 private:
  // WebPageDelegate.
  void startResource(std::shared_ptr<SchemeTask> task) override;
  void messageReceived(std::optional<std::string_view> frameURL, bool mainFrame,
                       Json body) override;
  void pageLoaded() override;
  void pageLoadFailed() override;
  bool beginFilePanel() override;
  void endFilePanel() override;

  // The tray item's menu actions, which reach the controller once it exists.
  StatusMenuActions statusMenuActions();
  // Tells the controller when the program lost the focus to another one.
  void panelLostFocus();

  DefaultsStore defaults_;
  LibsecretStore secrets_;
  MainLoopClock clock_;
  GtkAlerts alerts_;
  GtkFilePanels filePanels_;
  GtkClipboardAccess clipboard_;
  DesktopWorkspace workspace_;
  GStreamerSound sound_;
  PortalDesktopAppearance appearance_;
  GdkPointerSource pointer_;
  GdkScreenLayout screens_;
  X11Accessibility accessibility_;
  GtkAgentSetupWindow agentSetupWindow_;
  X11HotKeys hotKeys_;
  X11SelectionReader selection_;
  GtkSettingsWindow settingsWindow_{workspace_};
  XdgAutostart autostart_ = XdgAutostart::standard();
  RadialView radial_;
  GtkPopUpMenu menu_;
  StatusItem statusItem_;
  std::shared_ptr<FloatingPanel> panel_;
  std::unique_ptr<GtkApplicationActivity> activity_;
  std::unique_ptr<WebKitPageView> page_;
  // Holds the page in the panel and lays the library video player over it.
  std::unique_ptr<GStreamerVideoPlayer> videoPlayer_;
  std::unique_ptr<PlumoraController> controller_;
  Lifetime lifetime_;
};

// The "--demo-launcher" start: the radial menu over a demo selection at the
// pointer, with no panel, page or tray item. A choice or a dismissal closes
// the menu and then runs `closed`, which ends the demonstration.
class DemoLauncher {
 public:
  static constexpr const char* kText = "雨天的城市，一杯热咖啡";
  static constexpr const char* kSource = "演示素材";

  explicit DemoLauncher(std::function<void()> closed);

  RadialView& radial() { return radial_; }

 private:
  GdkPointerSource pointer_;
  GdkScreenLayout screens_;
  RadialView radial_;
  RadialPresenter presenter_{radial_, screens_};
};

}  // namespace glimmet
