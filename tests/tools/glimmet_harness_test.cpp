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
#include "support/https/test_https_service.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPage = "plumora://local/index.html";

struct HarnessRun {
  int status = -1;
  std::vector<std::string> lines;
  std::string errors;

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

  testing::TempDir temp;
};

// Only the page's own main frame is answered; requests 2 to 5 are dropped
// without a reply.
TEST_F(HarnessTest, AnswersTrustedMessagesAndDropsTheRest) {
  const auto body = [&](int id) { return Json{{"id", id}, {"action", "apiStatus"}}; };
  const HarnessRun result = run({}, {
                                        message(kPage, true, body(1)),
                                        message(kPage, false, body(2)),
                                        message("https://example.com/", true, body(3)),
                                        message("plumora://local:8080/index.html", true, body(4)),
                                        message(nullptr, true, body(5)),
                                    });
  EXPECT_EQ(result.status, 0) << result.errors;
  EXPECT_TRUE(result.printedStarting("window.__plumoraResolve(1,{"));
  EXPECT_EQ(
      std::ranges::count_if(result.lines,
                            [](const std::string& line) { return line.starts_with("window.__"); }),
      1);
}

// 100,000 nested arrays through each way outside JSON comes in: the harness's
// lines, a service's answer, the website's answer and an agent's output. Each
// is refused as malformed and the process lives.
TEST_F(HarnessTest, DeepNestingIsRefusedOnEveryEntry) {
  const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
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
          {R"({"capture":)" + deep + "}", request(2, "apiConfigure", configuration),
           request(3, "apiCheck"), request(4, "cloudLogin"), request(5, "agents")});
  EXPECT_EQ(result.status, 1) << result.errors;
  EXPECT_NE(result.errors.find("line 1: a line must be one JSON object"), std::string::npos)
      << result.errors;
  EXPECT_TRUE(
      result.printedStarting("window.__plumoraReject(3,\"未能读取数据，因为它的格式不正确。\");"));
  EXPECT_TRUE(result.printedStarting("window.__plumoraReject(4,"));
  EXPECT_TRUE(result.printedStarting("window.__plumoraResolve(5,{"));
}

}  // namespace
}  // namespace glimmet
