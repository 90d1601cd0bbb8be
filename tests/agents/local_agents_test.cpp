// The local agents with fake CLIs written as shell scripts: a CLI run as its
// own process group (output, time-outs, stopping, its descendants), the
// inventory and its verified runtimes, a local generation run from request to
// image, and the rules for picking up the image a run made.

#include <glib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agents/local_agent_manager.h"
#include "agents/local_command.h"
#include "core/base64.h"
#include "core/defaults_store.h"
#include "core/failure.h"
#include "core/json.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::failureOf;
using testing::TempDir;

constexpr char kFffd[] = "\xEF\xBF\xBD";
constexpr char kThread[] = "019b776b-15ea-722b-a96b-123456789abc";
constexpr char kOtherThread[] = "019b776b-15ea-722b-a96b-123456789abd";
constexpr char kPng[] =  // 2 x 2
    "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAFElEQVR4nGP4z8DAAMIM////"
    "ZwAAHu8E/KPItPcAAAAASUVORK5CYII=";
constexpr char kOtherPng[] =  // 1 x 1
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC";
constexpr char kRunFailed[] =
    "本机 Agent 生成失败。请检查 Codex 登录、额度和网络；不会扣 Glimmet 积分。";

std::string decoded(const char* base64) {
  const auto bytes = base64Decode(base64);
  return {bytes->begin(), bytes->end()};
}

std::string startedEvent(const std::string& id) {
  return R"({"type":"thread.started","thread_id":")" + id + "\"}";
}

void writeExecutable(const fs::path& path, const std::string& body) {
  fs::create_directories(path.parent_path());
  testing::writeFile(path, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
}

// --- a CLI run ---------------------------------------------------------------------

// The test process adopts orphaned descendants (see SetUpTestSuite), so a
// grandchild that died is reaped here at once instead of lingering as a zombie
// of the init process; one that is still alive keeps the group in existence.
bool groupVanishes(pid_t group) {
  const auto deadline = Clock::now() + 2s;
  for (;;) {
    while (::waitpid(-group, nullptr, WNOHANG) > 0) {
    }
    if (::kill(-group, 0) != 0) return errno == ESRCH;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

class LocalCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }

  std::string script(const std::string& body) {
    const auto path = dir_ / ("script" + std::to_string(++count_));
    writeExecutable(path, body);
    return path.string();
  }

  struct Finished {
    LocalCommandResult result;
    std::chrono::duration<double> elapsed;
  };

  // Runs to the end and checks that neither the child nor anything in its
  // process group is left behind.
  static Finished finish(const std::shared_ptr<LocalCommand>& command, const std::string& path,
                         const std::vector<std::string>& arguments = {}, std::string input = {},
                         double timeout = 30, LocalCommand::OutputHandler output = nullptr) {
    std::promise<LocalCommandResult> done;
    const auto start = Clock::now();
    command->run(path, arguments, std::move(input), timeout, std::move(output),
                 [&done](LocalCommandResult result) { done.set_value(std::move(result)); });
    auto result = done.get_future().get();
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    const pid_t pid = command->pid();
    if (pid > 0) {
      EXPECT_TRUE(command->ended());
      EXPECT_TRUE(groupVanishes(pid)) << "process group still exists";
      EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1) << "child not reaped";
    }
    return {std::move(result), elapsed};
  }

  Finished finish(const std::string& body, std::string input = {}, double timeout = 30) {
    return finish(LocalCommand::create(), script(body), {}, std::move(input), timeout);
  }

  TempDir dir_;
  int count_ = 0;
};

