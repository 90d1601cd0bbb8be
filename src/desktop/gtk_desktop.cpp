#include "desktop/gtk_desktop.h"

#include <gtk/gtk.h>

#include <utility>

#include "core/executors.h"
#include "surfaces/design.h"

namespace glimmet {

namespace {

constexpr const char* kStatusNotifierWatcher = "org.kde.StatusNotifierWatcher";
// A watcher that does not answer within this delays the start by no more.
constexpr gint kWatcherTimeoutMs = 1000;

std::filesystem::path defaultsLocation(const std::filesystem::path& file) {
  return file.empty() ? DefaultsStore::standardLocation() : file;
}

}  // namespace

bool statusNotifierHostPresent() {
  GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
  if (!bus) return false;
  // One call answers both: it fails when no one owns the watcher's name.
  GVariantPtr reply(g_dbus_connection_call_sync(
      bus.get(), kStatusNotifierWatcher, "/StatusNotifierWatcher",
      "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", kStatusNotifierWatcher, "IsStatusNotifierHostRegistered"),
      G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kWatcherTimeoutMs, nullptr, nullptr));
  if (!reply) return false;
  GVariant* value = nullptr;
  g_variant_get(reply.get(), "(v)", &value);
  const GVariantPtr hosted(value);
  return g_variant_is_of_type(hosted.get(), G_VARIANT_TYPE_BOOLEAN) &&
         g_variant_get_boolean(hosted.get());
}

StatusItem makeStatusItem(StatusMenuActions actions, std::function<void()> click,
                          const ScreenLayout& screens) {
  StatusItem item;
  if (statusNotifierHostPresent()) {
    StatusMenuActions withToggle = actions;
    withToggle.togglePanel = click;
    item.menu = std::make_unique<StatusMenu>(std::move(withToggle));
    try {
      auto indicator = std::make_shared<IndicatorStatusButton>(item.menu->menu(),
                                                               item.menu->toggleItem(), screens);
      item.indicator = indicator.get();
      item.button = std::move(indicator);
      return item;
    } catch (const LocalAgentFailure&) {
      // No icon files, no visible item: the tray icon needs none.
    }
  }
  item.menu = std::make_unique<StatusMenu>(std::move(actions));
  auto icon = std::make_shared<StatusIconButton>();
  icon->onActivate(std::move(click));
  icon->onMenu([menu = item.menu.get(), tray = icon->icon()](guint button, guint32 time) {
    menu->popUp(tray, button, time);
  });
  item.trayIcon = icon.get();
  item.button = std::move(icon);
  return item;
}

GtkDesktop::GtkDesktop(DesktopOptions options)
    : defaults_(defaultsLocation(options.defaultsFile)),
      statusItem_(makeStatusItem(
          statusMenuActions(), [this] { controller_->statusClick(); }, screens_)),
      panel_(std::make_shared<FloatingPanel>(
          Rect{0, 0, PlumoraDesign::Layout::hostWidth, PlumoraDesign::Layout::hostInitialHeight})),
      activity_(std::make_unique<GtkApplicationActivity>(panel_->window())) {
  // The library smoke test leaves no website data behind.
  page_ = std::make_unique<WebKitPageView>(
      WebPageOptions{options.controller.switches.librarySmokeTest, options.extensionDirectory,
                     options.controller.switches.automation},
      static_cast<WebPageDelegate&>(*this), filePanels_, workspace_);
  videoPlayer_ = std::make_unique<GStreamerVideoPlayer>(page_->widget());
  controller_ = std::make_unique<PlumoraController>(
      Platform{*page_,      panel_,         statusItem_.button, menu_,
               alerts_,     filePanels_,    clipboard_,         workspace_,
               sound_,      *videoPlayer_,  pointer_,           screens_,
               appearance_, accessibility_, *activity_,         agentSetupWindow_,
               hotKeys_,    selection_,     settingsWindow_,    autostart_,
               radial_,     defaults_,      secrets_,           clock_},
      std::move(options.controller));
  page_->addUserScript(controller_->bridgeScript());
  panel_->setContent(videoPlayer_->widget(), page_->widget());
  menu_.attach(page_->widget());
  panel_->onCloseRequest([this] { controller_->hideCreator(); });
  panel_->onFocusLost([this] { panelLostFocus(); });
}

GtkDesktop::~GtkDesktop() {
  shutdown();
  panel_->onCloseRequest({});
  panel_->onFocusLost({});
  if (statusItem_.trayIcon) {
    statusItem_.trayIcon->onActivate({});
    statusItem_.trayIcon->onMenu({});
  }
  // The controller goes first: it refers to every service above it.
  controller_.reset();
  videoPlayer_.reset();
  page_.reset();
}

void GtkDesktop::launch() { controller_->launch(); }

void GtkDesktop::shutdown() { controller_->shutdown(); }

StatusMenuActions GtkDesktop::statusMenuActions() {
  StatusMenuActions actions;
  actions.captureText = [this] { controller_->captureText(); };
  actions.openSettings = [this] { controller_->openSettings(); };
  actions.openAgentSetup = [this] { controller_->openAgentSetup(); };
  actions.openStudio = [this] { controller_->openStudio(); };
  actions.openBrowser = [this] { controller_->openBrowser(); };
  // Ends the main loop the program runs; the shutdown follows it.
  actions.quit = [] {
    if (gtk_main_level() > 0) gtk_main_quit();
  };
  return actions;
}

void GtkDesktop::panelLostFocus() {
  // The focus may only be moving to another of the program's windows (a
  // dialog); decide once it has settled.
  MainQueue::shared().post([this, alive = lifetime_.guard()] {
    if (!alive.expired() && !activity_->isActive()) controller_->resignActive();
  });
}

void GtkDesktop::startResource(std::shared_ptr<SchemeTask> task) {
  controller_->webHandler().start(std::move(task));
}

void GtkDesktop::messageReceived(std::optional<std::string_view> frameURL, bool mainFrame,
                                 Json body) {
  controller_->receive(frameURL, mainFrame, std::move(body));
}

void GtkDesktop::pageLoaded() { controller_->pageLoaded(); }

void GtkDesktop::pageLoadFailed() { controller_->pageLoadFailed(); }

bool GtkDesktop::beginFilePanel() { return controller_->beginFilePanel(); }

void GtkDesktop::endFilePanel() { controller_->endFilePanel(); }

DemoLauncher::DemoLauncher(std::function<void()> closed) {
  presenter_.present(Json{{"text", kText}, {"voice", false}, {"source", kSource}},
                     pointer_.pointer().position, {}, std::move(closed));
}

}  // namespace glimmet
