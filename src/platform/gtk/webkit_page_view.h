#pragma once

// The creation panel's web view on WebKitGTK 4.1 and the duties the program
// owes it:
//
// - its own web context (ephemeral on request) that answers the "plumora"
//   scheme through the delegate's resource handler and treats the scheme as
//   secure and CORS-enabled, so the page's ES modules load;
// - the bridge script as a top-frame user script at document start;
// - the page's bridge messages, with the sending frame's URL and whether it is
//   the main frame, from the web process extension (plumora_web_extension.cpp)
//   found in `extensionDirectory`;
// - navigation: trusted URLs stay, https URLs go to the default browser, all
//   else is cancelled; new windows are never created (https ones open in the
//   browser); camera, microphone and every other permission are denied;
// - file inputs and downloads through the delegate's single file-panel slot
//   and the desktop's file dialogs; WebKitGTK cannot download "plumora:"
//   resources, so the page saves what it made as blobs of its own origin,
//   which are always downloaded, never shown;
// - the end of each main-frame load, reported as loaded or failed;
// - the standard editing shortcuts (platform/editing_shortcuts.h) on the
//   page's focused field: those WebKit leaves unhandled run as its editing
//   commands, so none runs twice.
//
// WebKitGTK never tells a scheme handler that a request was abandoned, so
// resource requests are only ever started; answering a request the view no
// longer wants is harmless. Main thread only.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"
#include "core/lifetime.h"
#include "core/wire_names.h"
#include "platform/file_panels.h"
#include "platform/scheme_task.h"
#include "platform/web_view_host.h"
#include "platform/workspace.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace glimmet {

// What the web view hands to the program. Called on the main thread.
class WebPageDelegate {
 public:
  virtual ~WebPageDelegate() = default;

  // A "plumora:" resource request; answer it through the task.
  virtual void startResource(std::shared_ptr<SchemeTask> task) = 0;
  // The page posted `body` from the frame at `frameURL` (none: the frame has no URL).
  virtual void messageReceived(std::optional<std::string_view> frameURL, bool mainFrame,
                               Json body) = 0;
  // A main-frame navigation finished.
  virtual void pageLoaded() = 0;
  // A main-frame navigation failed before its document was committed
  // (navigations the program cancelled itself do not count).
  virtual void pageLoadFailed() = 0;
  // The single file-panel slot: false while a panel is up.
  virtual bool beginFilePanel() = 0;
  virtual void endFilePanel() = 0;
};

struct WebPageOptions {
  // Keeps no cookies, storage or caches on disk.
  bool ephemeral = false;
  // Holds the web process extension.
  std::filesystem::path extensionDirectory;
  // Lets a WebDriver session drive the page: the view is the one browsing
  // context an automation session gets.
  bool automation = false;
};

class WebKitPageView final : public WebViewHost {
 public:
  static constexpr const char* kScheme = wire::kScheme;
  // The user message the web process extension sends for each post.
  static constexpr const char* kPostMessageName = wire::kPostMessageName;
  // The browser name a WebDriver session asks for.
  static constexpr const char* kAutomationName = "glimmet";

  // The delegate, the panels and the workspace must outlive the view.
  WebKitPageView(WebPageOptions options, WebPageDelegate& delegate, FilePanels& filePanels,
                 Workspace& workspace);
  ~WebKitPageView() override;
  WebKitPageView(const WebKitPageView&) = delete;
  WebKitPageView& operator=(const WebKitPageView&) = delete;

  // Injects `script` into the top frame of every page loaded from now on,
  // before the page's own scripts.
  void addUserScript(const std::string& script);

  void evaluate(const std::string& script, EvaluationCompletion completion) override;
  using WebViewHost::evaluate;
  void load(const std::string& url) override;
  WebViewSize size() const override;

  // The view, to be placed in a container.
  GtkWidget* widget() const;
  WebKitWebView* webView() const { return view_; }

 private:
  struct Signals;
  friend struct Signals;

  WebPageDelegate& delegate_;
  FilePanels& filePanels_;
  Workspace& workspace_;
  WebKitWebView* view_ = nullptr;
  // Whether the main-frame load in progress failed; WebKit reports the end of
  // a failed load as finished too.
  bool loadFailed_ = false;
  // Completions of file panels and evaluations check it before touching the view.
  Lifetime lifetime_;
};

}  // namespace glimmet
