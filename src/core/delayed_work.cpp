#include "core/delayed_work.h"

#include <condition_variable>
#include <map>
#include <thread>

namespace glimmet {

namespace {

class TimerThread {
 public:
  static TimerThread& shared() {
    static TimerThread timer;
    return timer;
  }

  void add(std::chrono::steady_clock::time_point when, std::shared_ptr<DelayedWork> item) {
    {
      std::lock_guard lock(mutex_);
      due_.emplace(when, std::move(item));
    }
    wake_.notify_one();
  }

  ~TimerThread() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

 private:
  TimerThread() : thread_([this] { loop(); }) {}

  void loop() {
    setCurrentThreadName("app.plumora.timer");
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (due_.empty()) {
        wake_.wait(lock);
        continue;
      }
      const auto next = due_.begin()->first;
      if (std::chrono::steady_clock::now() < next) {
        wake_.wait_until(lock, next);
        continue;
      }
      auto item = std::move(due_.begin()->second);
      due_.erase(due_.begin());
      GlobalPool::shared().post([item = std::move(item)] { item->fire(); });
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<std::chrono::steady_clock::time_point, std::shared_ptr<DelayedWork>> due_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace

void DelayedWork::cancel() {
  Work dropped;
  std::lock_guard lock(mutex_);
  dropped = std::move(work_);
  work_ = nullptr;
}

void DelayedWork::fire() {
  Work work;
  {
    std::lock_guard lock(mutex_);
    work = std::move(work_);
    work_ = nullptr;
  }
  if (work) work();
}

std::shared_ptr<DelayedWork> DelayedWork::schedule(std::chrono::steady_clock::duration delay,
                                                   Work work) {
  auto item = std::make_shared<DelayedWork>(std::move(work));
  TimerThread::shared().add(std::chrono::steady_clock::now() + delay, item);
  return item;
}

}  // namespace glimmet
