#pragma once

// Secrets kept in memory, for tests and the headless harness. Behaves like the
// desktop store (update never creates, add replaces, remove of a missing item
// succeeds, a service or account that is not UTF-8 is refused) and can be made to refuse, so
// callers' keychain-failure paths run. Safe to call from any thread.

#include <array>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "core/secret_store.h"

namespace glimmet {

class MemorySecretStore final : public SecretStore {
 public:
  enum class Operation { read, update, add, remove };

  std::optional<std::string> read(const std::string& service, const std::string& account) override;
  UpdateStatus update(const std::string& service, const std::string& account,
                      const std::string& value) override;
  bool add(const std::string& service, const std::string& account,
           const std::string& value) override;
  bool remove(const std::string& service, const std::string& account) override;

  // A refused operation fails as when no secret service answers (read: none,
  // update: failed, add and remove: false) and leaves the items untouched.
  void setRefused(Operation operation, bool refused);
  // Refuses or allows every operation at once.
  void setAvailable(bool available);

  // How many items are stored, whatever the refusals.
  std::size_t size() const;

 private:
  bool refused(Operation operation) const { return refused_[static_cast<std::size_t>(operation)]; }

  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, std::string> items_;
  std::array<bool, 4> refused_{};
};

}  // namespace glimmet
