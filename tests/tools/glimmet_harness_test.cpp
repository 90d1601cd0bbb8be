// Black-box runs of the built glimmet-harness: JSON lines in, page scripts and
// scheme answers out, with the user's directories inside a temporary directory.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/glib_ptr.h"
#include "core/json.h"
#include "support/https/fake_image_services.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr const char* kPage = "plumora://local/index.html";

struct HarnessRun {
  int status = -1;
  std::vector<std::string> lines;
  std::string errors;

  bool printed(const std::string& line) const { return std::ranges::count(lines, line) != 0; }
  bool printedStarting(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.starts_with(prefix); });
  }
};

std::string message(const Json& frame, bool main, const Json& body) {
  return json(Json{{"frame", frame}, {"main", main}, {"body", body}});
}

std::string request(std::int64_t id, const std::string& action, const Json& value = nullptr) {
  return message(kPage, true, Json{{"id", id}, {"action", action}, {"value", value}});
}

class HarnessTest : public ::testing::Test {
 protected:
  HarnessRun run(const std::vector<std::string>& arguments,
                 const std::vector<std::string>& input = {}) {
    const GObjectPtr<GSubprocessLauncher> launcher(
        g_subprocess_launcher_new(static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDIN_PIPE |
                                                                G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                                G_SUBPROCESS_FLAGS_STDERR_PIPE)));
    // The user's directories follow HOME.
    g_subprocess_launcher_setenv(launcher.get(), "HOME", (temp / "home").c_str(), TRUE);
    g_subprocess_launcher_setenv(launcher.get(), "TMPDIR", temp.path().c_str(), TRUE);
    g_subprocess_launcher_unsetenv(launcher.get(), "XDG_CONFIG_HOME");
    g_subprocess_launcher_unsetenv(launcher.get(), "XDG_DATA_HOME");
    std::vector<const char*> argv = {GLIMMET_HARNESS_PATH};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const GObjectPtr<GSubprocess> process(
        g_subprocess_launcher_spawnv(launcher.get(), argv.data(), nullptr));
    std::string text;
    for (const std::string& line : input) text += line + "\n";
    gchar* out = nullptr;
    gchar* err = nullptr;
    HarnessRun result;
    if (!process ||
        !g_subprocess_communicate_utf8(process.get(), text.c_str(), nullptr, &out, &err, nullptr)) {
      ADD_FAILURE() << "the harness did not run";
      return result;
    }
    const GTextPtr outText(out), errText(err);
    result.status = g_subprocess_get_exit_status(process.get());
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) result.lines.push_back(line);
    result.errors = err;
    return result;
  }

  TempDir temp;
};

TEST_F(HarnessTest, AnswersTrustedMessagesDropsTheRestAndClosesMenus) {
  const auto body = [&](int id) { return Json{{"id", id}, {"action", "apiStatus"}}; };
  // The first menu is answered by a line, the second one closes when the input ends.
  const Json menu = {{"options", {"a", "b"}}, {"x", 10}, {"y", 10}};
  const HarnessRun result = run({}, {
                                        message(kPage, true, body(1)),
                                        message(kPage, false, body(2)),
                                        message("https://example.com/", true, body(3)),
                                        message("plumora://local:8080/index.html", true, body(4)),
                                        message(nullptr, true, body(5)),
                                        R"({"loaded": true})",
                                        R"({"capture": {"text": "一"}})",
                                        request(6, "selectMenu", menu),
                                        R"({"menu": 2})",
                                        R"({"menu": 1})",
                                        request(7, "selectMenu", menu),
                                    });
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.errors.find("line 9: the open menu has 2 items\n"), std::string::npos)
      << result.errors;
  EXPECT_TRUE(result.printedStarting("window.__plumoraResolve(1,{")) << result.errors;
  EXPECT_TRUE(result.printed("window.__plumoraResolve(6,1);"));
  EXPECT_TRUE(result.printed("window.__plumoraResolve(7,null);"));
  // Requests 2 to 5 are dropped without a reply.
  EXPECT_EQ(
      std::ranges::count_if(result.lines,
                            [](const std::string& line) { return line.starts_with("window.__"); }),
      3);
  EXPECT_TRUE(result.printed(
      R"(window.dispatchEvent(new CustomEvent('plumora:capture',{detail:{"text":"一"}}));)"));
}

