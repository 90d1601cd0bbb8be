#pragma once

// Local generation: runs `codex exec` for one page request at a time, with the
// Codex runtime the inventory last found, and answers the image it produced.

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "agents/agent_inventory.h"
#include "core/json.h"
#include "core/result.h"

namespace glimmet {

class LocalCommand;
struct LocalCommandResult;

class LocalGeneration {
 public:
  using Progress = std::function<void(Json)>;
  using GenerationCompletion = std::function<void(Result<Json>)>;

  // `inventory` and `paths` must outlive the generation.
  LocalGeneration(AgentInventory& inventory, const LocalAgentPaths& paths);
  // Stops every run and waits until none uses this object any more.
  ~LocalGeneration();
  LocalGeneration(const LocalGeneration&) = delete;
  LocalGeneration& operator=(const LocalGeneration&) = delete;

  // Validates the page's request and starts `codex exec` for it. Answers the
  // task identifier at once, also when the request is refused; the refusal,
  // like the result, arrives through `completion`. `progress` and `completion`
  // run on the main queue; `completion` exactly once.
  std::string generate(const Json& request, Progress progress, GenerationCompletion completion);
  // Stops the run of `taskID`; answers whether one was running.
  bool cancel(const std::string& taskID);
  // Hard-stops every run; used when the program terminates.
  void cancelAll();

 private:
  struct Generation;
  void runGeneration(const std::shared_ptr<Generation>& generation);
  void finishGeneration(const std::shared_ptr<Generation>& generation,
                        const LocalCommandResult& result);
  // Delivers a failure on the main queue, dropping the managed-install trial.
  void failGeneration(const GenerationCompletion& completion, const std::string& message);
  void succeedGeneration(const GenerationCompletion& completion, Json value);
  void unregister(const std::string& taskID);
  void leave();

  AgentInventory& inventory_;
  const LocalAgentPaths& paths_;

  std::mutex lock_;
  std::map<std::string, std::shared_ptr<LocalCommand>> active_;
  // Generations whose work still uses this object; the destructor waits for them.
  int inFlight_ = 0;
  std::condition_variable idle_;
};

}  // namespace glimmet
