// Queues: order, thread identity, draining, and a pool that does not starve
// when its work blocks.
#include "core/executors.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace glimmet {
namespace {

std::string currentThreadName() {
  char name[16] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}

TEST(MainQueue, RunsPostsFromAnyThreadInOrderOnTheLoopThread) {
  std::vector<int> order;
  const auto loopThread = std::this_thread::get_id();
  std::atomic<bool> offThread{false};
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      MainQueue::shared().post([&, i] {
        if (std::this_thread::get_id() != loopThread) offThread = true;
        order.push_back(i);
      });
    }
  });
  poster.join();
  ASSERT_TRUE(testing::spinMainUntil([&] { return order.size() == 100; }));
  EXPECT_FALSE(offThread);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(MainQueue, NeverRunsWorkInsidePost) {
  bool ran = false;
  MainQueue::shared().post([&] { ran = true; });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(testing::spinMainUntil([&] { return ran; }));
}

TEST(SerialQueue, RunsOneAtATimeInOrderOnItsNamedThread) {
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  std::string name;
  {
    SerialQueue queue("app.plumora.history");
    queue.post([&] { name = currentThreadName(); });
    for (int i = 0; i < 50; ++i) {
      queue.post([&, i] {
        if (running.fetch_add(1) != 0) overlapped = true;
        order.push_back(i);
        running.fetch_sub(1);
      });
    }
  }  // the destructor runs everything already queued
  EXPECT_EQ(name, "app.plumora.his");
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

TEST(GlobalPool, BlockingWorkDoesNotStarveLaterWork) {
  // Every item waits for all the others: this finishes only if they all run at once.
  constexpr int kItems = 24;
  std::latch allStarted(kItems);
  std::atomic<int> finished{0};
  for (int i = 0; i < kItems; ++i) {
    GlobalPool::shared().post([&] {
      allStarted.arrive_and_wait();
      finished.fetch_add(1);
    });
  }
  ASSERT_TRUE(testing::spinMainUntil([&] { return finished.load() == kItems; }));
}

}  // namespace
}  // namespace glimmet
