#include "platform/gtk/desktop_workspace.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gio/gdesktopappinfo.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <memory>
#include <system_error>

#include "core/glib_ptr.h"

namespace glimmet {

namespace {

constexpr const char* kFileManagerName = "org.freedesktop.FileManager1";
constexpr int kBusQueryTimeoutMs = 1000;

using XDataPtr = GPtr<unsigned char, XFree>;

bool launchDefaultFor(const std::string& uri) {
  if (GTextPtr scheme(g_uri_parse_scheme(uri.c_str())); !scheme) return false;
  GObjectPtr<GdkAppLaunchContext> context(
      gdk_display_get_app_launch_context(gdk_display_get_default()));
  GError* raw = nullptr;
  const bool launched =
      g_app_info_launch_default_for_uri(uri.c_str(), G_APP_LAUNCH_CONTEXT(context.get()), &raw);
  GErrorPtr error(raw);
  if (error)
    g_log("glimmet", G_LOG_LEVEL_DEBUG, "opening %s failed: %s", uri.c_str(), raw->message);
  return launched;
}

std::string fileUri(const std::filesystem::path& path) {
  GTextPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  return uri ? std::string(uri.get()) : std::string();
}

GVariantPtr busCall(GDBusConnection* bus, const char* method, GVariant* parameters) {
  return GVariantPtr(g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
      parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, kBusQueryTimeoutMs, nullptr, nullptr));
}

// Whether a file manager runs on the session bus or the bus can start one.
bool fileManagerAvailable(GDBusConnection* bus) {
  if (GVariantPtr owned = busCall(bus, "NameHasOwner", g_variant_new("(s)", kFileManagerName))) {
    gboolean hasOwner = FALSE;
    g_variant_get(owned.get(), "(b)", &hasOwner);
    if (hasOwner) return true;
  }
  GVariantPtr activatable = busCall(bus, "ListActivatableNames", nullptr);
  if (!activatable) return false;
  GPtr<const gchar*, g_free> names(nullptr);
  {
    const gchar** list = nullptr;
    g_variant_get(activatable.get(), "(^a&s)", &list);
    names.reset(list);
  }
  for (const gchar** name = names.get(); name != nullptr && *name != nullptr; ++name) {
    if (g_str_equal(*name, kFileManagerName)) return true;
  }
  return false;
}

// When the file manager fails to show the item, the folder holding it opens instead.
void onShowItemsAnswered(GObject* bus, GAsyncResult* result, gpointer folderUri) {
  const std::unique_ptr<std::string> folder(static_cast<std::string*>(folderUri));
  GError* raw = nullptr;
  GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &raw));
  GErrorPtr error(raw);
  if (error) launchDefaultFor(*folder);
}

// The first `limit` values of a format-32 window property; none when it is
// missing or of another type.
std::vector<unsigned long> windowProperties(Display* x, Window window, const char* name, Atom type,
                                            long limit) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(x, window, XInternAtom(x, name, False), 0, limit, False,
                                        type, &actualType, &format, &count, &remaining, &raw);
  const XDataPtr data(raw);
  if (status != Success || actualType != type || format != 32) return {};
  // Format-32 properties arrive as an array of long, whatever the long's size.
  const auto* values = reinterpret_cast<const unsigned long*>(data.get());
  return std::vector<unsigned long>(values, values + count);
}

std::optional<unsigned long> windowProperty(Display* x, Window window, const char* name,
                                            Atom type) {
  const std::vector<unsigned long> values = windowProperties(x, window, name, type, 1);
  if (values.empty()) return std::nullopt;
  return values.front();
}

std::string className(Display* x, Window window) {
  XClassHint hint{};
  if (XGetClassHint(x, window, &hint) == 0) return {};
  const XDataPtr name(reinterpret_cast<unsigned char*>(hint.res_name));
  const XDataPtr cls(reinterpret_cast<unsigned char*>(hint.res_class));
  return hint.res_class != nullptr ? std::string(hint.res_class) : std::string();
}

// The name of the desktop entry named after the window class ("firefox" →
// firefox.desktop), or the class name when there is none.
std::string displayNameFor(const std::string& windowClass) {
  std::string lower = windowClass;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(g_ascii_tolower(c)); });
  for (const std::string& id : {windowClass + ".desktop", lower + ".desktop"}) {
    if (GObjectPtr<GDesktopAppInfo> info(g_desktop_app_info_new(id.c_str())); info) {
      return g_app_info_get_display_name(G_APP_INFO(info.get()));
    }
  }
  return windowClass;
}

GdkDisplay* x11Display() {
  GdkDisplay* display = gdk_display_get_default();
  return display != nullptr && GDK_IS_X11_DISPLAY(display) ? display : nullptr;
}

}  // namespace

DesktopWorkspace::DesktopWorkspace(FreedesktopTrash trash) : trash_(std::move(trash)) {}

DesktopWorkspace::~DesktopWorkspace() { observeActivation({}); }

bool DesktopWorkspace::openUrl(const std::string& url) { return launchDefaultFor(url); }

