#pragma once

// The page's actions on the program around it: the appearance preference,
// accessibility access, the settings and agent setup windows, and the layout
// hints that need no native work.

#include <cstdint>

#include "bridge/bridge_context.h"

namespace glimmet {

class ShellActions {
 public:
  static constexpr const char* kInvalidAppearance = "外观选项无效";

  explicit ShellActions(const BridgeContext& context) : context_(context) {}

  void appearance(std::int64_t messageId, const Json& value);
  void accessibility(std::int64_t messageId);
  void requestAccessibility(std::int64_t messageId);
  void settings(std::int64_t messageId);
  void setupAgent(std::int64_t messageId);
  // "prepareHistory", "layoutHistory" and "fit": the page lays itself out.
  void layoutHint(std::int64_t messageId);

 private:
  BridgeContext context_;
};

}  // namespace glimmet
