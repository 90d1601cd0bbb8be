#pragma once

// Behaviour every SecretStore shares, run against the libsecret store and the
// in-memory double alike so the double cannot drift from the real thing.
//
// A setup type supplies the store:
//   static std::optional<std::string> missingPeer();  // why the store cannot run, if so
//   static std::unique_ptr<SecretStore> make();

#include <glib.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/secret_store.h"
#include "support/test_support.h"

namespace glimmet::testing {

template <typename Setup>
class SecretStoreContract : public ::testing::Test {
 protected:
  using Status = SecretStore::UpdateStatus;

  void SetUp() override {
    if (const auto missing = Setup::missingPeer()) GLIMMET_PEER_MISSING(*missing);
    store_ = Setup::make();
  }

  SecretStore& store() { return *store_; }

  // A service name no other test (nor an earlier run on the same keyring) uses.
  std::string service(const std::string& role) const {
    return "app.glimmet.test." + role + "." + prefix_;
  }

 private:
  std::unique_ptr<SecretStore> store_;
  std::string prefix_ = std::to_string(g_random_int());
};

TYPED_TEST_SUITE_P(SecretStoreContract);

TYPED_TEST_P(SecretStoreContract, StoresReadsAndRemoves) {
  auto& store = this->store();
  const auto service = this->service("api");
  const std::string account = "https://images.example.com/v1";

  EXPECT_EQ(store.read(service, account), std::nullopt);
  EXPECT_TRUE(store.remove(service, account)) << "removing a missing item leaves it gone";

  ASSERT_TRUE(store.add(service, account, "sk-first"));
  EXPECT_EQ(store.read(service, account), "sk-first");
  ASSERT_TRUE(store.add(service, account, "sk-second")) << "add replaces an existing item";
  EXPECT_EQ(store.read(service, account), "sk-second");

  EXPECT_TRUE(store.remove(service, account));
  EXPECT_EQ(store.read(service, account), std::nullopt);
  EXPECT_EQ(store.update(service, account, "sk-third"), SecretStore::UpdateStatus::notFound);
}

TYPED_TEST_P(SecretStoreContract, UpdateChangesOnlyExistingItems) {
  auto& store = this->store();
  const auto service = this->service("session");

  EXPECT_EQ(store.update(service, "primary", "token-1"), SecretStore::UpdateStatus::notFound);
  EXPECT_EQ(store.read(service, "primary"), std::nullopt) << "update must not create";

  ASSERT_TRUE(store.add(service, "primary", "token-1"));
  EXPECT_EQ(store.update(service, "primary", "token-2"), SecretStore::UpdateStatus::updated);
  EXPECT_EQ(store.read(service, "primary"), "token-2");
}

TYPED_TEST_P(SecretStoreContract, KeepsEachServiceAndAccountApart) {
  auto& store = this->store();
  struct Key {
    std::string service, account;
  };
  // Accounts that are prefixes of one another, and the same account under two services.
  const std::vector<Key> keys = {
      {this->service("api"), "https://a.example.com/v1"},
      {this->service("api"), "https://a.example.com/v1/extra"},
      {this->service("api"), "https://a.example.com"},
      {this->service("cloud"), "https://a.example.com/v1"},
  };
  for (size_t i = 0; i < keys.size(); ++i) {
    ASSERT_TRUE(store.add(keys[i].service, keys[i].account, "value-" + std::to_string(i)));
  }
  EXPECT_EQ(store.update(keys[0].service, keys[0].account, "changed"),
            SecretStore::UpdateStatus::updated);
  EXPECT_TRUE(store.remove(keys[1].service, keys[1].account));

  EXPECT_EQ(store.read(keys[0].service, keys[0].account), "changed");
  EXPECT_EQ(store.read(keys[1].service, keys[1].account), std::nullopt);
  EXPECT_EQ(store.read(keys[2].service, keys[2].account), "value-2");
  EXPECT_EQ(store.read(keys[3].service, keys[3].account), "value-3");
}

TYPED_TEST_P(SecretStoreContract, ValuesComeBackByteForByte) {
  auto& store = this->store();
  const auto service = this->service("bytes");
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte) everyByte.push_back(static_cast<char>(byte));
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"chinese and emoji", "密钥-🔑-значение"}, {"embedded NUL", std::string("before\0after", 12)},
      {"not UTF-8", "\xff\xfe\x80 \xc3"},       {"every byte value", everyByte},
      {"8 KiB", std::string(8192, 'k')},
  };
  for (const auto& [name, value] : rows) {
    ASSERT_TRUE(store.add(service, name, value)) << name;
    EXPECT_EQ(store.read(service, name), value) << name;
  }
  // Update replaces the bytes as faithfully as add does.
  ASSERT_EQ(store.update(service, "not UTF-8", everyByte), SecretStore::UpdateStatus::updated);
  EXPECT_EQ(store.read(service, "not UTF-8"), everyByte);
}

TYPED_TEST_P(SecretStoreContract, RefusesKeysThatCannotNameAnItem) {
  auto& store = this->store();
  const auto service = this->service("keys");
  ASSERT_TRUE(store.add(service, "account", "kept"));
  // Cut at its NUL byte this account would read "account".
  const std::vector<std::pair<std::string, std::string>> rows = {
      {service, std::string("account\0other", 13)},
      {service, "acc\xffount"},
      {service + std::string("\0x", 2), "account"},
  };
  for (const auto& [badService, badAccount] : rows) {
    EXPECT_EQ(store.read(badService, badAccount), std::nullopt);
    EXPECT_EQ(store.update(badService, badAccount, "v"), SecretStore::UpdateStatus::failed);
    EXPECT_FALSE(store.add(badService, badAccount, "v"));
    EXPECT_FALSE(store.remove(badService, badAccount));
  }
  EXPECT_EQ(store.read(service, "account"), "kept");
}

REGISTER_TYPED_TEST_SUITE_P(SecretStoreContract, StoresReadsAndRemoves,
                            UpdateChangesOnlyExistingItems, KeepsEachServiceAndAccountApart,
                            ValuesComeBackByteForByte, RefusesKeysThatCannotNameAnItem);

}  // namespace glimmet::testing
