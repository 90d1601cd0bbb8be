#pragma once

// Helpers for the tests that need a display and a session bus (with-display.sh).

#include <gio/gio.h>

#include <functional>
#include <string>
#include <thread>

#include "core/glib_ptr.h"
#include "support/test_support.h"

namespace glimmet::testing {

// Initialises GTK once; false when no display can be opened.
bool gtkReady();

// A D-Bus service on the session bus, run on its own thread so that the code
// under test may call it synchronously from the main thread.
class FakeBusService {
 public:
  // Answers a method call: the reply's parameters (floating is fine), or null
  // for an UnknownMethod error.
  using Handler = std::function<GVariant*(const std::string& method, GVariant* parameters)>;

  // Owns `name` and serves `path` with the interface described by
  // `introspection` (D-Bus XML) before returning.
  FakeBusService(const std::string& name, const std::string& path, const std::string& introspection,
                 Handler handler);
  ~FakeBusService();
  FakeBusService(const FakeBusService&) = delete;
  FakeBusService& operator=(const FakeBusService&) = delete;

  void emitSignal(const std::string& interface, const std::string& member, GVariant* parameters);

 private:
  std::string path_;
  Handler handler_;
  GPtr<GMainContext, g_main_context_unref> context_;
  GPtr<GMainLoop, g_main_loop_unref> loop_;
  GObjectPtr<GDBusConnection> connection_;
  std::thread thread_;
};

}  // namespace glimmet::testing

#define GLIMMET_REQUIRE_DISPLAY()                                                     \
  do {                                                                                \
    if (!::glimmet::testing::gtkReady()) GLIMMET_PEER_MISSING("no X display (Xvfb)"); \
  } while (false)