TEST_F(LocalCommandTest, ReportsStatusAndMergedOutput) {
  struct Row {
    const char* body;
    int status;
    std::string output;
  };
  const std::vector<Row> rows = {
      {"echo only-error >&2; exit 3", 3, "only-error\n"},
      {"echo out; echo err >&2; echo out2", 0, "out\nerr\nout2\n"},
      {"kill -KILL $$", 137, ""},
      // Invalid UTF-8 becomes one U+FFFD per maximal invalid subpart: per byte
      // for a stray byte, an overlong form, a surrogate and a code point over
      // U+10FFFF; one for a sequence cut off at the end.
      {"printf 'a\\377b\\300\\257c\\355\\240\\200d\\364\\220\\200\\200e\\342\\202'", 0,
       "a" + std::string(kFffd) + "b" + kFffd + kFffd + "c" + kFffd + kFffd + kFffd + "d" + kFffd +
           kFffd + kFffd + kFffd + "e" + kFffd},
  };
  for (const auto& row : rows) {
    const auto run = finish(row.body);
    EXPECT_EQ(run.result.status, row.status) << row.body;
    EXPECT_EQ(run.result.output, row.output) << row.body;
    EXPECT_FALSE(run.result.cancelled || run.result.timedOut) << row.body;
  }
}

TEST_F(LocalCommandTest, PassesArgumentsInputAndEnvironment) {
  g_setenv("GLIMMET_MARKER", "kept", TRUE);
  const std::string path =
      script("printf '%s|' \"$0\" \"$@\"; echo \"$GLIMMET_MARKER\"; echo \"$PATH\"; cat");
  const std::string input = "第一行\nsecond line";
  std::string live;
  const auto run = finish(LocalCommand::create(), path, {"exec", "a b", ""}, input, 30,
                          [&live](std::string_view chunk) { live.append(chunk); });
  const char* inherited = g_getenv("PATH");
  const std::string expected = path + "|exec|a b||kept\n" +
                               LocalCommand::childPath(g_get_home_dir(), inherited) + "\n" + input;
  EXPECT_EQ(run.result.output, expected);
  EXPECT_EQ(live, expected);
}

TEST_F(LocalCommandTest, ChildClosingInputEarlyDoesNotKillTheProgram) {
  const auto run = finish("exec 0<&-; sleep 0.2; echo done", std::string(4 << 20, 'x'));
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.output, "done\n");
}

TEST_F(LocalCommandTest, KeepsTheFirst24MiBOfOutput) {
  const auto run = finish("head -c 31457280 /dev/zero");
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.output.size(), LocalOutputBuffer::kCapacity);
}

TEST_F(LocalCommandTest, TimeOutIsClampedAndEscalatesToKill) {
  struct Row {
    const char* body;
    double timeout;
    int status;
    double minimum;
    double maximum;
  };
  const std::vector<Row> rows = {
      {"sleep 10", 0.2, 143, 0.9, 2.5},
      {"trap '' TERM; sleep 10", 1, 137, 1.9, 4},
  };
  for (const auto& row : rows) {
    const auto run = finish(row.body, {}, row.timeout);
    EXPECT_TRUE(run.result.timedOut && !run.result.cancelled) << row.body;
    EXPECT_EQ(run.result.status, row.status) << row.body;
    EXPECT_GE(run.elapsed.count(), row.minimum) << row.body;
    EXPECT_LE(run.elapsed.count(), row.maximum) << row.body;
  }
  using Limits = std::numeric_limits<double>;
  for (const auto& [seconds, used] : std::vector<std::pair<double, double>>{
           {Limits::quiet_NaN(), 1}, {300.01, 300}, {Limits::infinity(), 300}}) {
    EXPECT_EQ(LocalCommand::clampedTimeout(seconds), used) << seconds;
  }
}

// A hard stop does not wait for a child that ignores SIGTERM.
TEST_F(LocalCommandTest, HardStopKillsAtOnce) {
  auto hard = LocalCommand::create();
  const auto stopped = finish(hard, script("trap '' TERM; echo started; sleep 10"), {}, {}, 30,
                              [&hard](std::string_view) { hard->terminateNow(); });
  EXPECT_TRUE(stopped.result.cancelled);
  EXPECT_EQ(stopped.result.status, 137);
  EXPECT_LT(stopped.elapsed.count(), 3);
}

