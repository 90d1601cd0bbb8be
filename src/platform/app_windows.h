#pragma once

// The program's own windows beside the creation panel and its settings: the
// local agent setup. Opening one that is open brings it forward. Main thread
// only.

namespace glimmet {

class AppWindows {
 public:
  virtual ~AppWindows() = default;

  virtual void openAgentSetup() = 0;
};

}  // namespace glimmet
