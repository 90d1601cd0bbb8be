// The managed Codex installer against a loopback HTTPS release host serving
// archives built here from real ELF executables: what a good archive
// installs, what every kind of bad download or archive is refused with, and
// that every refusal, cancellation or interrupted run leaves the managed
// directory exactly as it was.

#include "agents/codex_managed_installer.h"

#include <elf.h>
#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agents/local_agent_manager.h"
#include "agents/local_agent_setup.h"
#include "core/defaults_store.h"
#include "core/digest.h"
#include "core/http/url.h"
#include "core/text.h"
#include "platform/headless/headless_shell.h"
#include "support/archive/tar_gz.h"
#include "support/https/test_https_service.h"
#include "support/test_support.h"

namespace glimmet {
namespace {

namespace fs = std::filesystem;
namespace messages = installer_messages;
using testing::hostElfMachine;
using testing::Reply;
using testing::TarEntry;
using testing::tarGz;
using testing::TempDir;
using testing::TestHttpsService;

constexpr char kCodexMember[] = "package/vendor/test/bin/codex";
constexpr char kRuntimeMember[] = "package/vendor/test/bin/codex-code-mode-host";

// A real executable of this machine; its bytes differ per program.
std::string program(const char* path) { return testing::readFile(path); }

// The same executable claiming another architecture.
std::string foreignProgram() {
  std::string bytes = program("/bin/true");
  const std::uint16_t other = hostElfMachine() == EM_X86_64 ? EM_AARCH64 : EM_X86_64;
  std::memcpy(bytes.data() + offsetof(Elf64_Ehdr, e_machine), &other, sizeof other);
  return bytes;
}

std::vector<TarEntry> releaseEntries(const std::string& codex, const std::string& runtime) {
  return {{"package/package.json", "{}"},
          {"package/vendor/test/bin", "", AE_IFDIR},
          {kCodexMember, codex},
          {kRuntimeMember, runtime},
          {"package/vendor/test/codex-resources/README", "resources"}};
}

// Every file and directory under `root` with its kind, mode and content digest.
std::map<std::string, std::string> listing(const fs::path& root) {
  std::map<std::string, std::string> tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = fs::relative(it->path(), root).string();
    if (name == ".install.lock") continue;  // the lock file is made once and stays
    struct stat info {};
    lstat(it->path().c_str(), &info);
    std::string description = std::to_string(info.st_mode);
    if (S_ISREG(info.st_mode)) description += " " + sha256HexOfFile(it->path()).value_or("?");
    tree[name] = description;
  }
  return tree;
}

class CodexManagedInstallerTest : public ::testing::Test {
 protected:
  CodexManagedInstallerTest() : service_({"releases.test", "elsewhere.test"}) {
    paths_.dataHome = dir_ / "data";
    paths_.home = dir_ / "home";
    settings_.session.trustedCAFile = service_.caFile();
    settings_.session.connectTo = {service_.connectTo("releases.test"),
                                   service_.connectTo("elsewhere.test")};
    settings_.redirectHosts = {"releases.test"};
  }

  // Serves `bytes` as the release and pins the release to them.
  void serve(const std::string& bytes) {
    Reply reply = Reply::with(200, bytes);
    reply.contentType = "application/octet-stream";
    service_.route("GET", "/codex.tgz", reply);
    settings_.release = CodexRelease{"https://releases.test/codex.tgz",
                                     bytes.size(),
                                     sha256Hex(bytes),
                                     kCodexMember,
                                     kRuntimeMember,
                                     hostElfMachine()};
  }

  struct Outcome {
    std::optional<fs::path> path;
    std::string failure;
    std::vector<InstallStage> reported;
  };

  Outcome install() {
    CodexManagedInstaller installer(paths_, settings_);
    return install(installer);
  }

  static Outcome install(CodexManagedInstaller& installer) {
    Outcome outcome;
    bool done = false;
    installer.install(
        [&](Result<fs::path> result) {
          if (result) {
            outcome.path = result.value();
          } else {
            outcome.failure = result.failure().message();
          }
          done = true;
        },
        [&](const CodexManagedInstaller::Progress& progress) {
          if (outcome.reported.empty() || outcome.reported.back() != progress.stage) {
            outcome.reported.push_back(progress.stage);
          }
        });
    EXPECT_TRUE(testing::spinMainUntil([&] { return done; }, std::chrono::seconds(30)));
    return outcome;
  }

  fs::path agents() const { return paths_.agentsDirectory(); }
  fs::path managed() const { return paths_.managedDirectory(); }