bool DesktopWorkspace::revealFile(const std::filesystem::path& file) {
  std::error_code failed;
  const std::filesystem::path absolute = std::filesystem::absolute(file, failed);
  if (failed || !std::filesystem::exists(std::filesystem::symlink_status(absolute, failed))) {
    return false;
  }
  const std::string itemUri = fileUri(absolute);
  std::string folderUri = fileUri(absolute.parent_path());
  if (itemUri.empty() || folderUri.empty()) return false;

  GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
  if (!bus || !fileManagerAvailable(bus.get())) return launchDefaultFor(folderUri);

  // Asynchronous: a file manager started by the bus may take a while to answer.
  const gchar* items[] = {itemUri.c_str(), nullptr};
  g_dbus_connection_call(bus.get(), kFileManagerName, "/org/freedesktop/FileManager1",
                         kFileManagerName, "ShowItems", g_variant_new("(^ass)", items, ""), nullptr,
                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr, onShowItemsAnswered,
                         std::make_unique<std::string>(std::move(folderUri)).release());
  return true;
}

Result<std::filesystem::path> DesktopWorkspace::moveToTrash(const std::filesystem::path& item) {
  return trash_.moveToTrash(item);
}

std::optional<RunningApplication> DesktopWorkspace::frontmostApplication() {
  GdkDisplay* display = x11Display();
  if (display == nullptr) return std::nullopt;
  Display* x = GDK_DISPLAY_XDISPLAY(display);

  // The active window may close while it is read: every X error is trapped.
  gdk_x11_display_error_trap_push(display);
  std::optional<RunningApplication> application;
  const auto active = windowProperty(x, DefaultRootWindow(x), "_NET_ACTIVE_WINDOW", XA_WINDOW);
  if (active && *active != None) {
    RunningApplication found;
    found.window = *active;
    found.pid =
        static_cast<pid_t>(windowProperty(x, *active, "_NET_WM_PID", XA_CARDINAL).value_or(0));
    found.bundleIdentifier = className(x, *active);
    application = std::move(found);
  }
  if (gdk_x11_display_error_trap_pop(display) != 0) return std::nullopt;

  if (application && !application->bundleIdentifier.empty()) {
    application->localizedName = displayNameFor(application->bundleIdentifier);
  }
  return application;
}

bool DesktopWorkspace::activate(const RunningApplication& application) {
  GdkDisplay* display = x11Display();
  if (display == nullptr || application.window == 0) return false;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  const auto window = static_cast<Window>(application.window);

  gdk_x11_display_error_trap_push(display);
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(x, window, &attributes) == 0) {
    gdk_x11_display_error_trap_pop_ignored(display);
    return false;
  }
  if (gdk_x11_screen_supports_net_wm_hint(gdk_display_get_default_screen(display),
                                          gdk_atom_intern_static_string("_NET_ACTIVE_WINDOW"))) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(x, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // source: a pager, acting for the user
    event.xclient.data.l[1] = static_cast<long>(gdk_x11_display_get_user_time(display));
    XSendEvent(x, DefaultRootWindow(x), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
  } else {
    XRaiseWindow(x, window);
    XSetInputFocus(x, window, RevertToParent, CurrentTime);
  }
  XSync(x, False);
  return gdk_x11_display_error_trap_pop(display) == 0;
}

void DesktopWorkspace::observeActivation(std::function<void()> changed) {
  activationObserver_ = std::move(changed);
  const bool wanted = static_cast<bool>(activationObserver_) && x11Display() != nullptr;
  if (wanted == filtering_) return;
  GdkWindow* root = gdk_get_default_root_window();
  if (wanted) {
    gdk_window_set_events(
        root, static_cast<GdkEventMask>(gdk_window_get_events(root) | GDK_PROPERTY_CHANGE_MASK));
    gdk_window_add_filter(root, rootPropertyChanged, this);
  } else {
    gdk_window_remove_filter(root, rootPropertyChanged, this);
  }
  filtering_ = wanted;
}

GdkFilterReturn DesktopWorkspace::rootPropertyChanged(GdkXEvent* xEvent, GdkEvent*, gpointer self) {
  const auto* event = static_cast<const XEvent*>(xEvent);
  auto* workspace = static_cast<DesktopWorkspace*>(self);
  if (event->type == PropertyNotify && workspace->activationObserver_ &&
      event->xproperty.atom == gdk_x11_get_xatom_by_name("_NET_ACTIVE_WINDOW")) {
    workspace->activationObserver_();
  }
  return GDK_FILTER_CONTINUE;
}

std::vector<std::string> DesktopWorkspace::runningApplications() const {
  std::vector<std::string> names;
  GdkDisplay* display = x11Display();
  if (display == nullptr) return names;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  gdk_x11_display_error_trap_push(display);
  // At most 1,024 windows are listed.
  for (const unsigned long window :
       windowProperties(x, DefaultRootWindow(x), "_NET_CLIENT_LIST", XA_WINDOW, 1024)) {
    std::string name = className(x, window);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
  }
  gdk_x11_display_error_trap_pop_ignored(display);
  return names;
}

}  // namespace glimmet
