// The sums of the history's settled buckets, kept between requests: a year
// of a class's runs is summed into 300 buckets once, not read again, row by
// row, for every page. A bucket is settled once it ended settledAfterMs ago;
// what lands in one after that (a late run, a deletion) moves the store's
// historyChanges, and a count that moved drops every sum kept.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "site/history.hpp"
#include "site/history_tally.hpp"
#include "site/store.hpp"

namespace zelvor::site {

class HistoryCache {
 public:
  // Counted values (Tally::counts, some 8 bytes each) kept at most: a few
  // dozen MiB, a year of a few hundred hosts' buckets at every range.
  static constexpr std::size_t defaultCapacity = std::size_t{1} << 22;

  // At most `capacity` counted values are kept; the sums kept longest go
  // first.
  explicit HistoryCache(std::size_t capacity = defaultCapacity);

  // Adds to `points` what `query` selects (its times are points' window):
  // settled buckets from the sums kept, summing the missing ones from the
  // store for every host and label of the class, and newer ones from the
  // store as they are.
  void gather(Store& store, const PointQuery& query, std::int64_t nowMs, HistoryBuilder& points);

 private:
  struct Line {
    std::string host;
    std::optional<std::string> label;
    Tally tally;
  };
  // One bucket of one class: every host and label measured in it.
  using Lines = std::vector<Line>;
  struct Key {
    std::string className;
    std::int64_t bucketMs = 0;
    std::int64_t startMs = 0;

    auto operator<=>(const Key&) const = default;
  };

  // What a bucket's sums cost to keep: its counted values and lines.
  static std::size_t weightOf(const Lines& lines);
  // The store's count of changes is `changes`: sums of an older count go.
  // Whether sums read after that count may be kept.
  bool agreeOn(std::int64_t changes);
  std::vector<std::shared_ptr<const Lines>> summed(const Key& first, std::size_t buckets,
                                                   std::vector<std::size_t>& missing);
  // The sums of the buckets of `width` in [fromMs, toMs), oldest first.
  std::vector<Lines> sumFromStore(Store& store, const std::string& className, std::int64_t width,
                                  std::int64_t fromMs, std::int64_t toMs) const;
  void keep(Key key, std::shared_ptr<const Lines> lines, std::int64_t changes);

  const std::size_t capacity_;
  std::mutex mutex_;
  std::int64_t changes_ = -1;
  std::map<Key, std::shared_ptr<const Lines>> sums_;
  // The keys of sums_, oldest first.
  std::deque<Key> kept_;
  std::size_t weight_ = 0;
};

}  // namespace zelvor::site
