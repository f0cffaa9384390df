// The Win32 view: calls from a job reach the window's thread in order and
// intact, however many; a forged message does no harm; the error box holds
// its job until shown, and its own loop carries on with the queue; the end
// of the loop releases jobs and drops what is left and what follows.
#include "app/win32/win32_view.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
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

// True once a message waits in this thread's queue, within 5 s.
bool messageWaits() {
  for (int look = 0; look < 500; ++look) {
    if ((HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) != 0) return true;
    Sleep(10);
  }
  return false;
}

// Shows its error box the way a real one does when `closeWhen` is given: a
// loop of its own serves the thread's queue until the box is closed, here
// once `closeWhen` holds.
class BoxLoopView : public RecordingView {
 public:
  void showError(const std::string& text) override {
    RecordingView::showError(text);
    if (closeWhen) closedInTime = pumpUntil(closeWhen, 2000);
  }

  std::function<bool()> closeWhen;
  bool closedInTime = false;
};

class Win32ViewTest : public testing::Test {
 protected:
  bool delivered(std::size_t count) const { return target.calls().size() >= count; }

  BoxLoopView target;
  kelvo::Event stop;
  int wakes = 0;
  MessageWindow window{[this](UINT message, WPARAM, LPARAM) {
    if (message != Win32View::wakeMessage) return false;
    ++wakes;
    view.deliverQueued();
    return true;
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
    view.addClasses({});
    view.addClasses({"", everyByte(), "Modem"});
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
                          "classes:",
                          "classes:|" + everyByte() + "|Modem",
                          "select:-1",
                          "timer:1",
                          "timer:0",
                          "status:",
                          "quit:3"};
  ASSERT_TRUE(pumpUntil([&] { return delivered(expected.size()); }));
  EXPECT_EQ(target.calls(), expected);
}

// More calls than a Windows message queue holds (10,000): one message per
// call would lose the rest.
TEST_F(Win32ViewTest, TwentyThousandCallsInARowAllArriveInOrderOnAWakeOrTwo) {
  constexpr int count = 20000;
  std::thread job([&] {
    for (int position = 0; position < count; ++position) view.setProgressPosition(position);
  });
  job.join();
  Calls expected;
  for (int position = 0; position < count; ++position) {
    expected.push_back("progress:" + std::to_string(position));
  }
  ASSERT_TRUE(pumpUntil([&] { return delivered(count); }));
  EXPECT_EQ(target.calls(), expected);
  EXPECT_GE(wakes, 1);
  EXPECT_LE(wakes, 2);
}

// Any process on the desktop may post to the window: whatever it posts in
// the range the view uses must neither be taken as a call nor lose one.
TEST_F(Win32ViewTest, ForeignMessagesInTheViewsRangeDoNoHarm) {
  std::thread job([&] { view.setStatusText("before"); });
  job.join();
  std::thread stranger([&] {
    for (UINT message = WM_APP + 0x40; message <= WM_APP + 0x4C; ++message) {
      PostMessageA(window.get(), message, 0xDEADBEEF, static_cast<LPARAM>(0x0BADF00D));
    }
  });
  stranger.join();
  pumpUntil([] { return false; }, 200);
  EXPECT_EQ(target.calls(), Calls{"status:before"});

  std::thread laterJob([&] { view.setStatusText("after"); });
  laterJob.join();
  ASSERT_TRUE(pumpUntil([&] { return delivered(2); }));
  EXPECT_EQ(target.calls(), (Calls{"status:before", "status:after"}));
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

TEST_F(Win32ViewTest, ABoxsOwnLoopCarriesOnWithTheCallsBehindItInOrder) {
  target.closeWhen = [&] { return delivered(3); };
  std::thread job([&] { view.showError("Error connecting to site.test"); });
  const bool queued = messageWaits();
  view.setStatusText("behind the box");
  view.setGoEnabled(true);
  const bool shown = pumpUntil([&] { return delivered(3); });
  if (!shown) view.endLoop();  // so that the job can be joined
  job.join();
  ASSERT_TRUE(queued);
  ASSERT_TRUE(shown);
  EXPECT_TRUE(target.closedInTime);
  EXPECT_EQ(target.calls(),
            (Calls{"error:Error connecting to site.test", "status:behind the box", "go:1"}));
}

TEST_F(Win32ViewTest, TheEndOfTheLoopReleasesAWaitingJobAndDropsWhatIsLeftAndWhatFollows) {
  std::atomic<bool> returned{false};
  std::thread job([&] {
    view.showError("Error connecting to site.test");
    returned.store(true);
  });
  // The box's call is queued but never served before the loop ends.
  const bool queued = messageWaits();
  view.setStatusText("left");
  view.endLoop();
  job.join();
  ASSERT_TRUE(queued);
  EXPECT_TRUE(returned.load());

  view.setStatusText("late");
  std::thread lateJob([&] { view.showError("late box"); });
  lateJob.join();
  // The wake still arrives, but finds nothing to do.
  pumpUntil([] { return false; }, 200);
  EXPECT_EQ(target.calls(), Calls{});
}

TEST(Win32ViewGoneWindowTest, AWindowThatIsGoneHoldsAJobsBoxOnlyUntilTheLoopEnds) {
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
    view.addClasses({"A"});
    view.showError("nobody sees this");
    returned.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const bool heldBeforeTheEnd = !returned.load();
  view.endLoop();
  job.join();
  EXPECT_TRUE(heldBeforeTheEnd);
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(target.calls(), Calls{});
}

}  // namespace
