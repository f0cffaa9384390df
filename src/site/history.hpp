// A host's history and a class's overview as figures: the time range asked
// for, cut into buckets, and per bucket the percentiles of every round trip
// measured in it. Pure functions from the store's host summaries, so that
// every edge and figure is checked without a store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "site/history_tally.hpp"
#include "site/store.hpp"

namespace zelvor::site {

// The ranges a history shows, ending now.
enum class HistoryRange { hours3, hours30, days10, days360 };

// The range a query names ("3h", "30h", "10d", "360d"; nothing means 30h);
// none for anything else.
std::optional<HistoryRange> parseRange(std::string_view text);
std::string_view rangeName(HistoryRange range);

// Buckets across every range: the width of a chart in fine detail, and each
// range's length divides into this many whole milliseconds.
inline constexpr std::size_t bucketCount = 300;

// The range's time: [startMs, endMs), bucketCount buckets of bucketMs. The
// end is the first bucket edge after now, counted from the Unix epoch, so
// that pages drawn a moment apart put every run in the same bucket.
struct HistoryWindow {
  HistoryRange range = HistoryRange::hours30;
  std::int64_t startMs = 0;
  std::int64_t endMs = 0;
  std::int64_t bucketMs = 0;

  bool operator==(const HistoryWindow&) const = default;
};

HistoryWindow historyWindow(HistoryRange range, std::int64_t nowMs);

// Rounds toward minus infinity, as bucket edges must for any time.
std::int64_t floorDivide(std::int64_t value, std::int64_t divisor);

// How a bucket's loss colours the median line: none; up to 5 %; up to 20 %;
// more.
enum class LossLevel { none, low, high, severe };

LossLevel lossLevel(std::size_t echoes, std::size_t lost);

// The figures of one bucket, or of a whole range, over every round trip of
// the runs in it. Percentiles by nearest rank and the median as the results
// page defines them; none without an answer.
struct PooledFigures {
  std::size_t runs = 0;
  std::size_t echoes = 0;
  std::size_t lost = 0;
  std::optional<std::int32_t> p10;
  std::optional<std::int32_t> p25;
  std::optional<double> median;
  std::optional<std::int32_t> p75;
  std::optional<std::int32_t> p90;
  // Only from stats::percentileMinimum answers up, as on the results page.
  std::optional<std::int32_t> p95;

  std::optional<double> lossPercent() const;
  LossLevel loss() const { return lossLevel(echoes, lost); }
  bool operator==(const PooledFigures&) const = default;
};

struct Bucket {
  std::int64_t startMs = 0;
  PooledFigures figures;

  bool operator==(const Bucket&) const = default;
};

// One line of a chart: a label's runs of one host (history), or one host's
// runs whatever their label (the class's chart and tables).
struct HistorySeries {
  std::string host;
  std::optional<std::string> label;
  // Exactly bucketCount, oldest first; a bucket without runs has runs == 0.
  std::vector<Bucket> buckets;
  // Over the whole range.
  PooledFigures overall;

  bool operator==(const HistorySeries&) const = default;
};

// Gathers host points (PointQuery's, in any order) into a line per host
// and label, bucket by bucket; points outside the window are left out.
class HistoryBuilder {
 public:
  explicit HistoryBuilder(const HistoryWindow& window);

  void add(const HostPointView& point);
  // What a host under a label measured in the bucket that starts at
  // `bucketStartMs`, summed up already; a bucket outside the window is left
  // out.
  void add(std::int64_t bucketStartMs, std::string_view host, std::optional<std::string_view> label,
           const Tally& tally);
  const HistoryWindow& window() const { return window_; }

  // One series per host and label, by host, then unlabelled first and by
  // label; and one per host with every label pooled, by overall median
  // (hosts that never answered last), then host.
  std::vector<HistorySeries> byHostAndLabel() const;
  std::vector<HistorySeries> byHost() const;

 private:
  struct Line {
    std::string host;
    std::optional<std::string> label;
    std::vector<Tally> buckets;
  };

  Line& lineOf(std::string_view host, std::optional<std::string_view> label);
  HistorySeries seriesOf(std::string host, std::optional<std::string> label,
                         std::span<const Line* const> lines) const;

  HistoryWindow window_;
  std::vector<Line> lines_;
  // Points come a host and label at a time, mostly: the last line found.
  std::size_t lastLine_ = 0;
};

// What the history page and its JSON show.
struct HistoryView {
  std::string className;
  std::string host;
  // The label asked for, if one was.
  std::optional<std::string> label;
  HistoryWindow window;
  std::vector<HistorySeries> series;
};

// What the class page and its JSON show.
struct ClassView {
  std::string className;
  HistoryWindow window;
  // The chart's lines: a host each, as seriesByHost orders them.
  std::vector<HistorySeries> hosts;
  // The tables' rows: a host and label each; unlabelled first, then by
  // label, and within a label the hosts as `hosts` orders them.
  std::vector<HistorySeries> labelled;
};

// The views of what `points` gathered of a host or a class.
HistoryView historyView(std::string className, std::string host, std::optional<std::string> label,
                        const HistoryBuilder& points);
ClassView classView(std::string className, const HistoryBuilder& points);

}  // namespace zelvor::site
