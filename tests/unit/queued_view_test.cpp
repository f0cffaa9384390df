// The queued View driven by hand: the test is the window's thread, a wake-up
// is a count, and jobs are threads of their own.
#include "app/queued_view.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/view.hpp"
#include "recording_view.hpp"
#include "support/sync.hpp"

namespace {

using Calls = std::vector<std::string>;

class QueuedViewTest : public testing::Test {
 protected:
  // Carries out what waits until `done` holds, as the window's loop would.
  template <typename Done>
  void deliverUntil(Done done) {
    while (!done()) {
      view.deliverQueued();
      std::this_thread::yield();
    }
  }

  // A job with two error boxes among its calls.
  std::thread startBoxJob() {
    return std::thread([this] {
      view.setStatusText("before");
      view.showError("box");
      view.setStatusText("after");
      view.showError("second");
      boxJobDone.store(true);
    });
  }

  zelvor::test::RecordingView target;
  kelvo::Event stop;
  std::atomic<int> wakes{0};
  std::atomic<bool> boxJobDone{false};
  Calls jobQuits;
  zelvor::QueuedView view{
      {.target = target,
       .wake =
           [this] {
             ++wakes;
             return true;
           },
       .isWindowThread =
           [window = std::this_thread::get_id()] { return std::this_thread::get_id() == window; },
       .quitForJob =
           [this](int exitCode) { jobQuits.push_back("jobQuit:" + std::to_string(exitCode)); }},
      stop};
};

// Each forwarded member, made from a job, reaches the target only when the
// window's thread delivers, in call order.
TEST_F(QueuedViewTest, AJobsCallsWaitForTheWindowThreadAndArriveInCallOrder) {
  using Call = std::function<void(zelvor::View&)>;
  const std::vector<std::pair<Call, std::string>> forwarded = {
      {[](zelvor::View& v) { v.setStatusText("a"); }, "status:a"},
      {[](zelvor::View& v) { v.setProgressPosition(5000); }, "progress:5000"},
      {[](zelvor::View& v) { v.setProgressVisible(true); }, "progressVisible:1"},
      {[](zelvor::View& v) { v.setBusyCursor(true); }, "busy:1"},
      {[](zelvor::View& v) { v.setClassListEnabled(false); }, "list:0"},
      {[](zelvor::View& v) { v.setGoEnabled(false); }, "go:0"},
      {[](zelvor::View& v) { v.clearClasses(); }, "clear"},
      {[](zelvor::View& v) {
         v.addClasses({"x", "y"});
       },
       "classes:x|y"},
      {[](zelvor::View& v) { v.selectClass(1); }, "select:1"},
      {[](zelvor::View& v) { v.startProgressTimer(); }, "timer:1"},
      {[](zelvor::View& v) { v.stopProgressTimer(); }, "timer:0"},
  };
  target.setSelection(2);
  int selected = -1;
  std::thread job([&] {
    for (const auto& [call, recorded] : forwarded) call(view);
    selected = view.selectedClass();
  });
  job.join();
  // Nothing ran on the job's thread, and the selection needed no trip.
  EXPECT_EQ(selected, 2);
  EXPECT_EQ(target.calls(), Calls{});
  EXPECT_EQ(wakes.load(), 1);
  view.deliverQueued();
  Calls expected;
  for (const auto& [call, recorded] : forwarded) expected.push_back(recorded);
  EXPECT_EQ(target.calls(), expected);
}

TEST_F(QueuedViewTest, OnTheWindowThreadOnlyTheBoxAndTheQuitActAtOnce) {
  view.setStatusText("later");
  view.showError("now");
  view.hideAndQuit(1);
  EXPECT_EQ(target.calls(), (Calls{"error:now", "quit:1"}));
  view.deliverQueued();
  EXPECT_EQ(target.calls(), (Calls{"error:now", "quit:1", "status:later"}));
  EXPECT_EQ(jobQuits, Calls{});
}

// Whichever of the stop event and a job's quit reaches the loop first, the
// code is the same.
TEST_F(QueuedViewTest, AJobsQuitCarriesItsCodeOrZeroOnceTheStopEventIsSet) {
  struct Case {
    bool stopSet;
    int exitCode;
    std::string expected;
  };
  for (const Case& c : {Case{false, 3, "jobQuit:3"}, Case{true, 1, "jobQuit:0"}}) {
    if (c.stopSet) stop.set();
    jobQuits.clear();
    std::thread job([&] { view.hideAndQuit(c.exitCode); });
    job.join();
    view.deliverQueued();
    EXPECT_EQ(jobQuits, Calls{c.expected});
  }
  EXPECT_EQ(target.calls(), Calls{});
}

TEST_F(QueuedViewTest, AJobWaitsForItsBoxBehindTheCallsBeforeIt) {
  std::thread job = startBoxJob();
  deliverUntil([&] { return boxJobDone.load(); });
  job.join();
  EXPECT_EQ(target.calls(), (Calls{"status:before", "error:box", "status:after", "error:second"}));
}

TEST_F(QueuedViewTest, TheEndOfTheLoopReleasesAWaitingJobAndDropsWhatIsLeftAndWhatFollows) {
  std::thread job = startBoxJob();
  while (wakes.load() == 0) std::this_thread::yield();
  view.endLoop();
  job.join();
  EXPECT_TRUE(boxJobDone.load());
  view.showError("on the window thread");
  view.deliverQueued();
  EXPECT_EQ(target.calls(), Calls{});
}

}  // namespace
