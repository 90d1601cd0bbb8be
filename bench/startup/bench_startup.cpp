// Measures the desktop program's start-up against a plain WebKitGTK view.
//
// Each run starts one program in a process group of its own and measures:
// - start-up: from just before the program is spawned until it logs "page
//   load finished" (the program logs it under the "glimmet" debug domain,
//   shown with G_MESSAGES_DEBUG=glimmet; the reference prints it);
// - memory: 5 s after the start (or at the load, if that takes longer), the
//   Pss of /proc/<pid>/smaps_rollup summed over the program and all its
//   descendants, WebKit's web and network processes included.
// The program is then stopped with SIGTERM; it must exit with status 0 and
// leave no process behind (survivors are killed and reported).
//
// The measured program is "glimmet --library-smoke-test" (a temporary
// library, an ephemeral web context), which runs until it is signalled; the
// reference is startup_reference, a window with a web view that loads the same
// web directory through a plain scheme handler. One unmeasured warm-up run of
// each, then 5 measured runs of each, alternating; medians.
//
// It runs itself again under tests/platform/gtk/with-display.sh (a private Xvfb
// display, session bus, home and settings) unless it already is, and gives
// the programs a temporary directory of their own.
//
// Ends with four lines: "startup_ratio: X" and "memory_ratio: X" (program
// over reference; targets at most 1.3 each), then "startup_ms: X" and
// "pss_mib: X", the program's medians on this machine.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "core/files.h"

extern char** environ;

namespace {

using glimmet::bench::median;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kOnPrivateDisplay = "GLIMMET_BENCH_STARTUP_ON_PRIVATE_DISPLAY";
constexpr const char* kLoadedLine = "page load finished";
constexpr int kRuns = 5;
constexpr auto kMemorySampleAfter = 5s;
constexpr auto kLoadTimeout = 60s;
constexpr auto kExitTimeout = 15s;
constexpr auto kTreeExitTimeout = 5s;

// Ends the benchmark; thrown so that running programs are stopped on the way out.
struct BenchFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& what) { throw BenchFailure(what); }

struct Program {
  std::string name;
  std::vector<std::string> arguments;
};

struct Sample {
  double startupMs;
  double pssMiB;
};

// A process as /proc/<pid>/stat describes it; the start time tells a process
// from a later one that reuses its id.
struct ProcessInfo {
  char state = '?';
  pid_t parent = 0;
  unsigned long long startTime = 0;
};

std::optional<ProcessInfo> processInfo(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(file, stat)) return std::nullopt;
  // The command name may hold spaces and parentheses; the fields after the
  // last ')' start with the state (field 3).
  const std::size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(nameEnd + 1));
  std::vector<std::string> values;
  for (std::string value; fields >> value;) values.push_back(value);
  if (values.size() < 20) return std::nullopt;
  return ProcessInfo{values[0][0], static_cast<pid_t>(std::stol(values[1])),
                     std::stoull(values[19])};
}

// `root` and every live process below it, with their start times.
std::map<pid_t, unsigned long long> processTree(pid_t root) {
  std::multimap<pid_t, pid_t> children;
  std::map<pid_t, unsigned long long> started;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (const std::optional<ProcessInfo> info = processInfo(pid); info && info->state != 'Z') {
      children.emplace(info->parent, pid);
      started[pid] = info->startTime;
    }
  }
  std::map<pid_t, unsigned long long> tree;
  std::vector<pid_t> pending{root};
  while (!pending.empty()) {
    const pid_t pid = pending.back();
    pending.pop_back();
    if (!started.contains(pid)) continue;
    tree[pid] = started[pid];
    const auto [first, last] = children.equal_range(pid);
    for (auto child = first; child != last; ++child) pending.push_back(child->second);
  }
  return tree;
}

long pssKiB(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/smaps_rollup";
  std::ifstream rollup(path);
  for (std::string line; std::getline(rollup, line);) {
    if (line.rfind("Pss:", 0) == 0) return std::stol(line.substr(4));
  }
  fail("cannot read Pss from " + path);
}

bool stillRunning(pid_t pid, unsigned long long startTime) {
  const std::optional<ProcessInfo> info = processInfo(pid);
  return info && info->state != 'Z' && info->startTime == startTime;
}