// Descendants that outlive the child are asked to end with it: one that ends on
// SIGTERM says so on the shared pipe; one that ignores SIGTERM and keeps the
// pipe open is killed a second later.
TEST_F(LocalCommandTest, DescendantsEndWithTheChild) {
  const auto run = finish(
      "(trap 'echo descendant-term; exit' TERM; touch \"$0.ready\"; sleep 30 & wait) &\n"
      "while [ ! -e \"$0.ready\" ]; do sleep 0.01; done\n"
      "trap '' TERM; sleep 30 & echo parent-done");
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.result.output, "parent-done\ndescendant-term\n");
  EXPECT_GE(run.elapsed.count(), 0.9);
  EXPECT_LT(run.elapsed.count(), 4);
}

TEST_F(LocalCommandTest, MissingExecutableFailsAtOnce) {
  const auto result = runAndWait((dir_ / "missing").string(), {}, 5, {});
  EXPECT_EQ(result.status, ENOENT);
  EXPECT_EQ(result.output, "无法启动本机 CLI");
}

// --- inventory -----------------------------------------------------------------------

// A Codex CLI answering the inventory's probes. `exec` records its arguments
// and standard input in `log`, then runs `run` with $DIR the directory after -C.
struct FakeCodex {
  std::string version = "codex-cli 0.150.0";
  std::string login = "Logged in using ChatGPT";
  int loginStatus = 0;
  std::string features = "image_generation stable false";
  std::string help = "  -i, --image <FILE>...";
  std::string run = "exit 9";

  void install(const fs::path& path, const fs::path& log) const {
    writeExecutable(path, "case \"$1\" in\n  --version) echo '" + version +
                              "' ;;\n  login) echo '" + login + "'; exit " +
                              std::to_string(loginStatus) + " ;;\n  features) echo '" + features +
                              "' ;;\n  exec) [ \"$2\" = --help ] && { echo '" + help +
                              "'; exit 0; }\n    printf '%s\\n' \"$@\" > '" + log.string() +
                              "/args'; cat > '" + log.string() +
                              "/stdin'\n    while [ \"$1\" != -C ]; do shift; done; DIR=\"$2\"\n" +
                              run + "\n    ;;\nesac");
  }
};

class LocalAgentTest : public ::testing::Test {
 protected:
  LocalAgentTest() : defaults_(dir_ / "defaults.json") {
    paths_.dataHome = dir_ / "data";
    paths_.home = dir_ / "home";
    paths_.sharedToolDirectory = dir_ / "usr-local-bin";
    paths_.inheritedPath = (dir_ / "bin").string() + ":relative/bin:" + (dir_ / "bin").string();
    paths_.codexHome = dir_ / "codex-home";
    fs::create_directories(dir_ / "log");
    fs::create_directories(task_);
    testing::writeFile(dir_ / "fixture.b64", kPng);
    createdAt_ = fs::file_time_type::clock::now();
  }

  void install(const FakeCodex& codex, const fs::path& path) { codex.install(path, dir_ / "log"); }

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

  // A manager whose inventory has seen a ready Codex that runs `run`.
  std::unique_ptr<LocalAgentManager> readyManager(const std::string& run) {
    install(FakeCodex{.run = run}, dir_ / "bin" / "codex");
    auto manager = std::make_unique<LocalAgentManager>(defaults_, paths_);
    inventory(*manager);
    return manager;
  }

  struct Outcome {
    std::string taskID;
    std::optional<Result<Json>> result;
  };

  std::shared_ptr<Outcome> start(LocalAgentManager& manager, const Json& request) {
    auto outcome = std::make_shared<Outcome>();
    outcome->taskID = manager.generate(
        request, [](const Json&) {},
        [outcome](Result<Json> result) { outcome->result = std::move(result); });
    return outcome;
  }

  static std::string wait(Outcome& outcome) {
    EXPECT_TRUE(testing::spinMainUntil([&] { return outcome.result.has_value(); }));
    if (!outcome.result) return "no result";
    return outcome.result->ok() ? "" : outcome.result->failure().message();
  }

  std::string messageFor(LocalAgentManager& manager, const Json& request) {
    return wait(*start(manager, request));
  }

  static Json request() { return {{"text", "一只猫"}, {"mode", "direct"}, {"ratio", "16:9"}}; }

  // The CLI's line announcing its thread.
  static std::string started() { return "echo '" + startedEvent(kThread) + "'\n"; }

