// The status area's mode rules and the two looks, call by call.
#include "app/status_area.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "recording_view.hpp"

namespace {

using Calls = std::vector<std::string>;

class StatusAreaTest : public testing::Test {
 protected:
  // The calls made by `step` alone.
  template <class Step>
  Calls callsOf(Step step) {
    view.clearCalls();
    step();
    return view.calls();
  }

  zelvor::test::RecordingView view;
  kelvo::Event stop;
  zelvor::ProgressCounter progress;
  zelvor::StatusArea status{view, stop, progress};
};

TEST_F(StatusAreaTest, JobStatusShowsAsTextWithoutProgress) {
  EXPECT_EQ(callsOf([&] { status.setJobStatus("Fetching data from Quorvane", 0); }),
            (Calls{"status:Fetching data from Quorvane"}));
  EXPECT_EQ(callsOf([&] { status.setJobStatus("", 0); }), (Calls{"status:"}));
}

TEST_F(StatusAreaTest, ProgressBarComesWithTheFirstFractionAndGoesAtZero) {
  EXPECT_EQ(callsOf([&] { status.setJobStatus("", 0.25); }),
            (Calls{"status:", "progress:2500", "progressVisible:1"}));
  EXPECT_EQ(callsOf([&] { status.setJobStatus("", 0.50005); }), (Calls{"progress:5000"}));
  EXPECT_EQ(callsOf([&] { status.setJobStatus("Posting results to Quorvane", 0); }),
            (Calls{"progressVisible:0", "status:Posting results to Quorvane"}));
}

TEST_F(StatusAreaTest, HintWinsOverStatusAndProgressAndGivesThemBack) {
  status.setJobStatus("Posting results to Quorvane", 0);
  EXPECT_EQ(callsOf([&] { status.setHint("Exit Zelvor"); }),
            (Calls{"progressVisible:0", "status:Exit Zelvor"}));
  // The same hint again changes no mode.
  EXPECT_EQ(callsOf([&] { status.setHint("Exit Zelvor"); }), (Calls{"status:Exit Zelvor"}));
  EXPECT_EQ(callsOf([&] { status.setHint(""); }),
            (Calls{"progressVisible:0", "status:Posting results to Quorvane"}));
}

TEST_F(StatusAreaTest, ProgressUnderAHintStaysHiddenUntilTheHintGoes) {
  status.setHint("Perform latency test");
  EXPECT_EQ(callsOf([&] { status.setJobStatus("", 0.5); }), (Calls{"status:Perform latency test"}));
  EXPECT_EQ(callsOf([&] { status.setHint(""); }),
            (Calls{"status:", "progress:5000", "progressVisible:1"}));
}

TEST_F(StatusAreaTest, TickCopiesTheRunsProgressUntilItIsDone) {
  progress.reset(4);
  progress.advance();
  EXPECT_EQ(callsOf([&] { status.onProgressTick(); }),
            (Calls{"status:", "progress:2500", "progressVisible:1"}));
  for (int i = 0; i < 3; ++i) progress.advance();
  // At 1 the tick leaves everything as it is, so a finished run's bar stays
  // and a later status text is not replaced by it.
  EXPECT_EQ(callsOf([&] { status.onProgressTick(); }), Calls{});
  status.setJobStatus("Posting results to Quorvane", 0);
  EXPECT_EQ(callsOf([&] { status.onProgressTick(); }), Calls{});
}

TEST_F(StatusAreaTest, TickWithoutATotalShowsTheStatusText) {
  progress.reset(0);
  EXPECT_TRUE(std::isnan(progress.fraction()));
  EXPECT_EQ(callsOf([&] { status.onProgressTick(); }), (Calls{"status:"}));
}

TEST_F(StatusAreaTest, LooksSwitchCursorListAndGoInOrder) {
  EXPECT_EQ(callsOf([&] { status.showBusy(); }), (Calls{"busy:1", "list:0", "go:0"}));
  EXPECT_EQ(callsOf([&] { status.showReady(); }), (Calls{"busy:0", "list:1", "go:1"}));
}

TEST_F(StatusAreaTest, NothingChangesOnceTheStopEventIsSet) {
  stop.set();
  progress.reset(2);
  progress.advance();
  EXPECT_EQ(callsOf([&] {
              status.setHint("Exit Zelvor");
              status.setJobStatus("Posting results to Quorvane", 0.5);
              status.onProgressTick();
              status.showBusy();
              status.showReady();
            }),
            Calls{});
}

}  // namespace
