// The least a program must do to show the packaged page in WebKitGTK: a window
// of the creation panel's size holding a web view that loads
// "plumora://local/index.html" from the web directory through a plain scheme
// handler. No bridge script, no web process extension, no other services.
// Like the desktop program in its library smoke-test mode it uses an
// ephemeral web context and registers the scheme as secure and CORS-enabled,
// which the page's ES modules need.
//
//   startup_reference <web directory>
//
// Prints "page load finished: <uri>" once the page has loaded and runs until
// SIGTERM or SIGINT, then exits with status 0.

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The creation panel's content size.
constexpr int kWidth = 748;
constexpr int kHeight = 740;

const char* contentType(const std::string& path) {
  static constexpr struct {
    const char* extension;
    const char* type;
  } kTypes[] = {{".html", "text/html"},        {".js", "text/javascript"}, {".css", "text/css"},
                {".json", "application/json"}, {".svg", "image/svg+xml"},  {".png", "image/png"}};
  for (const auto& known : kTypes) {
    if (g_str_has_suffix(path.c_str(), known.extension)) return known.type;
  }
  return "application/octet-stream";
}

void serve(WebKitURISchemeRequest* request, gpointer webDirectory) {
  const char* path = webkit_uri_scheme_request_get_path(request);
  std::string relative = path != nullptr ? path : "";
  if (relative.empty() || relative == "/") relative = "/index.html";
  gchar* body = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  if (relative.find("..") != std::string::npos) {
    error = g_error_new_literal(G_FILE_ERROR, G_FILE_ERROR_ACCES, "outside the web directory");
  } else {
    const std::string file = static_cast<const char*>(webDirectory) + relative;
    g_file_get_contents(file.c_str(), &body, &length, &error);
  }
  if (error != nullptr) {
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  GInputStream* stream =
      g_memory_input_stream_new_from_data(body, static_cast<gssize>(length), g_free);
  webkit_uri_scheme_request_finish(request, stream, static_cast<gint64>(length),
                                   contentType(relative));
  g_object_unref(stream);
}

void loadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  std::printf("page load finished: %s\n", webkit_web_view_get_uri(view));
  std::fflush(stdout);
}

gboolean stop(gpointer) {
  gtk_main_quit();
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: startup_reference <web directory>\n", stderr);
    return 2;
  }
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(&argc, &argv)) {
    std::fputs("startup_reference: cannot open the X11 display\n", stderr);
    return 1;
  }

  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  webkit_web_context_register_uri_scheme(context, "plumora", serve, argv[1], nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  webkit_security_manager_register_uri_scheme_as_secure(security, "plumora");
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, "plumora");

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), kWidth, kHeight);
  GtkWidget* view = webkit_web_view_new_with_context(context);
  g_object_unref(context);
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(view, "load-changed", G_CALLBACK(loadChanged), nullptr);
  for (const int signal : {SIGINT, SIGTERM}) g_unix_signal_add(signal, stop, nullptr);

  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), "plumora://local/index.html");
  gtk_widget_show_all(window);
  gtk_main();
  gtk_widget_destroy(window);
  return 0;
}
