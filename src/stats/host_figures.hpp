// The figures of one host's samples that the results page, its JSON and
// CSV, and the terminal client show. Pure functions; each figure is defined
// once, here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "catalogue/catalogue.hpp"
#include "catalogue/failure_texts.hpp"

namespace zelvor::stats {

// Percentiles are given only from this many successful round trips up:
// below it the 90th and the 95th percentile would both be the maximum.
inline constexpr std::size_t percentileMinimum = 20;

struct HostFigures {
  // Every sample, successful or not.
  std::size_t sent = 0;
  // The samples with a round trip.
  std::size_t received = 0;
  // 100 x (sent - received) / sent; none without samples.
  std::optional<double> lossPercent;
  // How many samples failed with each text, in the order of failure::all.
  std::array<std::size_t, failure::all.size()> failures{};

  // The rest are over the successful round trips (ms) and are none without
  // any: the smallest, the largest and their arithmetic mean;
  std::optional<std::int32_t> min;
  std::optional<std::int32_t> max;
  std::optional<double> mean;
  // the middle value in sorted order, the mean of the two middle values for
  // an even count;
  std::optional<double> median;
  // the population standard deviation, sqrt(sum((x - mean)^2) / n);
  std::optional<double> stddev;
  // jitter: the mean of |rtt(i) - rtt(i-1)| over successive successful
  // samples in the order they were taken, failures skipped; none below two;
  std::optional<double> jitter;
  // the 90th and 95th percentile by nearest rank: the value at 1-based
  // position ceil(p / 100 x n) in sorted order; none below percentileMinimum.
  std::optional<std::int32_t> p90;
  std::optional<std::int32_t> p95;
};

HostFigures hostFigures(std::span<const EchoSample> samples);

// Where the nearest-rank percentile lies among `count` values (not 0) in
// ascending order: the 1-based position ceil(percent / 100 x count), never
// below 1. For figures pooled from the samples of many runs.
std::size_t nearestRankPosition(std::size_t count, unsigned percent);

// The median of every successful round trip of a run, all hosts together:
// the one number a run's trend is drawn from. None without any.
std::optional<double> runMedian(const ServerClass& measured);

}  // namespace zelvor::stats
