#pragma once

// Time for polls, deadlines and time-outs. Work scheduled on a clock runs on
// the main queue after its delay and can be cancelled from any thread. The
// real clock uses GLib timeouts; the manual clock runs due work only when a
// test (or the headless harness) advances it, so a 600-second deadline takes
// microseconds.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace glimmet {

using Duration = std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// A scheduled piece of work. Cancelling is safe from any thread and at any
// time; work cancelled on the main thread before it ran never runs. Work that
// was already running on another thread's behalf is not interrupted, which is
// why asynchronous steps also compare a token before acting.
class ScheduledWork {
 public:
  virtual ~ScheduledWork() = default;
  virtual void cancel() = 0;
  bool isCancelled() const { return cancelled_.load(); }

 protected:
  // Marks the work as taken; answers false when it was cancelled first.
  bool claim() { return !cancelled_.exchange(true); }
  std::atomic<bool> cancelled_{false};
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
  // Runs `work` on the main queue `delay` from now. The work runs even when the
  // caller drops the handle; only cancel() stops it.
  virtual std::shared_ptr<ScheduledWork> after(Duration delay, std::function<void()> work) = 0;
};

class MainLoopClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  std::shared_ptr<ScheduledWork> after(Duration delay, std::function<void()> work) override;
};

class ManualClock final : public Clock {
 public:
  TimePoint now() const override;
  std::shared_ptr<ScheduledWork> after(Duration delay, std::function<void()> work) override;

  // Moves time forward by `step`, running every due item in the order of its
  // due time (then of scheduling), with now() set to that due time while it
  // runs. Work scheduled meanwhile runs too if it falls due within the step.
  // Call on the main thread.
  void advance(Duration step);
  // Number of scheduled items not yet run or cancelled.
  std::size_t pendingCount() const;

  class Item;

 private:
  mutable std::mutex mutex_;
  TimePoint now_{};
  std::uint64_t sequence_ = 0;
  std::map<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<Item>> items_;
};

}  // namespace glimmet
