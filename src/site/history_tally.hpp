// What one host under one label measured within a stretch of time: its runs,
// echoes and losses, and its round trips counted by value. Round trips are
// whole milliseconds that repeat, so a day of a host's samples is a few dozen
// pairs: small enough to keep for months of buckets, merged in linear time,
// and still ranked exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zelvor::site {

class Tally {
 public:
  struct Count {
    std::int32_t ms = 0;
    std::uint32_t times = 0;

    bool operator==(const Count&) const = default;
  };

  // One run's share: its echoes, how many were lost, and its round trips
  // in any order.
  void addRun(std::size_t echoes, std::size_t lost, std::span<const std::int32_t> roundTrips);
  void add(const Tally& other);

  std::size_t runs() const { return runs_; }
  std::size_t echoes() const { return echoes_; }
  std::size_t lost() const { return lost_; }
  // The round trips counted, by value ascending; no value twice.
  std::span<const Count> counts() const { return counts_; }
  std::size_t answered() const { return answered_; }

  // The round trip at `rank` (1-based, ascending); rank is at most answered().
  std::int32_t atRank(std::size_t rank) const;

  bool operator==(const Tally&) const = default;

 private:
  void merge(std::span<const Count> more);

  std::size_t runs_ = 0;
  std::size_t echoes_ = 0;
  std::size_t lost_ = 0;
  std::size_t answered_ = 0;
  std::vector<Count> counts_;
};

}  // namespace zelvor::site
