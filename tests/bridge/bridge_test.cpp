// The bridge's own parts: which pages may use it and which posted bodies
// become requests, the packaged files and previews it serves, the media
// actions (video player, file panel, clipboard) behind the page's requests,
// and the injected script, run in node against a minimal fake page (events
// reaching the page are checked with the real page in the desktop tests).
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bridge/bridge_actions.h"
#include "bridge/bridge_message.h"
#include "bridge/bridge_script.h"
#include "bridge/bundled_web_handler.h"
#include "bridge/media_actions.h"
#include "core/bridge_reply.h"
#include "core/files.h"
#include "core/glib_ptr.h"
#include "core/json.h"
#include "history/history_fixtures.h"
#include "history/plumora_history.h"
#include "imaging/image_gate.h"
#include "platform/headless/headless_clipboard.h"
#include "platform/headless/headless_file_panels.h"
#include "platform/headless/headless_video_player.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using namespace testing;
constexpr const char* kImageWork = kWorkA;
constexpr const char* kVideoWork = kWorkB;

TEST(BridgeTrust, OnlyThePackagedOriginAsWritten) {
  const struct {
    const char* url;
    bool trusted;
  } rows[] = {
      {"plumora://local/index.html", true},
      {"plumora://local", true},
      {"plumora://local?x", true},
      {"plumora://local#y", true},
      {"plumora://local:8080/index.html", false},
      {"plumora://localhost/", false},
      {"plumora://local/\nx", false},
      {"", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(trusted(std::string_view(row.url)), row.trusted) << row.url;
  EXPECT_FALSE(trusted(std::nullopt));
}

TEST(BridgeEnvelope, AcceptsWellFormedRequestsOnly) {
  constexpr const char* kPage = "plumora://local/index.html";
  const struct {
    const char* frame;
    bool main;
    const char* body;
    bool accepted;
  } rows[] = {
      {kPage, true, R"({"id":3,"action":"pin","value":{"enabled":false}})", true},
      {kPage, true, R"({"id":-4,"action":"hide","extra":1})", true},
      {kPage, true, R"({"id":9223372036854775807,"action":"hide"})", true},
      {kPage, false, R"({"id":1,"action":"hide"})", false},
      {kPage, true, R"({"id":"1","action":"hide"})", false},
      {kPage, true, R"({"id":1.0,"action":"hide"})", false},
      {kPage, true, R"({"id":9223372036854775808,"action":"hide"})", false},
      {kPage, true, R"({"action":"hide"})", false},
      {kPage, true, R"({"id":1,"action":"readClipboard"})", false},
  };
  for (const auto& row : rows) {
    const auto message =
        acceptedMessage(std::string_view(row.frame), row.main, Json::parse(row.body));
    EXPECT_EQ(message.has_value(), row.accepted) << row.frame << " " << row.main << " " << row.body;
  }
  EXPECT_FALSE(acceptedMessage(std::nullopt, true, Json::parse(R"({"id":1,"action":"hide"})")));
}

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
    sparseFile(web / "ceiling.bin", BundledWebHandler::kMaxResourceBytes);
    sparseFile(web / "big.js", BundledWebHandler::kMaxResourceBytes + 1);
    seedWork(temp / "history", kImageWork, "image bytes");
    seedWork(temp / "history", kVideoWork, "video", "2026-01-01T00:00:00Z", "video");
  }

  TempDir temp;
  fs::path web = temp / "resources" / "web";
  PlumoraHistory store{temp / "history"};
  HeldWork held;
  BundledWebHandler handler{store, temp / "resources" / "web", held};
};