  // A fresh 2 x 2 image at `path`, last written `age` before the task began.
  fs::path image(const fs::path& path, std::chrono::seconds age = 0s) {
    fs::create_directories(path.parent_path());
    testing::writeFile(path, decoded(kPng));
    fs::last_write_time(path, createdAt_ - age);
    return path;
  }

  fs::path threadFolder() const { return paths_.codexHome / "generated_images" / kThread; }

  TempDir dir_;
  DefaultsStore defaults_;
  LocalAgentPaths paths_;
  fs::path task_ = dir_ / "task";
  fs::file_time_type createdAt_;
};

TEST_F(LocalAgentTest, CodexLoginAndFeatures) {
  struct Row {
    FakeCodex codex;
    std::string authState;
    bool imageGeneration;
    bool reference;
  };
  const std::vector<Row> rows = {
      {FakeCodex{}, "ready", true, true},
      {FakeCodex{.help = "Usage: codex exec [PROMPT]"}, "ready", true, false},
      {FakeCodex{.login = "Not LOGGED in"}, "required", false, false},
      {FakeCodex{.loginStatus = 1}, "required", false, false},
      {FakeCodex{.features = "image_generation   experimental true"}, "ready", false, false},
  };
  for (const auto& row : rows) {
    install(row.codex, dir_ / "bin" / "codex");
    const Json codex = agent("codex");
    EXPECT_EQ(codex["authState"], row.authState) << row.codex.login;
    EXPECT_EQ(codex["imageGeneration"], row.imageGeneration) << row.codex.features;
    EXPECT_EQ(codex["operations"]["reference"], row.reference) << row.codex.help;
    EXPECT_EQ(codex["reason"], row.imageGeneration
                                   ? "支持本机生图，等待首次结果验证"
                                   : "需要已登录且支持稳定 image_generation 的 Codex");
  }
}

TEST_F(LocalAgentTest, ClaudeLoginFromJson) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {R"({"loggedIn": true})", "ready"},
      {R"({"loggedIn": false})", "required"},
      {"Logged in", "unknown"},
  };
  for (const auto& [output, authState] : rows) {
    writeExecutable(
        dir_ / "bin" / "claude",
        "[ \"$1\" = --version ] && { echo '2.0.1 (Claude Code)'; exit 0; }\necho '" + output + "'");
    const Json claude = agent("claude");
    EXPECT_EQ(claude["authState"], authState) << output;
    EXPECT_EQ(claude["imageGeneration"], false);
  }
}

TEST_F(LocalAgentTest, CandidateOrderAndDuplicates) {
  writeExecutable(paths_.sharedToolDirectory / "tool", "true");
  writeExecutable(dir_ / "bin" / "tool", "true");
  writeExecutable(paths_.managedDirectory() / "tool", "true");
  const fs::path nvm = paths_.home / ".nvm/versions/node";
  writeExecutable(nvm / "v22.3.0/bin/tool", "true");
  fs::create_directories(paths_.home / ".local/bin");
  testing::writeFile(paths_.home / ".local/bin/tool", "not executable");
  const std::vector<std::string> expected = {
      (paths_.managedDirectory() / "tool").string(),
      (paths_.sharedToolDirectory / "tool").string(),
      (dir_ / "bin" / "tool").string(),
      (nvm / "v22.3.0/bin/tool").string(),
  };
  EXPECT_EQ(LocalAgentManager(defaults_, paths_).candidates("tool"), expected);
}

TEST_F(LocalAgentTest, VerifiedRuntimeIsPreferredWhileItsVersionHolds) {
  install(FakeCodex{.version = "codex-cli 0.151.0"}, paths_.sharedToolDirectory / "codex");
  install(FakeCodex{}, dir_ / "bin" / "codex");
  const std::string secondPath = (dir_ / "bin" / "codex").string();
  LocalAgentManager(defaults_, paths_).recordProof(secondPath, "codex-cli 0.150.0");
  Json codex = agent("codex");
  EXPECT_EQ(codex["path"], secondPath);
  EXPECT_EQ(codex["reason"], "已验证本机生成图片");

  install(FakeCodex{.version = "codex-cli 0.152.0"}, dir_ / "bin" / "codex");
  codex = agent("codex");
  EXPECT_EQ(codex["path"], (paths_.sharedToolDirectory / "codex").string());
  EXPECT_EQ(codex["verified"], false);
}

