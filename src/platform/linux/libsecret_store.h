#pragma once

// Generic passwords in the desktop's Secret Service (gnome-keyring, KeePassXC...)
// through libsecret. Items carry the attributes "service" and "account" under the
// schema "app.glimmet.Secret" and are created in the default collection.
//
// Every call is bounded: waiting for an earlier call and the service's answer
// (including an unlock prompt shown to the user) together take at most `bound`;
// then the operation is cancelled and reported as failed. Calls may come from
// any thread; they are served one at a time.

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "core/secret_store.h"

namespace glimmet {

class LibsecretStore : public SecretStore {
 public:
  // Long enough for a person to type the keyring password into an unlock prompt.
  static constexpr std::chrono::milliseconds kDefaultBound = std::chrono::seconds(30);

  explicit LibsecretStore(std::chrono::milliseconds bound = kDefaultBound);

  std::optional<std::string> read(const std::string& service, const std::string& account) override;
  UpdateStatus update(const std::string& service, const std::string& account,
                      const std::string& value) override;
  bool add(const std::string& service, const std::string& account,
           const std::string& value) override;
  bool remove(const std::string& service, const std::string& account) override;

 private:
  std::chrono::milliseconds bound_;
  std::timed_mutex serial_;
};

}  // namespace glimmet
