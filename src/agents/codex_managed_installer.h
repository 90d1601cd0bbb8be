#pragma once

// Installs the pinned Codex CLI release into the program's own directory
// (Plumora/agents/codex under the data home) for users who have no Codex CLI
// or an older one.
//
// One installation runs at a time, as one sequence on a pool thread:
// download (streamed to a private staging directory, capped at the pinned
// size, redirects followed only to allow-listed https hosts), size, SHA-256,
// archive layout while the wanted members are extracted, ELF type and
// architecture, then each executable published with an atomic rename that
// keeps a backup (InstallTransaction). Any failure or cancellation rolls the
// directory back to what it held before. A lock file in the agents directory
// keeps two processes from installing at once, and the next installation
// rolls back whatever a crashed or killed one left (its journal, temporary
// copies, staging directories).
//
// When the managed CLI is already the pinned version, only the runtime
// component is published from the archive.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agents/agent_inventory.h"
#include "agents/codex_release.h"
#include "core/http/http_transfer.h"
#include "core/result.h"

namespace glimmet {

enum class InstallStage { downloading, checking, publishing };

struct CodexInstallerSettings {
  // None on an architecture without a pinned release: installing then fails.
  std::optional<CodexRelease> release = codex_release::forThisMachine();
  std::vector<std::string> redirectHosts = codex_release::kRedirectHosts;
  // Time-outs of the download; the CA file and connect-to mappings only in tests.
  HttpSessionConfiguration session = defaultSession();
  // Called on the installation's thread as each stage begins: before the
  // download, before the checks and before each file is published. Lets tests
  // and the benchmark act at an exact point; the program leaves it unset.
  std::function<void(InstallStage)> stageBegins;

  static HttpSessionConfiguration defaultSession();
};

class CodexManagedInstaller {
 public:
  using Stage = InstallStage;
  struct Progress {
    Stage stage = Stage::downloading;
    std::uint64_t received = 0;  // bytes downloaded so far
    std::uint64_t total = 0;     // bytes the archive has
  };
  using Completion = std::function<void(Result<std::filesystem::path>)>;
  using ProgressHandler = std::function<void(const Progress&)>;

  // How long a checking command may run, and how long its answer is awaited.
  static constexpr double kCheckTimeoutSeconds = 90;

  explicit CodexManagedInstaller(LocalAgentPaths paths, CodexInstallerSettings settings = {});
  // Cancels a running installation and waits until it has rolled back; its
  // completion is then never called.
  ~CodexManagedInstaller();
  CodexManagedInstaller(const CodexManagedInstaller&) = delete;
  CodexManagedInstaller& operator=(const CodexManagedInstaller&) = delete;

  // Starts an installation (main thread). `completion` runs exactly once on
  // the main queue with the installed CLI's path or the failure; `progress`
  // runs there as the installation advances.
  void install(Completion completion, ProgressHandler progress = {});
  // Cancels everything at once; the running installation then finishes with
  // the cancel message after its rollback. Safe from any thread.
  void terminate();
  bool installing() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace glimmet
