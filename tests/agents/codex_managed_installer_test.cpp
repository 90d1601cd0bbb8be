// The managed Codex installer against a loopback HTTPS release host serving
// archives of real ELF executables: what a good archive installs, and that a
// refused, cancelled or interrupted run leaves the managed directory as it was.

#include "agents/codex_managed_installer.h"

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "agents/local_agent_manager.h"
#include "agents/local_agent_setup.h"
#include "core/defaults_store.h"
#include "core/digest.h"
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
    tree[name] = std::to_string(info.st_mode) +
                 (S_ISREG(info.st_mode) ? sha256HexOfFile(it->path()).value_or("?") : "");
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

  // Pins the release to `bytes` but answers its address with a redirect to `moved`.
  void serveMoved(const std::string& moved, const std::string& bytes) {
    serve(bytes);
    service_.route("GET", "/codex.tgz", Reply::with(302, "", {{"Location", moved}}));
    Reply reply = Reply::with(200, bytes);
    reply.contentType = "application/octet-stream";
    service_.route("GET", "/moved.tgz", reply);
  }

  struct Outcome {
    std::optional<fs::path> path;
    std::string failure;
    std::string whileRunning;  // what a second installation meanwhile was told
  };

  Outcome install() {
    CodexManagedInstaller installer(paths_, settings_);
    return install(installer);
  }

  static Outcome install(CodexManagedInstaller& installer) {
    Outcome outcome;
    bool done = false;
    installer.install([&](Result<fs::path> result) {
      if (result) {
        outcome.path = result.value();
      } else {
        outcome.failure = result.failure().message();
      }
      done = true;
    });
    installer.install([&](Result<fs::path> result) {
      outcome.whileRunning = result ? "" : result.failure().message();
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
  serve(tarGz(releaseEntries(program("/bin/true"), program("/bin/false"))));
  const Outcome clean = install();
  ASSERT_TRUE(clean.path) << clean.failure;
  EXPECT_EQ(clean.whileRunning, messages::kInProgress);
  EXPECT_EQ(testing::readFile(managed() / "codex"), program("/bin/true"));
  EXPECT_EQ(testing::readFile(managed() / "codex-code-mode-host"), program("/bin/false"));
  EXPECT_EQ(fs::status(managed()).permissions(), fs::perms::owner_all);

  // An upgrade, fetched through a redirect to an allowed host, replaces both
  // and keeps no backup, staging or journal once done.
  serveMoved("https://releases.test/moved.tgz",
             tarGz(releaseEntries(program("/bin/echo"), program("/bin/ls"))));
  const Outcome upgrade = install();
  ASSERT_TRUE(upgrade.path) << upgrade.failure;
  EXPECT_EQ(testing::readFile(managed() / "codex"), program("/bin/echo"));
  EXPECT_EQ(testing::readFile(managed() / "codex-code-mode-host"), program("/bin/ls"));
  EXPECT_EQ(listing(agents()).size(), 3U);  // codex/ and its two files
}

TEST_F(CodexManagedInstallerTest, RefusalsLeaveTheInstallationAsItWas) {
  installOldRelease();
  const auto entries = releaseEntries(program("/bin/echo"), program("/bin/ls"));
  const std::string good = tarGz(entries);
  const auto plus = [&](const TarEntry& extra) {
    auto changed = entries;
    changed.push_back(extra);
    return tarGz(changed);
  };
  struct Row {
    std::string name;
    std::string archive;
    std::string message;
    std::function<void()> change = nullptr;  // applied after the archive is served
  };
  const std::vector<Row> rows = {
      {"digest differs", good, messages::kDigestMismatch,
       [&] {
         char& first = settings_.release->archiveDigest[0];
         first = first == '0' ? '1' : '0';
       }},
      {"streamed size over the cap", good, messages::kInvalidSize,
       [&] {
         settings_.release->archiveBytes = good.size() - 1;
         Reply reply = Reply::with(200, good);
         reply.chunked = true;
         service_.route("GET", "/codex.tgz", reply);
       }},
      {"redirect to a foreign host", good, messages::kDownloadFailed,
       [&] { serveMoved("https://elsewhere.test/moved.tgz", good); }},
      {"member outside the package", plus({"package/../../evil", "x"}), messages::kLayout},
      {"absolute member", plus({"/tmp/evil", "x"}), messages::kLayout},
      {"symbolic link among the resources", plus({"package/link", "/etc/passwd", AE_IFLNK}),
       messages::kLayout},
      {"CLI member twice", plus({kCodexMember, program("/bin/echo")}), messages::kLayout},
      {"CLI member is a symbolic link",
       tarGz({entries[0], entries[1], {kCodexMember, "/bin/sh", AE_IFLNK}, entries[3], entries[4]}),
       messages::kNotRegular},
      {"runtime member missing", tarGz({entries[0], entries[1], entries[2], entries[4]}),
       messages::kLayout},
      {"not a gzip tar", "plain text, not an archive", messages::kLayout},
      {"CLI is a script",
       tarGz(releaseEntries("#!/bin/sh\necho codex-cli 0.160.0\n", program("/bin/ls"))),
       std::string(messages::kCheckFailed) + kCodexMember},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    serve(row.archive);
    if (row.change) row.change();
    const auto before = listing(agents());
    const Outcome outcome = install();
    EXPECT_FALSE(outcome.path);
    EXPECT_EQ(outcome.failure, row.message);
    EXPECT_EQ(listing(agents()), before);
  }
  for (const auto& request : service_.requests()) EXPECT_NE(request.path, "/moved.tgz");
}

TEST_F(CodexManagedInstallerTest, CancellingAtAnyPointKeepsTheInstallation) {
  const std::string good = tarGz(releaseEntries(program("/bin/echo"), program("/bin/ls")));
  // Cancels when `stage` begins for the `occurrence`th time.
  const auto cancelledAt = [&](InstallStage stage, int occurrence) {
    serve(good);
    CodexManagedInstaller* current = nullptr;
    std::atomic<int> seen{0};
    settings_.stageBegins = [&](InstallStage begun) {
      if (begun == stage && ++seen == occurrence) current->terminate();
    };
    CodexManagedInstaller installer(paths_, settings_);
    current = &installer;
    return install(installer).failure;
  };
  // A first installation cancelled after publishing its CLI keeps no CLI.
  EXPECT_EQ(cancelledAt(InstallStage::publishing, 2), messages::kCancelledKept);
  EXPECT_FALSE(fs::exists(managed() / "codex"));

  settings_.stageBegins = nullptr;
  installOldRelease();
  // An upgrade cancelled before the checks and after the CLI is published.
  for (const auto& [stage, occurrence] :
       {std::pair{InstallStage::checking, 1}, std::pair{InstallStage::publishing, 2}}) {
    const auto before = listing(agents());
    EXPECT_EQ(cancelledAt(stage, occurrence), messages::kCancelledKept);
    EXPECT_EQ(listing(agents()), before);
  }
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

// A managed CLI that is already current only gets the new runtime. The setup
// window's logic once the CLI is installed (opening, installing and cancelling
// are covered with the real window): the login's output and the hand-over,
// with the window played by its in-memory double.
TEST_F(CodexManagedInstallerTest, CurrentCliIsKeptAndSetupLogsInAndHandsOver) {
  serve(tarGz(releaseEntries(program(GLIMMET_FAKE_CODEX_160), program("/bin/false"))));
  ASSERT_TRUE(install().path);
  serve(tarGz(releaseEntries(program("/bin/echo"), program("/bin/ls"))));
  ASSERT_TRUE(install().path);
  EXPECT_EQ(testing::readFile(managed() / "codex"), program(GLIMMET_FAKE_CODEX_160));
  EXPECT_EQ(testing::readFile(managed() / "codex-code-mode-host"), program("/bin/ls"));
  paths_.inheritedPath = (dir_ / "no-terminal").string();  // the login runs without a terminal
  DefaultsStore defaults(dir_ / "defaults.json");
  LocalAgentManager manager(defaults, paths_);
  HeadlessAgentSetupWindow window;
  HeadlessAccessibility accessibility;
  int readyCalls = 0;
  LocalAgentSetup setup(manager, window, accessibility, paths_, settings_, [&] { ++readyCalls; });
  setup.show();
  ASSERT_TRUE(testing::spinMainUntil([&] { return window.loginEnabled(); }));

  // The log keeps only the last 12,000 characters of the login's output.
  setup.loginClicked();
  ASSERT_TRUE(testing::spinMainUntil(
      [&] { return window.log().find(LocalAgentSetup::kLoginDone) != std::string::npos; }));
  EXPECT_EQ(text::graphemeCount(window.log()), LocalAgentSetup::kLogCharacters);
  EXPECT_TRUE(window.log().ends_with(std::string("x\n\n") + LocalAgentSetup::kLoginDone + "\n"));
  ASSERT_TRUE(testing::spinMainUntil([&] { return window.loginEnabled(); }));

  setup.startClicked();
  ASSERT_TRUE(testing::spinMainUntil([&] { return readyCalls == 1; }));
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace glimmet
