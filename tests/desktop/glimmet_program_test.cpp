// The glimmet program as a user starts it, on the virtual display.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/gtk/display_support.h"
#include "platform/gtk/webkit_test_support.h"

extern char** environ;

namespace glimmet {
namespace {

using testing::TempDir;

// The program in a process group of its own with its standard output on a
// pipe; killed if the test ends early.
class RunningProgram {
 public:
  RunningProgram(const std::vector<std::string>& arguments, const std::string& tmpdir) {
    int pipes[2];
    if (::pipe(pipes) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipes[0]);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
    group = pid_;
    ::unsetenv("TMPDIR");
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipes[1]);
    output_ = pipes[0];
    if (spawned != 0) throw std::runtime_error("cannot start " + arguments[0]);
  }
  ~RunningProgram() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(output_);
  }

  // Reads output until a line contains `text`; false on time-out or end of output.
  bool waitForLine(const std::string& text, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        lines.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 1);
        if (lines.back().find(text) != std::string::npos) return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd readable{output_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
        return false;
      }
      char buffer[4096];
      const ssize_t count = ::read(output_, buffer, sizeof buffer);
      if (count <= 0) return false;
      pending_.append(buffer, static_cast<std::size_t>(count));
    }
  }

  // Asks the program to stop and answers its exit status (-1: did not exit normally).
  int terminate(int signal = SIGTERM) {
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<std::string> lines;
  pid_t group = -1;

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string pending_;
};

// Whether a process still runs (zombies do not count) that this one adopted
// (see adoptOrphans) or that belongs to process group `group`.
bool leftoverProcess(pid_t group) {
  const pid_t self = ::getpid();
  return testing::anyProcess([self, group](const testing::ProcessStatus& process) {
    return process.state != 'Z' && (process.parent == self || process.group == group);
  });
}

// Every process the program started, WebKit's included, ends with it.
bool leftoversGone(pid_t group) {
  return testing::spinMainUntil([group] { return !leftoverProcess(group); },
                                std::chrono::seconds(10));
}

// The library smoke test: three seeded works, listed by the packaged page over
// the bridge and previewed through the scheme, and nothing left at exit.
TEST(GlimmetProgramTest, LibrarySmokeTestShowsTheSeededWorksAndCleansUp) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir tmp;
  // The program's web processes outlive it for a moment; wait for them too.
  testing::adoptOrphans();
  RunningProgram program({GLIMMET_PROGRAM, "--library-smoke-test", "--preview-smoke-test"},
                         tmp.path().string());
  ASSERT_TRUE(program.waitForLine("LIBRARY_VALIDATION root=", std::chrono::seconds(20)));
  const std::string rootLine = program.lines.back();
  const std::filesystem::path root = rootLine.substr(rootLine.find('=') + 1);
  EXPECT_EQ(root.parent_path(), tmp.path());
  EXPECT_TRUE(std::filesystem::is_directory(root));

  ASSERT_TRUE(program.waitForLine("\"step\":\"done\"", std::chrono::seconds(30)));
  int previews = 0;
  for (const std::string& line : program.lines) {
    if (line.find("\"step\":\"preview-loaded\"") != std::string::npos &&
        line.find("\"width\":8") != std::string::npos) {
      ++previews;
    }
  }
  EXPECT_EQ(previews, 3);
  EXPECT_TRUE(std::count(program.lines.begin(), program.lines.end(),
                         "PREVIEW_TRACE {\"count\":3,\"step\":\"listed\"}") == 1);

  EXPECT_EQ(program.terminate(), 0);
  EXPECT_FALSE(std::filesystem::exists(root));
  EXPECT_TRUE(leftoversGone(program.group));
}

// Asked to stop while the page is still loading (a hang-up, which ends the
// program like SIGTERM and SIGINT), the program shuts down in order (the
// temporary library goes) and leaves nothing running.
TEST(GlimmetProgramTest, StopsCleanlyWhileThePageLoads) {
  GLIMMET_REQUIRE_DISPLAY();
  TempDir tmp;
  testing::adoptOrphans();
  RunningProgram program({GLIMMET_PROGRAM, "--library-smoke-test"}, tmp.path().string());
  ASSERT_TRUE(program.waitForLine("LIBRARY_VALIDATION root=", std::chrono::seconds(20)));
  const std::string rootLine = program.lines.back();
  const std::filesystem::path root = rootLine.substr(rootLine.find('=') + 1);
  EXPECT_EQ(program.terminate(SIGHUP), 0);
  EXPECT_FALSE(std::filesystem::exists(root));
  EXPECT_TRUE(leftoversGone(program.group));
}

}  // namespace
}  // namespace glimmet
