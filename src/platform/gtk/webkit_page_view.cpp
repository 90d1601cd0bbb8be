#include "platform/gtk/webkit_page_view.h"

#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "core/glib_ptr.h"
#include "core/json.h"
#include "core/lifetime.h"
#include "core/page_origin.h"
#include "platform/editing_shortcuts.h"
#include "platform/gtk/x11_hot_keys.h"

namespace glimmet {

namespace {

GQuark resourceErrorQuark() { return g_quark_from_static_string("glimmet-resource-error"); }

// One "plumora:" request as the resource handler sees it. WebKit accepts the
// answer on the main thread, where the handler delivers it.
class WebKitSchemeTask final : public SchemeTask {
 public:
  explicit WebKitSchemeTask(WebKitURISchemeRequest* request)
      : request_(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request))) {}

  std::string url() const override {
    const char* uri = webkit_uri_scheme_request_get_uri(request_.get());
    return uri ? uri : "";
  }

  void respond(SchemeResponse response) override {
    const gsize length = response.body.size();
    GPtr<GBytes, g_bytes_unref> bytes(
        g_bytes_new_take(g_memdup2(response.body.data(), length), length));
    GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes.get()));
    GObjectPtr<WebKitURISchemeResponse> answer(
        webkit_uri_scheme_response_new(stream.get(), static_cast<gint64>(length)));
    webkit_uri_scheme_response_set_status(answer.get(), static_cast<guint>(response.status),
                                          nullptr);
    webkit_uri_scheme_response_set_content_type(answer.get(), response.contentType.c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    for (const auto& [name, value] : response.headers) {
      soup_message_headers_append(headers, name.c_str(), value.c_str());
    }
    webkit_uri_scheme_response_set_http_headers(answer.get(), headers);
    webkit_uri_scheme_request_finish_with_response(request_.get(), answer.get());
  }

  void fail(const LocalAgentFailure& failure) override {
    GErrorPtr error(g_error_new_literal(resourceErrorQuark(), 1, failure.message().c_str()));
    webkit_uri_scheme_request_finish_error(request_.get(), error.get());
  }

 private:
  GObjectPtr<WebKitURISchemeRequest> request_;
};

// The view as seen from callbacks that may outlive it.
struct ViewRef {
  WebKitPageView* view;
  LifetimeGuard alive;

  WebKitPageView* get() const { return alive.expired() ? nullptr : view; }
  static void release(gpointer data, GClosure*) { delete static_cast<ViewRef*>(data); }
  static void releaseData(gpointer data) { delete static_cast<ViewRef*>(data); }
};

bool isTrusted(const char* uri) {
  return trusted(uri ? std::optional<std::string_view>(uri) : std::nullopt);
}

// A blob URL names the origin that made it after "blob:".
bool isOwnBlob(const char* uri) {
  return uri != nullptr && g_str_has_prefix(uri, "blob:") && isTrusted(uri + 5);
}

bool isHttps(const char* uri) { return uri != nullptr && g_str_has_prefix(uri, "https:"); }

// Failures of loads the program or WebKit abandoned on purpose: a cancelled
// navigation, a response turned into a download.
bool isDeliberateStop(const GError* error) {
  return g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
         g_error_matches(error, WEBKIT_POLICY_ERROR,
                         WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
         g_error_matches(error, WEBKIT_PLUGIN_ERROR, WEBKIT_PLUGIN_ERROR_WILL_HANDLE_LOAD);
}

void onEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WebViewHost::EvaluationCompletion> completion(
      static_cast<WebViewHost::EvaluationCompletion*>(data));
  GError* error = nullptr;
  if (JSCValue* value =
          webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error)) {
    g_object_unref(value);
  }
  if (error != nullptr) g_error_free(error);
  (*completion)();
}

const char* webKitCommand(EditingCommand command) {
  switch (command) {
    case EditingCommand::undo:
      return WEBKIT_EDITING_COMMAND_UNDO;
    case EditingCommand::redo:
      return WEBKIT_EDITING_COMMAND_REDO;
    case EditingCommand::cut:
      return WEBKIT_EDITING_COMMAND_CUT;
    case EditingCommand::copy:
      return WEBKIT_EDITING_COMMAND_COPY;
    case EditingCommand::paste:
      return WEBKIT_EDITING_COMMAND_PASTE;
    case EditingCommand::selectAll:
      return WEBKIT_EDITING_COMMAND_SELECT_ALL;
  }
  return WEBKIT_EDITING_COMMAND_SELECT_ALL;
}