TEST_F(BundledWebHandlerTest, RefusesEveryAddressOutsideItsFiles) {
  // An over-large file is refused on its size alone, without being opened.
  const FileDescriptor opens(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  ASSERT_GE(::inotify_add_watch(opens.get(), (web / "big.js").c_str(), IN_OPEN), 0);
  const std::pair<std::string, std::string> rows[] = {
      {"plumora://foreign/index.html", "本地资源地址无效"},
      {"plumora://local/app%2", "本地资源地址无效"},
      {"plumora://local/assets/%2E%2E/%2e%2e/outside/secret.txt", "本地资源越界"},
      {"plumora://local/index.html%00.png", "本地资源越界"},
      {"plumora://local/escape/secret.txt", "本地资源越界"},
      {"plumora://local/assets", "资源不存在或过大"},
      {"plumora://local/missing.js", "资源不存在或过大"},
      {"plumora://local/big.js", "资源不存在或过大"},
      {"plumora://local/" + std::string(300, 'a'), "资源不存在或过大"},
      {kPreview + kImageWork + "/thumb.png", "图片预览地址无效"},
      {kPreview + "not-a-uuid/image.png", "作品编号无效"},
      {kPreview + kVideoWork + "/image.png", "不是图片资源"},
  };
  for (const auto& [url, message] : rows) {
    EXPECT_EQ(failureOf([&] { handler.resource(url); }), message) << url;
  }
  char events[4096];
  EXPECT_LT(::read(opens.get(), events, sizeof events), 0) << "big.js was opened";

  const BundledWebHandler unpackaged(store, {}, held);
  EXPECT_EQ(failureOf([&] { unpackaged.resource("plumora://local/"); }), "本地资源缺失");
}

TEST_F(BundledWebHandlerTest, ServesFilesWithTheirContentTypes) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"plumora://local", "text/html", "<html>"},
      {"plumora://local/font.WOFF2", "font/woff2", "font"},
      {"plumora://local/data.bin", "application/octet-stream", "bin"},
      {"plumora://local/assets/logo%20mark.svg", "image/svg+xml", "svg"},
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

// The answers arrive on the main thread, after the file work.
TEST_F(BundledWebHandlerTest, AnswersOnlyTasksStillWanted) {
  auto served = std::make_shared<RecordingTask>("plumora://local/app.js");
  auto stopped = std::make_shared<RecordingTask>("plumora://local/app.js");
  auto refused = std::make_shared<RecordingTask>("plumora://local/missing.js");
  for (const auto& task : {served, stopped, refused}) handler.start(task);
  for (auto& work : std::exchange(held.held, {})) work();
  handler.stop(*stopped);
  ASSERT_TRUE(spinMainUntil([&] { return !served->events.empty() && !refused->events.empty(); }));

  EXPECT_EQ(served->events, std::vector<std::string>{"200 js"});
  EXPECT_EQ(refused->events, std::vector<std::string>{"资源不存在或过大"});
  EXPECT_TRUE(stopped->events.empty());
}

constexpr const char* kOtherVideo = kWorkC;

std::string repeated(const std::string& piece, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += piece;
  return text;
}

class MediaActionsTest : public ::testing::Test {
 protected:
  MediaActionsTest() {
    seedWork(root, kVideoWork, "mp4", "2026-01-01T00:00:00Z", "video");
    seedWork(root, kOtherVideo, "mp4", "2026-01-02T00:00:00Z", "video");
    imageWork = store.save({{"image", pngDataUrl(4, 4)}, {"prompt", "p"}})["id"];
  }

  // Sends one request and answers the script that settled it, written for
  // message 0; "" when nothing settled it yet.
  std::string call(void (MediaActions::*action)(std::int64_t, const Json&), const Json& value) {
    (actions.*action)(++nextId, value);
    return settled(nextId);
  }
  std::string settled(std::int64_t id) const {
    const auto found = replies.find(id);
    return found == replies.end() ? "" : found->second.script(0);
  }
  static std::string resolved(const std::string& text) {
    return "window.__plumoraResolve(0," + text + ");";
  }
  static std::string rejected(const std::string& message) {
    return "window.__plumoraReject(0,\"" + message + "\");";
  }
  Json video(const std::string& id, double x, double y, double width, double height) const {
    return {{"id", id}, {"x", x}, {"y", y}, {"width", width}, {"height", height}};
  }

  MediaActions::Host host() {
    MediaActions::Host host;
    host.webViewSize = [] { return MediaActions::WebViewSize{748, 740}; };
    host.beginFilePanel = [this] { return !std::exchange(panelOpen, true); };
    host.endFilePanel = [this] { panelOpen = false; };
    return host;
  }

