// The millisecond clock's rounding and the progress counter's fraction.
#include "ping/run_state.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>

namespace {

TEST(MsClock, RoundsCounterTicksUpToWholeMilliseconds) {
  EXPECT_EQ(zelvor::MsClock::ticksToMs(0, 300), 0u);
  EXPECT_EQ(zelvor::MsClock::ticksToMs(1, 300), 4u);
  EXPECT_EQ(zelvor::MsClock::ticksToMs(3, 300), 10u);
  EXPECT_EQ(zelvor::MsClock::ticksToMs(300, 300), 1000u);
  EXPECT_EQ(zelvor::MsClock::ticksToMs(1000000, 1000000000), 1u);
  EXPECT_EQ(zelvor::MsClock::ticksToMs(1000001, 1000000000), 2u);
  // 50 days of nanoseconds: the count wraps in 32 bits.
  EXPECT_EQ(zelvor::MsClock::ticksToMs(std::int64_t{4320000} * 1000000000, 1000000000),
            static_cast<std::uint32_t>(std::int64_t{4320000000}));
}

TEST(MsClock, TurnsNanosecondsIntoWholeTicksRoundedDown) {
  struct Case {
    std::uint64_t ns;
    std::uint32_t frequency;
    std::int64_t ticks;
  };
  for (const Case& c : {Case{0, 1000000000, 0}, Case{1500000000, 1000000000, 1500000000},
                        Case{999, 10000000, 9}, Case{1000000000, 10000000, 10000000},
                        // A minute on a 3.58 MHz counter, beyond 64 bits if
                        // multiplied out in nanoseconds first.
                        Case{60000000000, 3579545, 214772700},
                        Case{std::uint64_t{5000000000000}, 1000000000, 5000000000000}}) {
    EXPECT_EQ(zelvor::MsClock::nsToTicks(c.ns, c.frequency), c.ticks) << c.ns << "/" << c.frequency;
  }
}

TEST(MsClock, ReadsEarlierByTheTimeGiven) {
  zelvor::MsClock clock;
  // Past the clock's origin: only times after it are ever asked for.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::uint32_t earlier = clock.before(5000000);
  EXPECT_LE(earlier + 5, clock.now());
}

TEST(MsClock, StartsNearZeroAndNeverGoesBack) {
  zelvor::MsClock clock;
  std::uint32_t last = clock.now();
  EXPECT_LT(last, 1000u);
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t now = clock.now();
    EXPECT_GE(now, last);
    last = now;
  }
}

TEST(ProgressCounter, FractionIsDoneOverTotal) {
  zelvor::ProgressCounter progress;
  progress.reset(6);
  EXPECT_EQ(progress.fraction(), 0.0);
  EXPECT_EQ(progress.advance(), 1u);
  progress.advance();
  EXPECT_EQ(progress.advance(), 3u);
  EXPECT_EQ(progress.fraction(), 0.5);
  progress.reset(4);
  EXPECT_EQ(progress.fraction(), 0.0);
}

TEST(ProgressCounter, ZeroTotalReadsNotANumber) {
  zelvor::ProgressCounter progress;
  EXPECT_TRUE(std::isnan(progress.fraction()));
  progress.reset(0);
  EXPECT_TRUE(std::isnan(progress.fraction()));
}

}  // namespace
