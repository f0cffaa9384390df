// The main loop: the code of the quit message that ends it, the stop event
// as a quit with 0, and the queue served before either.
#include "app/win32/message_loop.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "message_window.hpp"
#include "support/failure.hpp"
#include "support/native_event_win32.hpp"
#include "support/sync.hpp"

namespace {

using zelvor::runMessageLoop;
using zelvor::test::MessageWindow;

// Ends a loop that would otherwise never end with a quit of its own code,
// so that a broken loop fails the test instead of hanging it.
class Watchdog {
 public:
  static constexpr int code = 99;

  Watchdog()
      : thread_([this, loopThread = GetCurrentThreadId()] {
          if (!done_.wait(10000)) PostThreadMessageA(loopThread, WM_QUIT, code, 0);
        }) {}
  ~Watchdog() {
    done_.set();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  kelvo::Event done_;
  std::thread thread_;
};

class MessageLoopTest : public testing::Test {
 protected:
  kelvo::Event stop;
  Watchdog watchdog;
};

TEST_F(MessageLoopTest, EndsWithTheCodeOfTheQuitMessage) {
  PostQuitMessage(7);
  EXPECT_EQ(runMessageLoop(kelvo::nativeHandle(stop)), 7);
}

TEST_F(MessageLoopTest, AStopSetByAnotherThreadEndsTheIdleLoopWithZero) {
  std::thread job([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.set();
  });
  const int code = runMessageLoop(kelvo::nativeHandle(stop));
  job.join();
  EXPECT_EQ(code, 0);
}

TEST_F(MessageLoopTest, ServesEverythingQueuedBeforeEndingOnTheStopEvent) {
  int served = 0;
  MessageWindow window([&](UINT message, WPARAM, LPARAM) {
    if (message != WM_APP) return false;
    ++served;
    return true;
  });
  for (int i = 0; i < 3; ++i) PostMessageA(window.get(), WM_APP, 0, 0);
  stop.set();
  EXPECT_EQ(runMessageLoop(kelvo::nativeHandle(stop)), 0);
  EXPECT_EQ(served, 3);
}

// The user closing the window sets the stop event and posts a quit with 1
// while a message is handled; that quit is the loop's answer.
TEST_F(MessageLoopTest, AQuitPostedWhileHandlingAMessageWinsOverTheStopEvent) {
  MessageWindow window([&](UINT message, WPARAM, LPARAM) {
    if (message != WM_CLOSE) return false;
    stop.set();
    PostQuitMessage(1);
    return true;
  });
  PostMessageA(window.get(), WM_CLOSE, 0, 0);
  EXPECT_EQ(runMessageLoop(kelvo::nativeHandle(stop)), 1);
}

TEST_F(MessageLoopTest, AStopHandleThatCannotBeWaitedOnThrowsInsteadOfSpinning) {
  EXPECT_THROW(runMessageLoop(nullptr), kelvo::Failure);
}

}  // namespace
