#include "agents/local_command.h"

#include <glib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace glimmet {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::TempDir;

constexpr char kFffd[] = "\xEF\xBF\xBD";

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
    testing::writeFile(path, "#!/bin/sh\n" + body + "\n");
    chmod(path.c_str(), 0755);
    return path.string();
  }

  struct Finished {
    LocalCommandResult result;
    std::chrono::duration<double> elapsed;
    pid_t pid;
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
    return {std::move(result), elapsed, pid};
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
    EXPECT_TRUE(run.result.timedOut) << row.body;
    EXPECT_FALSE(run.result.cancelled) << row.body;
    EXPECT_EQ(run.result.status, row.status) << row.body;
    EXPECT_GE(run.elapsed.count(), row.minimum) << row.body;
    EXPECT_LE(run.elapsed.count(), row.maximum) << row.body;
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  for (const auto& [seconds, used] :
       std::vector<std::pair<double, double>>{{nan, 1}, {300.01, 300}, {infinity, 300}}) {
    EXPECT_EQ(LocalCommand::clampedTimeout(seconds), used) << seconds;
  }
}

TEST_F(LocalCommandTest, StopsBeforeTheSpawnAndDuringTheRun) {
  auto early = LocalCommand::create();
  early->cancel();
  const auto cancelled = finish(early, script("sleep 10"));
  EXPECT_TRUE(cancelled.result.cancelled);
  EXPECT_EQ(cancelled.result.status, 143);
  EXPECT_LT(cancelled.elapsed.count(), 3);

  // A hard stop does not wait for a child that ignores SIGTERM.
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

}  // namespace
}  // namespace glimmet
