// The queue of calls for the window's thread, driven by hand: the "window's
// thread" is the test, and a wake-up is a count.
#include "app/call_queue.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

using zelvor::CallQueue;

struct WakeCounter {
  int asked = 0;
  bool accept = true;
};

}  // namespace

TEST(CallQueueTest, ManyCallsOneWakeAllInOrder) {
  WakeCounter wakes;
  CallQueue queue([&wakes] {
    ++wakes.asked;
    return wakes.accept;
  });
  std::vector<int> done;
  for (int i = 0; i < 20000; ++i) ASSERT_TRUE(queue.post([&done, i] { done.push_back(i); }));
  EXPECT_EQ(wakes.asked, 1);
  queue.runQueued();
  ASSERT_EQ(done.size(), 20000u);
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(done[static_cast<std::size_t>(i)], i);
}

TEST(CallQueueTest, RefusedWakeIsAskedAgainWithTheNextCall) {
  WakeCounter wakes;
  wakes.accept = false;
  CallQueue queue([&wakes] {
    ++wakes.asked;
    return wakes.accept;
  });
  std::string done;
  queue.post([&done] { done += "a"; });
  EXPECT_EQ(wakes.asked, 1);
  wakes.accept = true;
  queue.post([&done] { done += "b"; });
  EXPECT_EQ(wakes.asked, 2);
  queue.post([&done] { done += "c"; });
  EXPECT_EQ(wakes.asked, 2);
  queue.runQueued();
  EXPECT_EQ(done, "abc");
}

// A call that runs a loop of its own (a modal box) serves the calls behind
// it from there, in their order, and none runs twice.
TEST(CallQueueTest, CallRunningItsOwnLoopCarriesOnWithTheRest) {
  std::string done;
  CallQueue queue([] { return true; });
  CallQueue* const self = &queue;
  queue.post([&done, self] {
    done += "box(";
    self->runQueued();
    done += ")";
  });
  queue.post([&done] { done += "1"; });
  queue.post([&done] { done += "2"; });
  queue.runQueued();
  EXPECT_EQ(done, "box(12)");
}

TEST(CallQueueTest, ClosingDropsWaitingCallsAndRefusesLaterOnes) {
  CallQueue queue([] { return true; });
  std::string done;
  queue.post([&done] { done += "dropped"; });
  EXPECT_FALSE(queue.closed());
  queue.close();
  EXPECT_TRUE(queue.closed());
  EXPECT_FALSE(queue.post([&done] { done += "refused"; }));
  queue.runQueued();
  EXPECT_EQ(done, "");
}
