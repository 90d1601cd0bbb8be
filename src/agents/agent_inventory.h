#pragma once

// Finds and probes the agent command lines installed on this machine, and keeps
// the proof of which Codex runtimes have produced an image.

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/executors.h"
#include "core/json.h"

namespace glimmet {

class DefaultsStore;

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

// Where the agents service looks. The standard locations follow the XDG base
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

class AgentInventory {
 public:
  static constexpr const char* kAgentIds[] = {"codex", "claude", "gemini", "zcode"};

  // `defaults` holds the verified-runtime records; it and `paths` must outlive
  // the inventory.
  AgentInventory(DefaultsStore& defaults, const LocalAgentPaths& paths);
  AgentInventory(const AgentInventory&) = delete;
  AgentInventory& operator=(const AgentInventory&) = delete;

  // Probes every agent on the serial probe queue; `completion` receives the
  // page's reply on the main queue.
  void inventory(std::function<void(Json)> completion);
  // Executable paths for `name`, most preferred first.
  std::vector<std::string> candidates(const std::string& name) const;
  // The Codex entry of the last inventory, if it listed one.
  std::optional<LocalAgentInfo> cachedCodex() const;
  // Uses the freshly installed managed Codex for the next generation, when both
  // of its files are in place.
  bool selectManagedForVerification();
  // Back to the verified runtimes; called once a generation has ended.
  void endManagedVerification();

  // Verified-runtime records: {"path", "version", "verifiedAt"}, oldest first.
  std::vector<std::map<std::string, std::string>> verifiedRecords() const;
  bool isVerified(const std::string& path, const std::string& version) const;
  void recordProof(const std::string& path, const std::string& version);

  // Parsers of the Codex CLI's answers.
  static bool imageFeatureSupported(std::string_view featureList);
  static bool needsCodeModeHost(std::string_view version);
  static std::string agentName(const std::string& id);

 private:
  std::vector<LocalAgentInfo> probeAll();
  LocalAgentInfo probeAgent(const std::string& id);
  Json inventoryReply(const std::vector<LocalAgentInfo>& agents) const;

  DefaultsStore& defaults_;
  const LocalAgentPaths& paths_;

  mutable std::mutex lock_;
  std::vector<LocalAgentInfo> cached_;
  bool managedVerification_ = false;

  // Last, so it is stopped (running what was queued) before the rest goes.
  SerialQueue probeQueue_{"app.plumora.local-agent.probes"};
};

}  // namespace glimmet
