#include "core/clock.h"

#include <glib.h>

#include <vector>

namespace glimmet {

// --- main-loop clock ----------------------------------------------------------------

namespace {

class TimeoutWork final : public ScheduledWork, public std::enable_shared_from_this<TimeoutWork> {
 public:
  explicit TimeoutWork(std::function<void()> work) : work_(std::move(work)) {}
  ~TimeoutWork() override {
    if (source_ != nullptr) g_source_unref(source_);
  }

  void start(Duration delay) {
    source_ = g_timeout_source_new(static_cast<guint>(delay.count()));
    // The source holds the work alive until it fires or is destroyed.
    auto holder = std::make_unique<std::shared_ptr<TimeoutWork>>(shared_from_this());
    g_source_set_callback(source_, &TimeoutWork::fire, holder.release(), &TimeoutWork::release);
    g_source_attach(source_, nullptr);
  }

  void cancel() override {
    cancelled_ = true;
    g_source_destroy(source_);  // thread-safe; the holder is released by GLib
  }

 private:
  static gboolean fire(gpointer data) {
    const auto& self = *static_cast<std::shared_ptr<TimeoutWork>*>(data);
    if (self->claim()) {
      auto work = std::move(self->work_);
      work();
    }
    return G_SOURCE_REMOVE;
  }
  static void release(gpointer data) {
    const std::unique_ptr<std::shared_ptr<TimeoutWork>> holder(
        static_cast<std::shared_ptr<TimeoutWork>*>(data));
  }

  std::function<void()> work_;
  GSource* source_ = nullptr;
};

}  // namespace

std::shared_ptr<ScheduledWork> MainLoopClock::after(Duration delay, std::function<void()> work) {
  auto scheduled = std::make_shared<TimeoutWork>(std::move(work));
  scheduled->start(delay < Duration::zero() ? Duration::zero() : delay);
  return scheduled;
}

// --- manual clock --------------------------------------------------------------------

class ManualClock::Item final : public ScheduledWork {
 public:
  explicit Item(std::function<void()> work) : work_(std::move(work)) {}
  void cancel() override { cancelled_ = true; }
  void runIfClaimed() {
    if (!claim()) return;
    auto work = std::move(work_);
    work();
  }

 private:
  std::function<void()> work_;
};

TimePoint ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

std::shared_ptr<ScheduledWork> ManualClock::after(Duration delay, std::function<void()> work) {
  auto item = std::make_shared<Item>(std::move(work));
  std::lock_guard lock(mutex_);
  items_.emplace(std::make_pair(now_ + std::max(delay, Duration::zero()), sequence_++), item);
  return item;
}

void ManualClock::advance(Duration step) {
  TimePoint target;
  {
    std::lock_guard lock(mutex_);
    target = now_ + step;
  }
  for (;;) {
    std::shared_ptr<Item> due;
    {
      std::lock_guard lock(mutex_);
      auto first = items_.begin();
      if (first == items_.end() || first->first.first > target) {
        now_ = target;
        return;
      }
      now_ = first->first.first;
      due = std::move(first->second);
      items_.erase(first);
    }
    due->runIfClaimed();
  }
}

std::size_t ManualClock::pendingCount() const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& [key, item] : items_) count += item->isCancelled() ? 0 : 1;
  return count;
}

}  // namespace glimmet
