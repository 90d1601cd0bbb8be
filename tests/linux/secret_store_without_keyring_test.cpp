// Secret storage where no keyring works: the in-memory double, and the
// libsecret store on a private session bus where the Secret Service is absent
// or never answers.

#include <gio/gio.h>
#include <libsecret/secret.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/headless/memory_secret_store.h"
#include "platform/linux/glib_ptr.h"
#include "platform/linux/libsecret_store.h"
#include "secret_store_contract.h"

namespace glimmet::testing {
namespace {

using namespace std::chrono_literals;
using Status = SecretStore::UpdateStatus;

struct MemorySetup {
  static std::optional<std::string> missingPeer() { return std::nullopt; }
  static std::unique_ptr<SecretStore> make() { return std::make_unique<MemorySecretStore>(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, SecretStoreContract, MemorySetup);

TEST(MemorySecretStore, RefusalsFailCallsButKeepItems) {
  MemorySecretStore store;
  ASSERT_TRUE(store.add("service", "kept", "value"));

  store.setAvailable(false);
  EXPECT_EQ(store.read("service", "kept"), std::nullopt);
  EXPECT_EQ(store.update("service", "kept", "other"), Status::failed);
  EXPECT_FALSE(store.add("service", "new", "value"));
  EXPECT_FALSE(store.remove("service", "kept"));
  EXPECT_EQ(store.size(), 1u);

  // Only adding refused: the path where a missing item cannot be created.
  store.setAvailable(true);
  store.setRefused(MemorySecretStore::Operation::add, true);
  EXPECT_EQ(store.update("service", "new", "value"), Status::notFound);
  EXPECT_FALSE(store.add("service", "new", "value"));
  EXPECT_EQ(store.read("service", "kept"), "value");
}

// dbus-daemon with the test configuration: nothing is started on demand, so
// no Secret Service exists unless a test provides one.
class PrivateBus {
 public:
  PrivateBus() {
    GError* raw = nullptr;
    daemon_.reset(g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, &raw, "dbus-daemon", "--nofork",
                                   "--nopidfile", "--print-address",
                                   "--config-file=" GLIMMET_TEST_BUS_CONFIG, nullptr));
    GErrorPtr error(raw);
    if (!daemon_) {
      problem_ = "cannot start dbus-daemon: " + std::string(error->message);
      return;
    }
    GObjectPtr<GDataInputStream> output(
        g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_.get())));
    GTextPtr line(g_data_input_stream_read_line(output.get(), nullptr, nullptr, nullptr));
    if (!line || *line == '\0') {
      problem_ = "dbus-daemon printed no address";
      return;
    }
    address_ = line.get();
  }

  ~PrivateBus() {
    if (!daemon_) return;
    g_subprocess_force_exit(daemon_.get());
    g_subprocess_wait(daemon_.get(), nullptr, nullptr);
  }

  const std::string& address() const { return address_; }
  const std::string& problem() const { return problem_; }

 private:
  GObjectPtr<GSubprocess> daemon_;
  std::string address_;
  std::string problem_;
};

// Owns the Secret Service's bus name and swallows every call to it, like a
// service that hangs or a prompt nobody answers.
class SilentSecretService {
 public:
  explicit SilentSecretService(const std::string& address) {
    GError* raw = nullptr;
    connection_.reset(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &raw));
    GErrorPtr connectError(raw);
    if (!connection_) return;
    g_dbus_connection_add_filter(connection_.get(), swallowCalls, nullptr, nullptr);
    GVariantPtr reply(g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 4u /* do not queue */),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &raw));
    GErrorPtr requestError(raw);
    guint32 result = 0;
    if (reply) g_variant_get(reply.get(), "(u)", &result);
    owner_ = result == 1;  // primary owner
  }

  ~SilentSecretService() {
    if (connection_) g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
  }

  bool owner() const { return owner_; }

 private:
  static GDBusMessage* swallowCalls(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                    gpointer) {
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
      g_object_unref(message);
      return nullptr;
    }
    return message;
  }

  GObjectPtr<GDBusConnection> connection_;
  bool owner_ = false;
};

class WithoutSecretService : public ::testing::Test {
 protected:
  // The process's session bus is chosen once, at its first use, so every test
  // here shares one private bus, set up before anything connects.
  static void SetUpTestSuite() {
    bus_ = std::make_unique<PrivateBus>();
    if (!bus_->address().empty()) {
      g_setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), TRUE);
    }
  }

  static void TearDownTestSuite() {
    secret_service_disconnect();
    // The shared connection would otherwise end the process when its bus goes.
    if (!bus_->address().empty()) {
      GObjectPtr<GDBusConnection> session(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
      if (session) g_dbus_connection_set_exit_on_close(session.get(), FALSE);
    }
    bus_.reset();
  }

  void SetUp() override {
    if (!bus_->problem().empty()) GLIMMET_PEER_MISSING(bus_->problem());
  }

  // Runs one call of each kind on its own thread, all at once, and expects each
  // to fail within `limit` of the start.
  static void expectAllFailWithin(LibsecretStore& store, std::chrono::milliseconds limit) {
    const auto start = std::chrono::steady_clock::now();
    const auto within = [&] { return std::chrono::steady_clock::now() - start < limit; };
    std::vector<std::jthread> calls;
    calls.emplace_back([&] {
      EXPECT_EQ(store.read("app.glimmet.test", "account"), std::nullopt);
      EXPECT_TRUE(within()) << "read";
    });
    calls.emplace_back([&] {
      EXPECT_EQ(store.update("app.glimmet.test", "account", "v"), Status::failed);
      EXPECT_TRUE(within()) << "update";
    });
    calls.emplace_back([&] {
      EXPECT_FALSE(store.add("app.glimmet.test", "account", "v"));
      EXPECT_TRUE(within()) << "add";
    });
    calls.emplace_back([&] {
      EXPECT_FALSE(store.remove("app.glimmet.test", "account"));
      EXPECT_TRUE(within()) << "remove";
    });
  }

  static inline std::unique_ptr<PrivateBus> bus_;
};

TEST_F(WithoutSecretService, EveryCallFailsWhenNoServiceIsOnTheBus) {
  LibsecretStore store(5s);
  expectAllFailWithin(store, 5s);
}

// Each call waits for the ones before it, yet none takes longer than its bound
// from the moment it was made: four calls queued on a silent service end
// together instead of one bound after another.
TEST_F(WithoutSecretService, CallsToASilentServiceEndAtTheirBound) {
  SilentSecretService silent(bus_->address());
  ASSERT_TRUE(silent.owner());
  LibsecretStore store(700ms);
  expectAllFailWithin(store, 1600ms);
}

}  // namespace
}  // namespace glimmet::testing