TEST_F(LocalAgentTest, ManagedCodexNeedsItsRuntimeComponent) {
  install(FakeCodex{.version = "codex-cli 0.160.0"}, paths_.managedCodex());
  install(FakeCodex{}, dir_ / "bin" / "codex");
  LocalAgentManager manager(defaults_, paths_);
  EXPECT_FALSE(manager.selectManagedForVerification());

  Json codex = agent("codex");
  EXPECT_EQ(codex["path"], paths_.managedCodex().string());
  EXPECT_EQ(codex["reason"],
            "本机 Codex 缺少 codex-code-mode-host 运行组件，请在原生设置中修复安装。");

  writeExecutable(paths_.managedCodeModeHost(), "true");
  EXPECT_TRUE(manager.selectManagedForVerification());
  const Json reply = inventory(manager);
  EXPECT_EQ(reply["agents"][0]["runtimeReady"], true);
  EXPECT_EQ(reply["selected"], "codex");
}

TEST_F(LocalAgentTest, ProofsKeepTheNewestFifty) {
  LocalAgentManager manager(defaults_, paths_);
  for (int i = 0; i < 51; ++i) manager.recordProof("/p" + std::to_string(i), "v");
  manager.recordProof("/p5", "v");
  const auto records = manager.verifiedRecords();
  ASSERT_EQ(records.size(), 50U);
  EXPECT_EQ(records.front().at("path"), "/p1");  // the oldest fell out
  EXPECT_EQ(records.back().at("path"), "/p5");   // a renewed proof moves to the end
  EXPECT_FALSE(manager.isVerified("/p0", "v"));
}

TEST(AgentParsersTest, FeatureListAndCodeModeHostVersion) {
  EXPECT_TRUE(LocalAgentManager::imageFeatureSupported(
      "shell stable true\nimage_generation stable false\n"));
  EXPECT_FALSE(LocalAgentManager::imageFeatureSupported("image_generation stable"));
  const std::vector<std::pair<std::string, bool>> rows = {
      {"codex-cli 0.160.0", true},
      {"codex-cli 0.159.2", false},
      {"codex 1.0.0", true},
      {"99999999999999999999.1.1 0.1.1", false}};
  for (const auto& [version, needed] : rows) {
    EXPECT_EQ(LocalAgentManager::needsCodeModeHost(version), needed) << version;
  }
}

// --- generation ----------------------------------------------------------------------

TEST_F(LocalAgentTest, GenerationRefusesBadRequestsBeforeStarting) {
  LocalAgentManager unready(defaults_, paths_);
  EXPECT_EQ(messageFor(unready, request()),
            "请先刷新本机 Agent，并完成 Codex 登录。需要支持 image_generation 的稳定版本。");

  auto manager = readyManager("exit 9");
  struct Row {
    Json change;
    std::string message;
  };
  const std::vector<Row> rows = {
      {{{"text", std::string(10001, 'a')}}, "本机生成参数无效，请检查文字、模式和比例。"},
      {{{"prompt", ""}}, "模板提示词格式无效或超过 12000 字。"},
      {{{"stylePrompt", "warm"}}, "风格描述词格式无效或超过 3000 字。"},
      {{{"style", "s"}, {"stylePrompt", "warm"}, {"styleName", " "}}, "风格名称格式无效。"},
      {{{"mask", "data:image/png;base64,AAAA"}}, "本机 Agent 尚未验证精确遮罩编辑。"},
      {{{"requestId", std::string(201, 'r')}}, "任务标识格式无效。"},
      {{{"mode", "edit"}}, "本机 CLI 尚未验证精确局部编辑，不会把整体改图当作局部编辑。"},
  };
  for (const auto& row : rows) {
    Json value = request();
    value.update(row.change);
    EXPECT_EQ(messageFor(*manager, value), row.message) << row.change.dump();
  }
  EXPECT_FALSE(fs::exists(dir_ / "log" / "args"));
  Json edge = request();
  edge["text"] = std::string(10000, 'a');
  edge["mask"] = "";
  EXPECT_EQ(messageFor(*manager, edge), kRunFailed);
}

