#include "platform/linux/libsecret_store.h"

#include <libsecret/secret.h>

#include <condition_variable>
#include <memory>
#include <thread>

#include "core/glib_ptr.h"

namespace glimmet {
namespace {

using ValuePtr = GPtr<SecretValue, secret_value_unref>;

SecretSchema makeSchema() {
  SecretSchema schema{};
  schema.name = "app.glimmet.Secret";
  schema.flags = SECRET_SCHEMA_NONE;  // items match by schema name as well as attributes
  schema.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
  schema.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
  return schema;
}

const SecretSchema* glimmetSchema() {
  static const SecretSchema schema = makeSchema();
  return &schema;
}

// D-Bus carries attributes as UTF-8 strings. libsecret drops a call with other
// text without ever completing it, so its sync call would never return (the
// cancellable does not help); and text cut at a NUL byte names another item.
bool validKey(const std::string& text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

GHashTablePtr attributesFor(const std::string& service, const std::string& account) {
  return GHashTablePtr(secret_attributes_build(glimmetSchema(), "service", service.c_str(),
                                               "account", account.c_str(), nullptr));
}

// The value's bytes are kept as given; the content type only tells keyring
// managers whether they may show it as text.
ValuePtr secretFor(const std::string& value) {
  const char* type = validKey(value) ? "text/plain" : "application/octet-stream";
  return ValuePtr(secret_value_new(value.data(), static_cast<gssize>(value.size()), type));
}

void logFailure(const char* operation, const char* reason) {
  g_log("glimmet", G_LOG_LEVEL_DEBUG, "keychain %s failed: %s", operation, reason);
}

// Every item of the service and account in any collection, unlocked where the
// user allows it; an item left locked makes the change that follows fail.
GObjectListPtr findItems(const std::string& service, const std::string& account,
                         GCancellable* cancellable, GErrorPtr& error) {
  GError* raw = nullptr;
  GObjectListPtr items(secret_service_search_sync(
      nullptr, glimmetSchema(), attributesFor(service, account).get(),
      static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK), cancellable, &raw));
  error.reset(raw);
  return items;
}

// One call to the service: it waits for its turn no longer than the deadline,
// and a watchdog cancels the libsecret operation when the deadline passes.
class BoundedCall {
 public:
  BoundedCall(std::timed_mutex& serial, std::chrono::milliseconds bound)
      : deadline_(std::chrono::steady_clock::now() + bound), turn_(serial, deadline_) {
    if (!turn_.owns_lock()) return;
    watchdog_ = std::jthread(
        [deadline = deadline_, cancellable = cancellable_.get()](const std::stop_token& finished) {
          std::mutex mutex;
          std::condition_variable_any wake;
          std::unique_lock lock(mutex);
          // Returns when the call finished (stop requested) or at the deadline.
          wake.wait_until(lock, finished, deadline, [] { return false; });
          if (!finished.stop_requested()) g_cancellable_cancel(cancellable);
        });
  }

  bool admitted() const { return turn_.owns_lock(); }
  GCancellable* cancellable() const { return cancellable_.get(); }

 private:
  std::chrono::steady_clock::time_point deadline_;
  std::unique_lock<std::timed_mutex> turn_;
  GObjectPtr<GCancellable> cancellable_{g_cancellable_new()};
  std::jthread watchdog_;  // last member: stopped and joined before the cancellable goes
};

// Runs `body` with the cancellable of one bounded call, or answers `refused`
// when the key cannot name an item or the call never got its turn.
template <typename R, typename Body>
R boundedCall(std::timed_mutex& serial, std::chrono::milliseconds bound, const char* operation,
              const std::string& service, const std::string& account, R refused, Body&& body) {
  if (!validKey(service) || !validKey(account)) return refused;
  BoundedCall call(serial, bound);
  if (!call.admitted()) {
    logFailure(operation, "timed out waiting for an earlier call");
    return refused;
  }
  return body(call.cancellable());
}

}  // namespace

LibsecretStore::LibsecretStore(std::chrono::milliseconds bound) : bound_(bound) {}

std::optional<std::string> LibsecretStore::read(const std::string& service,
                                                const std::string& account) {
  return boundedCall(
      serial_, bound_, "read", service, account, std::optional<std::string>(),
      [&](GCancellable* cancellable) -> std::optional<std::string> {
        GError* raw = nullptr;
        ValuePtr value(secret_service_lookup_sync(
            nullptr, glimmetSchema(), attributesFor(service, account).get(), cancellable, &raw));
        GErrorPtr error(raw);
        if (error) {
          logFailure("read", error->message);
          return std::nullopt;
        }
        if (!value) return std::nullopt;
        gsize length = 0;
        const gchar* data = secret_value_get(value.get(), &length);
        return std::string(data, length);
      });
}

SecretStore::UpdateStatus LibsecretStore::update(const std::string& service,
                                                 const std::string& account,
                                                 const std::string& value) {
  return boundedCall(serial_, bound_, "update", service, account, UpdateStatus::failed,
                     [&](GCancellable* cancellable) {
                       // Setting the secret of the items found never creates one, unlike storing.
                       GErrorPtr searchError;
                       const GObjectListPtr items =
                           findItems(service, account, cancellable, searchError);
                       if (searchError) {
                         logFailure("update", searchError->message);
                         return UpdateStatus::failed;
                       }
                       if (!items) return UpdateStatus::notFound;
                       // Every match gets the value, so a later read cannot pick a stale duplicate.
                       const ValuePtr secret = secretFor(value);
                       for (GList* node = items.get(); node != nullptr; node = node->next) {
                         GError* raw = nullptr;
                         const bool set = secret_item_set_secret_sync(
                             static_cast<SecretItem*>(node->data), secret.get(), cancellable, &raw);
                         GErrorPtr setError(raw);
                         if (!set) {
                           logFailure("update", setError ? setError->message : "no reason given");
                           return UpdateStatus::failed;
                         }
                       }
                       return UpdateStatus::updated;
                     });
}

bool LibsecretStore::add(const std::string& service, const std::string& account,
                         const std::string& value) {
  return boundedCall(
      serial_, bound_, "add", service, account, false, [&](GCancellable* cancellable) {
        const std::string label = "Glimmet: " + service + " (" + account + ")";
        GError* raw = nullptr;
        // Storing replaces an item with the same attributes in the collection.
        const bool stored = secret_service_store_sync(
            nullptr, glimmetSchema(), attributesFor(service, account).get(),
            SECRET_COLLECTION_DEFAULT, label.c_str(), secretFor(value).get(), cancellable, &raw);
        GErrorPtr error(raw);
        if (!stored) logFailure("add", error ? error->message : "no reason given");
        return stored;
      });
}

bool LibsecretStore::remove(const std::string& service, const std::string& account) {
  return boundedCall(
      serial_, bound_, "remove", service, account, false, [&](GCancellable* cancellable) {
        // Deleting the items found: clearing by attributes skips locked items, and
        // would report an item that stays in a locked keyring as gone.
        GErrorPtr searchError;
        const GObjectListPtr items = findItems(service, account, cancellable, searchError);
        if (searchError) {
          logFailure("remove", searchError->message);
          return false;
        }
        for (GList* node = items.get(); node != nullptr; node = node->next) {
          GError* raw = nullptr;
          const bool deleted =
              secret_item_delete_sync(static_cast<SecretItem*>(node->data), cancellable, &raw);
          GErrorPtr deleteError(raw);
          if (!deleted) {
            logFailure("remove", deleteError ? deleteError->message : "no reason given");
            return false;
          }
        }
        return true;
      });
}

}  // namespace glimmet
