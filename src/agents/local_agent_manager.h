#pragma once

// The local agents service: one object the controller and the bridge hold over
// the agent inventory (discovery, probing, verified runtimes), local generation
// through the Codex CLI, and the pick-up of the image a run produced.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "agents/agent_inventory.h"
#include "agents/generated_image.h"
#include "agents/local_generation.h"
#include "core/json.h"

namespace glimmet {

class LocalAgentManager {
 public:
  // --- inventory ---

  // `defaults` holds the verified-runtime records and must outlive the manager.
  explicit LocalAgentManager(DefaultsStore& defaults,
                             LocalAgentPaths paths = LocalAgentPaths::standard())
      : paths_(std::move(paths)), inventory_(defaults, paths_), generation_(inventory_, paths_) {}
  LocalAgentManager(const LocalAgentManager&) = delete;
  LocalAgentManager& operator=(const LocalAgentManager&) = delete;

  void inventory(std::function<void(Json)> completion) {
    inventory_.inventory(std::move(completion));
  }
  std::vector<std::string> candidates(const std::string& name) const {
    return inventory_.candidates(name);
  }
  bool selectManagedForVerification() { return inventory_.selectManagedForVerification(); }

  std::vector<std::map<std::string, std::string>> verifiedRecords() const {
    return inventory_.verifiedRecords();
  }
  bool isVerified(const std::string& path, const std::string& version) const {
    return inventory_.isVerified(path, version);
  }
  void recordProof(const std::string& path, const std::string& version) {
    inventory_.recordProof(path, version);
  }

  static bool imageFeatureSupported(std::string_view featureList) {
    return AgentInventory::imageFeatureSupported(featureList);
  }
  static bool needsCodeModeHost(std::string_view version) {
    return AgentInventory::needsCodeModeHost(version);
  }

  // --- local generation ---

  std::string generate(const Json& request, LocalGeneration::Progress progress,
                       LocalGeneration::GenerationCompletion completion) {
    return generation_.generate(request, std::move(progress), std::move(completion));
  }
  bool cancel(const std::string& taskID) { return generation_.cancel(taskID); }
  void cancelAll() { generation_.cancelAll(); }

  // --- the image a run produced ---

  static std::optional<std::string> threadID(std::string_view output) {
    return generated_image::threadID(output);
  }
  static bool validThreadID(std::string_view identifier) {
    return generated_image::validThreadID(identifier);
  }
  static std::optional<DecodedImage> ownTaskImage(const std::filesystem::path& taskDirectory,
                                                  std::filesystem::file_time_type createdAt) {
    return generated_image::ownTaskImage(taskDirectory, createdAt);
  }
  static DecodedImage ownThreadImage(const std::string& threadID,
                                     const std::filesystem::path& codexHome,
                                     std::filesystem::file_time_type createdAt) {
    return generated_image::ownThreadImage(threadID, codexHome, createdAt);
  }
  static void saveDiagnostics(const LocalCommandResult& result,
                              const std::filesystem::path& taskDirectory) {
    generated_image::saveDiagnostics(result, taskDirectory);
  }

 private:
  // In this order: the generation stops and waits for its runs first, then the
  // inventory drains its probe queue, both while the paths still exist.
  const LocalAgentPaths paths_;
  AgentInventory inventory_;
  LocalGeneration generation_;
};

}  // namespace glimmet