TEST_F(LocalAgentTest, GenerationRunsCodexWithTheFixedCommandLineAndReturnsItsImage) {
  auto manager =
      readyManager(started() +
                   "echo 'working on image_generation'\n"
                   "mkdir -p \"$DIR/generated_images\"\n"
                   "base64 -d '" +
                   (dir_ / "fixture.b64").string() + "' > \"$DIR/generated_images/out.png\"");
  Json value = request();
  value["prompt"] = "填好的模板";
  value["reference"] = std::string("data:image/png;base64,") + kPng;
  auto outcome = start(*manager, value);
  EXPECT_EQ(messageFor(*manager, request()), "已有本机任务正在生成，请等待或取消后重试。");
  ASSERT_EQ(wait(*outcome), "");
  EXPECT_EQ(outcome->result->value()["width"], 2);

  // Non-interactive, sandboxed to the task folder, the last answer written
  // into it and the prompt read from standard input.
  const fs::path task = paths_.tasksDirectory() / outcome->taskID;
  const std::string args = testing::readFile(dir_ / "log" / "args");
  EXPECT_TRUE(args.starts_with("exec\n")) << args;
  EXPECT_NE(args.find("\n--sandbox\nworkspace-write\n"), std::string::npos) << args;
  EXPECT_TRUE(args.ends_with("\n-C\n" + task.string() + "\n-o\n" + (task / "result.txt").string() +
                             "\n--image\n" + (task / "reference.png").string() + "\n-\n"))
      << args;
  // The filled template replaces the text and stays fenced off from the instructions.
  const std::string prompt = testing::readFile(dir_ / "log" / "stdin");
  EXPECT_TRUE(prompt.ends_with(".\n<image_request>\n填好的模板\n</image_request>")) << prompt;
  EXPECT_TRUE(manager->isVerified((dir_ / "bin" / "codex").string(), "codex-cli 0.150.0"));
}

TEST_F(LocalAgentTest, GenerationFailuresAfterTheRun) {
  struct Row {
    std::string run;
    std::string message;
  };
  const std::vector<Row> rows = {
      {"echo done", "Agent 未返回唯一任务编号，无法安全读取生成结果。"},
      {started() + "exit 1", kRunFailed},
      {started() + "mkdir -p '" + threadFolder().string() + "'; base64 -d '" +
           (dir_ / "fixture.b64").string() + "' > '" + threadFolder().string() + "/a.png'",
       ""},
  };
  for (const auto& row : rows) {
    auto manager = readyManager(row.run);
    EXPECT_EQ(messageFor(*manager, request()), row.message) << row.run;
  }
}

TEST_F(LocalAgentTest, CancelStopsTheRun) {
  auto manager = readyManager("sleep 20");
  auto outcome = start(*manager, request());
  ASSERT_TRUE(testing::spinMainUntil([&] { return fs::exists(dir_ / "log" / "stdin"); }));
  EXPECT_TRUE(manager->cancel(outcome->taskID));
  EXPECT_EQ(wait(*outcome), "本机生成已取消。");
}

// --- the run's image -----------------------------------------------------------------

TEST(ThreadIdTest, OnlyOneValidIdentifierCounts) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> rows = {
      {"not json\n" + startedEvent(kThread) + "\n{\"type\":\"turn.started\"}", kThread},
      {startedEvent(kThread) + "\n" + startedEvent(kThread), kThread},
      {startedEvent("../fake"), std::nullopt},
      {startedEvent(kThread) + "\n" + startedEvent(kOtherThread), std::nullopt},
      {R"({"type":"thread.started","thread_id":7})", std::nullopt},
  };
  for (const auto& [output, id] : rows) EXPECT_EQ(LocalAgentManager::threadID(output), id);
}

