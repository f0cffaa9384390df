// The Win32 view: calls from a job cross to the window's thread as posted
// messages, in order and intact; the error box holds its job until shown;
// the end of the loop releases jobs and drops what comes after.
#include "app/win32/win32_view.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "message_window.hpp"
#include "recording_view.hpp"

namespace {

using zelvor::Win32View;
using zelvor::test::MessageWindow;
using zelvor::test::pumpUntil;
using zelvor::test::RecordingView;
using Calls = std::vector<std::string>;

// Every byte but NUL, which ends a text on its way to a control anyway.
std::string everyByte() {
  std::string text;
  for (int byte = 1; byte < 256; ++byte) text.push_back(static_cast<char>(byte));
  return text;
}

class Win32ViewTest : public testing::Test {
 protected:
  bool delivered(std::size_t count) const { return target.calls().size() >= count; }

  RecordingView target;
  kelvo::Event stop;
  MessageWindow window{[this](UINT message, WPARAM wParam, LPARAM lParam) {
    return zelvor::deliverViewMessage(message, wParam, lParam, target);
  }};
  Win32View view{window.get(), target, stop};
};

TEST_F(Win32ViewTest, CallsFromAJobRunOnTheWindowThreadInCallOrder) {
  target.setSelection(2);
  int selected = -1;
  std::thread job([&] {
    view.setStatusText("Fetching data from Quorvane");
    view.setProgressPosition(5000);
    view.setProgressVisible(true);
    view.setBusyCursor(true);
    view.setClassListEnabled(false);
    view.setGoEnabled(false);
    view.clearClasses();
    view.addClass("");
    view.addClass(everyByte());
    view.selectClass(-1);
    view.startProgressTimer();
    view.stopProgressTimer();
    view.setStatusText("");
    view.hideAndQuit(3);
    selected = view.selectedClass();
  });
  job.join();
  // Nothing ran on the job's thread, and the selection needed no trip.
  EXPECT_EQ(target.calls(), Calls{});
  EXPECT_EQ(selected, 2);

  const Calls expected = {"status:Fetching data from Quorvane",
                          "progress:5000",
                          "progressVisible:1",
                          "busy:1",
                          "list:0",
                          "go:0",
                          "clear",
                          "add:",
                          "add:" + everyByte(),
                          "select:-1",
                          "timer:1",
                          "timer:0",
                          "status:",
                          "quit:3"};
  ASSERT_TRUE(pumpUntil([&] { return delivered(expected.size()); }));
  EXPECT_EQ(target.calls(), expected);
}

TEST_F(Win32ViewTest, AJobsQuitAfterTheStopEventEndsTheLoopWithZero) {
  stop.set();
  std::thread job([&] { view.hideAndQuit(1); });
  job.join();
  ASSERT_TRUE(pumpUntil([&] { return delivered(1); }));
  EXPECT_EQ(target.calls(), Calls{"quit:0"});
}

TEST_F(Win32ViewTest, OnTheWindowThreadOnlyTheBoxAndTheQuitActAtOnce) {
  view.setStatusText("queued");
  view.showError("Unable to launch default browser");
  view.hideAndQuit(1);
  EXPECT_EQ(target.calls(), (Calls{"error:Unable to launch default browser", "quit:1"}));
  ASSERT_TRUE(pumpUntil([&] { return delivered(3); }));
  EXPECT_EQ(target.calls().back(), "status:queued");
}

TEST_F(Win32ViewTest, AJobWaitsForItsBoxUntilTheWindowThreadHasShownIt) {
  std::atomic<bool> returned{false};
  std::thread job([&] {
    view.showError("Bad network configuration");
    returned.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(returned.load());
  const bool shown = pumpUntil([&] { return returned.load(); });
  if (!shown) view.endLoop();  // so that the job can be joined
  job.join();
  ASSERT_TRUE(shown);
  EXPECT_EQ(target.calls(), Calls{"error:Bad network configuration"});
}

TEST_F(Win32ViewTest, TheEndOfTheLoopReleasesAWaitingJobAndDropsWhatFollows) {
  std::atomic<bool> returned{false};
  std::thread job([&] {
    view.showError("Error connecting to site.test");
    returned.store(true);
  });
  // The box's message is posted but never served before the loop ends.
  bool posted = false;
  for (int look = 0; look < 500 && !posted; ++look) {
    posted = (HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0;
    if (!posted) Sleep(10);
  }
  view.endLoop();
  job.join();
  ASSERT_TRUE(posted);
  EXPECT_TRUE(returned.load());

  view.setStatusText("late");
  std::thread lateJob([&] { view.showError("late box"); });
  lateJob.join();
  // The first box's message still arrives, but nobody waits for it now.
  pumpUntil([] { return false; }, 200);
  EXPECT_EQ(target.calls(), Calls{});
}

TEST(Win32ViewGoneWindowTest, AWindowThatIsGoneDropsEveryCallWithoutWaiting) {
  RecordingView target;
  kelvo::Event stop;
  HWND gone = nullptr;
  {
    MessageWindow window([](UINT, WPARAM, LPARAM) { return false; });
    gone = window.get();
  }
  Win32View view(gone, target, stop);
  std::atomic<bool> returned{false};
  std::thread job([&] {
    view.addClass("A");
    view.showError("nobody sees this");
    returned.store(true);
  });
  const bool inTime = pumpUntil([&] { return returned.load(); }, 5000);
  if (!inTime) view.endLoop();
  job.join();
  EXPECT_TRUE(inTime);
  EXPECT_EQ(target.calls(), Calls{});
}

}  // namespace
