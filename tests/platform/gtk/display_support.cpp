#include "platform/gtk/display_support.h"

#include <gtk/gtk.h>

#include <future>
#include <stdexcept>

namespace glimmet::testing {

bool gtkReady() {
  static const bool ready = gtk_init_check(nullptr, nullptr);
  return ready;
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
          if (reply != nullptr) return g_dbus_method_invocation_return_value(invocation, reply);
          g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR,
                                                G_DBUS_ERROR_UNKNOWN_METHOD, "unknown");
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
