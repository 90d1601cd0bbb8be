// The libsecret store against a real Secret Service: gnome-keyring-daemon on a
// private session bus, started by with-keyring.sh.

#include "platform/linux/libsecret_store.h"

#include <gio/gio.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "core/glib_ptr.h"
#include "support/test_support.h"

namespace glimmet::testing {
namespace {

constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr const char* kSecretsPath = "/org/freedesktop/secrets";
constexpr const char* kDefaultCollection = "/org/freedesktop/secrets/aliases/default";

// One method call to the Secret Service on the session bus; none on failure.
GVariantPtr callSecrets(const char* path, const char* interface, const char* method,
                        GVariant* parameters, const char* replyType) {
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
  const GErrorPtr failure(raw);  // a failed call answers no reply
  return reply;
}

// Locks the default collection while it lives. Nothing on the private bus can
// show a password prompt, so unlocking through the service is refused; the
// destructor unlocks with the keyring password through gnome-keyring's
// prompt-free interface.
class LockedDefaultCollection {
 public:
  LockedDefaultCollection() {
    const char* paths[] = {kDefaultCollection, nullptr};
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
                "UnlockWithMasterPassword",
                g_variant_new("(o@(oayays))", kDefaultCollection, secret), "()");
    callSecrets(sessionPath, "org.freedesktop.Secret.Session", "Close", nullptr, "()");
  }

  bool locked() const { return locked_; }

 private:
  bool locked_ = false;
};

class LibsecretStoreTest : public ::testing::Test {
 protected:
  using Status = SecretStore::UpdateStatus;

  // with-keyring.sh starts the keyring with an unlocked default collection;
  // the user's own keyring is never used.
  void SetUp() override {
    if (std::getenv("GLIMMET_TEST_KEYRING_PASSWORD") == nullptr) {
      GLIMMET_PEER_MISSING("needs the private keyring of tests/platform/linux/with-keyring.sh");
    }
  }

  // A service name no other test (nor an earlier run on the same keyring) uses.
  const std::string service_ = "app.glimmet.test." + std::to_string(g_random_int());
  LibsecretStore store_;
};

// Add replaces, update never creates, and removing a missing item counts as
// done: it is gone either way. Values come back byte for byte (a NUL first,
// bytes that are not UTF-8).
TEST_F(LibsecretStoreTest, StoresUpdatesAndRemoves) {
  const std::string account = "https://images.example.com/v1";
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte) everyByte.push_back(static_cast<char>(byte));
  EXPECT_EQ(store_.read(service_, account), std::nullopt);
  EXPECT_TRUE(store_.remove(service_, account));
  EXPECT_EQ(store_.update(service_, account, "sk-0"), Status::notFound);
  EXPECT_EQ(store_.read(service_, account), std::nullopt);

  ASSERT_TRUE(store_.add(service_, account, "sk-1"));
  ASSERT_TRUE(store_.add(service_, account, everyByte));
  EXPECT_EQ(store_.read(service_, account), everyByte);
  EXPECT_EQ(store_.update(service_, account, "密钥-🔑\xff"), Status::updated);
  EXPECT_EQ(store_.read(service_, account), "密钥-🔑\xff");

  EXPECT_TRUE(store_.remove(service_, account));
  EXPECT_EQ(store_.read(service_, account), std::nullopt);
}

// Accounts that are prefixes of one another, one account under two services,
// and an account that cut at its NUL byte would name another item.
TEST_F(LibsecretStoreTest, KeepsEachServiceAndAccountApart) {
  const std::vector<std::pair<std::string, std::string>> keys = {
      {service_, "https://a.example.com/v1"},
      {service_, "https://a.example.com/v1/extra"},
      {service_ + ".cloud", "https://a.example.com/v1"},
  };
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_TRUE(store_.add(keys[i].first, keys[i].second, "value-" + std::to_string(i)));
  }
  EXPECT_EQ(store_.update(keys[0].first, keys[0].second, "changed"), Status::updated);
  EXPECT_TRUE(store_.remove(keys[1].first, keys[1].second));
  const std::string nul = keys[0].second + std::string("\0x", 2);
  EXPECT_EQ(store_.read(service_, nul), std::nullopt);
  EXPECT_EQ(store_.update(service_, nul, "v"), Status::failed);
  EXPECT_FALSE(store_.add(service_, nul, "v"));
  EXPECT_FALSE(store_.remove(service_, nul));

  EXPECT_EQ(store_.read(keys[0].first, keys[0].second), "changed");
  EXPECT_EQ(store_.read(keys[1].first, keys[1].second), std::nullopt);
  EXPECT_EQ(store_.read(keys[2].first, keys[2].second), "value-2");
}

// An item the user does not unlock stays as it is, and no call may claim
// otherwise: above all, remove must not report it gone.
TEST_F(LibsecretStoreTest, LockedItemsAreNeitherChangedNorReportedGone) {
  ASSERT_TRUE(store_.add(service_, "primary", "token"));
  {
    LockedDefaultCollection locked;
    ASSERT_TRUE(locked.locked());
    EXPECT_FALSE(store_.remove(service_, "primary"));
    EXPECT_EQ(store_.update(service_, "primary", "other"), Status::failed);
    EXPECT_FALSE(store_.add(service_, "primary", "other"));
    EXPECT_EQ(store_.read(service_, "primary"), std::nullopt);
  }
  EXPECT_EQ(store_.read(service_, "primary"), "token");
}

TEST_F(LibsecretStoreTest, ServesCallsFromManyThreads) {
  std::vector<std::jthread> workers;
  for (int t = 0; t < 6; ++t) {
    workers.emplace_back([this, t] {
      const std::string own = "thread-" + std::to_string(t);
      for (int round = 0; round < 4; ++round) {
        EXPECT_TRUE(store_.add(service_, own, own + "-" + std::to_string(round)));
        EXPECT_EQ(store_.read(service_, own), own + "-" + std::to_string(round));
        EXPECT_TRUE(store_.add(service_, "shared", own));
      }
    });
  }
  workers.clear();
  const auto shared = store_.read(service_, "shared");
  ASSERT_TRUE(shared);
  EXPECT_TRUE(shared->size() == 8 && shared->starts_with("thread-")) << *shared;
}

}  // namespace
}  // namespace glimmet::testing
