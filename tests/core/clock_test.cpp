// Scheduled work on the real main-loop clock and on the manual clock tests use.
#include "core/clock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/test_support.h"

namespace glimmet {
namespace {
using namespace std::chrono_literals;

TEST(ManualClock, RunsDueWorkInDueOrderAtItsOwnTime) {
  ManualClock clock;
  const TimePoint start = clock.now();
  std::vector<std::pair<int, Duration>> ran;
  auto record = [&](int id) {
    return [&, id] {
      ran.emplace_back(id, std::chrono::duration_cast<Duration>(clock.now() - start));
    };
  };
  clock.after(4000ms, record(2));
  clock.after(600000ms, record(3));
  clock.after(1000ms, record(1));
  clock.after(4000ms, record(22));  // same time: scheduling order

  clock.advance(3999ms);
  EXPECT_EQ(ran.size(), 1u);
  clock.advance(1ms);
  clock.advance(596000ms);
  const std::vector<std::pair<int, Duration>> expected = {
      {1, 1000ms}, {2, 4000ms}, {22, 4000ms}, {3, 600000ms}};
  EXPECT_EQ(ran, expected);
  EXPECT_EQ(clock.now() - start, 600000ms);
}

TEST(ManualClock, CancelledWorkNeverRunsAndChainedPollsRunWithinOneStep) {
  ManualClock clock;
  int polls = 0;
  bool deadline = false;
  auto deadlineWork = clock.after(600000ms, [&] { deadline = true; });
  std::function<void()> poll = [&] {
    ++polls;
    if (polls < 5) clock.after(4000ms, poll);
  };
  clock.after(4000ms, poll);
  deadlineWork->cancel();
  clock.advance(3600000ms);
  EXPECT_EQ(polls, 5);
  EXPECT_FALSE(deadline);
  EXPECT_EQ(clock.pendingCount(), 0u);
}

TEST(MainLoopClock, FiresOnTheMainLoopUnlessCancelled) {
  MainLoopClock clock;
  bool fired = false;
  bool cancelledFired = false;
  bool crossThreadFired = false;
  auto cancelled = clock.after(10ms, [&] { cancelledFired = true; });
  auto crossThread = clock.after(30ms, [&] { crossThreadFired = true; });
  clock.after(60ms, [&] { fired = true; });  // handle dropped: still runs
  cancelled->cancel();
  std::thread([&] { crossThread->cancel(); }).join();

  const TimePoint start = clock.now();
  ASSERT_TRUE(testing::spinMainUntil([&] { return fired; }));
  EXPECT_GE(clock.now() - start, 50ms);
  EXPECT_FALSE(cancelledFired);
  EXPECT_FALSE(crossThreadFired);
  cancelled->cancel();  // cancelling again, after the fact, is harmless
}

}  // namespace
}  // namespace glimmet
