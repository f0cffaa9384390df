// The scheduled runs' pure parts: the cadence's durations and slots, the
// line each run writes, and which refusals of a kept report are for good.
#include "cli/schedule.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "cli/kept_reports.hpp"

namespace {

using namespace std::chrono_literals;
using zelvor::cli::nextSlot;
using zelvor::cli::parseDuration;

TEST(Duration, WholeSecondsMinutesOrHoursFromOneSecondToAYear) {
  const struct {
    const char* text;
    std::optional<std::chrono::seconds> period;
  } cases[] = {
      {"90s", 90s},
      {"1s", 1s},
      {"5m", 300s},
      {"1h", 3600s},
      {"007s", 7s},
      {"8784h", 8784h},
      {"527040m", 8784h},
      {"8785h", std::nullopt},
      {"0s", std::nullopt},
      {"0h", std::nullopt},
      {"s", std::nullopt},
      {"90", std::nullopt},
      {"", std::nullopt},
      {"1d", std::nullopt},
      {"1S", std::nullopt},
      {"-5s", std::nullopt},
      {"+5s", std::nullopt},
      {"1.5h", std::nullopt},
      {" 5s", std::nullopt},
      {"5 s", std::nullopt},
      {"1m30s", std::nullopt},
      {"99999999999999999999s", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parseDuration(c.text), c.period) << c.text;
}

// Slot k begins k periods after the first run began. A run that ends within
// its slot lets the next start on time; one that overruns gives up every
// slot it ran into, so that runs never start back to back or at once.
TEST(Cadence, NextSlotIsTheFirstNotBegunAfterTheLast) {
  const struct {
    std::chrono::nanoseconds elapsed;
    std::chrono::seconds period;
    std::int64_t last, next;
  } cases[] = {
      {0ns, 2s, 0, 1},
      {300ms, 2s, 0, 1},
      {1999ms, 2s, 0, 1},
      {2s, 2s, 0, 1},  // ended as its successor's slot begins: that one, on time
      {2s + 1ns, 2s, 0, 2},
      {5500ms, 2s, 0, 3},
      {5500ms, 2s, 1, 3},
      {2s + 300ms, 2s, 1, 2},
      {2s + 300ms, 2s, 4, 5},  // never a slot already run
      {-5ms, 2s, 0, 1},        // a clock that went back cannot go before the next
      {3601s, 3600s, 0, 2},
      {std::chrono::hours(24 * 365), 1s, 10, 24 * 365 * 3600},
  };
  for (const auto& c : cases)
    EXPECT_EQ(nextSlot(c.elapsed, c.period, c.last), c.next)
        << c.elapsed.count() << " ns after, last " << c.last;
}

TEST(RunLine, TimeClassLabelAnsweredMedianAndEnd) {
  const struct {
    zelvor::cli::RunLine line;
    const char* text;
  } cases[] = {
      {{1717243200000, "Near", "lab-1", 2, 3, 5.5, "http://s/zelvor?handle=h"},
       "2024-06-01T12:00:00Z Near lab-1 2/3 5.5 ms http://s/zelvor?handle=h"},
      {{1717243200999, "Far and wide", std::nullopt, 0, 4, std::nullopt, "why"},
       "2024-06-01T12:00:00Z Far and wide - 0/4 - ms why"},
      {{0, "A", std::nullopt, 0, 0, std::nullopt, "Error connecting to s: Socket error 111"},
       "1970-01-01T00:00:00Z A - 0/0 - ms Error connecting to s: Socket error 111"},
  };
  for (const auto& c : cases) EXPECT_EQ(zelvor::cli::formatRunLine(c.line), c.text);
}

TEST(KeptReports, OnlyAClientErrorOtherThanComeBackLaterIsForGood) {
  const struct {
    const char* failure;
    bool lasting;
  } cases[] = {
      {"HTTP Failure: 400", true},
      {"HTTP Failure: 413", true},
      {"HTTP Failure: 404", true},
      {"HTTP Failure: 408", false},
      {"HTTP Failure: 429", false},
      {"HTTP Failure: 503", false},
      {"HTTP Failure: 500", false},
      {"HTTP Failure: 4", false},
      {"HTTP Failure: 4000", false},
      {"HTTP Failure: 4x0", false},
      {"Socket error 111", false},
      {"Bad HTTP Response: HTTP/1.0 400", false},
      {"the site's answer is not a handle", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zelvor::cli::isLastingRefusal(c.failure), c.lasting) << c.failure;
}

}  // namespace
