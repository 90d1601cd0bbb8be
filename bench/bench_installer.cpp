// Measures the managed Codex installer on a 160 MiB release archive served by
// a loopback HTTPS host, against curl + sha256sum + tar doing the same
// download, digest and unpacking of the two executables in the same run.
//
// The host runs in a child process forked before anything else, so that the
// archive it holds in memory never counts towards the installer's resident size.
//
// Ends with two lines: "install_ratio: X" (median installer time over median
// baseline time; target at most 1.3) and "install_peak_rss_mib: X" (the
// installing process's peak resident size; target at most 64, the archive is
// streamed to disk and never held whole).

#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "agents/codex_managed_installer.h"
#include "bench_support.h"
#include "core/digest.h"
#include "core/executors.h"
#include "support/archive/tar_gz.h"
#include "support/https/test_https_service.h"

namespace {

namespace fs = std::filesystem;
using namespace glimmet;
namespace support = glimmet::testing;

constexpr char kCodexMember[] = "package/vendor/bench/bin/codex";
constexpr char kRuntimeMember[] = "package/vendor/bench/bin/codex-code-mode-host";
constexpr std::size_t kMiB = 1024 * 1024;
constexpr int kRuns = 3;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "bench_installer: %s\n", what.c_str());
  std::exit(1);
}

// A real executable followed by `padding` incompressible bytes.
std::string paddedProgram(const char* path, std::size_t padding, unsigned seed) {
  std::string bytes = support::readFile(path);
  std::mt19937_64 random(seed);
  const std::size_t start = bytes.size();
  bytes.resize(start + padding);
  for (std::size_t i = start; i + 8 <= bytes.size(); i += 8) {
    const std::uint64_t word = random();
    std::memcpy(bytes.data() + i, &word, 8);
  }
  return bytes;
}

struct Host {
  int port = 0;
  std::string caFile;
  std::uint64_t size = 0;
  std::string digest;
};

// Child: builds the archive, serves it and reports where; runs until its
// parent closes the pipe.
[[noreturn]] void serve(int report, int hold) {
  const std::string archive =
      support::tarGz({{"package/package.json", "{}"},
                      {kCodexMember, paddedProgram("/bin/true", 110 * kMiB, 1)},
                      {kRuntimeMember, paddedProgram("/bin/false", 50 * kMiB, 2)}});
  support::TestHttpsService service({"releases.test"});
  support::Reply reply = support::Reply::with(200, archive);
  reply.contentType = "application/octet-stream";
  service.route("GET", "/codex.tgz", reply);
  const std::string line = std::to_string(service.port()) + " " + std::to_string(archive.size()) +
                           " " + sha256Hex(archive) + " " + service.caFile().string() + "\n";
  if (write(report, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(1);
  char byte = 0;
  while (read(hold, &byte, 1) > 0) {
  }
  _exit(0);
}

Host readHost(int report) {
  std::string line;
  char byte = 0;
  while (read(report, &byte, 1) == 1 && byte != '\n') line += byte;
  Host host;
  char digest[65] = {};
  char ca[4096] = {};
  unsigned long long size = 0;
  if (std::sscanf(line.c_str(), "%d %llu %64s %4095s", &host.port, &size, digest, ca) != 4) {
    fail("the release host did not start");
  }
  host.size = size;
  host.digest = digest;
  host.caFile = ca;
  return host;
}

double installOnce(const Host& host, const fs::path& dataHome) {
  fs::remove_all(dataHome);
  LocalAgentPaths paths;
  paths.dataHome = dataHome;
  paths.home = dataHome / "home";
  CodexInstallerSettings settings;
  settings.release = CodexRelease{
      "https://releases.test/codex.tgz", host.size, host.digest, kCodexMember, kRuntimeMember,
      support::hostElfMachine()};
  settings.session.trustedCAFile = host.caFile;
  settings.session.connectTo = {"releases.test:443:127.0.0.1:" + std::to_string(host.port)};
  CodexManagedInstaller installer(paths, settings);
  std::optional<std::string> failure;
  bool done = false;
  const double elapsed = bench::seconds([&] {
    installer.install([&](Result<fs::path> result) {
      if (!result) failure = result.failure().message();
      done = true;
    });
    while (!done) g_main_context_iteration(nullptr, TRUE);
  });
  if (failure) fail("installation failed: " + *failure);
  return elapsed;
}

double baselineOnce(const Host& host, const fs::path& work) {
  fs::remove_all(work);
  fs::create_directories(work);
  const std::string archive = (work / "codex.tar.gz").string();
  const std::string command =
      "curl -sSf --max-redirs 0 --cacert '" + host.caFile +
      "' --connect-to releases.test:443:127.0.0.1:" + std::to_string(host.port) + " -o '" +
      archive + "' https://releases.test/codex.tgz && " + "sha256sum '" + archive +
      "' > /dev/null && tar -xzf '" + archive + "' -C '" + work.string() + "' " + kCodexMember +
      " " + kRuntimeMember;
  int status = 0;
  const double elapsed = bench::seconds([&] { status = std::system(command.c_str()); });
  if (status != 0) fail("the baseline command failed");
  return elapsed;
}

}  // namespace

int main() {
  int report[2];
  int hold[2];
  if (pipe(report) != 0 || pipe(hold) != 0) fail("no pipe");
  const pid_t server = fork();
  if (server < 0) fail("no fork");
  if (server == 0) {
    close(report[0]);
    close(hold[1]);
    serve(report[1], hold[0]);
  }
  close(report[1]);
  close(hold[0]);
  const Host host = readHost(report[0]);
  std::printf("archive: %.1f MiB\n", static_cast<double>(host.size) / kMiB);

  const support::TempDir scratch;
  std::vector<double> installs;
  std::vector<double> baselines;
  for (int run = 0; run < kRuns; ++run) {
    baselines.push_back(baselineOnce(host, scratch / "baseline"));
    installs.push_back(installOnce(host, scratch / "data"));
  }
  close(hold[1]);
  waitpid(server, nullptr, 0);

  const double install = bench::median(installs);
  const double baseline = bench::median(baselines);
  std::printf("install: %.3f s, curl + sha256sum + tar: %.3f s\n", install, baseline);
  std::printf("install_ratio: %.2f\n", install / baseline);
  std::printf("install_peak_rss_mib: %.1f\n",
              static_cast<double>(bench::statusKiB("VmHWM:")) / 1024.0);
  return 0;
}
