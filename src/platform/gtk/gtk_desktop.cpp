#include "platform/gtk/gtk_desktop.h"

#include <gtk/gtk.h>

#include <utility>

#include "core/executors.h"
#include "surfaces/design.h"

namespace glimmet {

namespace {

std::filesystem::path defaultsLocation(const std::filesystem::path& file) {
  return file.empty() ? DefaultsStore::standardLocation() : file;
}

}  // namespace

GtkDesktop::GtkDesktop(DesktopOptions options)
    : defaults_(defaultsLocation(options.defaultsFile)),
      panel_(std::make_shared<FloatingPanel>(
          Rect{0, 0, PlumoraDesign::Layout::hostWidth, PlumoraDesign::Layout::hostInitialHeight})),
      activity_(std::make_unique<GtkApplicationActivity>(panel_->window())) {
  // The library smoke test leaves no website data behind.
  page_ = std::make_unique<WebKitPageView>(
      WebPageOptions{options.controller.switches.librarySmokeTest, options.extensionDirectory},
      static_cast<WebPageDelegate&>(*this), filePanels_, workspace_);
  controller_ = std::make_unique<PlumoraController>(
      Platform{*page_, panel_, statusButton_, menu_, alerts_, filePanels_, clipboard_, workspace_,
               sound_, videoPlayer_, pointer_, screens_, appearance_, accessibility_, *activity_,
               windows_, defaults_, secrets_, clock_},
      std::move(options.controller));
  page_->addUserScript(controller_->bridgeScript());
  panel_->setContent(page_->widget());
  menu_.attach(page_->widget());
  wireStatusItem();
  panel_->onCloseRequest([this] { controller_->hideCreator(); });
  panel_->onFocusLost([this] { panelLostFocus(); });
}

GtkDesktop::~GtkDesktop() {
  shutdown();
  panel_->onCloseRequest({});
  panel_->onFocusLost({});
  statusButton_->onActivate({});
  statusButton_->onMenu({});
  // The controller goes first: it refers to every service above it.
  controller_.reset();
  page_.reset();
}

void GtkDesktop::launch() { controller_->launch(); }

void GtkDesktop::shutdown() { controller_->shutdown(); }

void GtkDesktop::wireStatusItem() {
  // Capture, the settings and the agent setup have no window yet: their items
  // show but cannot be chosen.
  StatusMenuActions actions;
  actions.openStudio = [this] { controller_->openStudio(); };
  actions.openBrowser = [this] { controller_->openBrowser(); };
  // Ends the main loop the program runs; the shutdown follows it.
  actions.quit = [] {
    if (gtk_main_level() > 0) gtk_main_quit();
  };
  statusMenu_ = std::make_unique<StatusMenu>(std::move(actions));
  statusButton_->onActivate([this] { controller_->statusClick(); });
  statusButton_->onMenu([this](guint button, guint32 time) {
    statusMenu_->popUp(statusButton_->icon(), button, time);
  });
}

void GtkDesktop::panelLostFocus() {
  // The focus may only be moving to another of the program's windows (a
  // dialog); decide once it has settled.
  MainQueue::shared().post([this, alive = std::weak_ptr<int>(lifetime_)] {
    if (!alive.expired() && !activity_->isActive()) controller_->resignActive();
  });
}

void GtkDesktop::startResource(std::shared_ptr<SchemeTask> task) {
  controller_->webHandler().start(std::move(task));
}

void GtkDesktop::messageReceived(std::optional<std::string_view> frameURL, bool mainFrame,
                                 const Json& body) {
  controller_->receive(frameURL, mainFrame, body);
}

void GtkDesktop::pageLoaded() { controller_->pageLoaded(); }

void GtkDesktop::pageLoadFailed() { controller_->pageLoadFailed(); }

bool GtkDesktop::beginFilePanel() { return controller_->beginFilePanel(); }

void GtkDesktop::endFilePanel() { controller_->endFilePanel(); }

}  // namespace glimmet
