// The libsecret store against a real Secret Service: gnome-keyring-daemon on a
// private session bus, started by with-keyring.sh.

#include "platform/linux/libsecret_store.h"

#include <gio/gio.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "core/glib_ptr.h"
#include "secret_store_contract.h"

namespace glimmet::testing {
namespace {

constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr const char* kSecretsPath = "/org/freedesktop/secrets";

// One method call to the Secret Service on the session bus; none on failure.
GVariantPtr callSecrets(const char* path, const char* interface, const char* method,
                        GVariant* parameters, const char* replyType,
                        std::string* failure = nullptr) {
  GError* raw = nullptr;
  GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw));
  GVariantPtr reply;
  if (bus) {
    reply.reset(g_dbus_connection_call_sync(bus.get(), kSecretsName, path, interface, method,
                                            parameters, G_VARIANT_TYPE(replyType),
                                            G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &raw));
  } else if (parameters != nullptr) {
    g_variant_unref(g_variant_ref_sink(parameters));
  }
  GErrorPtr error(raw);
  if (error && failure != nullptr) *failure = error->message;
  return reply;
}

std::string defaultCollectionPath(std::string* failure = nullptr) {
  const GVariantPtr reply = callSecrets(kSecretsPath, "org.freedesktop.Secret.Service", "ReadAlias",
                                        g_variant_new("(s)", "default"), "(o)", failure);
  if (!reply) return "";
  const gchar* path = nullptr;
  g_variant_get(reply.get(), "(&o)", &path);
  return path;
}

std::optional<std::string> findPrivateKeyring() {
  if (std::getenv("GLIMMET_TEST_KEYRING_PASSWORD") == nullptr) {
    return "needs the private keyring of tests/platform/linux/with-keyring.sh (the user's own keyring "
           "is never used)";
  }
  std::string failure;
  const std::string path = defaultCollectionPath(&failure);
  if (path.empty()) return "no Secret Service answers: " + failure;
  if (path == "/") return "the Secret Service has no default collection";
  return std::nullopt;
}

// Locks the default collection while it lives. Nothing on the private bus can
// show a password prompt, so unlocking through the service is refused; the
// destructor unlocks with the keyring password through gnome-keyring's
// prompt-free interface.
class LockedDefaultCollection {
 public:
  LockedDefaultCollection() : path_(defaultCollectionPath()) {
    const char* paths[] = {path_.c_str(), nullptr};
    locked_ = callSecrets(kSecretsPath, "org.freedesktop.Secret.Service", "Lock",
                          g_variant_new("(^ao)", paths), "(aoo)") != nullptr;
  }

  ~LockedDefaultCollection() {
    const GVariantPtr session =
        callSecrets(kSecretsPath, "org.freedesktop.Secret.Service", "OpenSession",
                    g_variant_new("(sv)", "plain", g_variant_new_string("")), "(vo)");
    if (!session) return;
    const gchar* sessionPath = nullptr;
    g_variant_get(session.get(), "(v&o)", nullptr, &sessionPath);
    const std::string password = std::getenv("GLIMMET_TEST_KEYRING_PASSWORD");
    GVariant* secret = g_variant_new(
        "(o@ay@ays)", sessionPath, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password.data(), password.size(), 1),
        "text/plain");
    callSecrets(kSecretsPath, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                "UnlockWithMasterPassword", g_variant_new("(o@(oayays))", path_.c_str(), secret),
                "()");
    callSecrets(sessionPath, "org.freedesktop.Secret.Session", "Close", nullptr, "()");
  }

  bool locked() const { return locked_; }

 private:
  std::string path_;
  bool locked_ = false;
};

const std::optional<std::string>& privateKeyringMissing() {
  static const std::optional<std::string> missing = findPrivateKeyring();
  return missing;
}

struct LibsecretSetup {
  static std::optional<std::string> missingPeer() { return privateKeyringMissing(); }
  static std::unique_ptr<SecretStore> make() { return std::make_unique<LibsecretStore>(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Libsecret, SecretStoreContract, LibsecretSetup);

class LibsecretStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto& missing = privateKeyringMissing()) GLIMMET_PEER_MISSING(*missing);
  }

  const std::string service_ = "app.glimmet.test." + std::to_string(g_random_int());
};

// An item the user does not unlock stays as it is, and no call may claim
// otherwise: above all, remove must not report it gone.
TEST_F(LibsecretStoreTest, LockedItemsAreNeitherChangedNorReportedGone) {
  LibsecretStore store;
  ASSERT_TRUE(store.add(service_, "primary", "token"));
  {
    LockedDefaultCollection locked;
    ASSERT_TRUE(locked.locked());
    EXPECT_FALSE(store.remove(service_, "primary"));
    EXPECT_EQ(store.update(service_, "primary", "other"), SecretStore::UpdateStatus::failed);
    EXPECT_FALSE(store.add(service_, "primary", "other"));
    EXPECT_EQ(store.read(service_, "primary"), std::nullopt);
  }
  EXPECT_EQ(store.read(service_, "primary"), "token");
}

TEST_F(LibsecretStoreTest, ServesCallsFromManyThreads) {
  LibsecretStore store;
  constexpr int kThreads = 6;
  constexpr int kRounds = 4;
  std::vector<std::jthread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&store, this, t] {
      const std::string own = "thread-" + std::to_string(t);
      for (int round = 0; round < kRounds; ++round) {
        const std::string value = own + "-" + std::to_string(round);
        EXPECT_TRUE(store.add(service_, own, value));
        EXPECT_EQ(store.read(service_, own), value);
        EXPECT_EQ(store.update(service_, own, value + "-updated"),
                  SecretStore::UpdateStatus::updated);
        EXPECT_EQ(store.read(service_, own), value + "-updated");
        EXPECT_TRUE(store.add(service_, "shared", value));
      }
      EXPECT_TRUE(store.remove(service_, own));
      EXPECT_EQ(store.read(service_, own), std::nullopt);
    });
  }
  workers.clear();

  std::set<std::string> written;
  for (int t = 0; t < kThreads; ++t) {
    written.insert("thread-" + std::to_string(t) + "-" + std::to_string(kRounds - 1));
  }
  const auto shared = store.read(service_, "shared");
  ASSERT_TRUE(shared);
  EXPECT_TRUE(written.contains(*shared)) << *shared << " is not any thread's last value";
}

}  // namespace
}  // namespace glimmet::testing