// The key's character in the first keyboard group, so that the shortcuts work
// under any layout, as GTK's own accelerators do.
char32_t baseLetter(const GdkEventKey* event) {
  guint keyval = event->keyval;
  GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
  gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, GdkModifierType(0), 0,
                                      &keyval, nullptr, nullptr, nullptr);
  return gdk_keyval_to_unicode(gdk_keyval_to_lower(keyval));
}

}  // namespace

struct WebKitPageView::Signals {
  // WebKit hands a key press back to GTK only when neither the page's scripts
  // nor its own editing took it (it does Ctrl+A, X, C and V itself, not undo
  // and redo), so an editing shortcut that arrives here runs once, on the
  // focused field.
  static gboolean unhandledKey(GtkWidget* view, GdkEventKey* event, gpointer) {
    const std::optional<EditingCommand> command =
        editingCommandFor(baseLetter(event), X11HotKeys::storedModifiers(event->state));
    if (!command) return FALSE;
    webkit_web_view_execute_editing_command(WEBKIT_WEB_VIEW(view), webKitCommand(*command));
    return TRUE;
  }

  static void initializeExtensions(WebKitWebContext* context, gpointer directory) {
    webkit_web_context_set_web_extensions_directory(context, static_cast<const char*>(directory));
  }

  static void schemeRequest(WebKitURISchemeRequest* request, gpointer data) {
    WebKitPageView* self = static_cast<ViewRef*>(data)->get();
    if (self == nullptr) {
      GErrorPtr error(g_error_new_literal(resourceErrorQuark(), 1, "closed"));
      webkit_uri_scheme_request_finish_error(request, error.get());
      return;
    }
    self->delegate_.startResource(std::make_shared<WebKitSchemeTask>(request));
  }

  static gboolean userMessage(WebKitWebView*, WebKitUserMessage* message, gpointer data) {
    if (g_strcmp0(webkit_user_message_get_name(message), kPostMessageName) != 0) return FALSE;
    GVariant* parameters = webkit_user_message_get_parameters(message);
    if (parameters == nullptr || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(msbs)"))) {
      return TRUE;
    }
    const char* url = nullptr;
    gboolean mainFrame = FALSE;
    const char* text = nullptr;
    g_variant_get(parameters, "(m&sb&s)", &url, &mainFrame, &text);
    Json body = parseJson(text);
    if (body.is_discarded()) return TRUE;
    std::optional<std::string_view> frameURL;
    if (url != nullptr) frameURL = url;
    static_cast<WebKitPageView*>(data)->delegate_.messageReceived(frameURL, mainFrame,
                                                                  std::move(body));
    return TRUE;
  }

