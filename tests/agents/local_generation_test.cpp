#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "agents/local_agent_manager.h"
#include "core/defaults_store.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr char kThread[] = "019b776b-15ea-722b-a96b-123456789abc";
constexpr char kPng[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAFElEQVR4nGP4z8DAAMIM////"
    "ZwAAHu8E/KPItPcAAAAASUVORK5CYII=";

// A Codex CLI that answers the inventory probes and, for `exec`, records its
// arguments and standard input, then does what `run` says. $DIR is the
// directory after -C.
void installCodex(const fs::path& path, const fs::path& log, const std::string& run) {
  fs::create_directories(path.parent_path());
  testing::writeFile(path,
                     "#!/bin/sh\n"
                     "case \"$1\" in\n"
                     "  --version) echo 'codex-cli 0.150.0'; exit 0 ;;\n"
                     "  login) echo 'Logged in using ChatGPT'; exit 0 ;;\n"
                     "  features) echo 'image_generation stable true'; exit 0 ;;\n"
                     "esac\n"
                     "[ \"$2\" = --help ] && { echo '--image <FILE>'; exit 0; }\n"
                     "printf '%s\\n' \"$@\" > '" +
                         log.string() +
                         "/args'\n"
                         "cat > '" +
                         log.string() +
                         "/stdin'\n"
                         "while [ \"$1\" != -C ]; do shift; done; DIR=\"$2\"\n" +
                         run + "\n");
  chmod(path.c_str(), 0755);
}

std::string started() {
  return std::string("echo '{\"type\":\"thread.started\",\"thread_id\":\"") + kThread + "\"}'\n";
}

class LocalGenerationTest : public ::testing::Test {
 protected:
  LocalGenerationTest() : defaults_(dir_ / "defaults.json") {
    paths_.dataHome = dir_ / "data";
    paths_.home = dir_ / "home";
    paths_.sharedToolDirectory = dir_ / "bin";
    paths_.codexHome = dir_ / "codex-home";
    fs::create_directories(dir_ / "log");
    testing::writeFile(dir_ / "fixture.b64", kPng);
  }

  // A manager whose inventory has seen a ready Codex that runs `run`.
  std::unique_ptr<LocalAgentManager> readyManager(const std::string& run) {
    installCodex(dir_ / "bin" / "codex", dir_ / "log", run);
    auto manager = std::make_unique<LocalAgentManager>(defaults_, paths_);
    bool done = false;
    manager->inventory([&done](const Json&) { done = true; });
    EXPECT_TRUE(testing::spinMainUntil([&] { return done; }));
    return manager;
  }

  struct Outcome {
    std::string taskID;
    std::optional<Result<Json>> result;
    int progress = 0;
  };

  std::shared_ptr<Outcome> start(LocalAgentManager& manager, const Json& request) {
    auto outcome = std::make_shared<Outcome>();
    outcome->taskID = manager.generate(
        request, [outcome](const Json&) { ++outcome->progress; },
        [outcome](Result<Json> result) { outcome->result = std::move(result); });
    return outcome;
  }

  static std::string wait(Outcome& outcome) {
    EXPECT_TRUE(testing::spinMainUntil([&] { return outcome.result.has_value(); }));
    if (!outcome.result) return "no result";
    return outcome.result->ok() ? "" : outcome.result->failure().message();
  }

  std::string messageFor(LocalAgentManager& manager, const Json& request) {
    auto outcome = start(manager, request);
    return wait(*outcome);
  }

  static Json request() { return {{"text", "一只猫"}, {"mode", "direct"}, {"ratio", "16:9"}}; }

  TempDir dir_;
  DefaultsStore defaults_;
  LocalAgentPaths paths_;
};

TEST_F(LocalGenerationTest, RefusesBadRequestsBeforeStarting) {
  auto manager = readyManager("exit 9");
  const std::string invalid = "本机生成参数无效，请检查文字、模式和比例。";
  struct Row {
    Json change;
    std::string message;
  };
  const std::vector<Row> rows = {
      {{{"extra", 1}}, invalid},
      {{{"text", std::string(10001, 'a')}}, invalid},
      {{{"text", "  \n"}}, invalid},
      {{{"ratio", "2:1"}}, invalid},
      {{{"agent", "claude"}}, invalid},
      {{{"prompt", ""}}, "模板提示词格式无效或超过 12000 字。"},
      {{{"stylePrompt", "warm"}}, "风格描述词格式无效或超过 3000 字。"},
      {{{"style", "s"}, {"stylePrompt", "warm"}, {"styleName", " "}}, "风格名称格式无效。"},
      {{{"mask", "data:image/png;base64,AAAA"}}, "本机 Agent 尚未验证精确遮罩编辑。"},
      {{{"image", 5}}, "图片参数格式无效。"},
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
  EXPECT_EQ(messageFor(*manager, edge),
            "本机 Agent 生成失败。请检查 Codex 登录、额度和网络；不会扣 Glimmet 积分。");
}

TEST_F(LocalGenerationTest, CodexMustBeReady) {
  LocalAgentManager manager(defaults_, paths_);
  EXPECT_EQ(messageFor(manager, request()),
            "请先刷新本机 Agent，并完成 Codex 登录。需要支持 image_generation 的稳定版本。");
}

TEST_F(LocalGenerationTest, RunsCodexWithTheFixedCommandLineAndReturnsItsImage) {
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
  const Json& result = outcome->result->value();
  EXPECT_EQ(result["taskId"], outcome->taskID);
  EXPECT_EQ(result["width"], 2);
  EXPECT_EQ(result["plumoraCredits"], 0);
  EXPECT_TRUE(result["image"].get<std::string>().starts_with("data:image/png;base64,iVBOR"));
  EXPECT_GE(outcome->progress, 2);

  const fs::path task = paths_.tasksDirectory() / outcome->taskID;
  EXPECT_EQ(testing::readFile(dir_ / "log" / "args"),
            "exec\n--ignore-user-config\n--enable\nimage_generation\n--disable\nshell_tool\n"
            "--sandbox\nworkspace-write\n-c\nsandbox_workspace_write.network_access=true\n"
            "--ephemeral\n--skip-git-repo-check\n--json\n-C\n" +
                task.string() + "\n-o\n" + (task / "result.txt").string() + "\n--image\n" +
                (task / "reference.png").string() + "\n-\n");
  // The filled template replaces the text and stays fenced off from the instructions.
  const std::string prompt = testing::readFile(dir_ / "log" / "stdin");
  EXPECT_NE(prompt.find(" Requested aspect ratio: 16:9. "), std::string::npos) << prompt;
  EXPECT_TRUE(prompt.ends_with(".\n<image_request>\n填好的模板\n</image_request>")) << prompt;
  EXPECT_TRUE(fs::exists(task / "generated.png"));
  EXPECT_TRUE(fs::exists(task / "diagnostics.json"));
  EXPECT_TRUE(manager->isVerified((dir_ / "bin" / "codex").string(), "codex-cli 0.150.0"));
}

TEST_F(LocalGenerationTest, FailuresAfterTheRun) {
  struct Row {
    std::string run;
    std::string message;
  };
  const fs::path threadFolder = paths_.codexHome / "generated_images" / kThread;
  const std::vector<Row> rows = {
      {"echo done", "Agent 未返回唯一任务编号，无法安全读取生成结果。"},
      {started() + "exit 1",
       "本机 Agent 生成失败。请检查 Codex 登录、额度和网络；不会扣 Glimmet 积分。"},
      {started() + "echo 'I made an image for you'",
       "本次任务未返回真实图片。Agent 的文字答复不代表已经生图，请检查本机 Agent "
       "账号和模型能力。"},
      {started() + "mkdir -p '" + threadFolder.string() + "'; base64 -d '" +
           (dir_ / "fixture.b64").string() + "' > '" + threadFolder.string() + "/a.png'",
       ""},
  };
  for (const auto& row : rows) {
    auto manager = readyManager(row.run);
    EXPECT_EQ(messageFor(*manager, request()), row.message) << row.run;
  }
}

TEST_F(LocalGenerationTest, CancelStopsTheRun) {
  auto manager = readyManager("sleep 20");
  auto outcome = start(*manager, request());
  ASSERT_TRUE(testing::spinMainUntil([&] { return fs::exists(dir_ / "log" / "stdin"); }));
  EXPECT_TRUE(manager->cancel(outcome->taskID));
  EXPECT_EQ(wait(*outcome), "本机生成已取消。");
  EXPECT_FALSE(manager->cancel(outcome->taskID));
}

}  // namespace
}  // namespace glimmet