  // Installs a first release so that every later case has something to lose.
  void installOldRelease() {
    serve(tarGz(releaseEntries(program("/bin/true"), program("/bin/false"))));
    ASSERT_TRUE(install().path);
  }

  TempDir dir_;
  TestHttpsService service_;
  LocalAgentPaths paths_;
  CodexInstallerSettings settings_;
};

TEST_F(CodexManagedInstallerTest, InstallsAndUpgradesLeavingOnlyTheExecutables) {
  const Outcome clean = [&] {
    serve(tarGz(releaseEntries(program("/bin/true"), program("/bin/false"))));
    return install();
  }();
  ASSERT_TRUE(clean.path) << clean.failure;
  EXPECT_EQ(*clean.path, managed() / "codex");
  EXPECT_EQ(clean.reported,
            (std::vector<InstallStage>{InstallStage::downloading, InstallStage::checking,
                                       InstallStage::publishing}));
  const auto mode = [](const fs::path& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & 07777;
  };
  EXPECT_EQ(testing::readFile(managed() / "codex"), program("/bin/true"));
  EXPECT_EQ(testing::readFile(managed() / "codex-code-mode-host"), program("/bin/false"));
  EXPECT_EQ(mode(managed() / "codex"), 0755u);
  EXPECT_EQ(mode(managed()), 0700u);

  // An upgrade replaces both and keeps no backup, staging or journal once done.
  serve(tarGz(releaseEntries(program("/bin/echo"), program("/bin/ls"))));
  const Outcome upgrade = install();
  ASSERT_TRUE(upgrade.path) << upgrade.failure;
  EXPECT_EQ(testing::readFile(managed() / "codex"), program("/bin/echo"));
  EXPECT_EQ(testing::readFile(managed() / "codex-code-mode-host"), program("/bin/ls"));
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(agents())) {
    names.push_back(fs::relative(entry.path(), agents()).string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".install.lock", "codex", "codex/codex",
                                             "codex/codex-code-mode-host"}));
}

TEST_F(CodexManagedInstallerTest, CurrentManagedCliOnlyGetsTheRuntime) {
  serve(tarGz(releaseEntries(program(GLIMMET_FAKE_CODEX_160), program("/bin/false"))));
  ASSERT_TRUE(install().path);
  serve(tarGz(releaseEntries(program("/bin/echo"), program("/bin/ls"))));
  ASSERT_TRUE(install().path);
  EXPECT_EQ(testing::readFile(managed() / "codex"), program(GLIMMET_FAKE_CODEX_160));
  EXPECT_EQ(testing::readFile(managed() / "codex-code-mode-host"), program("/bin/ls"));
}

