#pragma once

// The local agents service: finds and probes the agent command lines installed
// on this machine, runs local generations through the Codex CLI, picks up the
// image a run produced (through the image gate), and keeps the proof of which
// Codex runtimes have produced an image.

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/executors.h"
#include "core/json.h"
#include "core/result.h"
#include "imaging/image_gate.h"

namespace glimmet {

class DefaultsStore;
class LocalCommand;
struct LocalCommandResult;

// One agent command line as the last inventory found it.
struct LocalAgentInfo {
  std::string id;
  std::string path;               // empty when not installed
  std::string version;            // empty when not installed
  std::string login = "unknown";  // "authenticated", "unauthenticated" or "unknown"
  bool imageSupported = false;
  bool referenceSupported = false;
  bool runtimeReady = true;
  std::optional<std::string> runtimeReason;

  // The page shape; `verified` tells whether this runtime has produced an image.
  Json dictionary(bool verified) const;
};

// Where the manager looks. The standard locations follow the XDG base
// directories; tests point every one of them at temporary directories.
struct LocalAgentPaths {
  std::filesystem::path dataHome;           // $XDG_DATA_HOME
  std::filesystem::path home;               // the user's home directory
  std::filesystem::path resourceDirectory;  // installed resources; empty when none
  std::string inheritedPath;                // the program's PATH
  std::filesystem::path sharedToolDirectory = "/usr/local/bin";
  std::filesystem::path codexHome;  // $CODEX_HOME, else home/.codex

  static LocalAgentPaths standard(std::filesystem::path resourceDirectory = {});

  std::filesystem::path agentsDirectory() const;   // dataHome/Plumora/agents
  std::filesystem::path managedDirectory() const;  // agentsDirectory()/codex
  std::filesystem::path managedCodex() const;
  std::filesystem::path managedCodeModeHost() const;
  std::filesystem::path tasksDirectory() const;  // dataHome/Plumora/LocalAgentTasks
};

class LocalAgentManager {
 public:
  // --- inventory ---

  static constexpr const char* kAgentIds[] = {"codex", "claude", "gemini", "zcode"};

  // `defaults` holds the verified-runtime records and must outlive the manager.
  explicit LocalAgentManager(DefaultsStore& defaults,
                             LocalAgentPaths paths = LocalAgentPaths::standard());
  ~LocalAgentManager();
  LocalAgentManager(const LocalAgentManager&) = delete;
  LocalAgentManager& operator=(const LocalAgentManager&) = delete;

  // Probes every agent on the serial probe queue; `completion` receives the
  // page's reply on the main queue.
  void inventory(std::function<void(Json)> completion);
  // Executable paths for `name`, most preferred first.
  std::vector<std::string> candidates(const std::string& name) const;
  std::vector<LocalAgentInfo> cached() const;
  // Uses the freshly installed managed Codex for the next generation, when both
  // of its files are in place.
  bool selectManagedForVerification();

  // Verified-runtime records: {"path", "version", "verifiedAt"}, oldest first.
  std::vector<std::map<std::string, std::string>> verifiedRecords() const;
  bool isVerified(const std::string& path, const std::string& version) const;
  void recordProof(const std::string& path, const std::string& version);

  // Parsers of the Codex CLI's answers.
  static bool imageFeatureSupported(std::string_view featureList);
  static bool needsCodeModeHost(std::string_view version);
  static std::string agentName(const std::string& id);

  // --- local generation ---

  using Progress = std::function<void(Json)>;
  using GenerationCompletion = std::function<void(Result<Json>)>;

  // Validates the page's request and starts `codex exec` for it. Answers the
  // task identifier at once, also when the request is refused; the refusal,
  // like the result, arrives through `completion`. `progress` and `completion`
  // run on the main queue; `completion` exactly once.
  std::string generate(const Json& request, Progress progress, GenerationCompletion completion);
  // Stops the run of `taskID`; answers whether one was running.
  bool cancel(const std::string& taskID);
  // Hard-stops every run; used when the program terminates.
  void cancelAll();

  // --- the image a run produced ---

  // The one thread identifier of the CLI's JSON-lines output; none when it is
  // missing, invalid or ambiguous.
  static std::optional<std::string> threadID(std::string_view output);
  static bool validThreadID(std::string_view identifier);
  // The newest acceptable image in taskDirectory/generated_images, or none.
  // `createdAt` is when the task directory was created: older files belong to
  // someone else. Throws LocalAgentFailure.
  static std::optional<DecodedImage> ownTaskImage(const std::filesystem::path& taskDirectory,
                                                  std::filesystem::file_time_type createdAt);
  // The newest acceptable image in codexHome/generated_images/<thread>. Throws
  // LocalAgentFailure when there is none.
  static DecodedImage ownThreadImage(const std::string& threadID,
                                     const std::filesystem::path& codexHome,
                                     std::filesystem::file_time_type createdAt);
  // Writes diagnostics.json (events and final message of the run) into the
  // task directory; never fails.
  static void saveDiagnostics(const LocalCommandResult& result,
                              const std::filesystem::path& taskDirectory);

  const LocalAgentPaths& paths() const { return paths_; }

 private:
  std::vector<LocalAgentInfo> probeAll();
  LocalAgentInfo probeAgent(const std::string& id);
  Json inventoryReply(const std::vector<LocalAgentInfo>& agents) const;

  struct Generation;
  void runGeneration(const std::shared_ptr<Generation>& generation);
  void finishGeneration(const std::shared_ptr<Generation>& generation,
                        const LocalCommandResult& result);
  // Delivers a failure on the main queue, dropping the managed-install trial.
  void failGeneration(const GenerationCompletion& completion, const std::string& message);
  void succeedGeneration(const GenerationCompletion& completion, Json value);
  void unregister(const std::string& taskID);
  void leave();

  DefaultsStore& defaults_;
  const LocalAgentPaths paths_;

  mutable std::mutex lock_;
  std::map<std::string, std::shared_ptr<LocalCommand>> active_;
  std::vector<LocalAgentInfo> cached_;
  bool managedVerification_ = false;
  // Generations whose work still uses this object; the destructor waits for them.
  int inFlight_ = 0;
  std::condition_variable idle_;

  // Last, so it is stopped (running what was queued) before the rest goes.
  SerialQueue probeQueue_{"app.plumora.local-agent.probes"};
};

}  // namespace glimmet
