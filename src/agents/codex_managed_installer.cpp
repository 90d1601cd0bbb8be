#include "agents/codex_managed_installer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>

#include "agents/install_transaction.h"
#include "agents/local_command.h"
#include "agents/release_archive.h"
#include "core/digest.h"
#include "core/executors.h"
#include "core/files.h"
#include "core/http/url.h"
#include "core/uuid.h"

namespace glimmet {
namespace fs = std::filesystem;
namespace messages = installer_messages;

namespace {

constexpr int kMaxRedirects = 5;
constexpr const char* kCodexName = "codex";
constexpr const char* kRuntimeName = "codex-code-mode-host";
// Progress is reported at most this many times per download.
constexpr std::uint64_t kProgressSteps = 200;

// A staging directory of one installation, removed with what it holds.
class StagingDirectory {
 public:
  explicit StagingDirectory(fs::path path) : path_(std::move(path)) {
    createPrivateDirectories(path_);
  }
  ~StagingDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    fs::remove(path_.parent_path(), ignored);  // the staging root, once empty
  }
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

bool isRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

HttpSessionConfiguration CodexInstallerSettings::defaultSession() {
  HttpSessionConfiguration session;
  session.requestTimeout = std::chrono::seconds(60);
  // The pinned archive is about 160 MB: ten minutes allow for a slow line.
  session.resourceTimeout = std::chrono::seconds(600);
  return session;
}

struct CodexManagedInstaller::State {
  State(LocalAgentPaths paths, CodexInstallerSettings settings)
      : paths(std::move(paths)), settings(std::move(settings)) {}

  // Throws the cancel message when the installation was cancelled or
  // `attempt` is no longer the current one.
  void checkpoint(const std::string& attempt, const char* message) {
    std::lock_guard guard(lock);
    if (cancelled || attempt != currentAttempt) throw LocalAgentFailure(message);
  }
  bool keepGoing(const std::string& attempt) {
    std::lock_guard guard(lock);
    return !cancelled && attempt == currentAttempt;
  }
  void begin(InstallStage stage) const {
    if (settings.stageBegins) settings.stageBegins(stage);
  }
  void report(const std::string& attempt, const Progress& progress) {
    MainQueue::shared().post([this, attempt, progress, alive = std::weak_ptr(self)] {
      const auto keep = alive.lock();
      if (!keep) return;
      ProgressHandler handler;
      {
        std::lock_guard guard(lock);
        if (attempt != currentAttempt) return;  // a late report of an earlier installation
        handler = progressHandler;
      }
      if (handler) handler(progress);
    });
  }

  const LocalAgentPaths paths;
  const CodexInstallerSettings settings;
  std::weak_ptr<State> self;

