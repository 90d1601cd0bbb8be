#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "agents/local_agent_manager.h"
#include "core/defaults_store.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

using testing::TempDir;

constexpr char kNotInstalled[] = "未安装，可在原生设置中安装或查看指引";

void writeExecutable(const std::filesystem::path& path, const std::string& body) {
  std::filesystem::create_directories(path.parent_path());
  testing::writeFile(path, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
}

struct FakeCodex {
  std::string version = "codex-cli 0.150.0";
  std::string login = "Logged in using ChatGPT";
  int loginStatus = 0;
  std::string features = "image_generation stable false";
  std::string help = "  -i, --image <FILE>...";

  void install(const std::filesystem::path& path) const {
    writeExecutable(path,
                    "case \"$1\" in\n"
                    "  --version) echo '" +
                        version +
                        "' ;;\n"
                        "  login) echo '" +
                        login + "'; exit " + std::to_string(loginStatus) +
                        " ;;\n"
                        "  features) echo '" +
                        features +
                        "' ;;\n"
                        "  exec) echo '" +
                        help +
                        "' ;;\n"
                        "esac");
  }
};

class AgentInventoryTest : public ::testing::Test {
 protected:
  AgentInventoryTest() : defaults_(dir_ / "defaults.json") {
    paths_.dataHome = dir_ / "data";
    paths_.home = dir_ / "home";
    paths_.sharedToolDirectory = dir_ / "usr-local-bin";
    paths_.inheritedPath = (dir_ / "bin").string() + ":relative/bin:" + (dir_ / "bin").string();
    paths_.codexHome = dir_ / "codex-home";
  }

  Json inventory(LocalAgentManager& manager) {
    std::optional<Json> reply;
    manager.inventory([&reply](Json value) { reply = std::move(value); });
    EXPECT_TRUE(testing::spinMainUntil([&] { return reply.has_value(); }));
    return reply.value_or(Json());
  }

  Json agent(const std::string& id) {
    LocalAgentManager manager(defaults_, paths_);
    const Json reply = inventory(manager);
    for (const auto& entry : reply["agents"]) {
      if (entry["id"] == id) return entry;
    }
    return {};
  }

  TempDir dir_;
  DefaultsStore defaults_;
  LocalAgentPaths paths_;
};

TEST_F(AgentInventoryTest, NothingInstalled) {
  LocalAgentManager manager(defaults_, paths_);
  const Json reply = inventory(manager);
  EXPECT_EQ(reply["billing"], "local-agent");
  EXPECT_EQ(reply["plumoraCredits"], 0);
  EXPECT_EQ(reply["selected"], "");
  EXPECT_EQ(reply["notice"],
            "本机生成使用你自己的 Agent 账号及其额度，不扣 Glimmet 积分。Gemini / ZCode "
            "的登录状态尚未验证。");
  ASSERT_EQ(reply["agents"].size(), 4U);
  const std::vector<std::string> names = {"Codex", "Claude Code", "Gemini CLI", "ZCode"};
  for (std::size_t i = 0; i < 4; ++i) {
    const auto& entry = reply["agents"][i];
    EXPECT_EQ(entry["name"], names[i]);
    EXPECT_EQ(entry["installed"], false);
    EXPECT_EQ(entry["authState"], "unknown");
    EXPECT_EQ(entry["reason"], kNotInstalled);
  }
}

TEST_F(AgentInventoryTest, CodexLoginAndFeatures) {
  struct Row {
    FakeCodex codex;
    std::string authState;
    bool imageGeneration;
    bool reference;
    std::string reason;
  };
  const std::string ready = "支持本机生图，等待首次结果验证";
  const std::string needs = "需要已登录且支持稳定 image_generation 的 Codex";
  FakeCodex noImageFlag;
  noImageFlag.help = "Usage: codex exec [PROMPT]";
  FakeCodex notLoggedIn;
  notLoggedIn.login = "Not LOGGED in";
  FakeCodex loginFails;
  loginFails.loginStatus = 1;
  FakeCodex experimental;
  experimental.features = "image_generation   experimental true";
  const std::vector<Row> rows = {
      {FakeCodex{}, "ready", true, true, ready},      {noImageFlag, "ready", true, false, ready},
      {notLoggedIn, "required", false, false, needs}, {loginFails, "required", false, false, needs},
      {experimental, "ready", false, false, needs},
  };
  for (const auto& row : rows) {
    row.codex.install(dir_ / "bin" / "codex");
    const Json codex = agent("codex");
    EXPECT_EQ(codex["path"], (dir_ / "bin" / "codex").string());
    EXPECT_EQ(codex["version"], "codex-cli 0.150.0");
    EXPECT_EQ(codex["authState"], row.authState) << row.codex.login;
    EXPECT_EQ(codex["imageGeneration"], row.imageGeneration) << row.codex.features;
    EXPECT_EQ(codex["operations"]["reference"], row.reference) << row.codex.help;
    EXPECT_EQ(codex["reason"], row.reason);
  }
}

TEST_F(AgentInventoryTest, ClaudeLoginFromJson) {
  struct Row {
    std::string output;
    int status;
    std::string authState;
  };
  const std::vector<Row> rows = {
      {R"({"loggedIn": true})", 0, "ready"},    {R"({"loggedIn": false})", 0, "required"},
      {R"({"loggedIn": "yes"})", 0, "unknown"}, {"Logged in", 0, "unknown"},
      {R"({"loggedIn": true})", 2, "unknown"},
  };
  for (const auto& row : rows) {
    writeExecutable(dir_ / "bin" / "claude",
                    "[ \"$1\" = --version ] && { echo '2.0.1 (Claude Code)'; exit 0; }\n"
                    "echo '" +
                        row.output + "'; exit " + std::to_string(row.status));
    const Json claude = agent("claude");
    EXPECT_EQ(claude["authState"], row.authState) << row.output;
    EXPECT_EQ(claude["version"], "2.0.1 (Claude Code)");
    EXPECT_EQ(claude["imageGeneration"], false);
    EXPECT_EQ(claude["reason"], "已检测到 CLI，原生生图能力尚未验证");
  }
  writeExecutable(dir_ / "bin" / "gemini", "exit 1");
  EXPECT_EQ(agent("gemini")["version"], "版本未知");
}

TEST_F(AgentInventoryTest, CandidateOrderAndDuplicates) {
  writeExecutable(paths_.sharedToolDirectory / "tool", "true");
  writeExecutable(dir_ / "bin" / "tool", "true");
  writeExecutable(paths_.managedDirectory() / "tool", "true");
  for (const char* node : {"v18.19.1", "v22.3.0", "v9.0.0", "v20.0.0"}) {
    writeExecutable(paths_.home / ".nvm/versions/node" / node / "bin/tool", "true");
  }
  std::filesystem::create_directories(paths_.home / ".local/bin");
  testing::writeFile(paths_.home / ".local/bin/tool", "not executable");
  const std::string nvm = (paths_.home / ".nvm/versions/node").string();
  const std::vector<std::string> expected = {
      (paths_.managedDirectory() / "tool").string(),
      (paths_.sharedToolDirectory / "tool").string(),
      (dir_ / "bin" / "tool").string(),
      nvm + "/v9.0.0/bin/tool",
      nvm + "/v22.3.0/bin/tool",
      nvm + "/v20.0.0/bin/tool",
      nvm + "/v18.19.1/bin/tool",
  };
  LocalAgentManager manager(defaults_, paths_);
  EXPECT_EQ(manager.candidates("tool"), expected);
}

TEST_F(AgentInventoryTest, VerifiedRuntimeIsPreferredWhileItsVersionHolds) {
  FakeCodex first;
  first.version = "codex-cli 0.151.0";
  first.install(paths_.sharedToolDirectory / "codex");
  FakeCodex second;
  second.install(dir_ / "bin" / "codex");
  const std::string secondPath = (dir_ / "bin" / "codex").string();
  {
    LocalAgentManager manager(defaults_, paths_);
    manager.recordProof(secondPath, "codex-cli 0.150.0");
  }
  Json codex = agent("codex");
  EXPECT_EQ(codex["path"], secondPath);
  EXPECT_EQ(codex["verified"], true);
  EXPECT_EQ(codex["reason"], "已验证本机生成图片");

  second.version = "codex-cli 0.152.0";
  second.install(dir_ / "bin" / "codex");
  codex = agent("codex");
  EXPECT_EQ(codex["path"], (paths_.sharedToolDirectory / "codex").string());
  EXPECT_EQ(codex["verified"], false);
}

TEST_F(AgentInventoryTest, ManagedCodexNeedsItsRuntimeComponent) {
  FakeCodex managed;
  managed.version = "codex-cli 0.160.0";
  managed.install(paths_.managedCodex());
  FakeCodex{}.install(dir_ / "bin" / "codex");
  LocalAgentManager manager(defaults_, paths_);
  EXPECT_FALSE(manager.selectManagedForVerification());

  Json codex = agent("codex");
  EXPECT_EQ(codex["path"], paths_.managedCodex().string());
  EXPECT_EQ(codex["runtimeReady"], false);
  EXPECT_EQ(codex["imageGeneration"], false);
  EXPECT_EQ(codex["reason"],
            "本机 Codex 缺少 codex-code-mode-host 运行组件，请在原生设置中修复安装。");

  writeExecutable(paths_.managedCodeModeHost(), "true");
  EXPECT_TRUE(manager.selectManagedForVerification());
  const Json reply = inventory(manager);
  EXPECT_EQ(reply["agents"][0]["runtimeReady"], true);
  EXPECT_EQ(reply["selected"], "codex");
}

TEST_F(AgentInventoryTest, ProofsKeepTheNewestFifty) {
  LocalAgentManager manager(defaults_, paths_);
  defaults_.set("local.codex.imageVerified", true);
  defaults_.set("local.codex.verifiedPath", "/old/codex");
  defaults_.set("local.codex.verifiedVersion", "0.1.0");
  EXPECT_TRUE(manager.isVerified("/old/codex", "0.1.0"));
  for (int i = 0; i < 51; ++i) manager.recordProof("/p" + std::to_string(i), "v");
  manager.recordProof("/p5", "v");
  const auto records = manager.verifiedRecords();
  ASSERT_EQ(records.size(), 50U);
  EXPECT_EQ(records.front().at("path"), "/p1");  // the legacy record and /p0 fell out
  EXPECT_EQ(records.back().at("path"), "/p5");
  EXPECT_EQ(records.back().at("verifiedAt").size(), 20U);
  EXPECT_FALSE(manager.isVerified("/old/codex", "0.1.0"));
  EXPECT_FALSE(manager.isVerified("", "v"));
  EXPECT_EQ(defaults_.string("local.codex.verifiedPath"), "/p5");

  defaults_.set("local.codex.verifiedRuntimes", Json::array({Json{{"path", 1}}}));
  EXPECT_EQ(manager.verifiedRecords().size(), 1U);  // only the single-record keys remain
}

TEST(AgentParsersTest, FeatureListAndCodeModeHostVersion) {
  EXPECT_TRUE(LocalAgentManager::imageFeatureSupported(
      "shell stable true\nimage_generation stable false\n"));
  EXPECT_TRUE(LocalAgentManager::imageFeatureSupported("  image_generation\tstable  x \r\n"));
  EXPECT_FALSE(LocalAgentManager::imageFeatureSupported("image_generation experimental true"));
  EXPECT_FALSE(LocalAgentManager::imageFeatureSupported("image_generation stable"));
  struct Row {
    const char* version;
    bool needed;
  };
  const std::vector<Row> rows = {
      {"codex-cli 0.160.0", true}, {"codex-cli 0.159.2", false},
      {"codex 1.0.0", true},       {"build 7 v0.161.3-alpha", true},
      {"1.2 then 0.20.1", false},  {"0.160", false},
      {"x..0.170..1.", true},      {"99999999999999999999.1.1 0.1.1", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(LocalAgentManager::needsCodeModeHost(row.version), row.needed) << row.version;
  }
}

}  // namespace
}  // namespace glimmet
