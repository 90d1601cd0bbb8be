#include "platform/gtk/display_support.h"

#include <gtk/gtk.h>

#include <future>
#include <stdexcept>

namespace glimmet::testing {

bool gtkReady() {
  static const bool ready = gtk_init_check(nullptr, nullptr);
  return ready;
}

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
    GVariantPtr request(registered
                            ? g_dbus_connection_call_sync(
                                  connection_.get(), "org.freedesktop.DBus",
                                  "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                                  g_variant_new("(su)", name.c_str(), 4u), G_VARIANT_TYPE("(u)"),
                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr)
                            : nullptr);
    guint32 answer = 0;
    if (request) g_variant_get(request.get(), "(u)", &answer);
    const bool primaryOwner = answer == 1;
    owned.set_value(primaryOwner);
    if (primaryOwner) g_main_loop_run(loop_.get());
    g_main_context_pop_thread_default(context_.get());
  });
  if (!ownedResult.get()) {
    thread_.join();
    throw std::runtime_error("could not own " + name + " on the session bus");
  }
}

FakeBusService::~FakeBusService() {
  // Through the service's own context: a quit before its loop runs would be lost.
  GPtr<GSource, g_source_unref> quit(g_idle_source_new());
  g_source_set_callback(
      quit.get(),
      [](gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      loop_.get(), nullptr);
  g_source_attach(quit.get(), context_.get());
  thread_.join();
  if (connection_) g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
}

void FakeBusService::emitSignal(const std::string& interface, const std::string& member,
                                GVariant* parameters) {
  g_dbus_connection_emit_signal(connection_.get(), nullptr, path_.c_str(), interface.c_str(),
                                member.c_str(), parameters, nullptr);
  g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
}

}  // namespace glimmet::testing