  mutable std::mutex lock;
  std::condition_variable ended;
  bool running = false;       // from install() until the completion is called
  bool sequenceEnded = true;  // the pool thread's part is over
  bool cancelled = false;
  std::string currentAttempt;
  std::shared_ptr<HttpTransfer> transfer;
  std::shared_ptr<LocalCommand> command;
  Completion completion;
  ProgressHandler progressHandler;
};

namespace {

using State = CodexManagedInstaller::State;
using Progress = CodexManagedInstaller::Progress;
using Stage = CodexManagedInstaller::Stage;

// Runs one checking command that the installation can stop; answers its
// output when it exited 0.
std::optional<std::string> runCheck(State& state, const std::string& attempt,
                                    const std::string& executable,
                                    const std::vector<std::string>& arguments) {
  auto command = LocalCommand::create();
  {
    std::lock_guard guard(state.lock);
    if (state.cancelled || attempt != state.currentAttempt) return std::nullopt;
    state.command = command;
  }
  LocalCommandResult noAnswer;
  noAnswer.status = -1;
  const LocalCommandResult result = runAndWait(
      command, executable, arguments, CodexManagedInstaller::kCheckTimeoutSeconds, noAnswer);
  std::lock_guard guard(state.lock);
  if (state.command == command) state.command.reset();
  if (result.status != 0) return std::nullopt;
  return result.output;
}

// True when the managed CLI is already the pinned release for this machine.
bool managedCodexIsCurrent(State& state, const std::string& attempt, const CodexRelease& release) {
  const fs::path codex = state.paths.managedCodex();
  struct stat info {};
  if (::lstat(codex.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & 0111) == 0) {
    return false;
  }
  if (!release_archive::isElfExecutableFor(codex, release.elfMachine)) return false;
  const auto version = runCheck(state, attempt, codex.string(), {"--version"});
  return version && version->find(codex_release::kVersion) != std::string::npos;
}

// Streams the archive into `target`, following allowed redirects. Throws the
// download, size or cancel message.
void download(State& state, const std::string& attempt, const CodexRelease& release,
              const fs::path& target) {
  // Shared with the body sink: a chunk that races a cancel must still find the file open.
  const auto file = std::make_shared<FileDescriptor>(
      ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!*file) throw fileFailure(errno);
  const auto owner = state.self.lock();
  std::string url = release.url;
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    if (::ftruncate(file->get(), 0) != 0 || ::lseek(file->get(), 0, SEEK_SET) != 0) {
      throw fileFailure(errno);
    }
    auto received = std::make_shared<std::uint64_t>(0);
    HttpRequest request;
    request.url = url;
    request.bodySink = [owner, attempt, received, file,
                        total = release.archiveBytes](std::string_view chunk) {
      try {
        writeAll(file->get(), chunk);
      } catch (const LocalAgentFailure&) {
        return false;
      }
      const std::uint64_t before = *received;
      *received += chunk.size();
      const std::uint64_t step = std::max<std::uint64_t>(1, total / kProgressSteps);
      if (before / step != *received / step) {
        owner->report(attempt, {Stage::downloading, *received, total});
      }
      return true;
    };
    std::promise<HttpOutcome> answer;
    auto outcome = answer.get_future();
    {
      std::lock_guard guard(state.lock);
      if (state.cancelled || attempt != state.currentAttempt) {
        throw LocalAgentFailure(messages::kCancelledKept);
      }
      state.transfer = HttpTransfer::start(
          std::move(request), release.archiveBytes, state.settings.session, GlobalPool::shared(),
          [&answer](HttpOutcome outcome) { answer.set_value(std::move(outcome)); });
    }
    HttpOutcome result = outcome.get();
    {
      std::lock_guard guard(state.lock);
      state.transfer.reset();
    }
    if (const auto* failure = std::get_if<HttpFailure>(&result)) {
      switch (failure->kind) {
        case HttpFailure::Kind::cancelled:
          throw LocalAgentFailure(messages::kCancelledKept);
        case HttpFailure::Kind::declaredTooLarge:
        case HttpFailure::Kind::bodyTooLarge:
          throw LocalAgentFailure(messages::kInvalidSize);
        case HttpFailure::Kind::sinkFailed:
          throw fileFailure(ENOSPC);
        case HttpFailure::Kind::network:
        case HttpFailure::Kind::noResponse:
          throw LocalAgentFailure(messages::kDownloadFailed);
      }
    }
    const auto& response = std::get<HttpResponse>(result);
    if (response.status == 200) {
      if (::fsync(file->get()) != 0) throw fileFailure(errno);
      if (*received == 0 || *received > release.archiveBytes) {
        throw LocalAgentFailure(messages::kInvalidSize);
      }
      return;
    }
    const auto location = isRedirect(response.status) ? response.header("Location") : std::nullopt;
    const auto next = location ? URL::parse(*location) : std::nullopt;
    const auto& hosts = state.settings.redirectHosts;
    if (!next || next->components().scheme != "https" || !next->components().host ||
        std::find(hosts.begin(), hosts.end(), *next->components().host) == hosts.end()) {
      throw LocalAgentFailure(messages::kDownloadFailed);
    }
    url = next->absoluteString();
  }
  throw LocalAgentFailure(messages::kDownloadFailed);
}

// Holds the agents directory's installation lock for one installation.
FileDescriptor lockAgentsDirectory(const fs::path& agents) {
  createPrivateDirectories(agents);
  const fs::path path = agents / ".install.lock";
  FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file) throw fileFailure(errno);
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) throw LocalAgentFailure(messages::kInProgress);
    throw fileFailure(errno);
  }
  return file;
}

