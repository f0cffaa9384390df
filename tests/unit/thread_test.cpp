// Thread: the polling wait, exit codes, the start-once rule, and bodies that
// outlive their Thread or throw.
#include "support/thread.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "support/failure.hpp"
#include "support/sync.hpp"

namespace {

using kelvo::Thread;
using kelvo::detail::ThreadProbe;

constexpr std::uint32_t generousMs = 10000;

// What pollForThreadEnd did against a scripted thread.
struct PollRun {
  bool result;
  int probes;
  std::vector<std::uint32_t> sleeps;
};

// The thread is seen running for `runningLooks` looks, then as `finally`.
PollRun poll(std::uint32_t timeoutMs, int runningLooks, ThreadProbe finally) {
  PollRun run{false, 0, {}};
  run.result = kelvo::detail::pollForThreadEnd(
      timeoutMs, [&] { return run.probes++ < runningLooks ? ThreadProbe::running : finally; },
      [&](std::uint32_t ms) { run.sleeps.push_back(ms); });
  return run;
}

constexpr int forever = 1 << 30;

struct PollCase {
  const char* name;
  std::uint32_t timeoutMs;
  int runningLooks;
  ThreadProbe finally;
  bool result;
  int probes;
  std::vector<std::uint32_t> sleeps;
};

class PollForThreadEnd : public testing::TestWithParam<PollCase> {};

TEST_P(PollForThreadEnd, LooksAndSleepsInSlicesOf15Ms) {
  const PollCase& c = GetParam();
  const PollRun run = poll(c.timeoutMs, c.runningLooks, c.finally);
  EXPECT_EQ(run.result, c.result);
  EXPECT_EQ(run.probes, c.probes);
  EXPECT_EQ(run.sleeps, c.sleeps);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PollForThreadEnd,
    testing::Values(
        PollCase{"RunningFor40", 40, forever, ThreadProbe::running, false, 3, {15, 15, 10}},
        PollCase{"RunningFor0", 0, forever, ThreadProbe::running, false, 1, {0}},
        PollCase{"RunningFor15", 15, forever, ThreadProbe::running, false, 1, {15}},
        PollCase{"RunningFor16", 16, forever, ThreadProbe::running, false, 2, {15, 1}},
        PollCase{"EndedAtOnce", 40, 0, ThreadProbe::ended, true, 1, {}},
        PollCase{"EndsOnSecondLook", 40, 1, ThreadProbe::ended, true, 2, {15}},
        PollCase{"UnreadableAfterOneLook", 40, 1, ThreadProbe::unreadable, false, 2, {15}},
        PollCase{
            "InfiniteUntilEnded", Thread::infinite, 3, ThreadProbe::ended, true, 4, {15, 15, 15}}),
    [](const auto& info) { return std::string(info.param.name); });

std::uint32_t returnSeven(void*) { return 7; }

// A body that waits for its gate, then adds one to the counter it was given.
struct Gated {
  kelvo::Event gate;
  kelvo::Event done;
  std::atomic<int> runs{0};
};

std::uint32_t gatedBody(void* argument) {
  auto& gated = *static_cast<Gated*>(argument);
  gated.gate.wait(Thread::infinite);
  ++gated.runs;
  gated.done.set();
  return 3;
}

TEST(Thread, WaitGivesTheBodysResultAsExitCode) {
  Thread thread(returnSeven, nullptr);
  EXPECT_EQ(thread.exitCode(), 0u);
  EXPECT_TRUE(thread.wait(generousMs));
  EXPECT_EQ(thread.exitCode(), 7u);
  EXPECT_TRUE(thread.wait(0));
}

TEST(Thread, PassesItsArgumentToTheBody) {
  Gated gated;
  gated.gate.set();
  Thread thread(gatedBody, &gated);
  ASSERT_TRUE(thread.wait(generousMs));
  EXPECT_EQ(thread.exitCode(), 3u);
  EXPECT_EQ(gated.runs.load(), 1);
}

TEST(Thread, WaitOnARunningThreadTimesOutWithoutExitCode) {
  Gated gated;
  Thread thread(gatedBody, &gated);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(thread.wait(40));
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(40));
  EXPECT_EQ(thread.exitCode(), 0u);
  gated.gate.set();
  EXPECT_TRUE(thread.wait(generousMs));
}

TEST(Thread, NeverStartedThreadIsNotWaitedFor) {
  Thread thread;
  EXPECT_FALSE(thread.wait(0));
  EXPECT_EQ(thread.exitCode(), 0u);
}

TEST(Thread, StartsOnlyOnce) {
  Gated gated;
  Thread thread(gatedBody, &gated);
  EXPECT_THROW(
      {
        try {
          thread.start(returnSeven, nullptr);
        } catch (const kelvo::Failure& failure) {
          EXPECT_EQ(failure, "Thread allready running");
          throw;
        }
      },
      kelvo::Failure);
  // The first thread is untouched and still the one waited for.
  gated.gate.set();
  ASSERT_TRUE(thread.wait(generousMs));
  EXPECT_EQ(thread.exitCode(), 3u);
  EXPECT_EQ(gated.runs.load(), 1);

  // Once ended, it still cannot start again.
  EXPECT_THROW(thread.start(returnSeven, nullptr), kelvo::Failure);
  EXPECT_EQ(thread.exitCode(), 3u);
}

TEST(Thread, BodyRunsOnAfterItsThreadObjectIsDestroyed) {
  Gated gated;
  { Thread forgotten(gatedBody, &gated); }
  gated.gate.set();
  ASSERT_TRUE(gated.done.wait(generousMs));
  EXPECT_EQ(gated.runs.load(), 1);
}

std::uint32_t throwText(void*) { throw std::string("boom"); }
std::uint32_t throwNumber(void*) { throw 42; }

TEST(Thread, ExceptionLeavingTheBodyEndsOnlyTheThread) {
  for (const Thread::Body body : {throwText, throwNumber}) {
    Thread thread(body, nullptr);
    ASSERT_TRUE(thread.wait(generousMs));
    EXPECT_EQ(thread.exitCode(), Thread::uncaughtExceptionExitCode);
  }
}

}  // namespace
