#pragma once

// Where work runs. The main queue is the GLib default main context: whatever
// thread iterates it is "the main thread", in the program and in tests alike.
// Serial queues run their work one item at a time, in order, on one named
// thread. The global pool runs independent work on as many threads as there
// is work for (up to a ceiling), because some of that work blocks for long
// (waiting for a child process, reading its output) and must not starve the rest.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace glimmet {

using Work = std::function<void()>;

class Executor {
 public:
  virtual ~Executor() = default;
  // Queues `work`; never runs it before returning. Safe from any thread.
  virtual void post(Work work) = 0;
};

class MainQueue final : public Executor {
 public:
  static MainQueue& shared();
  void post(Work work) override;

 private:
  MainQueue() = default;
  static int drain(void* self);

  std::mutex mutex_;
  std::deque<Work> pending_;
  bool drainScheduled_ = false;
};

class SerialQueue final : public Executor {
 public:
  // `label` names the worker thread (shortened to the 15 characters Linux keeps).
  explicit SerialQueue(std::string label);
  // Runs the work already queued, then stops the worker.
  ~SerialQueue() override;
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void post(Work work) override;
  const std::string& label() const { return label_; }

 private:
  void run();

  const std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> pending_;
  bool stopping_ = false;
  std::thread worker_;
};

class GlobalPool final : public Executor {
 public:
  static GlobalPool& shared();
  void post(Work work) override;

  struct State;

 private:
  GlobalPool();
  std::shared_ptr<State> state_;
};

// Names the calling thread; Linux keeps the first 15 bytes.
void setCurrentThreadName(const std::string& name);

}  // namespace glimmet
