// The injected bridge script, run in node against a minimal fake page.
#include "bridge/bridge_script.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <stdexcept>

#include "bridge/bridge_actions.h"
#include "core/bridge_reply.h"
#include "core/json.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::optional<fs::path> nodeOnPath() {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path ? path : "");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const fs::path candidate = fs::path(directory.empty() ? "." : directory) / "node";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the bridge script built from `values` in the fake page, then `driver`
// (an async function body); answers the driver's JSON result.
Json runPage(const BridgeScriptValues& values, const std::string& driver) {
  const auto node = nodeOnPath();
  if (!node) throw std::runtime_error("node is not on PATH");
  TempDir dir;
  testing::writeFile(dir / "bridge.js", bridgeScript(values));
  testing::writeFile(dir / "driver.js", driver);
  const std::string command = shellQuoted(node->string()) + " " +
                              shellQuoted(GLIMMET_BRIDGE_TEST_DIR "/bridge_page_harness.js") + " " +
                              shellQuoted((dir / "bridge.js").string()) + " " +
                              shellQuoted((dir / "driver.js").string());
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot start node");
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  if (pclose(pipe) != 0) throw std::runtime_error("page script failed: " + output);
  return Json::parse(output);
}

class BridgeScriptPage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!nodeOnPath()) GLIMMET_PEER_MISSING("node is not on PATH");
  }
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

TEST_F(BridgeScriptPage, ValuesArriveAsPosted) {
  const Json posts = runPage(values, R"(
    plumora.pin(false); plumora.libraryMedia(''); plumora.fit(300, 200); plumora.readClipboard();
    plumora.present(0); plumora.prepareHistory(0); plumora.libraryTrash(['A']);
    plumora.setupAgent('codex'); plumora.taskState({state: 'done'});
    return posts;
  )");
  EXPECT_EQ(posts, Json::parse(R"([
    {"action":"pin","id":1,"value":{"enabled":false}},
    {"action":"libraryMedia","id":2,"value":null},
    {"action":"fit","id":3,"value":{"height":300,"width":200}},
    {"action":"clipboard","id":4,"value":null},
    {"action":"present","id":5,"value":null},
    {"action":"prepareHistory","id":6,"value":{"width":0}},
    {"action":"libraryTrash","id":7,"value":{"ids":["A"]}},
    {"action":"setupAgent","id":8,"value":"codex"},
    {"action":"taskState","id":9,"value":{"state":"done"}}])"));
}

TEST_F(BridgeScriptPage, RepliesSettleOnlyPendingRequests) {
  const Json page =
      runPage(values, R"(
    const settled = [];
    const track = (name, promise) => promise.then(
        value => settled.push([name, value]),
        error => settled.push([name + '!', error instanceof Error, error.message]));
    const all = Promise.all([track('a', plumora.apiStatus()), track('b', plumora.hide()),
                             track('c', plumora.agents())]);
    __plumoraResolve(99, 'stray'); __plumoraReject(98, 'stray');
    )" + BridgeReply::resolve(Json{{"ok", true}}).script(1) +
                          BridgeReply::literal("false").script(1) +
                          BridgeReply::rejection("带\"引号'和\\的\u2028消息").script(2) +
                          BridgeReply::fixedRejection("已有任务").script(3) + R"(
    await all;
    return {settled, microphone: await plumora.microphone(), posts: posts.length};
  )");
  EXPECT_EQ(page["settled"], Json::parse(R"([["a",{"ok":true}],
    ["b!",true,"带\"引号'和\\的\u2028消息"],["c!",true,"已有任务"]])"));
  EXPECT_EQ(page["microphone"], true);
  EXPECT_EQ(page["posts"], 3);
}

TEST_F(BridgeScriptPage, SplicedValues) {
  const std::string driver = R"(
    return {trace: typeof plumora.previewTrace, appearance: plumora.appearancePreference,
            version: plumora.appVersion, test: plumora.notificationTest,
            failure: plumora.notificationTestFailure, storage, posts};
  )";
  EXPECT_EQ(runPage(values, driver), Json::parse(R"({"trace":"undefined","appearance":"system",
    "version":"1.2.0","test":false,"failure":false,"storage":{},"posts":[]})"));

  const std::string hostile = "\"};posts.push('x');//\n\u2028\\";
  const BridgeScriptValues smoke{true, hostile, kDevelopmentPreviewVersion, true, true, true};
  const Json page = runPage(smoke, driver);
  EXPECT_EQ(page["trace"], "function");
  EXPECT_EQ(page["appearance"], hostile);
  EXPECT_EQ(page["version"], "开发预览");
  EXPECT_EQ(page["test"], true);
  EXPECT_EQ(page["failure"], true);
  EXPECT_EQ(page["storage"], Json::parse(R"({"plumora-onboarding-v2":"skipped",
    "plumora-island-pinned":"on"})"));
  EXPECT_EQ(page["posts"], Json::array());

  const BridgeScriptValues broken{false, "dark\xff", "1.0", false, false, true};
  const Json traced = runPage(broken, "plumora.previewTrace({step: 1});\n" + driver);
  EXPECT_EQ(traced["appearance"], "dark\uFFFD");
  EXPECT_EQ(traced["posts"],
            Json::parse(R"([{"action":"previewTrace","id":1,"value":{"step":1}}])"));
}

TEST_F(BridgeScriptPage, EventListenersReceiveDetailUntilRemoved) {
  const Json capture = {{"text", "雨天"}, {"voice", false}};
  const Json progress = {{"stage", "running"}};
  const Json received =
      runPage(values, R"(
    const got = [];
    const offCapture = plumora.onCapture(detail => got.push(['capture', detail]));
    const offProgress = plumora.onLocalProgress(detail => got.push(['progress', detail]));
    window.addEventListener('plumora:hide', event => got.push([event.type]));
    )" + eventScript(PageDetailEvent::kCapture, json(capture)) +
                          eventScript(PageDetailEvent::kLocalProgress, json(progress)) +
                          eventScript(PageEvent::kHide) + R"(
    offCapture();
    )" + eventScript(PageDetailEvent::kCapture, json(capture)) +
                          eventScript(PageDetailEvent::kLocalProgress, "null") + R"(
    offProgress();
    )" + eventScript(PageDetailEvent::kLocalProgress, "null") +
                          R"(
    return got;
  )");
  EXPECT_EQ(
      received,
      Json::array(
          {{"capture", capture}, {"progress", progress}, {"plumora:hide"}, {"progress", nullptr}}));
}

}  // namespace
}  // namespace glimmet
