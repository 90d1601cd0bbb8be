// The core building blocks: clocks and queues, user-perceived text, the
// encodings that cross trust boundaries, files and the user-defaults file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <latch>
#include <limits>
#include <ranges>
#include <thread>
#include <tuple>
#include <vector>

#include "core/base64.h"
#include "core/clock.h"
#include "core/defaults_store.h"
#include "core/digest.h"
#include "core/executors.h"
#include "core/files.h"
#include "core/json.h"
#include "core/text.h"
#include "core/uuid.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::TempDir;

TEST(MainLoopClock, FiresOnTheMainLoopUnlessCancelled) {
  MainLoopClock clock;
  const TimePoint start = clock.now();
  bool fired = false;
  bool cancelledFired = false;
  bool crossThreadFired = false;
  auto cancelled = clock.after(10ms, [&] { cancelledFired = true; });
  auto crossThread = clock.after(30ms, [&] { crossThreadFired = true; });
  clock.after(60ms, [&] { fired = true; });  // handle dropped: still runs
  cancelled->cancel();
  std::thread([&] { crossThread->cancel(); }).join();

  ASSERT_TRUE(testing::spinMainUntil([&] { return fired; }));
  EXPECT_GE(clock.now() - start, 50ms);
  EXPECT_FALSE(cancelledFired);
  EXPECT_FALSE(crossThreadFired);
}

TEST(MainQueue, RunsPostsFromAnyThreadInOrderOnTheLoopThreadNeverInsidePost) {
  std::vector<int> order;
  const auto loopThread = std::this_thread::get_id();
  std::atomic<bool> offThread{false};
  std::thread([&] {
    for (int i = 0; i < 100; ++i) {
      MainQueue::shared().post([&, i] {
        if (std::this_thread::get_id() != loopThread) offThread = true;
        order.push_back(i);
      });
    }
  }).join();
  bool ran = false;
  MainQueue::shared().post([&] { ran = true; });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(testing::spinMainUntil([&] { return ran; }));
  EXPECT_FALSE(offThread);
  EXPECT_TRUE(std::ranges::equal(order, std::views::iota(0, 100)));
}

TEST(SerialQueue, RunsOneAtATimeInOrder) {
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  {
    SerialQueue queue("app.plumora.history");
    for (int i = 0; i < 50; ++i) {
      queue.post([&, i] {
        if (running.fetch_add(1) != 0) overlapped = true;
        order.push_back(i);
        running.fetch_sub(1);
      });
    }
  }  // the destructor runs everything already queued
  EXPECT_FALSE(overlapped);
  EXPECT_TRUE(std::ranges::equal(order, std::views::iota(0, 50)));
}

TEST(GlobalPool, BlockingWorkDoesNotStarveLaterWork) {
  // Every item waits for all the others: this finishes only if they all run at once.
  constexpr int kItems = 24;
  std::latch allStarted(kItems);
  std::atomic<int> finished{0};
  for (int i = 0; i < kItems; ++i) {
    GlobalPool::shared().post([&] {
      allStarted.arrive_and_wait();
      finished.fetch_add(1);
    });
  }
  ASSERT_TRUE(testing::spinMainUntil([&] { return finished.load() == kItems; }));
}

TEST(Text, CountsAndCutsUserPerceivedCharacters) {
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // ZWJ sequence
  const std::pair<std::string, std::size_t> rows[] = {
      {"e\u0301", 1},                                   // combining accent
      {family, 1},                                      //
      {"\U0001F1E8\U0001F1F3\U0001F1EF\U0001F1F5", 2},  // two flags
      {"\xff\xfe", 2},                                  // invalid bytes count one each
  };
  for (const auto& [text, graphemes] : rows) EXPECT_EQ(text::graphemeCount(text), graphemes);
  EXPECT_EQ(text::graphemePrefix("ab" + family + "cd", 3), "ab" + family);
}

TEST(Text, TrimsAndFindsWhitespaceAndControlCharacters) {
  EXPECT_EQ(text::trimmed(" \t\r\n雨天 城市\u3000\u00A0\u2028\u0085"), "雨天 城市");
  EXPECT_EQ(text::trimmed("\u200Bx\u200B"), "\u200Bx\u200B");  // zero-width space is not white
  const std::tuple<const char*, bool, bool> rows[] = {
      // text, has white space or a line break, has a control character
      {"我的作品 2", true, false},   {"a\u3000", true, false},     {"x\u2029", true, false},
      {"模型\u200B", false, true},   {"a\x01", false, true},       {"x\u202Ey", false, true},
      {"gpt-image-1", false, false}, {"\U0001F600", false, false},
  };
  for (const auto& [text, white, control] : rows) {
    EXPECT_EQ(text::containsWhitespaceOrLineBreak(text), white) << text;
    EXPECT_EQ(text::containsControlCharacter(text), control) << text;
  }
}