TEST_F(CodexManagedInstallerTest, RefusalsLeaveTheInstallationAsItWas) {
  installOldRelease();
  const std::string good = tarGz(releaseEntries(program("/bin/echo"), program("/bin/ls")));
  const std::string checkFailed = std::string(messages::kCheckFailed);

  struct Row {
    std::string name;
    std::function<void()> prepare;  // serves the case's release
    std::string message;
  };
  const std::vector<Row> rows = {
      {"digest differs",
       [&] {
         serve(good);
         settings_.release->archiveDigest[0] =
             settings_.release->archiveDigest[0] == '0' ? '1' : '0';
       },
       messages::kDigestMismatch},
      {"declared size over the cap",
       [&] {
         serve(good);
         settings_.release->archiveBytes = good.size() - 1;
       },
       messages::kInvalidSize},
      {"streamed size over the cap",
       [&] {
         serve(good);
         settings_.release->archiveBytes = good.size() - 1;
         Reply reply = Reply::with(200, good);
         reply.chunked = true;
         service_.route("GET", "/codex.tgz", reply);
       },
       messages::kInvalidSize},
      {"not found",
       [&] {
         serve(good);
         service_.route("GET", "/codex.tgz", Reply::with(404, "missing"));
       },
       messages::kDownloadFailed},
      {"redirect to a foreign host",
       [&] {
         serve(good);
         service_.route("GET", "/codex.tgz",
                        Reply::with(302, "", {{"Location", "https://elsewhere.test/moved.tgz"}}));
         Reply moved = Reply::with(200, good);
         moved.contentType = "application/octet-stream";
         service_.route("GET", "/moved.tgz", moved);
       },
       messages::kDownloadFailed},
      {"member outside the package",
       [&] {
         auto entries = releaseEntries(program("/bin/echo"), program("/bin/ls"));
         entries.push_back({"package/../../evil", "x"});
         serve(tarGz(entries));
       },
       messages::kLayout},
      {"absolute member",
       [&] {
         auto entries = releaseEntries(program("/bin/echo"), program("/bin/ls"));
         entries.push_back({"/tmp/evil", "x"});
         serve(tarGz(entries));
       },
       messages::kLayout},
      {"symbolic link among the resources",
       [&] {
         auto entries = releaseEntries(program("/bin/echo"), program("/bin/ls"));
         entries.push_back({"package/link", "/etc/passwd", AE_IFLNK});
         serve(tarGz(entries));
       },
       messages::kLayout},
      {"CLI member is a symbolic link",
       [&] {
         auto entries = releaseEntries(program("/bin/echo"), program("/bin/ls"));
         entries[2] = {kCodexMember, "/bin/sh", AE_IFLNK};
         serve(tarGz(entries));
       },
       messages::kNotRegular},
      {"runtime member is a hard link",
       [&] {
         auto entries = releaseEntries(program("/bin/echo"), program("/bin/ls"));
         entries[3] = {kRuntimeMember, kCodexMember, AE_IFREG, true};
         serve(tarGz(entries));
       },
       messages::kNotRegular},
      {"runtime member missing",
       [&] {
         auto entries = releaseEntries(program("/bin/echo"), program("/bin/ls"));
         entries.erase(entries.begin() + 3);
         serve(tarGz(entries));
       },
       messages::kLayout},
      {"CLI member twice",
       [&] {
         auto entries = releaseEntries(program("/bin/echo"), program("/bin/ls"));
         entries.push_back({kCodexMember, program("/bin/echo")});
         serve(tarGz(entries));
       },
       messages::kLayout},
      {"not a gzip tar", [&] { serve("plain text, not an archive"); }, messages::kLayout},
      {"CLI is a script",
       [&] {
         serve(tarGz(releaseEntries("#!/bin/sh\necho codex-cli 0.160.0\n", program("/bin/ls"))));
       },
       checkFailed + kCodexMember},
      {"runtime for another architecture",
       [&] { serve(tarGz(releaseEntries(program("/bin/echo"), foreignProgram()))); },
       checkFailed + kRuntimeMember},
      {"runtime target is a directory",
       [&] {
         serve(good);
         fs::remove(managed() / "codex-code-mode-host");
         fs::create_directory(managed() / "codex-code-mode-host");
       },
       messages::kTargetNotRegular},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    row.prepare();
    const auto before = listing(agents());
    const Outcome outcome = install();
    EXPECT_FALSE(outcome.path);
    EXPECT_EQ(outcome.failure, row.message);
    EXPECT_EQ(listing(agents()), before);
  }
  for (const auto& request : service_.requests()) EXPECT_NE(request.path, "/moved.tgz");
}

TEST_F(CodexManagedInstallerTest, RedirectToAnAllowedHostIsFollowed) {
  const std::string good = tarGz(releaseEntries(program("/bin/echo"), program("/bin/ls")));
  serve(good);
  service_.route("GET", "/codex.tgz",
                 Reply::with(302, "", {{"Location", "https://releases.test/moved.tgz"}}));
  Reply moved = Reply::with(200, good);
  moved.contentType = "application/octet-stream";
  service_.route("GET", "/moved.tgz", moved);
  const Outcome outcome = install();
  ASSERT_TRUE(outcome.path) << outcome.failure;
  EXPECT_EQ(testing::readFile(managed() / "codex"), program("/bin/echo"));
}