fs::path installPinned(State& state, const std::string& attempt, FileDescriptor& agentsLock,
                       InstallTransaction& transaction) {
  state.checkpoint(attempt, messages::kCancelledKept);
  if (!state.settings.release) throw LocalAgentFailure(messages::kDownloadFailed);
  const CodexRelease& release = *state.settings.release;
  const fs::path agents = state.paths.agentsDirectory();
  const fs::path managed = state.paths.managedDirectory();

  agentsLock = lockAgentsDirectory(agents);
  InstallTransaction::recoverStale(managed, agents / ".install-journal.json");
  // Holding the lock, every staging directory is a leftover of an ended run.
  std::error_code ignored;
  fs::remove_all(agents / ".staging", ignored);

  const bool runtimeOnly = managedCodexIsCurrent(state, attempt, release);
  // Archive member and the name it is published under, in publishing order.
  std::vector<std::pair<std::string, std::string>> published;
  if (!runtimeOnly) published.emplace_back(release.codexMember, kCodexName);
  if (AgentInventory::needsCodeModeHost(codex_release::kVersion)) {
    published.emplace_back(release.runtimeMember, kRuntimeName);
  }
  std::vector<std::string> members;
  for (const auto& [member, name] : published) members.push_back(member);

  const StagingDirectory stage(agents / ".staging" / Uuid::random().string());
  const fs::path archive = stage.path() / "codex.tar.gz";
  state.begin(Stage::downloading);
  state.report(attempt, {Stage::downloading, 0, release.archiveBytes});
  download(state, attempt, release, archive);

  state.begin(Stage::checking);
  state.report(attempt, {Stage::checking, release.archiveBytes, release.archiveBytes});
  const auto keepGoing = [&state, &attempt] { return state.keepGoing(attempt); };
  const auto digest = sha256HexOfFile(archive, keepGoing);
  state.checkpoint(attempt, messages::kCancelled);
  if (!digest) throw fileFailure(EIO);
  if (*digest != release.archiveDigest) throw LocalAgentFailure(messages::kDigestMismatch);
  release_archive::extractMembers(archive, members, stage.path(), keepGoing);
  for (const auto& member : members) {
    const fs::path extracted = stage.path() / fs::path(member).filename();
    if (!release_archive::isElfExecutableFor(extracted, release.elfMachine)) {
      throw LocalAgentFailure(std::string(messages::kCheckFailed) + member);
    }
  }

  state.report(attempt, {Stage::publishing, release.archiveBytes, release.archiveBytes});
  createPrivateDirectories(managed);
  for (const auto& [member, name] : published) {
    state.begin(Stage::publishing);
    std::lock_guard guard(state.lock);
    if (state.cancelled || attempt != state.currentAttempt) {
      throw LocalAgentFailure(messages::kCancelled);
    }
    transaction.publish(stage.path() / fs::path(member).filename(), name);
  }
  return managed / kCodexName;
}

// The installation's whole sequence, on a pool thread.
void runInstallation(const std::shared_ptr<State>& state, const std::string& attempt) {
  Result<fs::path> result = LocalAgentFailure(messages::kCancelledKept);
  {
    FileDescriptor agentsLock;
    InstallTransaction transaction(state->paths.managedDirectory(),
                                   state->paths.agentsDirectory() / ".install-journal.json");
    result = resultOf([&] { return installPinned(*state, attempt, agentsLock, transaction); });
    if (agentsLock) {  // only the lock's holder may touch the directory
      std::lock_guard guard(state->lock);
      if (state->cancelled) result = LocalAgentFailure(messages::kCancelledKept);
      if (result.ok()) {
        try {
          transaction.commit();
        } catch (const LocalAgentFailure& failure) {
          result = failure;
        }
      }
      if (!result.ok() && !transaction.rollback()) {
        result = LocalAgentFailure(messages::kRestoreFailed);
      }
    }
  }
  {
    std::lock_guard guard(state->lock);
    state->transfer.reset();
    state->command.reset();
    state->sequenceEnded = true;
  }
  state->ended.notify_all();
  MainQueue::shared().post([state, result = std::move(result)]() mutable {
    CodexManagedInstaller::Completion completion;
    {
      std::lock_guard guard(state->lock);
      completion = std::move(state->completion);
      state->completion = nullptr;
      state->progressHandler = nullptr;
      state->running = false;
    }
    if (completion) completion(std::move(result));
  });
}

}  // namespace

CodexManagedInstaller::CodexManagedInstaller(LocalAgentPaths paths, CodexInstallerSettings settings)
    : state_(std::make_shared<State>(std::move(paths), std::move(settings))) {
  state_->self = state_;
}

CodexManagedInstaller::~CodexManagedInstaller() {
  terminate();
  std::unique_lock guard(state_->lock);
  state_->ended.wait(guard, [this] { return state_->sequenceEnded; });
  state_->completion = nullptr;
  state_->progressHandler = nullptr;
}

void CodexManagedInstaller::install(Completion completion, ProgressHandler progress) {
  std::string attempt;
  {
    std::lock_guard guard(state_->lock);
    if (state_->running) {
      MainQueue::shared().post([completion = std::move(completion)] {
        completion(LocalAgentFailure(messages::kInProgress));
      });
      return;
    }
    state_->running = true;
    state_->sequenceEnded = false;
    state_->cancelled = false;
    state_->currentAttempt = attempt = Uuid::random().string();
    state_->completion = std::move(completion);
    state_->progressHandler = std::move(progress);
  }
  GlobalPool::shared().post([state = state_, attempt] { runInstallation(state, attempt); });
}

void CodexManagedInstaller::terminate() {
  std::shared_ptr<HttpTransfer> transfer;
  std::shared_ptr<LocalCommand> command;
  {
    std::lock_guard guard(state_->lock);
    state_->cancelled = true;
    transfer = state_->transfer;
    command = state_->command;
  }
  if (transfer) transfer->cancel();
  if (command) command->terminateNow();
}

bool CodexManagedInstaller::installing() const {
  std::lock_guard guard(state_->lock);
  return state_->running;
}

}  // namespace glimmet
