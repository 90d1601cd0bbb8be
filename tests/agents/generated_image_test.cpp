#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include "agents/local_agent_manager.h"
#include "agents/local_command.h"
#include "core/base64.h"
#include "core/failure.h"
#include "core/json.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::failureOf;

namespace fs = std::filesystem;
using testing::TempDir;

constexpr char kThread[] = "019b776b-15ea-722b-a96b-123456789abc";
constexpr char kOtherThread[] = "019b776b-15ea-722b-a96b-123456789abd";

std::string png() {
  const auto bytes = base64Decode(
      "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAFElEQVR4nGP4z8DAAMIM////"
      "ZwAAHu8E/KPItPcAAAAASUVORK5CYII=");
  return {bytes->begin(), bytes->end()};
}

std::string started(const std::string& id) {
  return R"({"type":"thread.started","thread_id":")" + id + "\"}";
}

TEST(ThreadIdTest, OnlyOneValidIdentifierCounts) {
  struct Row {
    std::string output;
    std::optional<std::string> id;
  };
  const std::vector<Row> rows = {
      {"not json\n" + started(kThread) + "\n{\"type\":\"turn.started\"}", kThread},
      {started(kThread) + "\n" + started(kThread), kThread},
      {started("../fake"), std::nullopt},
      {started(kThread) + "\n" + started(kOtherThread), std::nullopt},
      {started("../fake") + "\n" + started(kOtherThread), kOtherThread},
      {R"({"type":"thread.started","thread_id":7})", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(LocalAgentManager::threadID(row.output), row.id);
  EXPECT_FALSE(LocalAgentManager::validThreadID("019b776b15ea722ba96b123456789abc"));
  EXPECT_TRUE(LocalAgentManager::validThreadID("019B776B-15EA-722B-A96B-123456789ABC"));
}

class GeneratedImageTest : public ::testing::Test {
 protected:
  GeneratedImageTest() : task_(dir_ / "task"), codexHome_(dir_ / "codex") {
    fs::create_directories(task_);
    createdAt_ = fs::file_time_type::clock::now();
  }

  fs::path image(const fs::path& path, std::chrono::seconds age = std::chrono::seconds(0)) {
    fs::create_directories(path.parent_path());
    testing::writeFile(path, png());
    fs::last_write_time(path, createdAt_ - age);
    return path;
  }

  fs::path threadFolder() const { return codexHome_ / "generated_images" / kThread; }

  TempDir dir_;
  fs::path task_;
  fs::path codexHome_;
  fs::file_time_type createdAt_;
};

TEST_F(GeneratedImageTest, TaskFolderTakesTheNewestFreshImage) {
  EXPECT_FALSE(LocalAgentManager::ownTaskImage(task_, createdAt_));
  image(task_ / "generated_images/animated.gif");
  image(task_ / "generated_images/stale.png", std::chrono::seconds(10));
  EXPECT_FALSE(LocalAgentManager::ownTaskImage(task_, createdAt_));
  image(task_ / "generated_images/RESULT.PNG");
  const auto decoded = LocalAgentManager::ownTaskImage(task_, createdAt_);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 2);
}

TEST_F(GeneratedImageTest, LinkedTaskFolderIsRefused) {
  image(dir_ / "elsewhere/fresh.png");
  fs::create_directory_symlink(dir_ / "elsewhere", task_ / "generated_images");
  EXPECT_EQ(failureOf([&] { LocalAgentManager::ownTaskImage(task_, createdAt_); }),
            "本次生成目录包含异常链接，已拒绝读取。");
}

TEST_F(GeneratedImageTest, ThreadFolderRules) {
  const auto own = [&](const std::string& id) {
    return failureOf([&] { LocalAgentManager::ownThreadImage(id, codexHome_, createdAt_); });
  };
  EXPECT_EQ(own("../../other"), "生成任务编号无效。");
  EXPECT_EQ(own(kThread),
            "本次任务未返回真实图片。Agent 的文字答复不代表已经生图，请检查本机 Agent "
            "账号和模型能力。");

  image(threadFolder() / "stale.png", std::chrono::seconds(10));
  fs::create_symlink(image(dir_ / "planted.png"), threadFolder() / "image-gen-non-exec-call.png");
  EXPECT_EQ(own(kThread), "本次任务未返回真实图片。不会读取其他任务的历史图片。");

  image(threadFolder() / "fresh.webp.png");
  EXPECT_EQ(own(kThread), testing::kNoFailure);
  EXPECT_EQ(LocalAgentManager::ownThreadImage(kThread, codexHome_, createdAt_).height, 2);

  const fs::path other = codexHome_ / "generated_images" / kOtherThread;
  fs::create_directory_symlink(threadFolder(), other);
  EXPECT_EQ(own(kOtherThread), "生成目录包含异常链接，已拒绝读取。");
}

TEST_F(GeneratedImageTest, DiagnosticsKeepEventsAndTheLastMessage) {
  std::string output = "plain text line\n" + started(kThread) + "\n";
  output +=
      R"({"type":"item.completed","item":{"type":"agent_message","status":"done","text":"first"}})";
  output += "\n";
  output += R"({"type":"item.completed","item":{"type":"agent_message","text":"最后的答复"}})";
  output += "\n";
  for (int i = 0; i < 500; ++i)
    output += R"({"type":"turn.progress"})"
              "\n";
  LocalAgentManager::saveDiagnostics(LocalCommandResult{3, output, false, true}, task_);

  const fs::path file = task_ / "diagnostics.json";
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);
  const Json saved = Json::parse(testing::readFile(file));
  EXPECT_EQ(saved["status"], 3);
  EXPECT_EQ(saved["cancelled"], false);
  EXPECT_EQ(saved["timedOut"], true);
  EXPECT_EQ(saved["finalMessage"], "最后的答复");
  ASSERT_EQ(saved["events"].size(), 200U);
  EXPECT_EQ(saved["events"][0], (Json{{"type", "thread.started"}}));
  EXPECT_EQ(saved["events"][1],
            (Json{{"type", "item.completed"}, {"itemType", "agent_message"}, {"status", "done"}}));
}

}  // namespace
}  // namespace glimmet
