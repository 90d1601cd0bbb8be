// Secret storage where no keyring answers. The in-memory double keeps the
// shared contract; the libsecret store must fail every call, and within its
// bound, both when the session bus names nothing and when it names a peer
// that accepts the connection and then stays silent (a hung bus, or a prompt
// nobody answers).

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "core/files.h"
#include "platform/headless/memory_secret_store.h"
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

// A Unix socket that queues connections and never answers them.
class SilentPeer {
 public:
  SilentPeer() : socket_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (dir_ / "bus").string();
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (!socket_ ||
        ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_.get(), 16) != 0) {
      return;
    }
    address_ = "unix:path=" + path;
  }

  const std::string& address() const { return address_; }

 private:
  TempDir dir_;
  FileDescriptor socket_;
  std::string address_;
};

// Runs one call of each kind on its own thread, all at once, and expects each
// to fail within `limit` of the start.
void expectAllFailWithin(LibsecretStore& store, std::chrono::milliseconds limit) {
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

// The session bus is looked up afresh after a failed connection, so each test
// can point the process at its own address.
TEST(WithoutSecretService, EveryCallFailsWhenTheBusNamesNothing) {
  TempDir dir;
  g_setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "none").string()).c_str(), TRUE);
  LibsecretStore store(5s);
  expectAllFailWithin(store, 5s);
}

// Each call waits for the ones before it, yet none takes longer than its bound
// from the moment it was made: four calls queued on a silent peer end together
// instead of one bound after another.
TEST(WithoutSecretService, CallsToASilentPeerEndAtTheirBound) {
  SilentPeer silent;
  ASSERT_FALSE(silent.address().empty());
  g_setenv("DBUS_SESSION_BUS_ADDRESS", silent.address().c_str(), TRUE);
  LibsecretStore store(700ms);
  expectAllFailWithin(store, 1600ms);
}

}  // namespace
}  // namespace glimmet::testing
