#pragma once

// The page's image generation actions: the image service's configuration,
// connection check, generation and cancellation, and local generation through
// an agent. One generation or check runs at a time, remote or local: a new one
// starts only while neither `apiBusy_` nor `localTaskID_` is set, and the
// configuration cannot change under a running one. Completions that arrive
// after the dispatcher is gone do nothing.

#include <cstdint>
#include <optional>
#include <string>

#include "bridge/bridge_context.h"

namespace glimmet {

class GenerationActions {
 public:
  static constexpr const char* kRequestBusy = "当前请求尚未完成";
  static constexpr const char* kLocalBusyOrInvalid = "当前任务尚未完成或参数无效";
  static constexpr const char* kConfigureBusy = "当前任务尚未完成";

  explicit GenerationActions(const BridgeContext& context) : context_(context) {}

  void apiStatus(std::int64_t messageId);
  void apiConfigure(std::int64_t messageId, const Json& value);
  void apiCancel(std::int64_t messageId);
  void apiCheck(std::int64_t messageId);
  void apiGenerate(std::int64_t messageId, const Json& value);
  void localGenerate(std::int64_t messageId, const Json& value);
  void cancelLocal(std::int64_t messageId);
  void agents(std::int64_t messageId);

 private:
  // True while no generation, remote or local, runs.
  bool idle() const;
  // Marks the image service busy until the completion it hands out has run.
  std::function<void(Result<Json>)> apiCompletion(std::int64_t messageId);

  BridgeContext context_;
  // An image-service generation or connection check is in flight.
  bool apiBusy_ = false;
  // The running local generation.
  std::optional<std::string> localTaskID_;
};

}  // namespace glimmet
