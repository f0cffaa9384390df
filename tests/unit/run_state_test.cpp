// The millisecond clock's rounding and the progress counter's fraction.
#include "ping/run_state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

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
