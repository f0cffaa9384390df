#include "stats/host_figures.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

namespace zelvor::stats {

namespace {

// By text, so that a sample need not point at the constant itself.
std::size_t failureIndex(const char* text) {
  const std::string_view word(text);
  for (std::size_t i = 0; i < failure::all.size(); ++i)
    if (word == failure::all[i]) return i;
  return failure::all.size();
}

// Over a non-empty sorted sequence.
double medianOfSorted(const std::vector<std::int32_t>& sorted) {
  const std::size_t middle = sorted.size() / 2;
  if (sorted.size() % 2 == 1) return sorted[middle];
  return (static_cast<double>(sorted[middle - 1]) + sorted[middle]) / 2.0;
}

std::int32_t nearestRank(const std::vector<std::int32_t>& sorted, unsigned percent) {
  return sorted[nearestRankPosition(sorted.size(), percent) - 1];
}

}  // namespace

std::size_t nearestRankPosition(std::size_t count, unsigned percent) {
  // ceil(percent * n / 100) in whole numbers, which a double could round.
  return std::max<std::size_t>(1, (percent * count + 99) / 100);
}

HostFigures hostFigures(std::span<const EchoSample> samples) {
  HostFigures figures;
  figures.sent = samples.size();
  std::vector<std::int32_t> roundTrips;
  roundTrips.reserve(samples.size());
  for (const EchoSample& sample : samples) {
    if (sample.failure == nullptr) {
      roundTrips.push_back(sample.rtt);
    } else if (const std::size_t index = failureIndex(sample.failure);
               index < figures.failures.size()) {
      ++figures.failures[index];
    }
  }
  figures.received = roundTrips.size();
  if (figures.sent > 0)
    figures.lossPercent = 100.0 * static_cast<double>(figures.sent - figures.received) /
                          static_cast<double>(figures.sent);
  if (roundTrips.empty()) return figures;

  // Sums in double: int32 values cannot overflow it, and n of them stay exact
  // far beyond any report's size.
  const auto n = static_cast<double>(roundTrips.size());
  double sum = 0;
  for (const std::int32_t rtt : roundTrips) sum += rtt;
  const double mean = sum / n;
  figures.mean = mean;
  double squares = 0;
  for (const std::int32_t rtt : roundTrips) squares += (rtt - mean) * (rtt - mean);
  figures.stddev = std::sqrt(squares / n);
  if (roundTrips.size() >= 2) {
    double steps = 0;
    for (std::size_t i = 1; i < roundTrips.size(); ++i)
      steps += std::fabs(static_cast<double>(roundTrips[i]) - roundTrips[i - 1]);
    figures.jitter = steps / static_cast<double>(roundTrips.size() - 1);
  }

  std::vector<std::int32_t> sorted = std::move(roundTrips);
  std::sort(sorted.begin(), sorted.end());
  figures.min = sorted.front();
  figures.max = sorted.back();
  figures.median = medianOfSorted(sorted);
  if (sorted.size() >= percentileMinimum) {
    figures.p90 = nearestRank(sorted, 90);
    figures.p95 = nearestRank(sorted, 95);
  }
  return figures;
}

std::optional<double> runMedian(const ServerClass& measured) {
  std::vector<std::int32_t> roundTrips;
  for (const ServerEntry& entry : measured.servers)
    for (const EchoSample& sample : entry.samples)
      if (sample.failure == nullptr) roundTrips.push_back(sample.rtt);
  if (roundTrips.empty()) return std::nullopt;
  std::sort(roundTrips.begin(), roundTrips.end());
  return medianOfSorted(roundTrips);
}

}  // namespace zelvor::stats