TEST(Json, FailuresYieldNullAndHostileStringsStayInsideTheirLiteral) {
  EXPECT_EQ(json(Json{{"nested", {"ok", "\xc3"}}}), "null");
  EXPECT_EQ(json(Json{{"x", std::numeric_limits<double>::infinity()}}), "null");

  const std::string hostile = "'); alert(1); (\"\\</script>\u2028\u2029\n";
  const std::string text = json(hostile);
  for (const char* raw : {"\n", "\u2028", "\u2029", "</"}) {
    EXPECT_EQ(text.find(raw), std::string::npos) << raw;
  }
  EXPECT_NE(text.find("\\u2028"), std::string::npos);
  EXPECT_EQ(Json::parse(text), hostile);
}

TEST(Json, OutsideTextNestsNoDeeperThanTheLimit) {
  const auto arrays = [](std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  const std::pair<std::string, bool> rows[] = {
      {arrays(kMaxJsonDepth), true},
      {arrays(kMaxJsonDepth + 1), false},
      // Brackets inside a string, after an escaped quote, do not nest.
      {R"(["\")" + std::string(100'000, '[') + R"("])", true},
  };
  for (const auto& [text, accepted] : rows) {
    EXPECT_EQ(!parseJson(text).is_discarded(), accepted) << text.substr(0, 40);
  }
}

TEST(Base64, RoundTripsEveryTailAndRefusesNonCanonicalTextOverTheCeiling) {
  for (std::size_t size = 0; size < 4; ++size) {
    const Bytes bytes(size, 0xF7);
    EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes) << size;
  }
  EXPECT_EQ(base64Encode(Bytes{'M', 'a'}), "TWE=");
  for (const char* text : {"TWF", "TW E=", "TW=u", "T===", "TWF-", "TWE=TWFu", "TWF=", "TR=="}) {
    EXPECT_FALSE(base64Decode(text)) << text;
  }
  // The decoded size, one or two padding characters, against the ceiling.
  EXPECT_TRUE(base64Decode("TWFu", 3));
  EXPECT_FALSE(base64Decode("TWFu", 2));
  EXPECT_TRUE(base64Decode("TWE=", 2));
  EXPECT_TRUE(base64Decode("TQ==", 1));
}

TEST(Uuid, ParsesEitherCaseWritesUpperCaseAndRefusesOtherShapes) {
  const auto lower = Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
  ASSERT_TRUE(lower);
  EXPECT_EQ(lower->string(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
  for (const char* text :
       {"0f8fad5bd9cb469fa16570867728950e", "0f8fad5b-d9cb-469f-a165-70867728950e0",
        "0f8fad5b-d9cb-469f-a165-7086772895g0"}) {
    EXPECT_FALSE(Uuid::parse(text)) << text;
  }
  EXPECT_NE(Uuid::random(), Uuid::random());
}

TEST(Digest, MatchesAKnownVectorAndReadsFilesInBlocks) {
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  TempDir dir;
  // Larger than one block and not a multiple of it.
  std::string content(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
  testing::writeFile(dir / "big", content);
  EXPECT_EQ(sha256HexOfFile(dir / "big"), sha256Hex(content));
  EXPECT_FALSE(sha256HexOfFile(dir / "missing"));
}

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST(AtomicWrite, ReplacesContentPrivatelyAndOnFailureKeepsTheTarget) {
  TempDir dir;
  testing::writeFile(dir / "record.json", "old");
  writeFileAtomically(dir / "record.json", "new content");
  EXPECT_EQ(testing::readFile(dir / "record.json"), "new content");
  EXPECT_EQ(modeOf(dir / "record.json"), 0600u);

  fs::create_directory(dir / "taken");  // a directory cannot be replaced by a file
  testing::writeFile(dir / "taken" / "inside", "keep");
  EXPECT_THROW(writeFileAtomically(dir / "taken", "x"), LocalAgentFailure);
  EXPECT_EQ(testing::readFile(dir / "taken" / "inside"), "keep");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);  // no temporary left
}

TEST(PrivateDirectories, CreatesMissingLevelsPrivatelyAndKeepsExistingOnes) {
  TempDir dir;
  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", fs::perms(0755));
  const mode_t previous = ::umask(0);
  createPrivateDirectories(dir / "shared" / "a" / "b");
  ::umask(previous);
  EXPECT_EQ(modeOf(dir / "shared"), 0755u);
  EXPECT_EQ(modeOf(dir / "shared" / "a"), 0700u);
  EXPECT_EQ(modeOf(dir / "shared" / "a" / "b"), 0700u);
  testing::writeFile(dir / "file", "x");
  EXPECT_THROW(createPrivateDirectories(dir / "file" / "sub"), LocalAgentFailure);
}

TEST(BoundedRead, RefusesFilesOverTheCeiling) {
  TempDir dir;
  testing::writeFile(dir / "ten", std::string(10, 'x'));
  EXPECT_EQ(readFileBounded(dir / "ten", 10, "too big"), std::string(10, 'x'));
  EXPECT_EQ(testing::failureOf([&] { readFileBounded(dir / "ten", 9, "too big"); }), "too big");
}

TEST(ConfinedPath, KeepsPathsInsideTheirRootAfterResolvingLinks) {
  TempDir dir;
  const fs::path root = dir / "root";
  fs::create_directories(root / "work");
  fs::create_directory(dir / "root2");
  fs::create_directory(dir / "outside");
  fs::create_directory_symlink(dir / "outside", root / "escape");
  fs::create_directory_symlink(root / "work", root / "alias");
  const fs::path canonicalRoot = fs::canonical(root);

  EXPECT_EQ(confinedPath(root, root / "alias" / "x"), canonicalRoot / "work" / "x");
  EXPECT_EQ(confinedPath(root, root), canonicalRoot);
  EXPECT_FALSE(confinedPath(root, root / "escape" / "x"));
  EXPECT_FALSE(confinedPath(root, root / "work" / ".." / ".." / "root2"));
  EXPECT_FALSE(confinedPath(root, dir / "root2" / "x"));  // a sibling sharing the name prefix

  // A root reached through a link is judged by where it really is.
  fs::create_directory_symlink(root, dir / "link-to-root");
  EXPECT_EQ(confinedPath(dir / "link-to-root", root / "work"), canonicalRoot / "work");
}

TEST(DefaultsStore, TypedReadsTreatOtherTypesAsAbsentAndChangesPersistPrivately) {
  TempDir dir;
  const fs::path file = dir / "config" / "Glimmet" / "defaults.json";
  {
    DefaultsStore store(file);
    ASSERT_TRUE(store.set("code", 35));
    ASSERT_TRUE(store.set("float", 1.5));
    ASSERT_TRUE(store.set("gone", 1));
    ASSERT_TRUE(store.remove("gone"));
    EXPECT_FALSE(store.set("bad", "\xff"));  // JSON cannot carry it
  }
  DefaultsStore reopened(file);
  EXPECT_EQ(reopened.integer("code"), 35);
  EXPECT_FALSE(reopened.integer("float"));
  EXPECT_FALSE(reopened.value("gone"));
  EXPECT_FALSE(reopened.value("bad"));
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(modeOf(file.parent_path()), 0700u);
}

TEST(DefaultsStore, DamagedFileIsSetAsideNotOverwritten) {
  const std::string damaged = "{\"api.base\": ";
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
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(testing::readFile(aside.front()), damaged);
  EXPECT_EQ(DefaultsStore(dir / "defaults.json").string("api.model"), "m");
}

TEST(DefaultsStore, ConcurrentWritersLoseNothing) {
  TempDir dir;
  DefaultsStore store(dir / "defaults.json");
  {
    // Eight writers, each setting every eighth of 200 keys.
    std::vector<std::jthread> writers;
    for (int t = 0; t < 8; ++t) {
      writers.emplace_back([&store, t] {
        for (int i = t; i < 200; i += 8) store.set("k" + std::to_string(i), i);
      });
    }
  }
  DefaultsStore reopened(dir / "defaults.json");
  for (int i = 0; i < 200; ++i) EXPECT_EQ(reopened.integer("k" + std::to_string(i)), i);
}

}  // namespace
}  // namespace glimmet
