// The user-defaults file: typed reads, persistence, damage and concurrency.
#include "core/defaults_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace glimmet {
namespace {
namespace fs = std::filesystem;
using testing::TempDir;

TEST(DefaultsStore, TypedReadsTreatOtherTypesAsAbsent) {
  TempDir dir;
  DefaultsStore store(dir / "defaults.json");
  ASSERT_TRUE(store.set("api.base", "https://example.com/v1"));
  ASSERT_TRUE(store.set("api.hasKey", true));
  ASSERT_TRUE(store.set("code", 35));
  ASSERT_TRUE(store.set("shortcut.normal", Json{{"code", 35}}));
  ASSERT_TRUE(store.set("list", Json::array({1})));
  ASSERT_TRUE(store.set("float", 1.5));

  EXPECT_EQ(store.integer("code"), 35);
  EXPECT_TRUE(store.dictionary("shortcut.normal"));

  EXPECT_FALSE(store.string("api.hasKey"));
  EXPECT_FALSE(store.boolean("api.base"));
  EXPECT_FALSE(store.integer("float"));
  EXPECT_FALSE(store.integer("api.hasKey"));
  EXPECT_FALSE(store.dictionary("list"));
  EXPECT_FALSE(store.array("shortcut.normal"));
}

TEST(DefaultsStore, ChangesSurviveARestartAndTheFileIsPrivate) {
  TempDir dir;
  const fs::path file = dir / "config" / "Glimmet" / "defaults.json";
  {
    DefaultsStore store(file);
    ASSERT_TRUE(store.set("api.model", "gpt-image-1"));
    ASSERT_TRUE(store.set("gone", 1));
    ASSERT_TRUE(store.remove("gone"));
  }
  DefaultsStore reopened(file);
  EXPECT_EQ(reopened.string("api.model"), "gpt-image-1");
  EXPECT_FALSE(reopened.value("gone"));
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(file.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST(DefaultsStore, DamagedFileIsSetAsideNotOverwritten) {
  for (const char* damaged : {"{\"api.base\": ", "[1,2]", "\xff\xfe"}) {
    TempDir dir;
    testing::writeFile(dir / "defaults.json", damaged);
    DefaultsStore store(dir / "defaults.json");
    EXPECT_FALSE(store.value("api.base"));
    ASSERT_TRUE(store.set("api.model", "m"));

    std::vector<fs::path> aside;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      if (entry.path().filename().string().starts_with("defaults.json.corrupt-"))
        aside.push_back(entry.path());
    }
    ASSERT_EQ(aside.size(), 1u) << damaged;
    EXPECT_EQ(testing::readFile(aside.front()), damaged);
    EXPECT_EQ(DefaultsStore(dir / "defaults.json").string("api.model"), "m");
  }
}

TEST(DefaultsStore, RefusesValuesJsonCannotCarryWithoutHarmingOthers) {
  TempDir dir;
  DefaultsStore store(dir / "defaults.json");
  EXPECT_FALSE(store.set("bad", "\xff"));
  EXPECT_FALSE(store.value("bad"));
  EXPECT_TRUE(store.set("good", "ok"));
  EXPECT_EQ(DefaultsStore(dir / "defaults.json").string("good"), "ok");
}

TEST(DefaultsStore, ConcurrentWritersLoseNothing) {
  TempDir dir;
  DefaultsStore store(dir / "defaults.json");
  std::vector<std::thread> writers;
  for (int t = 0; t < 8; ++t) {
    writers.emplace_back([&store, t] {
      for (int i = 0; i < 25; ++i) store.set("k" + std::to_string(t) + "." + std::to_string(i), i);
    });
  }
  for (auto& writer : writers) writer.join();
  DefaultsStore reopened(dir / "defaults.json");
  for (int t = 0; t < 8; ++t) {
    for (int i = 0; i < 25; ++i)
      EXPECT_EQ(reopened.integer("k" + std::to_string(t) + "." + std::to_string(i)), i);
  }
}

}  // namespace
}  // namespace glimmet
