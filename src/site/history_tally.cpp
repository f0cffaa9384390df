#include "site/history_tally.hpp"

#include <algorithm>
#include <cassert>

namespace zelvor::site {

void Tally::addRun(std::size_t echoes, std::size_t lost, std::span<const std::int32_t> roundTrips) {
  ++runs_;
  echoes_ += echoes;
  lost_ += lost;
  if (roundTrips.empty()) return;
  // Stored summaries come sorted; anything else is sorted here.
  std::vector<std::int32_t> sorted;
  if (!std::is_sorted(roundTrips.begin(), roundTrips.end())) {
    sorted.assign(roundTrips.begin(), roundTrips.end());
    std::sort(sorted.begin(), sorted.end());
    roundTrips = sorted;
  }
  std::vector<Count> counted;
  for (const std::int32_t ms : roundTrips) {
    if (counted.empty() || counted.back().ms != ms) counted.push_back({ms, 0});
    ++counted.back().times;
  }
  merge(counted);
}

void Tally::add(const Tally& other) {
  runs_ += other.runs_;
  echoes_ += other.echoes_;
  lost_ += other.lost_;
  merge(other.counts_);
}

std::int32_t Tally::atRank(std::size_t rank) const {
  assert(rank >= 1 && rank <= answered_);
  std::size_t seen = 0;
  for (const Count& count : counts_) {
    seen += count.times;
    if (rank <= seen) return count.ms;
  }
  return counts_.back().ms;
}

void Tally::merge(std::span<const Count> more) {
  if (more.empty()) return;
  std::vector<Count> merged;
  merged.reserve(counts_.size() + more.size());
  auto mine = counts_.begin();
  auto theirs = more.begin();
  while (mine != counts_.end() || theirs != more.end()) {
    if (theirs == more.end() || (mine != counts_.end() && mine->ms < theirs->ms)) {
      merged.push_back(*mine++);
    } else if (mine == counts_.end() || theirs->ms < mine->ms) {
      merged.push_back(*theirs++);
    } else {
      merged.push_back({mine->ms, mine->times + theirs->times});
      ++mine;
      ++theirs;
    }
  }
  for (const Count& count : more) answered_ += count.times;
  counts_ = std::move(merged);
}

}  // namespace zelvor::site
