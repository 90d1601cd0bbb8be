// Measures the command runner against plain posix_spawn: 200 runs of /bin/true,
// and one child that writes 30 MiB (the runner keeps 24 MiB of it), read by the
// runner and by a plain read loop; plus the growth of peak resident memory
// while the runner collects that output.
//
// Ends with three lines: "spawn_ratio: X" (runner time over plain spawn and
// wait; target at most 1.5), "throughput_ratio: X" (target at most 1.5) and
// "rss_growth_mib: X" (target under 30). Ratios are medians of interleaved rounds.

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "agents/local_command.h"
#include "bench_support.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace {

using glimmet::bench::median;
using glimmet::bench::seconds;
using glimmet::bench::statusKiB;

using glimmet::LocalCommand;
using glimmet::LocalCommandResult;

constexpr int kSpawnRuns = 200;
constexpr int kRounds = 9;
constexpr char kHead[] = "/usr/bin/head";

std::vector<std::string> floodArguments() { return {"-c", "31457280", "/dev/zero"}; }

[[noreturn]] void die(const std::string& message) {
  std::fprintf(stderr, "bench_command_runner: %s\n", message.c_str());
  std::exit(1);
}

LocalCommandResult runCommand(const std::string& executable,
                              const std::vector<std::string>& arguments) {
  std::promise<LocalCommandResult> done;
  LocalCommand::create()->run(
      executable, arguments, {}, 60, nullptr,
      [&done](LocalCommandResult result) { done.set_value(std::move(result)); });
  return done.get_future().get();
}

// Spawns `executable` with standard output on `outputFd` (or inherited when -1).
pid_t plainSpawn(const char* executable, const std::vector<std::string>& arguments, int outputFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outputFd >= 0) posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
  std::vector<std::string> texts = {executable};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(texts.size() + 1);
  for (auto& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, executable, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) die(std::string("spawn failed: ") + executable);
  return pid;
}

void plainWait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
}

void plainFlood() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) die("pipe failed");
  const pid_t pid = plainSpawn(kHead, floodArguments(), fds[1]);
  close(fds[1]);
  std::vector<char> chunk(32768);
  std::size_t total = 0;
  for (ssize_t count; (count = read(fds[0], chunk.data(), chunk.size())) > 0;) {
    total += static_cast<std::size_t>(count);
  }
  close(fds[0]);
  plainWait(pid);
  if (total != 31457280) die("plain read came up short");
}

LocalCommandResult runnerFlood() {
  auto result = runCommand(kHead, floodArguments());
  if (result.output.size() != glimmet::LocalOutputBuffer::kCapacity) die("runner output size");
  return result;
}

// Freed heap is handed back first, then "5" in clear_refs resets the
// high-water mark to the current size. The result is still held when the
// high-water mark is read, so the retained output counts too.
double floodGrowthMiB() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = statusKiB("VmRSS:");
  const auto result = runnerFlood();
  const long peak = std::max(statusKiB("VmHWM:"), statusKiB("VmRSS:"));
  return static_cast<double>(peak - before) / 1024.0;
}

}  // namespace

int main() {
  // Memory first, while the allocator holds no pages of earlier runs.
  const double growth = floodGrowthMiB();
  std::vector<double> spawnRatios;
  std::vector<double> throughputRatios;
  for (int round = 0; round < kRounds; ++round) {
    const double plain = seconds([] {
      for (int i = 0; i < kSpawnRuns; ++i) plainWait(plainSpawn("/bin/true", {}, -1));
    });
    const double runner = seconds([] {
      for (int i = 0; i < kSpawnRuns; ++i) {
        if (runCommand("/bin/true", {}).status != 0) die("/bin/true failed");
      }
    });
    spawnRatios.push_back(runner / plain);
    throughputRatios.push_back(seconds([] { runnerFlood(); }) / seconds(plainFlood));
  }
  std::printf("spawn_ratio: %.3f\n", median(spawnRatios));
  std::printf("throughput_ratio: %.3f\n", median(throughputRatios));
  std::printf("rss_growth_mib: %.1f\n", growth);
  return 0;
}