  TempDir temp;
  fs::path root = temp / "history";
  PlumoraHistory store{root};
  std::string imageWork;
  HeadlessClipboard clipboard;
  HeadlessFilePanels panels;
  HeadlessVideoPlayer player;
  bool panelOpen = false;
  std::map<std::int64_t, BridgeReply> replies;
  std::int64_t nextId = 0;
  MediaActions actions{store,
                       clipboard,
                       panels,
                       player,
                       host(),
                       [this](std::int64_t id, const BridgeReply& reply) {
                         replies.insert_or_assign(id, reply); }};
};

TEST_F(MediaActionsTest, LibraryVideoRefusesBadFramesAndWorks) {
  // The far edges have one point of slack.
  EXPECT_EQ(call(&MediaActions::libraryVideo, video(kVideoWork, 700, 640, 49, 101)),
            resolved("true"));
  // Refused requests leave that player as it was.
  const struct {
    Json value;
    std::string message;
  } rows[] = {
      {video(kVideoWork, 0, 0, 1, 100), "视频预览位置无效"},
      {video(kVideoWork, 700, 0, 49.5, 100), "视频预览位置无效"},
      {video(kVideoWork, 0, 641, 100, 100.5), "视频预览位置无效"},
      {video(imageWork, 0, 0, 100, 100), "不是视频资源"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(call(&MediaActions::libraryVideo, row.value), rejected(row.message)) << row.value;
  }
  ASSERT_TRUE(player.current());
  EXPECT_EQ(player.current()->file, root / kVideoWork / "video.mp4");
  EXPECT_EQ(player.current()->frame, (PageRect{700, 640, 49, 101}));
  EXPECT_EQ(actions.libraryVideoId(), kVideoWork);
  EXPECT_FALSE(player.isPlaying());
}

TEST_F(MediaActionsTest, OnePlayerMovedReplacedPausedAndCleared) {
  call(&MediaActions::libraryVideo, video(kVideoWork, 10, 20, 300, 200));
  EXPECT_EQ(call(&MediaActions::libraryVideo, video(kVideoWork, 40, 50, 320, 180)),
            resolved("true"));
  EXPECT_EQ(player.showCount(), 1);
  EXPECT_EQ(player.moveCount(), 1);
  EXPECT_EQ(player.current()->frame, (PageRect{40, 50, 320, 180}));

  player.setRate(1, 0.5);
  actions.pauseLibraryVideo();
  EXPECT_FALSE(player.isPlaying());
  EXPECT_TRUE(player.current());

  call(&MediaActions::libraryVideo, video(kOtherVideo, 0, 0, 100, 100));
  EXPECT_EQ(player.showCount(), 2);
  EXPECT_EQ(player.current()->file, root / kOtherVideo / "video.mp4");

  EXPECT_EQ(call(&MediaActions::libraryVideo, nullptr), resolved("true"));
  EXPECT_FALSE(player.current());
  EXPECT_FALSE(actions.libraryVideoId());
}

TEST_F(MediaActionsTest, SaveImageHoldsTheFilePanelSlot) {
  const std::string image = pngDataUrl(5, 3);

  EXPECT_EQ(call(&MediaActions::saveImage, 42), rejected("图片格式无效或超过 10 MB。"));
  panelOpen = true;
  EXPECT_EQ(call(&MediaActions::saveImage, image), rejected("请先完成当前文件选择"));
  panelOpen = false;

  EXPECT_EQ(call(&MediaActions::saveImage, image), "");
  EXPECT_TRUE(panelOpen);
  panels.cancel();
  EXPECT_EQ(settled(nextId), resolved("false"));
  EXPECT_FALSE(panelOpen);

  const fs::path target = temp / "out" / "saved.png";
  fs::create_directories(target.parent_path());
  writeFile(target, "old");
  call(&MediaActions::saveImage, image);
  panels.answerSave(target);
  EXPECT_EQ(settled(nextId), resolved("true"));
  const Bytes png = image_gate::decodeImage(image).data;
  EXPECT_EQ(readFile(target), std::string(png.begin(), png.end()));
  EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), {}), 1);

  call(&MediaActions::saveImage, image);
  panels.answerSave(temp / "missing" / "saved.png");
  EXPECT_EQ(settled(nextId).rfind("window.__plumoraReject(0,", 0), 0u) << settled(nextId);
  EXPECT_FALSE(panelOpen);
}

