// Per-host figures against values worked out by hand, and the texts they
// are written as.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "stats/figure_text.hpp"
#include "stats/host_figures.hpp"

namespace {

using zelvor::EchoSample;
namespace failure = zelvor::failure;

EchoSample ok(std::int32_t rtt) { return {nullptr, rtt}; }
EchoSample lost(const char* word = failure::timeout) { return {word, 99}; }

TEST(HostFigures, NoSamplesHaveNoFigures) {
  const auto figures = zelvor::stats::hostFigures({});
  EXPECT_EQ(figures.sent, 0u);
  EXPECT_EQ(figures.received, 0u);
  EXPECT_FALSE(figures.lossPercent);
  EXPECT_FALSE(figures.min);
  EXPECT_FALSE(figures.median);
  EXPECT_FALSE(figures.jitter);
}

TEST(HostFigures, AllFailedCountsEachWordAndHasNoTimes) {
  const std::vector<EchoSample> samples = {lost(), lost(failure::unreachable), lost(),
                                           lost(failure::serviceFailure)};
  const auto figures = zelvor::stats::hostFigures(samples);
  EXPECT_EQ(figures.sent, 4u);
  EXPECT_EQ(figures.received, 0u);
  EXPECT_EQ(figures.lossPercent, 100.0);
  // badAddress, sockError, timeout, expired, foreign, unreachable, badHeader, FAILURE
  const std::array<std::size_t, 8> expected = {0, 0, 2, 0, 0, 1, 0, 1};
  EXPECT_EQ(figures.failures, expected);
  EXPECT_FALSE(figures.min);
  EXPECT_FALSE(figures.max);
  EXPECT_FALSE(figures.mean);
  EXPECT_FALSE(figures.median);
  EXPECT_FALSE(figures.stddev);
  EXPECT_FALSE(figures.jitter);
}

TEST(HostFigures, OneSampleIsItsOwnMinMedianMeanAndMax) {
  const std::vector<EchoSample> samples = {ok(17)};
  const auto figures = zelvor::stats::hostFigures(samples);
  EXPECT_EQ(figures.lossPercent, 0.0);
  EXPECT_EQ(figures.min, 17);
  EXPECT_EQ(figures.max, 17);
  EXPECT_EQ(figures.mean, 17.0);
  EXPECT_EQ(figures.median, 17.0);
  EXPECT_EQ(figures.stddev, 0.0);
  // Jitter needs two answers.
  EXPECT_FALSE(figures.jitter);
}

// 10, lost, 30, 20, lost, 40: answers 10 30 20 40 in the order taken.
//   mean 25; squares 225+25+25+225 = 500, /4 = 125, stddev sqrt(125);
//   median of 10 20 30 40 = (20+30)/2 = 25; jitter (20+10+20)/3.
TEST(HostFigures, MixedSamplesFollowTheDefinitions) {
  const std::vector<EchoSample> samples = {ok(10), lost(), ok(30), ok(20), lost(failure::expired),
                                           ok(40)};
  const auto figures = zelvor::stats::hostFigures(samples);
  EXPECT_EQ(figures.sent, 6u);
  EXPECT_EQ(figures.received, 4u);
  EXPECT_DOUBLE_EQ(*figures.lossPercent, 100.0 * 2 / 6);
  EXPECT_EQ(figures.failures[2], 1u);
  EXPECT_EQ(figures.failures[3], 1u);
  EXPECT_EQ(figures.min, 10);
  EXPECT_EQ(figures.max, 40);
  EXPECT_DOUBLE_EQ(*figures.mean, 25.0);
  EXPECT_DOUBLE_EQ(*figures.median, 25.0);
  EXPECT_DOUBLE_EQ(*figures.stddev, std::sqrt(125.0));
  EXPECT_DOUBLE_EQ(*figures.jitter, 50.0 / 3);
  EXPECT_FALSE(figures.p90);
}

TEST(HostFigures, OddCountMedianIsTheMiddleValueAndNegativeTimesCount) {
  const std::vector<EchoSample> samples = {ok(5), ok(-3), ok(100)};
  const auto figures = zelvor::stats::hostFigures(samples);
  EXPECT_EQ(figures.median, 5.0);
  EXPECT_EQ(figures.min, -3);
  EXPECT_DOUBLE_EQ(*figures.mean, 34.0);
  // |-3 - 5| + |100 - -3| = 8 + 103, over two steps.
  EXPECT_DOUBLE_EQ(*figures.jitter, 55.5);
}

// Nearest rank: p90 is the value at ceil(0.9 n), p95 at ceil(0.95 n).
struct PercentileCase {
  int answers;
  int lost;
  std::optional<std::int32_t> p90;
  std::optional<std::int32_t> p95;
};

class Percentiles : public testing::TestWithParam<PercentileCase> {};

TEST_P(Percentiles, ByNearestRankFromTwentyAnswersUp) {
  // Answers n, n-1, ..., 1 ms, so the value at rank r is r ms.
  std::vector<EchoSample> samples;
  for (int i = GetParam().answers; i >= 1; --i) samples.push_back(ok(i));
  for (int i = 0; i < GetParam().lost; ++i) samples.push_back(lost());
  const auto figures = zelvor::stats::hostFigures(samples);
  EXPECT_EQ(figures.p90, GetParam().p90);
  EXPECT_EQ(figures.p95, GetParam().p95);
}

INSTANTIATE_TEST_SUITE_P(Ranks, Percentiles,
                         testing::Values(PercentileCase{19, 0, std::nullopt, std::nullopt},
                                         // 30 samples but only 19 answers: none.
                                         PercentileCase{19, 11, std::nullopt, std::nullopt},
                                         PercentileCase{20, 0, 18, 19},
                                         PercentileCase{21, 0, 19, 20},
                                         PercentileCase{100, 0, 90, 95},
                                         PercentileCase{101, 3, 91, 96}));

TEST(RunMedian, IsTheMedianOfEveryAnswerOfTheRun) {
  const zelvor::ServerClass measured{
      "A", {{"h1", {ok(1), lost(), ok(9)}}, {"h2", {ok(4)}}, {"h3", {lost()}}}};
  // 1 4 9
  EXPECT_EQ(zelvor::stats::runMedian(measured), 4.0);
  const zelvor::ServerClass even{"A", {{"h1", {ok(1), ok(2)}}, {"h2", {ok(10), ok(20)}}}};
  EXPECT_EQ(zelvor::stats::runMedian(even), 6.0);
  EXPECT_FALSE(zelvor::stats::runMedian({"A", {{"h1", {lost()}}}}));
  EXPECT_FALSE(zelvor::stats::runMedian({"A", {}}));
}

TEST(FigureText, NumbersAreFixedAndLocaleFree) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0.0"},     {24.5, "24.5"}, {100.0 / 3, "33.3"},    {200.0 / 3, "66.7"},
      {100, "100.0"}, {-0.04, "0.0"}, {-7.25 - 0.01, "-7.3"}, {1e9 + 0.06, "1000000000.1"}};
  for (const Case& c : cases) EXPECT_EQ(zelvor::stats::formatOneDecimal(c.value), c.text);
  EXPECT_EQ(zelvor::stats::formatWhole(INT32_MIN), "-2147483648");
  EXPECT_EQ(zelvor::stats::formatWhole(1234567), "1234567");
}

}  // namespace
