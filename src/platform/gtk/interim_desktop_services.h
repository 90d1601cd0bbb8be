#pragma once

// An interim stand-in for a desktop surface that is not built yet, the agent
// setup window: it does the closest honest thing and says so.

#include "platform/app_windows.h"

namespace glimmet {

// The agent setup window does not exist yet: opening it writes a diagnostic
// line to standard error.
class UnavailableAppWindows final : public AppWindows {
 public:
  void openAgentSetup() override;
};

}  // namespace glimmet
