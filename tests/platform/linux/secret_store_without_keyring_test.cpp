// The libsecret store where no keyring answers: the session bus names a peer
// that accepts the connection and then stays silent (a hung bus, or a prompt
// nobody answers). Every call must fail, and within its bound.

#include <glib.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "core/files.h"
#include "platform/linux/libsecret_store.h"
#include "support/test_support.h"

namespace glimmet::testing {
namespace {

using namespace std::chrono_literals;
using Status = SecretStore::UpdateStatus;

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

// Each call waits for the ones before it, yet none takes longer than its bound
// from the moment it was made: four calls queued on a silent peer end together
// instead of one bound after another.
TEST(WithoutSecretService, CallsToASilentPeerFailAtTheirBound) {
  SilentPeer silent;
  ASSERT_FALSE(silent.address().empty());
  g_setenv("DBUS_SESSION_BUS_ADDRESS", silent.address().c_str(), TRUE);
  LibsecretStore store(700ms);
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::function<bool()>> calls = {
      [&] { return store.read("app.glimmet.test", "account") == std::nullopt; },
      [&] { return store.update("app.glimmet.test", "account", "v") == Status::failed; },
      [&] { return !store.add("app.glimmet.test", "account", "v"); },
      [&] { return !store.remove("app.glimmet.test", "account"); },
  };
  std::vector<std::jthread> threads;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    threads.emplace_back([&, i] {
      EXPECT_TRUE(calls[i]()) << "call " << i;
      EXPECT_LT(std::chrono::steady_clock::now() - start, 1600ms) << "call " << i;
    });
  }
}

}  // namespace
}  // namespace glimmet::testing
