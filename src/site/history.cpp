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

PooledFigures pooled(const Tally& tally) {
  PooledFigures figures{tally.runs(), tally.echoes(), tally.lost(), {}, {}, {}, {}, {}, {}};
  const std::size_t n = tally.answered();
  if (n == 0) return figures;
  figures.p10 = tally.atRank(stats::nearestRankPosition(n, 10));
  figures.p25 = tally.atRank(stats::nearestRankPosition(n, 25));
  // The median as stats defines it: the middle value, or the mean of the
  // two middle values for an even count.
  const auto lowerMiddle = static_cast<double>(tally.atRank((n + 1) / 2));
  figures.median =
      n % 2 == 1 ? lowerMiddle : (lowerMiddle + static_cast<double>(tally.atRank(n / 2 + 1))) / 2.0;
  figures.p75 = tally.atRank(stats::nearestRankPosition(n, 75));
  figures.p90 = tally.atRank(stats::nearestRankPosition(n, 90));
  if (n >= stats::percentileMinimum) figures.p95 = tally.atRank(stats::nearestRankPosition(n, 95));
  return figures;
}

// Hosts by overall median, lowest first, those that never answered last.
bool answersSooner(const HistorySeries& a, const HistorySeries& b) {
  if (!b.overall.median) return a.overall.median.has_value();
  return a.overall.median && *a.overall.median < *b.overall.median;
}

}  // namespace

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return quotient * divisor > value ? quotient - 1 : quotient;
}

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

HistoryBuilder::HistoryBuilder(const HistoryWindow& window) : window_(window) {}

HistoryBuilder::Line& HistoryBuilder::lineOf(std::string_view host,
                                             std::optional<std::string_view> label) {
  const auto matches = [&](const Line& line) { return line.host == host && line.label == label; };
  if (lastLine_ < lines_.size() && matches(lines_[lastLine_])) return lines_[lastLine_];
  for (lastLine_ = 0; lastLine_ < lines_.size(); ++lastLine_)
    if (matches(lines_[lastLine_])) return lines_[lastLine_];
  lines_.push_back({std::string(host), label ? std::optional<std::string>(*label) : std::nullopt,
                    std::vector<Tally>(bucketCount)});
  return lines_.back();
}

void HistoryBuilder::add(const HostPointView& point) {
  if (point.measuredAtMs < window_.startMs || point.measuredAtMs >= window_.endMs) return;
  lineOf(point.host, point.label)
      .buckets[static_cast<std::size_t>((point.measuredAtMs - window_.startMs) / window_.bucketMs)]
      .addRun(point.echoes, point.lost, point.roundTrips);
}

void HistoryBuilder::add(std::int64_t bucketStartMs, std::string_view host,
                         std::optional<std::string_view> label, const Tally& tally) {
  if (bucketStartMs < window_.startMs || bucketStartMs >= window_.endMs) return;
  lineOf(host, label)
      .buckets[static_cast<std::size_t>((bucketStartMs - window_.startMs) / window_.bucketMs)]
      .add(tally);
}

HistorySeries HistoryBuilder::seriesOf(std::string host, std::optional<std::string> label,
                                       std::span<const Line* const> lines) const {
  HistorySeries series{std::move(host), std::move(label), {}, {}};
  series.buckets.reserve(bucketCount);
  Tally all;
  for (std::size_t i = 0; i < bucketCount; ++i) {
    Tally inBucket;
    for (const Line* line : lines) inBucket.add(line->buckets[i]);
    all.add(inBucket);
    series.buckets.push_back(
        {window_.startMs + static_cast<std::int64_t>(i) * window_.bucketMs, pooled(inBucket)});
  }
  series.overall = pooled(all);
  return series;
}

std::vector<HistorySeries> HistoryBuilder::byHostAndLabel() const {
  std::vector<const Line*> sorted;
  for (const Line& line : lines_) sorted.push_back(&line);
  std::sort(sorted.begin(), sorted.end(), [](const Line* a, const Line* b) {
    return std::tie(a->host, a->label) < std::tie(b->host, b->label);
  });
  std::vector<HistorySeries> series;
  for (const Line* line : sorted)
    series.push_back(seriesOf(line->host, line->label, std::span(&line, 1)));
  return series;
}

std::vector<HistorySeries> HistoryBuilder::byHost() const {
  std::map<std::string_view, std::vector<const Line*>> hosts;
  for (const Line& line : lines_) hosts[line.host].push_back(&line);
  std::vector<HistorySeries> series;
  for (const auto& [host, lines] : hosts)
    series.push_back(seriesOf(std::string(host), std::nullopt, lines));
  std::stable_sort(series.begin(), series.end(), answersSooner);
  return series;
}

HistoryView historyView(std::string className, std::string host, std::optional<std::string> label,
                        const HistoryBuilder& points) {
  return {std::move(className), std::move(host), std::move(label), points.window(),
          points.byHostAndLabel()};
}

ClassView classView(std::string className, const HistoryBuilder& points) {
  ClassView view{std::move(className), points.window(), points.byHost(), points.byHostAndLabel()};
  std::map<std::string_view, std::size_t> placeOf;
  for (std::size_t i = 0; i < view.hosts.size(); ++i) placeOf[view.hosts[i].host] = i;
  std::stable_sort(view.labelled.begin(), view.labelled.end(),
                   [&](const HistorySeries& a, const HistorySeries& b) {
                     return std::tie(a.label, placeOf[a.host]) < std::tie(b.label, placeOf[b.host]);
                   });
  return view;
}

}  // namespace zelvor::site
