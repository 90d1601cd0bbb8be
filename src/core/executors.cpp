#include "core/executors.h"

#include <glib.h>
#include <pthread.h>

#include <chrono>

namespace glimmet {

void setCurrentThreadName(const std::string& name) {
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

// --- main queue ---------------------------------------------------------------

MainQueue& MainQueue::shared() {
  static MainQueue queue;
  return queue;
}

void MainQueue::post(Work work) {
  std::lock_guard lock(mutex_);
  pending_.push_back(std::move(work));
  if (drainScheduled_) return;
  drainScheduled_ = true;
  // One idle source drains everything queued so far, in order.
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, &MainQueue::drain, this, nullptr);
  g_source_attach(source, nullptr);
  g_source_unref(source);
}

int MainQueue::drain(void* self) {
  auto& queue = *static_cast<MainQueue*>(self);
  std::deque<Work> batch;
  {
    std::lock_guard lock(queue.mutex_);
    batch.swap(queue.pending_);
    queue.drainScheduled_ = false;
  }
  for (auto& work : batch) work();
  return G_SOURCE_REMOVE;
}

// --- serial queues --------------------------------------------------------------

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), worker_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void SerialQueue::post(Work work) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void SerialQueue::run() {
  setCurrentThreadName(label_);
  for (;;) {
    Work work;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
      if (pending_.empty()) return;  // stopping, and everything queued has run
      work = std::move(pending_.front());
      pending_.pop_front();
    }
    work();
  }
}

// --- global pool ------------------------------------------------------------------

// Workers are detached and share this state, so the process can exit while a
// worker still waits on a child process. Idle workers leave after a while.
struct GlobalPool::State {
  static constexpr std::size_t kMaxThreads = 64;
  static constexpr auto kIdleExit = std::chrono::seconds(15);

  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Work> pending;
  std::size_t threads = 0;
  std::size_t idle = 0;
};

namespace {

void poolWorker(const std::shared_ptr<GlobalPool::State>& state) {
  setCurrentThreadName("app.plumora.pool");
  std::unique_lock lock(state->mutex);
  for (;;) {
    ++state->idle;
    const bool hasWork = state->wake.wait_for(lock, GlobalPool::State::kIdleExit,
                                              [&] { return !state->pending.empty(); });
    --state->idle;
    if (!hasWork) {
      --state->threads;
      return;
    }
    Work work = std::move(state->pending.front());
    state->pending.pop_front();
    lock.unlock();
    work();
    work = nullptr;  // release captured state before taking the lock again
    lock.lock();
  }
}

}  // namespace

GlobalPool::GlobalPool() : state_(std::make_shared<State>()) {}

GlobalPool& GlobalPool::shared() {
  static GlobalPool pool;
  return pool;
}

void GlobalPool::post(Work work) {
  bool spawn = false;
  {
    std::lock_guard lock(state_->mutex);
    state_->pending.push_back(std::move(work));
    // Idle workers not yet claimed by earlier items can take this one.
    if (state_->idle < state_->pending.size() && state_->threads < State::kMaxThreads) {
      ++state_->threads;
      spawn = true;
    }
  }
  if (spawn) {
    std::thread([state = state_] { poolWorker(state); }).detach();
  } else {
    state_->wake.notify_one();
  }
}

}  // namespace glimmet
