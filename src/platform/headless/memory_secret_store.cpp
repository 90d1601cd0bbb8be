#include "platform/headless/memory_secret_store.h"

#include <glib.h>

namespace glimmet {
namespace {

// As in the desktop store: a service or account that is not UTF-8, or holds a
// NUL byte, cannot name an item.
bool validKey(const std::string& text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

bool validKeys(const std::string& service, const std::string& account) {
  return validKey(service) && validKey(account);
}

}  // namespace

std::optional<std::string> MemorySecretStore::read(const std::string& service,
                                                   const std::string& account) {
  std::lock_guard lock(mutex_);
  if (refused(Operation::read) || !validKeys(service, account)) return std::nullopt;
  const auto item = items_.find({service, account});
  if (item == items_.end()) return std::nullopt;
  return item->second;
}

SecretStore::UpdateStatus MemorySecretStore::update(const std::string& service,
                                                    const std::string& account,
                                                    const std::string& value) {
  std::lock_guard lock(mutex_);
  if (refused(Operation::update) || !validKeys(service, account)) return UpdateStatus::failed;
  const auto item = items_.find({service, account});
  if (item == items_.end()) return UpdateStatus::notFound;
  item->second = value;
  return UpdateStatus::updated;
}

bool MemorySecretStore::add(const std::string& service, const std::string& account,
                            const std::string& value) {
  std::lock_guard lock(mutex_);
  if (refused(Operation::add) || !validKeys(service, account)) return false;
  items_[{service, account}] = value;
  return true;
}

bool MemorySecretStore::remove(const std::string& service, const std::string& account) {
  std::lock_guard lock(mutex_);
  if (refused(Operation::remove) || !validKeys(service, account)) return false;
  items_.erase({service, account});
  return true;
}

void MemorySecretStore::setRefused(Operation operation, bool refused) {
  std::lock_guard lock(mutex_);
  refused_[static_cast<std::size_t>(operation)] = refused;
}

void MemorySecretStore::setAvailable(bool available) {
  std::lock_guard lock(mutex_);
  refused_.fill(!available);
}

std::size_t MemorySecretStore::size() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

}  // namespace glimmet
