#include "site/history.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>
#include <utility>

#include "stats/host_figures.hpp"

namespace zelvor::site {

namespace {

struct RangeInfo {
  HistoryRange range;
  std::string_view name;
  std::int64_t lengthMs;
};

constexpr std::int64_t hourMs = 3'600'000;
constexpr std::array<RangeInfo, 4> ranges{{
    {HistoryRange::hours3, "3h", 3 * hourMs},
    {HistoryRange::hours30, "30h", 30 * hourMs},
    {HistoryRange::days10, "10d", 240 * hourMs},
    {HistoryRange::days360, "360d", 8640 * hourMs},
}};

static_assert(std::all_of(ranges.begin(), ranges.end(), [](const RangeInfo& info) {
  return info.lengthMs % static_cast<std::int64_t>(bucketCount) == 0;
}));

const RangeInfo& infoOf(HistoryRange range) { return ranges[static_cast<std::size_t>(range)]; }

// Rounds toward minus infinity, as bucket edges must for any time.
std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return quotient * divisor > value ? quotient - 1 : quotient;
}

PooledFigures pooled(std::vector<std::int32_t>& roundTrips, std::size_t runs, std::size_t echoes,
                     std::size_t lost) {
  PooledFigures figures{runs, echoes, lost, {}, {}, {}, {}, {}, {}};
  if (roundTrips.empty()) return figures;
  std::sort(roundTrips.begin(), roundTrips.end());
  figures.p10 = stats::nearestRank(roundTrips, 10);
  figures.p25 = stats::nearestRank(roundTrips, 25);
  figures.median = stats::medianOfSorted(roundTrips);
  figures.p75 = stats::nearestRank(roundTrips, 75);
  figures.p90 = stats::nearestRank(roundTrips, 90);
  if (roundTrips.size() >= stats::percentileMinimum)
    figures.p95 = stats::nearestRank(roundTrips, 95);
  return figures;
}

// Cuts one series' points (already by measured time) into the window's
// buckets and pools each, and the whole.
HistorySeries seriesOf(std::string host, std::optional<std::string> label,
                       std::span<const HostPoint* const> points, const HistoryWindow& window) {
  HistorySeries series{std::move(host), std::move(label), {}, {}};
  series.buckets.reserve(bucketCount);
  std::vector<const HostPoint*> inWindow;
  inWindow.reserve(points.size());
  for (const HostPoint* point : points)
    if (point->measuredAtMs >= window.startMs && point->measuredAtMs < window.endMs)
      inWindow.push_back(point);
  std::stable_sort(inWindow.begin(), inWindow.end(), [](const HostPoint* a, const HostPoint* b) {
    return a->measuredAtMs < b->measuredAtMs;
  });

  std::vector<std::int32_t> all;
  std::vector<std::int32_t> inBucket;
  std::size_t echoes = 0;
  std::size_t lost = 0;
  auto next = inWindow.begin();
  for (std::size_t i = 0; i < bucketCount; ++i) {
    const std::int64_t start = window.startMs + static_cast<std::int64_t>(i) * window.bucketMs;
    const auto end = std::find_if(next, inWindow.end(), [&](const HostPoint* point) {
      return point->measuredAtMs >= start + window.bucketMs;
    });
    inBucket.clear();
    std::size_t bucketEchoes = 0;
    std::size_t bucketLost = 0;
    for (auto it = next; it != end; ++it) {
      const HostSummary& summary = (*it)->summary;
      inBucket.insert(inBucket.end(), summary.roundTrips.begin(), summary.roundTrips.end());
      bucketEchoes += summary.echoes;
      bucketLost += summary.lost;
    }
    const auto runs = static_cast<std::size_t>(end - next);
    series.buckets.push_back({start, pooled(inBucket, runs, bucketEchoes, bucketLost)});
    all.insert(all.end(), inBucket.begin(), inBucket.end());
    echoes += bucketEchoes;
    lost += bucketLost;
    next = end;
  }
  series.overall = pooled(all, inWindow.size(), echoes, lost);
  return series;
}

using SeriesKey = std::pair<std::string, std::optional<std::string>>;

// The points of each key, in the keys' order, each list by measured time as
// the points came.
template <class KeyOf>
std::map<SeriesKey, std::vector<const HostPoint*>> grouped(std::span<const HostPoint> points,
                                                           KeyOf keyOf) {
  std::map<SeriesKey, std::vector<const HostPoint*>> groups;
  for (const HostPoint& point : points) groups[keyOf(point)].push_back(&point);
  return groups;
}

template <class KeyOf>
std::vector<HistorySeries> seriesOfGroups(std::span<const HostPoint> points,
                                          const HistoryWindow& window, KeyOf keyOf) {
  std::vector<HistorySeries> series;
  for (auto& [key, group] : grouped(points, keyOf))
    series.push_back(seriesOf(key.first, key.second, group, window));
  return series;
}

}  // namespace