TEST_F(LocalAgentTest, TaskFolderTakesTheNewestFreshImage) {
  EXPECT_FALSE(LocalAgentManager::ownTaskImage(task_, createdAt_));
  image(task_ / "generated_images/animated.gif");
  image(task_ / "generated_images/stale.png", 10s);
  EXPECT_FALSE(LocalAgentManager::ownTaskImage(task_, createdAt_));
  image(task_ / "generated_images/RESULT.PNG");
  const auto found = LocalAgentManager::ownTaskImage(task_, createdAt_);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->width, 2);

  fs::remove_all(task_ / "generated_images");
  image(dir_ / "elsewhere/fresh.png");
  fs::create_directory_symlink(dir_ / "elsewhere", task_ / "generated_images");
  EXPECT_EQ(failureOf([&] { LocalAgentManager::ownTaskImage(task_, createdAt_); }),
            "本次生成目录包含异常链接，已拒绝读取。");
}

// Another process swaps the run's image for a link to someone else's between
// the listing and the read; the link must never be followed. A deep task
// folder makes the checks between listing and reading slow, so that the swap
// often lands in between.
TEST_F(LocalAgentTest, ImageSwappedForALinkIsNotFollowed) {
  const fs::path own = image(dir_ / "own.png");
  const fs::path planted = dir_ / "planted.png";
  testing::writeFile(planted, decoded(kOtherPng));
  fs::path task = dir_.path();
  for (int level = 0; level < 200; ++level) task /= "d";
  const fs::path target = task / "generated_images" / "out.png";
  const fs::path next = task / "generated_images" / "next";
  fs::create_directories(target.parent_path());
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) {
      if (::link(own.c_str(), next.c_str()) == 0) ::rename(next.c_str(), target.c_str());
      if (::symlink(planted.c_str(), next.c_str()) == 0) ::rename(next.c_str(), target.c_str());
    }
  });
  int followed = 0;
  const auto deadline = Clock::now() + 3s;
  while (followed == 0 && Clock::now() < deadline) {
    try {
      const auto found = LocalAgentManager::ownTaskImage(task, createdAt_);
      followed += found && found->width != 2;
    } catch (const LocalAgentFailure&) {  // the swap was seen and refused
    }
  }
  done = true;
  swapper.join();
  EXPECT_EQ(followed, 0);
}

TEST_F(LocalAgentTest, ThreadFolderRules) {
  const auto own = [&](const std::string& id) {
    return failureOf([&] { LocalAgentManager::ownThreadImage(id, paths_.codexHome, createdAt_); });
  };
  EXPECT_EQ(
      own(kThread),
      "本次任务未返回真实图片。Agent 的文字答复不代表已经生图，请检查本机 Agent 账号和模型能力。");

  image(threadFolder() / "stale.png", 10s);
  fs::create_symlink(image(dir_ / "planted.png"), threadFolder() / "image-gen-non-exec-call.png");
  EXPECT_EQ(own(kThread), "本次任务未返回真实图片。不会读取其他任务的历史图片。");

  image(threadFolder() / "fresh.webp.png");
  EXPECT_EQ(LocalAgentManager::ownThreadImage(kThread, paths_.codexHome, createdAt_).height, 2);

  fs::create_directory_symlink(threadFolder(),
                               paths_.codexHome / "generated_images" / kOtherThread);
  EXPECT_EQ(own(kOtherThread), "生成目录包含异常链接，已拒绝读取。");
}

// The run's log is private to the user and bounded however long the run talked.
TEST_F(LocalAgentTest, DiagnosticsArePrivateAndBounded) {
  std::string output =
      startedEvent(kThread) + "\n" +
      R"({"type":"item.completed","item":{"type":"agent_message","text":"最后的答复"}})"
      "\n";
  for (int i = 0; i < 500; ++i) output += "{\"type\":\"turn.progress\"}\n";
  LocalAgentManager::saveDiagnostics(LocalCommandResult{3, output, false, true}, task_);

  const fs::path file = task_ / "diagnostics.json";
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  const Json saved = Json::parse(testing::readFile(file));
  EXPECT_EQ(saved["finalMessage"], "最后的答复");
  EXPECT_EQ(saved["events"].size(), 200U);
}

}  // namespace
}  // namespace glimmet
