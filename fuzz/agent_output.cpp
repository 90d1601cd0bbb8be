// The Codex CLI's output as the program receives it: the raw bytes through the
// run's output buffer (its UTF-8 repair), then the run's thread, the
// diagnostics written from its events, and the probes' readings of the
// version and the feature list.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "agents/agent_inventory.h"
#include "agents/generated_image.h"
#include "agents/local_command.h"
#include "scratch.h"

namespace {

// The task directory diagnostics.json is written into, removed at exit.
struct TaskDirectory {
  const std::filesystem::path path = glimmet::fuzz::scratchPath("task");
  TaskDirectory() { std::filesystem::create_directories(path); }
  ~TaskDirectory() { std::filesystem::remove_all(path); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TaskDirectory task;
  glimmet::LocalOutputBuffer buffer;
  buffer.append(std::string_view(reinterpret_cast<const char*>(data), size));
  glimmet::LocalCommandResult result;
  result.output = buffer.takeString();
  if (!glimmet::isValidUtf8(result.output)) __builtin_trap();
  if (const auto thread = glimmet::generated_image::threadID(result.output)) {
    if (!glimmet::generated_image::validThreadID(*thread)) __builtin_trap();
  }
  glimmet::generated_image::saveDiagnostics(result, task.path);
  (void)glimmet::AgentInventory::imageFeatureSupported(result.output);
  (void)glimmet::AgentInventory::needsCodeModeHost(result.output);
  return 0;
}