TEST_F(MediaActionsTest, CopyAnswersWhetherTheClipboardTookIt) {
  const std::string image = pngDataUrl(2, 2);
  const std::string base64 = image.substr(image.find(',') + 1);
  EXPECT_EQ(call(&MediaActions::copyImage, "data:text/plain;base64," + base64), resolved("false"));
  EXPECT_EQ(call(&MediaActions::copyText, repeated("字", 50'001)), resolved("false"));
  EXPECT_EQ(clipboard.writeCount(), 0);

  EXPECT_EQ(call(&MediaActions::copyImage, image), resolved("true"));
  EXPECT_TRUE(clipboard.image());
  EXPECT_EQ(call(&MediaActions::copyText, repeated("字", 50'000)), resolved("true"));
  clipboard.setAccepting(false);
  EXPECT_EQ(call(&MediaActions::copyText, "x"), resolved("false"));
}

TEST_F(MediaActionsTest, ClipboardAnswersAtMostItsFirstCharacters) {
  EXPECT_EQ(call(&MediaActions::clipboard, nullptr), resolved("\"\""));
  // "é" written as e and a combining accent is one character of three bytes.
  clipboard.writeText(repeated("e\xCC\x81", 5'000));
  EXPECT_EQ(call(&MediaActions::clipboard, nullptr),
            resolved("\"" + repeated("e\xCC\x81", 3'000) + "\""));
}

class BridgeScriptPage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!node) GLIMMET_PEER_MISSING("node is not on PATH");
  }

  // Runs the bridge script built from `values`, then `driver` (an async
  // function body); answers the driver's JSON result.
  Json runPage(const BridgeScriptValues& values, const std::string& driver) const {
    TempDir dir;
    writeFile(dir / "bridge.js", bridgeScript(values));
    writeFile(dir / "driver.js", driver);
    const std::string bridge = dir / "bridge.js", script = dir / "driver.js";
    const char* argv[] = {node.get(), GLIMMET_BRIDGE_TEST_DIR "/bridge_page_harness.js",
                          bridge.c_str(), script.c_str(), nullptr};
    gchar* out = nullptr;
    gint status = 0;
    const bool ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DEFAULT,
                                  nullptr, nullptr, &out, nullptr, &status, nullptr);
    const GTextPtr output(out);
    if (!ran || !g_spawn_check_wait_status(status, nullptr))
      throw std::runtime_error("page script failed: " + std::string(out ? out : ""));
    return Json::parse(out);
  }

  const GTextPtr node{g_find_program_in_path("node")};
  BridgeScriptValues values{false, "system", "1.2.0", false, false, false};
};

TEST_F(BridgeScriptPage, MembersPostExactlyTheTableActions) {
  values.previewTrace = true;
  const Json page = runPage(values, R"(
    for (const name of Object.keys(plumora)) {
      if (typeof plumora[name] === 'function' && !name.startsWith('on')) plumora[name]('v');
    }
    return {posts};
  )");
  std::set<std::string> actions;
  std::int64_t expectedID = 0;
  for (const Json& post : page["posts"]) {
    EXPECT_EQ(post["id"], ++expectedID);
    actions.insert(post["action"].get<std::string>());
  }
  std::set<std::string> table;
  for (const BridgeAction& action : bridgeActions()) table.insert(std::string(action.name));
  EXPECT_EQ(table.size(), bridgeActions().size()) << "a name is in the table twice";
  EXPECT_EQ(actions, table);
}

TEST_F(BridgeScriptPage, SplicedValues) {
  const std::string driver = R"(
    return {trace: typeof plumora.previewTrace, appearance: plumora.appearancePreference,
            version: plumora.appVersion, test: plumora.notificationTest,
            failure: plumora.notificationTestFailure, storage, posts};
  )";
  const std::string hostile = "\"};posts.push('x');//\n\u2028\\";
  const BridgeScriptValues smoke{true, hostile, kDevelopmentPreviewVersion, true, true, true};
  const Json storage = {{"plumora-onboarding-v2", "skipped"}, {"plumora-island-pinned", "on"}};
  EXPECT_EQ(runPage(smoke, driver), Json({{"trace", "function"},
                                          {"appearance", hostile},
                                          {"version", "开发预览"},
                                          {"test", true},
                                          {"failure", true},
                                          {"storage", storage},
                                          {"posts", Json::array()}}));
}

}  // namespace
}  // namespace glimmet