TEST_F(HarnessTest, SchemeRequestsAreServedFromTheGivenWebDirectory) {
  std::filesystem::create_directories(temp / "web");
  testing::writeFile(temp / "web/index.html", "<p>hi</p>");
  const HarnessRun result =
      run({"--web", (temp / "web").string()},
          {R"({"url": "plumora://local/index.html"})",
           R"({"url": "plumora://local/%2e%2e/secret"})", R"({"settle": 20})"});
  EXPECT_EQ(result.status, 0) << result.errors;
  // The headers themselves are the handler's, checked in bridge_test.
  EXPECT_TRUE(result.printedStarting(R"({"url":"plumora://local/index.html","status":200,)"));
  EXPECT_TRUE(result.printed(R"({"url":"plumora://local/%2e%2e/secret","error":"本地资源越界"})"));
}

TEST_F(HarnessTest, BadLinesAreReportedAndTheRunFails) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"not json", "a line must be one JSON object"},
      {R"({"advance": -1})", "\"advance\" needs a number from 0 to 30 days"},
      {R"({"frame": "plumora://local/", "body": {}})", "\"main\" takes true or false"},
      {R"({"menu": 0})", "no pop-up menu is open"},
  };
  std::vector<std::string> input;
  for (const auto& row : rows) input.push_back(row.first);
  const HarnessRun result = run({}, input);
  EXPECT_EQ(result.status, 1);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string expected = "line " + std::to_string(i + 1) + ": " + rows[i].second + "\n";
    EXPECT_NE(result.errors.find(expected), std::string::npos) << expected << result.errors;
  }
}

// 100,000 nested arrays through every way JSON text comes in: the harness's
// lines, a stored defaults file and record, a service's answer, the website's
// answer and an agent's output. Each is refused as malformed and the process lives.
TEST_F(HarnessTest, DeepNestingIsRefusedOnEveryEntry) {
  const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
  const std::string work = "0A1B2C3D-0000-4000-8000-00000000000A";
  const fs::path history = temp / "home/.local/share/Plumora/history";
  fs::create_directories(temp / "home/.config/Glimmet");
  testing::writeFile(temp / "home/.config/Glimmet/defaults.json", R"({"api.base":)" + deep + "}");
  fs::create_directories(history / work);
  testing::writeFile(history / work / "record.json",
                     R"({"id":")" + work + R"(","version":)" + deep + "}");
  testing::writeFile(history / work / "image.png", "png");
  fs::create_directories(temp / "home/.local/bin");
  testing::writeFile(temp / "home/.local/bin/claude", "#!/bin/sh\necho '" + deep + "'\n");
  fs::permissions(temp / "home/.local/bin/claude", fs::perms::owner_all);
  testing::TestHttpsService service{{"api.example.com", "glimmet.app"}};
  service.route("GET", "/v1/models", testing::Reply::with(200, deep));
  service.route("POST", "/api/auth/device/code", testing::Reply::with(200, deep));
  const Json configuration = {
      {"baseURL", "https://api.example.com/v1"}, {"model", "gpt-image-1"}, {"key", "sk-test"}};

  const HarnessRun result =
      run({"--ca-file", service.caFile().string(), "--connect-to",
           service.connectTo("api.example.com"), "--connect-to", service.connectTo("glimmet.app")},
          {R"({"frame":"plumora://local/","main":true,"body":{"id":1,"action":"hide","value":)" +
               deep + "}}",
           R"({"capture":)" + deep + "}", request(3, "historyList"),
           request(4, "historyImage", work), request(5, "apiConfigure", configuration),
           request(6, "apiCheck"), request(7, "cloudLogin"), request(8, "agents")});
  EXPECT_EQ(result.status, 1) << result.errors;
  for (const char* line : {"line 1: ", "line 2: "}) {
    EXPECT_NE(result.errors.find(std::string(line) + "a line must be one JSON object"),
              std::string::npos)
        << result.errors;
  }
  const std::string unreadable = "\"未能读取数据，因为它的格式不正确。\");";
  EXPECT_TRUE(result.printed("window.__plumoraResolve(3,[]);"));
  EXPECT_TRUE(result.printed("window.__plumoraReject(4," + unreadable));
  EXPECT_TRUE(result.printedStarting("window.__plumoraResolve(5,{"));
  EXPECT_TRUE(result.printed("window.__plumoraReject(6," + unreadable));
  EXPECT_TRUE(result.printedStarting("window.__plumoraReject(7,"));
  EXPECT_TRUE(result.printedStarting("window.__plumoraResolve(8,{"));
}

TEST_F(HarnessTest, AdvancingTheClockPollsTheImageServiceTask) {
  testing::TestHttpsService service{{"api.apimart.ai", "cdn.example.net"}};
  testing::APIMartLikeService mart(service);
  mart.script({std::string("completed")});
  mart.resultURL("https://cdn.example.net/results/t.png");
  service.route("GET", "/results/t.png", testing::Reply::with(200, testing::testPNG(16, 16)));
  const Json configuration = {
      {"baseURL", "https://api.apimart.ai/v1"}, {"model", "gpt-image-1"}, {"key", "sk-test"}};
  const Json generation = {{"kind", "image"}, {"prompt", "雨天的城市"}, {"ratio", "1:1"}};

  const HarnessRun result = run(
      {"--ca-file", service.caFile().string(), "--connect-to", service.connectTo("api.apimart.ai"),
       "--connect-to", service.connectTo("cdn.example.net")},
      {request(1, "apiConfigure", configuration), request(2, "apiGenerate", generation),
       // The second pause and step cover a submission slower than the first pause.
       R"({"settle": 1500})", R"({"advance": 4})", R"({"settle": 1500})", R"({"advance": 4})"});
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_EQ(mart.submissions(), 1);
  EXPECT_EQ(mart.polls(), 1);
  EXPECT_TRUE(result.printedStarting("window.__plumoraResolve(2,{")) << result.errors;
}

}  // namespace
}  // namespace glimmet