std::optional<HistoryRange> parseRange(std::string_view text) {
  if (text.empty()) return HistoryRange::hours30;
  for (const RangeInfo& info : ranges)
    if (text == info.name) return info.range;
  return std::nullopt;
}

std::string_view rangeName(HistoryRange range) { return infoOf(range).name; }

HistoryWindow historyWindow(HistoryRange range, std::int64_t nowMs) {
  const std::int64_t lengthMs = infoOf(range).lengthMs;
  const std::int64_t bucketMs = lengthMs / static_cast<std::int64_t>(bucketCount);
  const std::int64_t endMs = (floorDivide(nowMs, bucketMs) + 1) * bucketMs;
  return {range, endMs - lengthMs, endMs, bucketMs};
}

LossLevel lossLevel(std::size_t echoes, std::size_t lost) {
  // In whole numbers: 100 x lost / echoes against 5 and 20.
  if (lost == 0) return LossLevel::none;
  if (lost * 100 <= echoes * 5) return LossLevel::low;
  if (lost * 100 <= echoes * 20) return LossLevel::high;
  return LossLevel::severe;
}

std::optional<double> PooledFigures::lossPercent() const {
  if (echoes == 0) return std::nullopt;
  return 100.0 * static_cast<double>(lost) / static_cast<double>(echoes);
}

std::vector<HistorySeries> seriesByHostAndLabel(std::span<const HostPoint> points,
                                                const HistoryWindow& window) {
  return seriesOfGroups(points, window, [](const HostPoint& point) -> SeriesKey {
    return {point.summary.host, point.label};
  });
}

std::vector<HistorySeries> seriesByHost(std::span<const HostPoint> points,
                                        const HistoryWindow& window) {
  std::vector<HistorySeries> series =
      seriesOfGroups(points, window, [](const HostPoint& point) -> SeriesKey {
        return {point.summary.host, std::nullopt};
      });
  std::stable_sort(series.begin(), series.end(),
                   [](const HistorySeries& a, const HistorySeries& b) {
                     const std::optional<double>& x = a.overall.median;
                     const std::optional<double>& y = b.overall.median;
                     if (!y) return x.has_value();
                     return x && *x < *y;
                   });
  return series;
}

HistoryView historyView(std::string className, std::string host, std::optional<std::string> label,
                        std::span<const HostPoint> points, const HistoryWindow& window) {
  return {std::move(className), std::move(host), std::move(label), window,
          seriesByHostAndLabel(points, window)};
}

ClassView classView(std::string className, std::span<const HostPoint> points,
                    const HistoryWindow& window) {
  ClassView view{std::move(className), window, seriesByHost(points, window),
                 seriesByHostAndLabel(points, window)};
  std::map<std::string_view, std::size_t> placeOf;
  for (std::size_t i = 0; i < view.hosts.size(); ++i) placeOf[view.hosts[i].host] = i;
  std::stable_sort(view.labelled.begin(), view.labelled.end(),
                   [&](const HistorySeries& a, const HistorySeries& b) {
                     return std::tie(a.label, placeOf[a.host]) < std::tie(b.label, placeOf[b.host]);
                   });
  return view;
}

}  // namespace zelvor::site