  static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                               WebKitPolicyDecisionType type, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;  // WebKit's: show or download
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && isTrusted(uri)) {
      webkit_policy_decision_use(decision);
      return TRUE;
    }
    // The page saves what it made through a blob of its own; WebKit cannot
    // download "plumora:" resources themselves.
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && isOwnBlob(uri)) {
      webkit_policy_decision_download(decision);
      return TRUE;
    }
    // Other pages and new windows never open in the panel.
    if (isHttps(uri)) self->workspace_.openUrl(uri);
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }

  // window.open and other script-made windows.
  static GtkWidget* create(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (isHttps(uri)) static_cast<WebKitPageView*>(data)->workspace_.openUrl(uri);
    return nullptr;
  }

  // Camera, microphone, location, notifications...: the page asks the program
  // through the bridge for what it needs.
  static gboolean permission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
    webkit_permission_request_deny(request);
    return TRUE;
  }

  static gboolean fileChooser(WebKitWebView* view, WebKitFileChooserRequest* request,
                              gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    const char* page = webkit_web_view_get_uri(view);
    if (!isTrusted(page) || !self->delegate_.beginFilePanel()) {
      webkit_file_chooser_request_cancel(request);
      return TRUE;
    }
    OpenPanelRequest panel;
    panel.allowsMultipleSelection = webkit_file_chooser_request_get_select_multiple(request);
    std::shared_ptr<WebKitFileChooserRequest> held(
        WEBKIT_FILE_CHOOSER_REQUEST(g_object_ref(request)), g_object_unref);
    auto answer = [ref = ViewRef{self, self->lifetime_.guard()},
                   held](std::vector<std::filesystem::path> files) {
      if (WebKitPageView* view = ref.get()) view->delegate_.endFilePanel();
      if (files.empty()) {
        webkit_file_chooser_request_cancel(held.get());
        return;
      }
      std::vector<const char*> paths;
      for (const auto& file : files) paths.push_back(file.c_str());
      paths.push_back(nullptr);
      webkit_file_chooser_request_select_files(held.get(), paths.data());
    };
    self->filePanels_.runOpenPanel(panel, std::move(answer));
    return TRUE;
  }

  static void downloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    g_signal_connect_data(download, "decide-destination", G_CALLBACK(decideDestination),
                          new ViewRef{self, self->lifetime_.guard()}, ViewRef::release,
                          static_cast<GConnectFlags>(0));
  }

  // Answered later: the download waits until a destination is set or it is cancelled.
  static gboolean decideDestination(WebKitDownload* download, gchar* suggestedName, gpointer data) {
    WebKitPageView* self = static_cast<ViewRef*>(data)->get();
    if (self == nullptr || !self->delegate_.beginFilePanel()) {
      webkit_download_cancel(download);
      return TRUE;
    }
    std::shared_ptr<WebKitDownload> held(WEBKIT_DOWNLOAD(g_object_ref(download)), g_object_unref);
    self->filePanels_.runSavePanel({suggestedName ? suggestedName : ""},
                                   [ref = ViewRef{self, self->lifetime_.guard()},
                                    held](std::optional<std::filesystem::path> chosen) {
                                     if (WebKitPageView* view = ref.get())
                                       view->delegate_.endFilePanel();
                                     if (!chosen) {
                                       webkit_download_cancel(held.get());
                                       return;
                                     }
                                     // The save dialog already asked before replacing a file.
                                     webkit_download_set_allow_overwrite(held.get(), TRUE);
                                     webkit_download_set_destination(held.get(), chosen->c_str());
                                   });
    return TRUE;
  }

  static void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    if (event == WEBKIT_LOAD_STARTED) self->loadFailed_ = false;
    if (event == WEBKIT_LOAD_FINISHED && !self->loadFailed_) {
      // Shown with G_MESSAGES_DEBUG=glimmet; the start-up benchmark waits for it.
      g_log("glimmet", G_LOG_LEVEL_DEBUG, "page load finished: %s",
            webkit_web_view_get_uri(self->view_));
      self->delegate_.pageLoaded();
    }
  }

  // Answered here so that WebKit shows no error page of its own.
  // The page is the program's interface, not a document: a right click offers
  // the editing items (cut, copy, paste, spelling) and nothing that would
  // navigate, reload, open or save the page's own resources.
  static gboolean contextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*,
                              WebKitHitTestResult*, gpointer) {
    static constexpr WebKitContextMenuAction kDropped[] = {
        WEBKIT_CONTEXT_MENU_ACTION_GO_BACK,
        WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD,
        WEBKIT_CONTEXT_MENU_ACTION_STOP,
        WEBKIT_CONTEXT_MENU_ACTION_RELOAD,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK,
        WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT,
    };
    GList* items = g_list_copy(webkit_context_menu_get_items(menu));
    for (GList* item = items; item != nullptr; item = item->next) {
      auto* entry = static_cast<WebKitContextMenuItem*>(item->data);
      const WebKitContextMenuAction action = webkit_context_menu_item_get_stock_action(entry);
      if (std::find(std::begin(kDropped), std::end(kDropped), action) != std::end(kDropped)) {
        webkit_context_menu_remove(menu, entry);
      }
    }
    g_list_free(items);
    // A menu of separators alone is no menu.
    for (GList* item = webkit_context_menu_get_items(menu); item != nullptr; item = item->next) {
      if (!webkit_context_menu_item_is_separator(static_cast<WebKitContextMenuItem*>(item->data))) {
        return FALSE;
      }
    }
    return TRUE;
  }

  // A WebDriver session asks for a browsing context and gets the panel's view.
  static void automationStarted(WebKitWebContext*, WebKitAutomationSession* session,
                                gpointer data) {
    WebKitApplicationInfo* info = webkit_application_info_new();
    webkit_application_info_set_name(info, kAutomationName);
    webkit_automation_session_set_application_info(session, info);
    webkit_application_info_unref(info);
    g_signal_connect(session, "create-web-view", G_CALLBACK(automationView), data);
  }

  static WebKitWebView* automationView(WebKitAutomationSession*, gpointer data) {
    return static_cast<WebKitPageView*>(data)->view_;
  }

  static gboolean loadFailed(WebKitWebView*, WebKitLoadEvent event, gchar*, GError* error,
                             gpointer data) {
    auto* self = static_cast<WebKitPageView*>(data);
    self->loadFailed_ = true;
    if (event == WEBKIT_LOAD_STARTED && !isDeliberateStop(error)) self->delegate_.pageLoadFailed();
    return TRUE;
  }
};

