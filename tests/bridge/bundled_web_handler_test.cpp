#include "bridge/bundled_web_handler.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::failureOf;
using testing::spinMainUntil;
using testing::TempDir;
using testing::writeFile;

constexpr const char* kImageWork = "0A1B2C3D-0000-4000-8000-00000000000A";
constexpr const char* kVideoWork = "0A1B2C3D-0000-4000-8000-00000000000B";
const std::string kPreview = "plumora://local/history-preview/";

// Holds file work until the test runs it, so a task can be stopped in between.
struct HeldWork : Executor {
  void post(Work work) override { held.push_back(std::move(work)); }
  std::vector<Work> held;
};

struct RecordingTask : SchemeTask {
  explicit RecordingTask(std::string url) : target(std::move(url)) {}
  std::string url() const override { return target; }
  void respond(SchemeResponse response) override { events.push_back("200 " + response.body); }
  void fail(const LocalAgentFailure& failure) override { events.push_back(failure.message()); }
  std::string target;
  std::vector<std::string> events;
};

void seedWork(const fs::path& root, const std::string& id, const std::string& kind) {
  fs::create_directories(root / id);
  writeFile(root / id / "record.json", Json{{"id", id}, {"kind", kind}}.dump());
  writeFile(root / id / (kind == "video" ? "video.mp4" : "image.png"), kind + " bytes");
}

void sparseFile(const fs::path& path, std::uintmax_t size) {
  writeFile(path, "");
  fs::resize_file(path, size);
}

class BundledWebHandlerTest : public ::testing::Test {
 protected:
  BundledWebHandlerTest() {
    fs::create_directories(web / "assets");
    fs::create_directories(temp / "outside");
    writeFile(web / "index.html", "<html>");
    writeFile(web / "app.js", "js");
    writeFile(web / "font.WOFF2", "font");
    writeFile(web / "data.bin", "bin");
    writeFile(web / "assets" / "logo mark.svg", "svg");
    writeFile(temp / "outside" / "secret.txt", "secret");
    fs::create_directory_symlink(temp / "outside", web / "escape");
    fs::create_symlink("assets/logo mark.svg", web / "alias");
    sparseFile(web / "ceiling.bin", BundledWebHandler::kMaxResourceBytes);
    sparseFile(web / "big.js", BundledWebHandler::kMaxResourceBytes + 1);
    seedWork(temp / "history", kImageWork, "image");
    seedWork(temp / "history", kVideoWork, "video");
  }

  TempDir temp;
  fs::path web = temp / "resources" / "web";
  PlumoraHistory store{temp / "history"};
  HeldWork held;
  BundledWebHandler handler{store, temp / "resources" / "web", held};
};

TEST_F(BundledWebHandlerTest, RefusesEveryAddressOutsideItsFiles) {
  const std::pair<std::string, std::string> rows[] = {
      {"", "本地资源地址无效"},
      {"plumora://foreign/index.html", "本地资源地址无效"},
      {"plumora://local/app%2", "本地资源地址无效"},
      {"plumora://local/../outside/secret.txt", "本地资源越界"},
      {"plumora://local/assets/%2E%2E/%2e%2e/outside/secret.txt", "本地资源越界"},
      {"plumora://local/index.html%00.png", "本地资源越界"},
      {"plumora://local/escape/secret.txt", "本地资源越界"},
      {"plumora://local/.", "本地资源越界"},
      {"plumora://local/assets", "资源不存在或过大"},
      {"plumora://local/missing.js", "资源不存在或过大"},
      {"plumora://local/big.js", "资源不存在或过大"},
      {"plumora://local/" + std::string(300, 'a'), "资源不存在或过大"},
      {kPreview + kImageWork + "/thumb.png", "图片预览地址无效"},
      {kPreview + kImageWork + "/image.png/x", "图片预览地址无效"},
      {kPreview + "not-a-uuid/image.png", "作品编号无效"},
      {kPreview + kVideoWork + "/image.png", "不是图片资源"},
  };
  for (const auto& [url, message] : rows) {
    EXPECT_EQ(failureOf([&] { handler.resource(url); }), message) << url;
  }

  const BundledWebHandler unpackaged(store, {}, held);
  EXPECT_EQ(failureOf([&] { unpackaged.resource("plumora://local/"); }), "本地资源缺失");
}

TEST_F(BundledWebHandlerTest, ServesFilesWithTheirContentTypes) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"plumora://local", "text/html", "<html>"},
      {"plumora://local//index.html/?v=2#top", "text/html", "<html>"},
      {"plumora://local/app.js", "text/javascript", "js"},
      {"plumora://local/font.WOFF2", "font/woff2", "font"},
      {"plumora://local/data.bin", "application/octet-stream", "bin"},
      {"plumora://local/assets/logo%20mark.svg", "image/svg+xml", "svg"},
      {"plumora://local/alias", "image/svg+xml", "svg"},
      {kPreview + kImageWork + "/image.png", "image/png", "image bytes"},
  };
  for (const auto& [url, type, body] : rows) {
    const SchemeResponse response = handler.resource(url);
    EXPECT_EQ(response.contentType, type) << url;
    EXPECT_EQ(response.body, body) << url;
    const decltype(response.headers) headers = {{"Content-Type", type},
                                                {"Content-Length", std::to_string(body.size())},
                                                {"Access-Control-Allow-Origin", "*"},
                                                {"X-Content-Type-Options", "nosniff"}};
    EXPECT_EQ(response.headers, headers) << url;
  }
  EXPECT_EQ(handler.resource("plumora://local/ceiling.bin").body.size(),
            BundledWebHandler::kMaxResourceBytes);
}

TEST_F(BundledWebHandlerTest, AnswersOnlyTasksStillWanted) {
  auto stoppedEarly = std::make_shared<RecordingTask>("plumora://local/app.js");
  auto stoppedInFlight = std::make_shared<RecordingTask>("plumora://local/app.js");
  auto refused = std::make_shared<RecordingTask>("plumora://local/missing.js");
  handler.start(stoppedEarly);
  handler.stop(*stoppedEarly);
  handler.start(stoppedInFlight);
  handler.start(refused);
  for (auto& work : std::exchange(held.held, {})) work();
  handler.stop(*stoppedInFlight);

  // The real pool, answering on the main thread after the earlier answers.
  BundledWebHandler pooled(store, temp / "resources" / "web");
  auto served = std::make_shared<RecordingTask>("plumora://local/app.js");
  pooled.start(served);
  ASSERT_TRUE(spinMainUntil([&] { return !served->events.empty(); }));

  EXPECT_EQ(served->events, std::vector<std::string>{"200 js"});
  EXPECT_EQ(refused->events, std::vector<std::string>{"资源不存在或过大"});
  EXPECT_TRUE(stoppedEarly->events.empty());
  EXPECT_TRUE(stoppedInFlight->events.empty());
}

}  // namespace
}  // namespace glimmet
