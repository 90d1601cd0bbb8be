#pragma once

// The page's task feedback actions: task state reports (the status icon, the
// chime and the compact notice), the chime preview, and the diagnostic lines
// of the notification and preview smoke tests.

#include <cstdint>
#include <optional>
#include <string>

#include "bridge/bridge_context.h"

namespace glimmet {

class TaskActions {
 public:
  static constexpr const char* kPreviewDisabled = "预览诊断未启用";
  static constexpr const char* kSmokePrefix = "NOTIFICATION_SMOKE state=";
  static constexpr const char* kPreviewPrefix = "PREVIEW_TRACE ";

  explicit TaskActions(const BridgeContext& context) : context_(context) {}

  void taskState(std::int64_t messageId, const Json& value);
  void previewSound(std::int64_t messageId);
  void previewTrace(std::int64_t messageId, const Json& value);

 private:
  // The smoke-test line describing the panel and the feedback now.
  std::string smokeLine(const std::string& state,
                        const std::optional<std::string>& frontmost) const;

  BridgeContext context_;
};

}  // namespace glimmet