TEST_F(CodexManagedInstallerTest, CancellingAtAnyPointKeepsTheInstallation) {
  installOldRelease();
  const std::string good = tarGz(releaseEntries(program("/bin/echo"), program("/bin/ls")));
  struct Row {
    std::string name;
    InstallStage stage;
    int occurrence;  // cancel when the stage begins for this time
  };
  const std::vector<Row> rows = {
      {"before the download", InstallStage::downloading, 1},
      {"before the checks", InstallStage::checking, 1},
      {"before the CLI is published", InstallStage::publishing, 1},
      {"after the CLI is published", InstallStage::publishing, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    serve(good);
    CodexManagedInstaller* current = nullptr;
    std::atomic<int> seen{0};
    settings_.stageBegins = [&](InstallStage stage) {
      if (stage == row.stage && ++seen == row.occurrence) current->terminate();
    };
    const auto before = listing(agents());
    CodexManagedInstaller installer(paths_, settings_);
    current = &installer;
    const Outcome outcome = install(installer);
    EXPECT_EQ(outcome.failure, messages::kCancelledKept);
    EXPECT_EQ(listing(agents()), before);
  }

  // During the download itself: the host holds the answer back until cancelled.
  settings_.stageBegins = nullptr;
  serve(good);
  Reply slow = Reply::with(200, good);
  slow.delay = std::chrono::seconds(20);
  service_.route("GET", "/codex.tgz", slow);
  const auto before = listing(agents());
  CodexManagedInstaller installer(paths_, settings_);
  std::string failure;
  bool done = false;
  installer.install([&](Result<fs::path> result) {
    failure = result ? "" : result.failure().message();
    done = true;
  });
  ASSERT_TRUE(testing::spinMainUntil([&] { return !service_.requests().empty(); }));
  // A second installation while one runs is refused at once.
  EXPECT_EQ(install(installer).failure, messages::kInProgress);
  installer.terminate();
  ASSERT_TRUE(testing::spinMainUntil([&] { return done; }));
  EXPECT_EQ(failure, messages::kCancelledKept);
  EXPECT_EQ(listing(agents()), before);
}

TEST_F(CodexManagedInstallerTest, InterruptedRunIsRolledBackByTheNext) {
  installOldRelease();
  const auto before = listing(agents());
  // What a run killed between its two publishing steps leaves: the new CLI in
  // place, its backup, a temporary copy of the runtime, its staging directory
  // and the journal naming all of that.
  fs::rename(managed() / "codex", managed() / "codex-backup-1");
  testing::writeFile(managed() / "codex", program("/bin/echo"));
  testing::writeFile(managed() / "codex-new-2", program("/bin/ls"));
  fs::create_directories(agents() / ".staging" / "3");
  testing::writeFile(agents() / ".staging" / "3" / "codex.tar.gz", "partial");
  testing::writeFile(agents() / ".install-journal.json",
                     R"({"replacements":[{"destination":"codex","backup":"codex-backup-1"}],)"
                     R"("temporaries":["codex-new-2"]})");

  service_.route("GET", "/codex.tgz", Reply::with(404, "gone"));
  EXPECT_EQ(install().failure, messages::kDownloadFailed);
  EXPECT_EQ(listing(agents()), before);

  // A journal the installer did not write is not acted on.
  testing::writeFile(agents() / ".install-journal.json",
                     R"({"replacements":[{"destination":"../x"}]})");
  const auto damaged = listing(agents());
  EXPECT_EQ(install().failure, messages::kRestoreFailed);
  EXPECT_EQ(listing(agents()), damaged);
}

// The setup window's logic over the installer, the inventory and the login,
// with the window played by its in-memory double.
TEST_F(CodexManagedInstallerTest, SetupInstallsLogsInAndHandsOver) {
  paths_.inheritedPath = (dir_ / "no-terminal").string();  // the login runs without a terminal
  DefaultsStore defaults(dir_ / "defaults.json");
  LocalAgentManager manager(defaults, paths_);
  HeadlessAgentSetupWindow window;
  HeadlessAccessibility accessibility;
  int readyCalls = 0;
  LocalAgentSetup setup(manager, window, accessibility, paths_, settings_, [&] { ++readyCalls; });
  const auto statusSettles = [&] {
    const std::string before = window.status();
    return testing::spinMainUntil([&] { return window.status() != before; });
  };

  // Opening twice shows the one window and refreshes it each time.
  setup.show();
  ASSERT_TRUE(statusSettles());
  setup.show();
  EXPECT_EQ(window.presentations(), 2);
  EXPECT_NE(window.status().find("codex：未安装"), std::string::npos) << window.status();
  EXPECT_FALSE(window.loginEnabled());

  // Cancelling an installation whose download hangs keeps nothing.
  serve(tarGz(releaseEntries(program(GLIMMET_FAKE_CODEX_160), program("/bin/false"))));
  Reply slow = Reply::with(200, "");
  slow.delay = std::chrono::seconds(20);
  service_.route("GET", "/codex.tgz", slow);
  LocalAgentSetup cancelled(manager, window, accessibility, paths_, settings_, [] {});
  cancelled.installClicked();
  EXPECT_TRUE(window.installing());
  ASSERT_TRUE(testing::spinMainUntil([&] { return !service_.requests().empty(); }));
  cancelled.cancelInstallClicked();
  ASSERT_TRUE(testing::spinMainUntil([&] { return !window.installing(); }));
  EXPECT_EQ(window.log(), std::string(LocalAgentSetup::kInstalling) + "\n" +
                              LocalAgentSetup::kInstallFailed + messages::kCancelledKept + "\n");
  EXPECT_FALSE(fs::exists(managed() / "codex"));

  // A real installation shows progress, then the installed CLI.
  serve(tarGz(releaseEntries(program(GLIMMET_FAKE_CODEX_160), program("/bin/false"))));
  LocalAgentSetup installing(manager, window, accessibility, paths_, settings_,
                             [&] { ++readyCalls; });
  installing.show();
  installing.installClicked();
  ASSERT_TRUE(testing::spinMainUntil([&] { return !window.installing(); }));
  EXPECT_TRUE(window.progressSeen());
  EXPECT_EQ(window.log(),
            std::string(LocalAgentSetup::kInstalling) + "\n" + LocalAgentSetup::kInstalled + "\n");
  ASSERT_TRUE(testing::spinMainUntil([&] { return window.loginEnabled(); }));
  EXPECT_NE(window.status().find("codex codex-cli 0.160.0 · "), std::string::npos)
      << window.status();

  // The login's coloured output arrives without its control sequences, and
  // the log keeps only its last 12,000 characters.
  installing.loginClicked();
  EXPECT_FALSE(window.loginEnabled());
  ASSERT_TRUE(testing::spinMainUntil(
      [&] { return window.log().find(LocalAgentSetup::kLoginDone) != std::string::npos; }));
  EXPECT_EQ(window.log().find('\x1b'), std::string::npos);
  EXPECT_EQ(text::graphemeCount(window.log()), LocalAgentSetup::kLogCharacters);
  EXPECT_TRUE(window.log().ends_with(std::string("x\n\n") + LocalAgentSetup::kLoginDone + "\n"));
  ASSERT_TRUE(testing::spinMainUntil([&] { return window.loginEnabled(); }));

  installing.permissionClicked();
  EXPECT_EQ(accessibility.requests(), 1);
  installing.startClicked();
  ASSERT_TRUE(testing::spinMainUntil([&] { return readyCalls == 1; }));
  EXPECT_FALSE(window.isVisible());
}

// The pinned release itself, when its archive was downloaded beforehand
// (GLIMMET_CODEX_RELEASE_ARCHIVE names the file): the loopback host answers
// for the registry, the installer checks the real archive against the pinned
// constants, and the inventory then finds the installed CLI and its version.
TEST_F(CodexManagedInstallerTest, PinnedReleaseInstallsTheRealCli) {
  const char* archive = std::getenv("GLIMMET_CODEX_RELEASE_ARCHIVE");
  if (archive == nullptr || !fs::is_regular_file(archive)) {
    GTEST_SKIP() << "GLIMMET_CODEX_RELEASE_ARCHIVE does not name the downloaded pinned archive "
                    "(about 160 MB; not fetched by the tests)";
  }
  const auto release = codex_release::forThisMachine();
  ASSERT_TRUE(release);
  const auto url = URL::parse(release->url);
  ASSERT_TRUE(url);
  TestHttpsService registry({*url->components().host});
  Reply served = Reply::with(200, testing::readFile(archive));
  served.contentType = "application/octet-stream";
  registry.route("GET", url->components().path, served);
  settings_ = CodexInstallerSettings{};
  settings_.session.trustedCAFile = registry.caFile();
  settings_.session.connectTo = {registry.connectTo(*url->components().host)};

  const Outcome outcome = install();
  ASSERT_TRUE(outcome.path) << outcome.failure;
  DefaultsStore defaults(dir_ / "defaults.json");
  paths_.inheritedPath = "/usr/bin:/bin";
  LocalAgentManager manager(defaults, paths_);
  std::optional<Json> reply;
  manager.inventory([&](Json value) { reply = std::move(value); });
  ASSERT_TRUE(testing::spinMainUntil([&] { return reply.has_value(); }, std::chrono::seconds(60)));
  const auto& agents = (*reply)["agents"];
  const auto codex = std::find_if(agents.begin(), agents.end(),
                                  [](const Json& entry) { return entry["id"] == "codex"; });
  ASSERT_NE(codex, agents.end());
  EXPECT_EQ((*codex)["path"], (managed() / "codex").string());
  EXPECT_EQ((*codex)["version"], "codex-cli 0.160.0");
}

}  // namespace
}  // namespace glimmet
