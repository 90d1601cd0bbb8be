#pragma once

// Generic passwords kept by the desktop's secret service, one item per
// (service, account). Secrets never go anywhere else: when no secret service
// answers, reads fail and writes report failure; there is no file fallback.
// Calls may block on the service, so callers keep them off the main thread
// where their flow allows; implementations bound every call.

#include <optional>
#include <string>

namespace glimmet {

class SecretStore {
 public:
  enum class UpdateStatus { updated, notFound, failed };

  virtual ~SecretStore() = default;

  // The stored value; none when the item is missing or cannot be read.
  virtual std::optional<std::string> read(const std::string& service,
                                          const std::string& account) = 0;
  // Replaces the value of an existing item; never creates one.
  virtual UpdateStatus update(const std::string& service, const std::string& account,
                              const std::string& value) = 0;
  // Creates the item (replacing an existing one); answers whether it was stored.
  virtual bool add(const std::string& service, const std::string& account,
                   const std::string& value) = 0;
  // Deletes the item; answers true when it is gone afterwards (also when it never existed).
  virtual bool remove(const std::string& service, const std::string& account) = 0;
};

}  // namespace glimmet