// One started program with its standard output and error on a pipe, in a
// process group of its own. Killed with its group if the run ends early.
class RunningProgram {
 public:
  explicit RunningProgram(const Program& program) : name_(program.name) {
    int pipes[2];
    if (::pipe2(pipes, O_CLOEXEC) != 0) fail("pipe: " + std::string(std::strerror(errno)));
    output_ = pipes[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipes[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (const std::string& argument : program.arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipes[1]);
    if (spawned != 0) {
      ::close(output_);
      fail("cannot start " + program.arguments[0] + ": " + std::strerror(spawned));
    }
    group_ = pid_;
  }

  // The group cannot have been reused while any of its members is left.
  ~RunningProgram() {
    if (group_ > 0 && ::kill(-group_, 0) == 0) ::kill(-group_, SIGKILL);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    ::close(output_);
  }

  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }

  // Reads output until it contains `text`; false at `deadline` or when the
  // output ends.
  bool waitForOutput(const std::string& text, Clock::time_point deadline) {
    while (output_text_.find(text) == std::string::npos) {
      if (!readOutput(deadline)) return false;
    }
    return true;
  }

  // Keeps the pipe drained until `deadline`; false if the program ended first.
  bool keepRunningUntil(Clock::time_point deadline) {
    while (Clock::now() < deadline) {
      if (!readOutput(deadline) && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
      if (::waitpid(pid_, nullptr, WNOHANG) != 0) {
        pid_ = 0;
        return false;
      }
    }
    return true;
  }

  // SIGTERM, then waits for a clean exit and for every process of its tree
  // (as sampled in `tree`) and of its group to be gone.
  void stop(const std::map<pid_t, unsigned long long>& tree) {
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + kExitTimeout;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) fail(name_ + " did not exit within 15 s of SIGTERM" + tail());
      if (!readOutput(Clock::now() + 20ms)) std::this_thread::sleep_for(10ms);
    }
    pid_ = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      fail(name_ + " did not exit cleanly after SIGTERM (wait status " + std::to_string(status) +
           ")" + tail());
    }
    const auto treeDeadline = Clock::now() + kTreeExitTimeout;
    std::set<pid_t> left;
    do {
      left.clear();
      for (const auto& [pid, startTime] : tree) {
        if (stillRunning(pid, startTime)) left.insert(pid);
      }
      if (left.empty() && ::kill(-group_, 0) != 0) return;
      std::this_thread::sleep_for(20ms);
    } while (Clock::now() < treeDeadline);
    for (const pid_t pid : left) ::kill(pid, SIGKILL);
    fail(name_ + " left processes running 5 s after it exited; killed them");
  }

  // The last part of what the program wrote, for error messages.
  std::string tail() const {
    constexpr std::size_t kShown = 4000;
    const std::size_t from = output_text_.size() > kShown ? output_text_.size() - kShown : 0;
    return "; its last output:\n" + output_text_.substr(from);
  }

 private:
  // One read of whatever is available before `deadline`; false when the
  // output ended or the deadline passed with nothing to read.
  bool readOutput(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd readable{output_, POLLIN, 0};
    const int ready = ::poll(&readable, 1, static_cast<int>(left.count()) + 1);
    if (ready < 0 && errno == EINTR) return true;
    if (ready <= 0) return false;
    char buffer[8192];
    const ssize_t count = ::read(output_, buffer, sizeof buffer);
    if (count <= 0) return false;
    output_text_.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  std::string name_;
  // The program's id until it is reaped; its process group's for good.
  pid_t pid_ = 0;
  pid_t group_ = 0;
  int output_ = -1;
  std::string output_text_;
};

Sample measure(const Program& program, const char* note = "") {
  const auto start = Clock::now();
  RunningProgram running(program);
  if (!running.waitForOutput(kLoadedLine, start + kLoadTimeout)) {
    fail(program.name + " ended or did not report the page loaded within 60 s" + running.tail());
  }
  const double startupMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (!running.keepRunningUntil(start + kMemorySampleAfter)) {
    fail(program.name + " ended before its memory was sampled" + running.tail());
  }
  const std::map<pid_t, unsigned long long> tree = processTree(running.pid());
  long pss = 0;
  for (const auto& [pid, startTime] : tree) pss += pssKiB(pid);
  running.stop(tree);
  std::printf("%s%s: startup %.1f ms, pss %.1f MiB over %zu processes\n", program.name.c_str(),
              note, startupMs, pss / 1024.0, tree.size());
  std::fflush(stdout);
  return {startupMs, pss / 1024.0};
}

// Runs this program again under the display wrapper; returns only on failure.
void runOnPrivateDisplay(int argc, char** argv) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) fail("cannot find this program: " + error.message());
  ::setenv(kOnPrivateDisplay, "1", 1);
  std::vector<char*> arguments{const_cast<char*>(DISPLAY_WRAPPER), const_cast<char*>(self.c_str())};
  for (int i = 1; i < argc; ++i) arguments.push_back(argv[i]);
  arguments.push_back(nullptr);
  ::execv(DISPLAY_WRAPPER, arguments.data());
  fail(std::string("cannot run ") + DISPLAY_WRAPPER + ": " + std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (std::getenv(kOnPrivateDisplay) == nullptr) runOnPrivateDisplay(argc, argv);
    // The programs' temporary files (the smoke test's library) stay in here.
    const glimmet::TemporaryDirectory temporary("glimmet-bench-startup");
    ::setenv("TMPDIR", temporary.path().c_str(), 1);
    ::setenv("G_MESSAGES_DEBUG", "glimmet", 1);

    const Program reference{"reference", {REFERENCE_PROGRAM, WEB_DIRECTORY}};
    const Program glimmet{"glimmet", {GLIMMET_PROGRAM, "--library-smoke-test"}};

    // Warm the file caches so the first measured run pays no more than the rest.
    measure(reference, " (warm-up)");
    measure(glimmet, " (warm-up)");

    std::vector<double> referenceStartup, referencePss, glimmetStartup, glimmetPss;
    for (int run = 0; run < kRuns; ++run) {
      // Alternate which goes first, so neither always follows the other.
      const bool referenceFirst = run % 2 == 0;
      const Sample first = measure(referenceFirst ? reference : glimmet);
      const Sample second = measure(referenceFirst ? glimmet : reference);
      const Sample& ofReference = referenceFirst ? first : second;
      const Sample& ofGlimmet = referenceFirst ? second : first;
      referenceStartup.push_back(ofReference.startupMs);
      referencePss.push_back(ofReference.pssMiB);
      glimmetStartup.push_back(ofGlimmet.startupMs);
      glimmetPss.push_back(ofGlimmet.pssMiB);
    }

    std::printf("reference medians: startup %.1f ms, pss %.1f MiB\n", median(referenceStartup),
                median(referencePss));
    std::printf("startup_ratio: %.2f\n", median(glimmetStartup) / median(referenceStartup));
    std::printf("memory_ratio: %.2f\n", median(glimmetPss) / median(referencePss));
    std::printf("startup_ms: %.0f\n", median(glimmetStartup));
    std::printf("pss_mib: %.1f\n", median(glimmetPss));
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "bench_startup: %s\n", failure.what());
    return 1;
  }
}
