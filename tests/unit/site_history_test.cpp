// The history's pure parts: a report boiled down per host, the stored form
// of round trips, ranges and their buckets, loss levels, pooled
// percentiles, and the charts, pages and JSON drawn from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "catalogue/report.hpp"
#include "site/history.hpp"
#include "site/history_chart.hpp"
#include "site/history_downloads.hpp"
#include "site/history_page.hpp"
#include "site/history_tally.hpp"
#include "site/host_summary.hpp"
#include "support/failure.hpp"

namespace {

using zelvor::site::Bucket;
using zelvor::site::HistoryRange;
using zelvor::site::HistorySeries;
using zelvor::site::HistoryWindow;
using zelvor::site::HostPoint;
using zelvor::site::HostSummary;
using zelvor::site::LossLevel;
using zelvor::site::PooledFigures;
using Label = std::optional<std::string>;
using Trips = std::vector<std::int32_t>;

constexpr std::int64_t minute = 60'000;
constexpr std::int64_t hour = 60 * minute;
constexpr std::int64_t day = 24 * hour;

// The 3h window that starts at 0: 300 buckets of 36 s.
const HistoryWindow zeroWindow = zelvor::site::historyWindow(HistoryRange::hours3, 3 * hour - 1);

HostPoint pointOf(std::int64_t at, Trips roundTrips, std::size_t lost = 0, Label label = {},
                  std::string host = "h") {
  const std::size_t echoes = roundTrips.size() + lost;
  return {{std::move(host), echoes, lost, std::move(roundTrips)}, std::move(label), at};
}

zelvor::site::HistoryBuilder builderOf(const std::vector<HostPoint>& points,
                                       const HistoryWindow& window = zeroWindow) {
  zelvor::site::HistoryBuilder builder(window);
  for (const HostPoint& point : points) {
    zelvor::site::HostPointView view;
    view.host = point.summary.host;
    if (point.label) view.label = *point.label;
    view.measuredAtMs = point.measuredAtMs;
    view.echoes = point.summary.echoes;
    view.lost = point.summary.lost;
    view.roundTrips = point.summary.roundTrips;
    builder.add(view);
  }
  return builder;
}

std::vector<HistorySeries> seriesOf(const std::vector<HostPoint>& points) {
  return builderOf(points).byHostAndLabel();
}

TEST(HostSummaries, OnePerHostInFirstOrderWithSortedTripsAndLosses) {
  struct Case {
    const char* report;
    std::vector<HostSummary> summaries;
  };
  const Case cases[] = {
      {"C\nEND\n", {}},
      {"C\na:30:\na:-2:\na::TIMEOUT\na:7:\nEND\n", {{"a", 4, 1, {-2, 7, 30}}}},
      // A host whose lines are split is one host; the order is first seen.
      {"C\nb::UNREACHABLE\na:5:\nb:9:\nb:1:\na::TIMEOUT\nEND\n",
       {{"b", 3, 1, {1, 9}}, {"a", 2, 1, {5}}}},
      {"C\nx::TIMEOUT\nx::EXPIRED\nEND\n", {{"x", 2, 2, {}}}},
  };
  for (const Case& c : cases) {
    const zelvor::ServerClass measured = zelvor::parseReport(c.report);
    EXPECT_EQ(zelvor::site::hostSummaries(measured), c.summaries) << c.report;
    // Packed straight from the report, split hosts or not, as gathered first.
    EXPECT_EQ(zelvor::site::packHostSummaries(measured),
              zelvor::site::packHostSummaries(c.summaries))
        << c.report;
  }
}

// What visitPackedHosts gives back, as summaries.
std::vector<HostSummary> unpacked(const std::string& bytes, std::optional<std::string> host = {}) {
  std::vector<HostSummary> hosts;
  zelvor::site::visitPackedHosts(bytes, host,
                                 [&](std::string_view name, std::size_t echoes, std::size_t lost,
                                     std::span<const std::int32_t> roundTrips) {
                                   hosts.push_back({std::string(name), echoes, lost,
                                                    Trips(roundTrips.begin(), roundTrips.end())});
                                 });
  return hosts;
}

TEST(PackedHostSummaries, VarintsAndStepsBothWaysAndOneHostAlone) {
  const std::vector<HostSummary> hosts{
      {"ab", 3, 1, {-1, 256}}, {"c", 1, 1, {}}, {"d", 2, 0, {-2147483647 - 1, 2147483647}}};
  const std::string bytes = zelvor::site::packHostSummaries(hosts);
  // -1 zigzags to 1, the step to 256 is 257 (0x81 0x02); the widest values
  // take five bytes.
  const std::string expected = std::string(
                                   "\x02"
                                   "ab"
                                   "\x03\x01\x02"
                                   "\x01"
                                   "\x81\x02",
                                   9) +
                               std::string(
                                   "\x01"
                                   "c"
                                   "\x01\x01\x00",
                                   5) +
                               std::string(
                                   "\x01"
                                   "d"
                                   "\x02\x00\x02",
                                   5) +
                               "\xff\xff\xff\xff\x0f"
                               "\xff\xff\xff\xff\x0f";
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(unpacked(bytes), hosts);
  EXPECT_EQ(unpacked(bytes, "d"), std::vector<HostSummary>{hosts[2]});
  EXPECT_EQ(unpacked(bytes, "a"), std::vector<HostSummary>{});
  EXPECT_EQ(unpacked(""), std::vector<HostSummary>{});
  // Cut inside a name, a count, a step; and a varint of six bytes.
  for (const std::string& broken : {bytes.substr(0, 2), bytes.substr(0, 5), bytes.substr(0, 8),
                                    bytes.substr(0, 20), bytes.substr(0, 28),
                                    std::string("\x01"
                                                "e"
                                                "\xff\xff\xff\xff\xff\x01",
                                                8)}) {
    try {
      unpacked(broken);
      ADD_FAILURE() << broken.size() << " bytes read as summaries";
    } catch (const kelvo::Failure& text) {
      EXPECT_EQ(text, "The stored host summaries end before their last value") << broken.size();
    }
  }
}

TEST(HistoryRanges, NamesWindowsAndBucketEdges) {
  struct Case {
    std::string_view text;
    std::optional<HistoryRange> range;
  };
  const Case names[] = {{"", HistoryRange::hours30},     {"3h", HistoryRange::hours3},
                        {"30h", HistoryRange::hours30},  {"10d", HistoryRange::days10},
                        {"360d", HistoryRange::days360}, {"1h", std::nullopt},
                        {"30H", std::nullopt},           {" 3h", std::nullopt},
                        {"3h ", std::nullopt},           {"360", std::nullopt}};
  for (const Case& c : names) EXPECT_EQ(zelvor::site::parseRange(c.text), c.range) << c.text;

  struct WindowCase {
    HistoryRange range;
    std::int64_t now;
    HistoryWindow window;
  };
  const WindowCase windows[] = {
      // The end is the first bucket edge after now; a now on an edge starts
      // the last bucket.
      {HistoryRange::hours3, 3 * hour - 1, {HistoryRange::hours3, 0, 3 * hour, 36'000}},
      {HistoryRange::hours3, 3 * hour, {HistoryRange::hours3, 36'000, 3 * hour + 36'000, 36'000}},
      {HistoryRange::hours30,
       1'000'000'000'000,
       {HistoryRange::hours30, 1'000'000'080'000 - 30 * hour, 1'000'000'080'000, 360'000}},
      {HistoryRange::days10,
       1'000'000'000'000,
       {HistoryRange::days10, 1'000'002'240'000 - 10 * day, 1'000'002'240'000, 2'880'000}},
      {HistoryRange::days360,
       1'000'000'000'000,
       {HistoryRange::days360, 1'000'097'280'000 - 360 * day, 1'000'097'280'000, 103'680'000}},
      // Before the epoch the edges still floor.
      {HistoryRange::hours3, -1, {HistoryRange::hours3, -3 * hour, 0, 36'000}},
  };
  for (const WindowCase& c : windows)
    EXPECT_EQ(zelvor::site::historyWindow(c.range, c.now), c.window)
        << zelvor::site::rangeName(c.range) << " at " << c.now;
}

TEST(LossLevels, ByThresholdsOfFiveAndTwentyPercent) {
  struct Case {
    std::size_t echoes;
    std::size_t lost;
    LossLevel level;
  };
  const Case cases[] = {
      {0, 0, LossLevel::none},      {100, 0, LossLevel::none}, {100, 1, LossLevel::low},
      {20, 1, LossLevel::low},      {100, 5, LossLevel::low},  {100, 6, LossLevel::high},
      {19, 1, LossLevel::high},     {5, 1, LossLevel::high},   {100, 20, LossLevel::high},
      {100, 21, LossLevel::severe}, {4, 1, LossLevel::severe}, {3, 3, LossLevel::severe},
  };
  for (const Case& c : cases)
    EXPECT_EQ(zelvor::site::lossLevel(c.echoes, c.lost), c.level) << c.lost << "/" << c.echoes;
}

TEST(HistoryBuckets, EdgesBelongToTheBucketTheyStartAndOutsideIsLeftOut) {
  const std::int64_t w = zeroWindow.bucketMs;
  const std::vector<HostPoint> points{
      pointOf(-1, {1}),       pointOf(0, {2}),         pointOf(w - 1, {3}),
      pointOf(w, {4}),        pointOf(5 * w + 7, {5}), pointOf(3 * hour - 1, {6}),
      pointOf(3 * hour, {7}),
  };
  const auto series = seriesOf(points);
  ASSERT_EQ(series.size(), 1u);
  ASSERT_EQ(series[0].buckets.size(), zelvor::site::bucketCount);
  std::vector<std::pair<std::size_t, std::size_t>> filled;
  for (std::size_t i = 0; i < series[0].buckets.size(); ++i) {
    EXPECT_EQ(series[0].buckets[i].startMs, static_cast<std::int64_t>(i) * w);
    if (series[0].buckets[i].figures.runs > 0)
      filled.emplace_back(i, series[0].buckets[i].figures.runs);
  }
  const std::vector<std::pair<std::size_t, std::size_t>> expected{{0, 2}, {1, 1}, {5, 1}, {299, 1}};
  EXPECT_EQ(filled, expected);
  EXPECT_EQ(series[0].buckets[0].figures.median, 2.5);
  EXPECT_EQ(series[0].buckets[2].figures, PooledFigures{});
  EXPECT_EQ(series[0].overall.runs, 5u);
  EXPECT_EQ(series[0].overall.median, 4.0);
}

Trips hundredDownToOne() {
  Trips trips;
  for (std::int32_t rtt = 100; rtt >= 1; --rtt) trips.push_back(rtt);
  return trips;
}

TEST(HistoryBuckets, PercentilesArePooledExactlyOverEveryRunOfTheBucket) {
  struct Case {
    std::vector<HostPoint> points;
    PooledFigures figures;
  };
  const Case cases[] = {
      // 1..20 over two runs: nearest ranks 2, 5, 15, 18, 19; the median
      // between the middle two.
      {{pointOf(10, {11, 12, 13, 14, 15, 16, 17, 18, 19, 20}),
        pointOf(20, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})},
       {2, 20, 0, 2, 5, 10.5, 15, 18, 19}},
      // Below 20 answers, no p95; losses count as sent, not received.
      {{pointOf(10, {5, 1}, 2), pointOf(20, {3})}, {2, 5, 2, 1, 1, 3.0, 5, 5, std::nullopt}},
      {{pointOf(10, {}, 3)}, {1, 3, 3, {}, {}, {}, {}, {}, {}}},
      // Spread far wider than their number: sorted rather than counted.
      {{pointOf(10, {2'000'000'000, -5, 7})},
       {1, 3, 0, -5, -5, 7.0, 2'000'000'000, 2'000'000'000, std::nullopt}},
      {{pointOf(10, hundredDownToOne())}, {1, 100, 0, 10, 25, 50.5, 75, 90, 95}},
  };
  for (const Case& c : cases) {
    const auto series = seriesOf(c.points);
    ASSERT_EQ(series.size(), 1u);
    EXPECT_EQ(series[0].buckets[0].figures, c.figures);
    EXPECT_EQ(series[0].overall, c.figures);
  }
}

// What the site keeps of buckets long past: each host and label's runs
// summed. Added as sums, they give exactly what the runs give.
TEST(HistoryBuckets, SumsOfRunsGiveWhatTheRunsGive) {
  const std::int64_t w = zeroWindow.bucketMs;
  const std::vector<HostPoint> points{
      pointOf(10, {5, 1, 3}, 1),        pointOf(20, {3, 3}),
      pointOf(w + 1, {9}, 2, "x"),      pointOf(w + 2, {}, 1, "x"),
      pointOf(w + 3, {2}, 0, {}, "g"),  pointOf(5 * w, hundredDownToOne()),
      pointOf(299 * w, {7, 7}, 0, "x"), pointOf(300 * w, {1}),
  };
  struct Sum {
    std::int64_t startMs;
    std::string host;
    Label label;
    zelvor::site::Tally tally;
  };
  std::vector<Sum> sums;
  for (const HostPoint& point : points) {
    const std::int64_t startMs = point.measuredAtMs / w * w;
    auto sum = std::find_if(sums.begin(), sums.end(), [&](const Sum& s) {
      return s.startMs == startMs && s.host == point.summary.host && s.label == point.label;
    });
    if (sum == sums.end())
      sum = sums.insert(sums.end(), {startMs, point.summary.host, point.label, {}});
    sum->tally.addRun(point.summary.echoes, point.summary.lost, point.summary.roundTrips);
  }
  using Count = zelvor::site::Tally::Count;
  EXPECT_EQ(std::vector<Count>(sums[0].tally.counts().begin(), sums[0].tally.counts().end()),
            (std::vector<Count>{{1, 1}, {3, 3}, {5, 1}}));
  EXPECT_EQ(sums[0].tally.runs(), 2u);
  EXPECT_EQ(sums[0].tally.echoes(), 6u);
  EXPECT_EQ(sums[0].tally.answered(), 5u);

  zelvor::site::HistoryBuilder summed(zeroWindow);
  for (const Sum& sum : sums) {
    summed.add(sum.startMs, sum.host,
               sum.label ? std::optional<std::string_view>(*sum.label) : std::nullopt, sum.tally);
  }
  const auto fromRuns = builderOf(points);
  EXPECT_EQ(summed.byHostAndLabel(), fromRuns.byHostAndLabel());
  EXPECT_EQ(summed.byHost(), fromRuns.byHost());
  EXPECT_EQ(fromRuns.byHostAndLabel().size(), 3u);
}

TEST(HistorySeries, ALineEachLabelAndEachHostInTheirOrders) {
  const std::vector<HostPoint> points{
      pointOf(10, {50}, 0, "b", "slow"), pointOf(11, {5}, 0, {}, "fast"),
      pointOf(12, {7}, 0, "a", "fast"),  pointOf(13, {}, 1, {}, "dead"),
      pointOf(14, {9}, 0, "b", "fast"),
  };
  std::vector<std::pair<std::string, Label>> keys;
  for (const HistorySeries& s : seriesOf(points)) keys.emplace_back(s.host, s.label);
  const std::vector<std::pair<std::string, Label>> byHostAndLabel{
      {"dead", {}}, {"fast", {}}, {"fast", "a"}, {"fast", "b"}, {"slow", "b"}};
  EXPECT_EQ(keys, byHostAndLabel);

  const auto view = zelvor::site::classView("C", builderOf(points));
  keys.clear();
  for (const HistorySeries& s : view.hosts) keys.emplace_back(s.host, s.label);
  const std::vector<std::pair<std::string, Label>> byMedian{
      {"fast", {}}, {"slow", {}}, {"dead", {}}};
  EXPECT_EQ(keys, byMedian);
  EXPECT_EQ(view.hosts[0].overall.median, 7.0);
  keys.clear();
  for (const HistorySeries& s : view.labelled) keys.emplace_back(s.host, s.label);
  const std::vector<std::pair<std::string, Label>> byLabelThenMedian{
      {"fast", {}}, {"dead", {}}, {"fast", "a"}, {"fast", "b"}, {"slow", "b"}};
  EXPECT_EQ(keys, byLabelThenMedian);
}

// Three buckets with a median: 0 (no loss), 1 (half lost) and 3 (no loss).
HistorySeries stepSeries() {
  const std::int64_t w = zeroWindow.bucketMs;
  const std::vector<HostPoint> points{pointOf(0, {10}), pointOf(w, {20}, 1), pointOf(2 * w, {}, 2),
                                      pointOf(3 * w, {10})};
  return seriesOf(points).at(0);
}

std::string pathOf(const std::string& svg, const std::string& cssClass) {
  const std::string start = "<path class=\"" + cssClass + "\" d=\"";
  const std::size_t at = svg.find(start);
  if (at == std::string::npos) return "(none)";
  const std::size_t from = at + start.size();
  return svg.substr(from, svg.find('"', from) - from);
}

TEST(HistoryChart, StepsColouredByLossBandsAndGapsExactly) {
  const HistorySeries series = stepSeries();
  const std::vector<HistorySeries> all{series};
  const zelvor::site::Axis axis = zelvor::site::historyAxis(all);
  EXPECT_EQ(axis.low, 0);
  EXPECT_EQ(axis.high, 20);
  const std::string svg = zelvor::site::historyChart(series, axis, zeroWindow, "h<1>");
  EXPECT_NE(svg.find("viewBox=\"0 0 640.0 250.0\" width=\"100%\""), std::string::npos);
  EXPECT_NE(svg.find("aria-label=\"Round trips to h&lt;1&gt; over time, in milliseconds\""),
            std::string::npos);
  // Buckets are 568 / 300 units wide from x = 60; 10 ms is at y 112, 20 ms at 10.
  EXPECT_EQ(pathOf(svg, "median-line loss-none"), "M60.0 112.0H61.9V10.0M65.7 112.0H67.6");
  EXPECT_EQ(pathOf(svg, "median-line loss-low"), "(none)");
  EXPECT_EQ(pathOf(svg, "median-line loss-high"), "(none)");
  EXPECT_EQ(pathOf(svg, "median-line loss-severe"), "M61.9 10.0H63.8");
  EXPECT_EQ(pathOf(svg, "band-outer"),
            "M60.0 112.0L61.9 112.0L61.9 10.0L63.8 10.0L63.8 10.0L61.9 10.0L61.9 112.0L60.0 112.0Z"
            "M65.7 112.0L67.6 112.0L67.6 112.0L65.7 112.0Z");
  EXPECT_EQ(pathOf(svg, "no-answer"), "M63.8 215.0H65.7v5H63.8Z");
  // Time ticks every half hour, five inside the range.
  for (const char* tick : {">00:30<", ">01:00<", ">01:30<", ">02:00<", ">02:30<"})
    EXPECT_NE(svg.find(tick), std::string::npos) << tick;
  EXPECT_EQ(svg.find(">00:00<"), std::string::npos);
  EXPECT_EQ(svg.find("no runs in this range"), std::string::npos);
}

TEST(HistoryPages, ChartPerLabelLinksEscapedAndTablesPerLabel) {
  const std::vector<HostPoint> points{pointOf(10, {5}, 0, {}, "h&1"),
                                      pointOf(11, {6}, 0, "lab-1", "h&1"),
                                      pointOf(12, {7}, 1, "lab-1", "<b>")};
  const auto history = zelvor::site::historyView(
      "C<1>", "h&1", std::nullopt,
      builderOf(std::vector<HostPoint>(points.begin(), points.begin() + 2)));
  const std::string page = zelvor::site::historyPage(history);
  EXPECT_NE(page.find("<h1>History of <span class=\"class-name\">h&amp;1</span></h1>"),
            std::string::npos);
  EXPECT_EQ(std::count(page.begin(), page.end(), '\0'), 0);
  std::size_t charts = 0;
  for (std::size_t at = page.find("<svg class=\"history-chart\""); at != std::string::npos;
       at = page.find("<svg class=\"history-chart\"", at + 1))
    ++charts;
  EXPECT_EQ(charts, 2u);
  EXPECT_NE(page.find("<span class=\"series-label\">unlabelled</span>: 1 run \u00b7 loss 0.0 % "
                      "\u00b7 median 5.0 ms \u00b7 p95 \u2013 ms"),
            std::string::npos);
  EXPECT_NE(page.find("<span class=\"series-label\">lab-1</span>: 1 run"), std::string::npos);
  EXPECT_NE(page.find("href=\"/history?class=C%3C1%3E&host=h%261&range=10d\">10d</a>"),
            std::string::npos);
  EXPECT_NE(page.find("href=\"/history?class=C%3C1%3E&host=h%261&range=3h\" "
                      "aria-current=\"page\">3h</a>"),
            std::string::npos);
  EXPECT_NE(page.find("href=\"/history.json?class=C%3C1%3E&host=h%261&range=3h\""),
            std::string::npos);
  EXPECT_NE(page.find("href=\"/class?name=C%3C1%3E&range=3h\""), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);

  const std::string overview =
      zelvor::site::classPage(zelvor::site::classView("C<1>", builderOf(points)));
  EXPECT_NE(overview.find("<h2>Unlabelled runs</h2>"), std::string::npos);
  EXPECT_NE(overview.find("<h2>Label <span class=\"series-label\">lab-1</span></h2>"),
            std::string::npos);
  EXPECT_NE(overview.find("<tr><th scope=\"row\" class=\"host\"><a "
                          "href=\"/history?class=C%3C1%3E&host=%3Cb%3E&label=lab-1&range=3h\">"
                          "&lt;b&gt;</a></th><td data-label=\"Runs\">1</td><td "
                          "data-label=\"Loss %\">50.0</td><td data-label=\"Median (ms)\">7.0</td>"
                          "<td data-label=\"p95 (ms)\">\u2013</td></tr>"),
            std::string::npos);
  EXPECT_NE(overview.find("<span class=\"key key-line series-1\"></span><a "
                          "href=\"/history?class=C%3C1%3E&host=%3Cb%3E&range=3h\">"),
            std::string::npos);
}

TEST(HistoryJson, BucketsWithRunsAndTheirExactFigures) {
  const std::int64_t w = zeroWindow.bucketMs;
  const std::vector<HostPoint> points{pointOf(w + 5, {12, 10}, 1, "x")};
  const std::string json =
      zelvor::site::historyJson(zelvor::site::historyView("C", "h", "x", builderOf(points)));
  EXPECT_EQ(json,
            "{\"class\":\"C\",\"host\":\"h\",\"label\":\"x\",\"range\":\"3h\",\"start_ms\":0,"
            "\"end_ms\":10800000,\"bucket_ms\":36000,\"series\":[{\"label\":\"x\",\"overall\":{"
            "\"runs\":1,\"sent\":3,\"received\":2,\"loss_percent\":33.333333333333336,"
            "\"p10_ms\":10,\"p25_ms\":10,\"median_ms\":11.0,\"p75_ms\":12,\"p90_ms\":12,"
            "\"p95_ms\":null},\"buckets\":[{\"start_ms\":36000,\"runs\":1,\"sent\":3,"
            "\"received\":2,\"loss_percent\":33.333333333333336,\"p10_ms\":10,\"p25_ms\":10,"
            "\"median_ms\":11.0,\"p75_ms\":12,\"p90_ms\":12,\"p95_ms\":null}]}]}\n");
  const auto document =
      nlohmann::json::parse(zelvor::site::classJson(zelvor::site::classView("C", builderOf({}))));
  EXPECT_EQ(document.dump(),
            "{\"bucket_ms\":36000,\"class\":\"C\",\"end_ms\":10800000,\"hosts\":[],\"labels\":[],"
            "\"range\":\"3h\",\"start_ms\":0}");
}

}  // namespace
