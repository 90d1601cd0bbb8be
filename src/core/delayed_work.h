#pragma once

// Work that runs on the global pool after a delay unless it is cancelled first,
// for time-outs that must fire whether or not the main loop runs.
// One timer thread keeps the deadlines; the work itself never runs on it, so a
// slow item cannot hold back the others.

#include <chrono>
#include <memory>

#include "core/executors.h"

namespace glimmet {

class DelayedWork {
 public:
  // Cancelling after the work has started has no effect.
  void cancel();

  // Schedules `work` on GlobalPool::shared() after `delay`.
  static std::shared_ptr<DelayedWork> schedule(std::chrono::steady_clock::duration delay,
                                               Work work);

  explicit DelayedWork(Work work) : work_(std::move(work)) {}
  // Runs the work unless it was cancelled; used by the timer thread.
  void fire();

 private:
  std::mutex mutex_;
  Work work_;
};

}  // namespace glimmet
