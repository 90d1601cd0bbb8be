#include "platform/gtk/display_support.h"

#include <gst/gst.h>
#include <gtk/gtk.h>

#include <future>
#include <stdexcept>

namespace glimmet::testing {

bool gtkReady() {
  static const bool ready = gtk_init_check(nullptr, nullptr);
  return ready;
}

bool encodeRedClip(const std::filesystem::path& file) {
  if (!gst_init_check(nullptr, nullptr, nullptr)) return false;
  const std::string description =
      "videotestsrc num-buffers=15 pattern=red ! video/x-raw,width=160,height=120,framerate=15/1 "
      "! videoconvert ! openh264enc ! h264parse ! mp4mux ! filesink location=\"" +
      file.string() + "\"";
  GError* raw = nullptr;
  GPtr<GstElement, gst_object_unref> pipeline(gst_parse_launch(description.c_str(), &raw));
  GErrorPtr error(raw);
  if (!pipeline || error) return false;
  gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
  GPtr<GstBus, gst_object_unref> bus(gst_element_get_bus(pipeline.get()));
  GPtr<GstMessage, gst_message_unref> end(
      gst_bus_timed_pop_filtered(bus.get(), 10 * GST_SECOND,
                                 static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  return end && GST_MESSAGE_TYPE(end.get()) == GST_MESSAGE_EOS;
}

GtkWidget* findNamedWidget(GtkWidget* widget, const char* name) {
  if (g_strcmp0(gtk_widget_get_name(widget), name) == 0) return widget;
  if (!GTK_IS_CONTAINER(widget)) return nullptr;
  GPtr<GList, g_list_free> children(gtk_container_get_children(GTK_CONTAINER(widget)));
  for (GList* child = children.get(); child != nullptr; child = child->next) {
    if (GtkWidget* found = findNamedWidget(GTK_WIDGET(child->data), name)) return found;
  }
  return nullptr;
}

namespace {

// Quits the service's loop and waits for its thread to end.
void stopServiceThread(GMainLoop* loop, GMainContext* context, std::thread& thread) {
  // Through the service's own context: a quit before its loop runs would be lost.
  GPtr<GSource, g_source_unref> quit(g_idle_source_new());
  g_source_set_callback(
      quit.get(),
      [](gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      loop, nullptr);
  g_source_attach(quit.get(), context);
  thread.join();
}

}  // namespace

FakeBusService::FakeBusService(const std::string& name, const std::string& path,
                               const std::string& introspection, Handler handler)
    : path_(path), handler_(std::move(handler)) {
  std::promise<bool> owned;
  std::future<bool> ownedResult = owned.get_future();
  context_.reset(g_main_context_new());
  loop_.reset(g_main_loop_new(context_.get(), FALSE));
  thread_ = std::thread([this, name, introspection, &owned] {
    g_main_context_push_thread_default(context_.get());
    GTextPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    connection_.reset(g_dbus_connection_new_for_address_sync(
        address.get(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
    GPtr<GDBusNodeInfo, g_dbus_node_info_unref> node(
        g_dbus_node_info_new_for_xml(introspection.c_str(), nullptr));
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
          GVariant* reply = static_cast<FakeBusService*>(self)->handler_(method, parameters);
          if (reply != nullptr) {
            g_dbus_method_invocation_return_value(invocation, reply);
          } else {
            g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR,
                                                  G_DBUS_ERROR_UNKNOWN_METHOD, "unknown");
          }
        },
        nullptr,
        nullptr,
        {}};
    const bool registered =
        connection_ && node &&
        g_dbus_connection_register_object(connection_.get(), path_.c_str(), node->interfaces[0],
                                          &vtable, this, nullptr, nullptr) != 0;
    // Queued rather than refused: the previous test's service may still hold
    // the name until the bus has seen its connection close.
    const guint owner = registered
                            ? g_bus_own_name_on_connection(
                                  connection_.get(), name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                  [](GDBusConnection*, const gchar*, gpointer result) {
                                    static_cast<std::promise<bool>*>(result)->set_value(true);
                                  },
                                  nullptr, &owned, nullptr)
                            : 0;
    if (owner == 0) owned.set_value(false);
    if (owner != 0) g_main_loop_run(loop_.get());
    if (owner != 0) g_bus_unown_name(owner);
    g_main_context_pop_thread_default(context_.get());
  });
  if (ownedResult.wait_for(std::chrono::seconds(10)) != std::future_status::ready ||
      !ownedResult.get()) {
    stopServiceThread(loop_.get(), context_.get(), thread_);
    throw std::runtime_error("could not own " + name + " on the session bus");
  }
}

FakeBusService::~FakeBusService() {
  stopServiceThread(loop_.get(), context_.get(), thread_);
  if (connection_) g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
}

void FakeBusService::emitSignal(const std::string& interface, const std::string& member,
                                GVariant* parameters) {
  g_dbus_connection_emit_signal(connection_.get(), nullptr, path_.c_str(), interface.c_str(),
                                member.c_str(), parameters, nullptr);
  g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
}

}  // namespace glimmet::testing