WebKitPageView::WebKitPageView(WebPageOptions options, WebPageDelegate& delegate,
                               FilePanels& filePanels, Workspace& workspace)
    : delegate_(delegate), filePanels_(filePanels), workspace_(workspace) {
  GObjectPtr<WebKitWebContext> context(options.ephemeral ? webkit_web_context_new_ephemeral()
                                                         : webkit_web_context_new());
  g_signal_connect_data(
      context.get(), "initialize-web-extensions", G_CALLBACK(Signals::initializeExtensions),
      g_strdup(options.extensionDirectory.c_str()),
      [](gpointer directory, GClosure*) { g_free(directory); }, static_cast<GConnectFlags>(0));
  webkit_web_context_register_uri_scheme(context.get(), kScheme, Signals::schemeRequest,
                                         new ViewRef{this, lifetime_.guard()},
                                         ViewRef::releaseData);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context.get());
  webkit_security_manager_register_uri_scheme_as_secure(security, kScheme);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kScheme);
  g_signal_connect(context.get(), "download-started", G_CALLBACK(Signals::downloadStarted), this);
  if (options.automation) {
    webkit_web_context_set_automation_allowed(context.get(), TRUE);
    g_signal_connect(context.get(), "automation-started", G_CALLBACK(Signals::automationStarted),
                     this);
  }

  GObjectPtr<WebKitUserContentManager> content(webkit_user_content_manager_new());

  GObjectPtr<WebKitSettings> settings(webkit_settings_new());
  webkit_settings_set_enable_developer_extras(settings.get(), FALSE);
  webkit_settings_set_javascript_can_open_windows_automatically(settings.get(), FALSE);

  view_ = WEBKIT_WEB_VIEW(g_object_ref_sink(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context.get(), "user-content-manager",
                   content.get(), "settings", settings.get(), "is-controlled-by-automation",
                   options.automation ? TRUE : FALSE, nullptr)));
  // The page draws its own island on a transparent panel.
  const GdkRGBA clear = {0, 0, 0, 0};
  webkit_web_view_set_background_color(view_, &clear);

  g_signal_connect(view_, "user-message-received", G_CALLBACK(Signals::userMessage), this);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(Signals::decidePolicy), this);
  g_signal_connect(view_, "create", G_CALLBACK(Signals::create), this);
  g_signal_connect(view_, "permission-request", G_CALLBACK(Signals::permission), this);
  g_signal_connect(view_, "run-file-chooser", G_CALLBACK(Signals::fileChooser), this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(Signals::loadChanged), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(Signals::loadFailed), this);
  g_signal_connect(view_, "context-menu", G_CALLBACK(Signals::contextMenu), this);
  g_signal_connect_after(view_, "key-press-event", G_CALLBACK(Signals::unhandledKey), this);
}

WebKitPageView::~WebKitPageView() {
  lifetime_.end();
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_context(view_), this);
  g_signal_handlers_disconnect_by_data(view_, this);
  gtk_widget_destroy(GTK_WIDGET(view_));
  g_object_unref(view_);
}

void WebKitPageView::addUserScript(const std::string& script) {
  GPtr<WebKitUserScript, webkit_user_script_unref> user(
      webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr));
  webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(view_),
                                         user.get());
}

void WebKitPageView::evaluate(const std::string& script, EvaluationCompletion completion) {
  if (!completion) {
    webkit_web_view_evaluate_javascript(view_, script.data(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, nullptr, nullptr, nullptr);
    return;
  }
  webkit_web_view_evaluate_javascript(view_, script.data(), static_cast<gssize>(script.size()),
                                      nullptr, nullptr, nullptr, onEvaluated,
                                      new EvaluationCompletion(std::move(completion)));
}

void WebKitPageView::load(const std::string& url) { webkit_web_view_load_uri(view_, url.c_str()); }

WebViewSize WebKitPageView::size() const {
  return {static_cast<double>(gtk_widget_get_allocated_width(GTK_WIDGET(view_))),
          static_cast<double>(gtk_widget_get_allocated_height(GTK_WIDGET(view_)))};
}

GtkWidget* WebKitPageView::widget() const { return GTK_WIDGET(view_); }

}  // namespace glimmet
