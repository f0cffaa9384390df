// What the site has seen since it started, for Prometheus to scrape at
// /metrics: the reports stored and their echoes, and the site's own
// requests. Every label value that a client's text decides is bounded by
// what the operator listed, so no client can grow the number of series.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "catalogue/catalogue.hpp"
#include "site/server_list.hpp"

namespace zelvor::site {

// `value` as it stands between the quotes of a label: backslash, double
// quote and line feed escaped.
std::string escapeLabelValue(std::string_view value);

// `units` / 10^`digits` as a plain decimal without trailing zeros
// ("0.045", "1.5", "2"), so that sums of whole units render exactly.
std::string decimalText(std::uint64_t units, unsigned digits);

class Metrics {
 public:
  using Duration = std::chrono::microseconds;

  // Distinct vantage labels counted by name; later ones count as `other`,
  // as do classes and hosts the current list does not name.
  static constexpr std::size_t maxLabels = 1000;
  static constexpr char other[] = "other";
  // Upper bounds of the round trip's buckets, in milliseconds (the samples'
  // unit), and of the request duration's, in microseconds.
  static constexpr std::array<std::uint64_t, 12> roundTripBoundsMs{1,   2,   5,   10,   20,   50,
                                                                   100, 200, 500, 1000, 2000, 5000};
  static constexpr std::array<std::uint64_t, 13> requestBoundsUs{
      1'000,   2'500,   5'000,     10'000,    25'000,    50'000,    100'000,
      250'000, 500'000, 1'000'000, 2'500'000, 5'000'000, 10'000'000};

  // A report the store accepted: the report itself, and each of its
  // samples by outcome and, when it came back, by round trip. `list` is the
  // list served when it arrived.
  void countReport(const ServerClass& measured, const std::optional<std::string>& label,
                   const ServerList& list);
  // A request answered with `status` after `took`.
  void countRequest(int status, Duration took);
  // A request refused with `status` before it was answered (its head or
  // the server's load decided); it has no answering time.
  void countRefusal(int status);

  // The exposition text (format 0.0.4) of everything counted so far.
  std::string render() const;

 private:
  template <std::size_t Bounds>
  struct Histogram {
    // Per bucket, not cumulative; the last is above every bound.
    std::array<std::uint64_t, Bounds + 1> bins{};
    std::uint64_t sum = 0;
  };
  struct Counts {
    std::map<std::array<std::string, 2>, std::uint64_t> reports;
    std::map<std::array<std::string, 4>, std::uint64_t> echoes;
    std::map<std::array<std::string, 3>, Histogram<roundTripBoundsMs.size()>> roundTrips;
    std::map<int, std::uint64_t> requests;
    Histogram<requestBoundsUs.size()> requestDurations;
  };

  // The series value of a vantage label; called with the mutex held.
  std::string labelValue(const std::optional<std::string>& label);

  mutable std::mutex mutex_;
  Counts counts_;
  std::set<std::string, std::less<>> labels_;
};

}  // namespace zelvor::site
