// Lines are drawn as steps, a bucket's figure level across its width: the
// figure belongs to the whole bucket, and a step leaves the bucket where
// the loss changes the colour plain to see. Each kind of mark is one path,
// so that a year of buckets stays a few elements.
#include "site/history_chart.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "site/html_escape.hpp"
#include "stats/figure_text.hpp"
#include "support/utc_time.hpp"

namespace zelvor::site {

namespace {

constexpr double width = 640;
constexpr double height = 250;
constexpr double plotLeft = 60;
constexpr double plotRight = 628;
constexpr double plotTop = 10;
constexpr double plotBottom = 214;
constexpr double tickTextY = 234;

constexpr std::int64_t minuteMs = 60'000;
constexpr std::int64_t hourMs = 60 * minuteMs;
constexpr std::int64_t dayMs = 24 * hourMs;

// Time ticks at multiples of these since the epoch: five or six a range,
// few enough for their texts to stay apart on a phone.
std::int64_t tickStepMs(HistoryRange range) {
  switch (range) {
    case HistoryRange::hours3:
      return 30 * minuteMs;
    case HistoryRange::hours30:
      return 6 * hourMs;
    case HistoryRange::days10:
      return 2 * dayMs;
    case HistoryRange::days360:
      return 60 * dayMs;
  }
  return dayMs;
}

// "18:30" within a day or so, "12-07" beyond.
std::string tickText(HistoryRange range, std::int64_t ms) {
  const std::string iso = kelvo::isoUtcTime(ms);
  if (range == HistoryRange::hours3 || range == HistoryRange::hours30) return iso.substr(11, 5);
  return iso.substr(5, 5);
}

struct Plot {
  const Axis& axis;
  const HistoryWindow& window;

  double x(std::int64_t ms) const {
    return plotLeft + static_cast<double>(ms - window.startMs) /
                          static_cast<double>(window.endMs - window.startMs) *
                          (plotRight - plotLeft);
  }
  double y(double value) const {
    return plotBottom - axis.fraction(value) * (plotBottom - plotTop);
  }
};

void appendNumber(std::string& svg, double value) { stats::appendOneDecimal(svg, value); }

void appendPoint(std::string& svg, char command, double x, double y) {
  svg += command;
  appendNumber(svg, x);
  svg += ' ';
  appendNumber(svg, y);
}

void appendPath(std::string& svg, std::string_view cssClass, const std::string& d) {
  if (d.empty()) return;
  svg += "<path class=\"";
  svg += cssClass;
  svg += "\" d=\"";
  svg += d;
  svg += "\"/>\n";
}

void appendFrame(std::string& svg, const Axis& axis, const HistoryWindow& window,
                 std::string_view cssClass, std::string_view label) {
  svg += "<svg class=\"";
  svg += cssClass;
  svg += "\" viewBox=\"0 0 ";
  appendNumber(svg, width);
  svg += ' ';
  appendNumber(svg, height);
  svg += "\" width=\"100%\" role=\"img\" aria-label=\"";
  appendEscapedHtml(svg, label);
  svg += "\">\n";
  const Plot plot{axis, window};
  for (std::int64_t i = 0; i < axis.tickCount(); ++i) {
    const double value = axis.tick(i);
    const double y = plot.y(value);
    svg += "<line class=\"grid\" x1=\"";
    appendNumber(svg, plotLeft);
    svg += "\" x2=\"";
    appendNumber(svg, plotRight);
    svg += "\" y1=\"";
    appendNumber(svg, y);
    svg += "\" y2=\"";
    appendNumber(svg, y);
    svg += "\"/>\n<text class=\"tick tick-left\" x=\"";
    appendNumber(svg, plotLeft - 6);
    svg += "\" y=\"";
    appendNumber(svg, y + 4);
    svg += "\">";
    stats::appendWhole(svg, std::llround(value));
    svg += "</text>\n";
  }
  // The unit once, inside the plot's top corner: beside the top tick it
  // would need a margin that a phone's larger text overflows.
  svg += "<text class=\"tick tick-unit\" x=\"";
  appendNumber(svg, plotLeft + 4);
  svg += "\" y=\"";
  appendNumber(svg, plotTop + 12);
  svg += "\">ms</text>\n";
  const std::int64_t step = tickStepMs(window.range);
  for (std::int64_t at = (window.startMs / step + 1) * step; at < window.endMs; at += step) {
    const double x = plot.x(at);
    svg += "<line class=\"grid\" x1=\"";
    appendNumber(svg, x);
    svg += "\" x2=\"";
    appendNumber(svg, x);
    svg += "\" y1=\"";
    appendNumber(svg, plotTop);
    svg += "\" y2=\"";
    appendNumber(svg, plotBottom);
    svg += "\"/>\n<text class=\"tick\" x=\"";
    appendNumber(svg, x);
    svg += "\" y=\"";
    appendNumber(svg, tickTextY);
    svg += "\">";
    svg += tickText(window.range, at);
    svg += "</text>\n";
  }
  svg += "<line class=\"axis\" x1=\"";
  appendNumber(svg, plotLeft);
  svg += "\" x2=\"";
  appendNumber(svg, plotRight);
  svg += "\" y1=\"";
  appendNumber(svg, plotBottom);
  svg += "\" y2=\"";
  appendNumber(svg, plotBottom);
  svg += "\"/>\n";
}

using Figure = std::optional<double> (*)(const PooledFigures&);

std::optional<double> lowBand(const PooledFigures& f) { return f.p10; }
std::optional<double> highBand(const PooledFigures& f) { return f.p90; }
std::optional<double> lowQuartile(const PooledFigures& f) { return f.p25; }
std::optional<double> highQuartile(const PooledFigures& f) { return f.p75; }

// A band between two figures over each stretch of buckets with answers:
// along the top edge left to right, back along the bottom, closed.
std::string bandPath(const HistorySeries& series, const Plot& plot, Figure low, Figure high) {
  std::string d;
  const std::vector<Bucket>& buckets = series.buckets;
  const std::int64_t bucketMs = plot.window.bucketMs;
  for (std::size_t first = 0; first < buckets.size();) {
    if (!buckets[first].figures.median) {
      ++first;
      continue;
    }
    std::size_t end = first;
    while (end < buckets.size() && buckets[end].figures.median) ++end;
    for (std::size_t i = first; i < end; ++i) {
      const double top = plot.y(*high(buckets[i].figures));
      appendPoint(d, i == first ? 'M' : 'L', plot.x(buckets[i].startMs), top);
      appendPoint(d, 'L', plot.x(buckets[i].startMs + bucketMs), top);
    }
    for (std::size_t i = end; i-- > first;) {
      const double bottom = plot.y(*low(buckets[i].figures));
      appendPoint(d, 'L', plot.x(buckets[i].startMs + bucketMs), bottom);
      appendPoint(d, 'L', plot.x(buckets[i].startMs), bottom);
    }
    d += 'Z';
    first = end;
  }
  return d;
}

// The median as steps, each bucket's step (and the rise to the next bucket,
// when it has a median) in the path of its loss level.
std::array<std::string, 4> medianPaths(const HistorySeries& series, const Plot& plot) {
  std::array<std::string, 4> paths;
  const std::vector<Bucket>& buckets = series.buckets;
  for (std::size_t i = 0; i < buckets.size(); ++i) {
    const PooledFigures& f = buckets[i].figures;
    if (!f.median) continue;
    std::string& d = paths[static_cast<std::size_t>(f.loss())];
    const double y = plot.y(*f.median);
    appendPoint(d, 'M', plot.x(buckets[i].startMs), y);
    d += 'H';
    appendNumber(d, plot.x(buckets[i].startMs + plot.window.bucketMs));
    if (i + 1 < buckets.size() && buckets[i + 1].figures.median) {
      d += 'V';
      appendNumber(d, plot.y(*buckets[i + 1].figures.median));
    }
  }
  return paths;
}

// Buckets whose runs had no answer at all: a block under the axis.
std::string silentPath(const HistorySeries& series, const Plot& plot) {
  std::string d;
  for (const Bucket& bucket : series.buckets) {
    if (bucket.figures.runs == 0 || bucket.figures.median) continue;
    appendPoint(d, 'M', plot.x(bucket.startMs), plotBottom + 1);
    d += 'H';
    appendNumber(d, plot.x(bucket.startMs + plot.window.bucketMs));
    d += "v5H";
    appendNumber(d, plot.x(bucket.startMs));
    d += 'Z';
  }
  return d;
}

void appendNoRuns(std::string& svg) {
  svg += "<text class=\"lane-note\" x=\"";
  appendNumber(svg, plotLeft + 8);
  svg += "\" y=\"";
  appendNumber(svg, (plotTop + plotBottom) / 2);
  svg += "\">no runs in this range</text>\n";
}

}  // namespace

Axis historyAxis(std::span<const HistorySeries> series) {
  double largest = 0;
  for (const HistorySeries& one : series)
    for (const Bucket& bucket : one.buckets)
      if (bucket.figures.p90) largest = std::max<double>(largest, *bucket.figures.p90);
  double smallest = 0;
  for (const HistorySeries& one : series)
    for (const Bucket& bucket : one.buckets)
      if (bucket.figures.p10) smallest = std::min<double>(smallest, *bucket.figures.p10);
  return roundAxis(smallest, largest, 4);
}

std::string historyChart(const HistorySeries& series, const Axis& axis, const HistoryWindow& window,
                         std::string_view name) {
  std::string svg;
  svg.reserve(16384 + series.buckets.size() * 160);
  appendFrame(svg, axis, window, "history-chart",
              "Round trips to " + std::string(name) + " over time, in milliseconds");
  const Plot plot{axis, window};
  appendPath(svg, "band-outer", bandPath(series, plot, lowBand, highBand));
  appendPath(svg, "band-inner", bandPath(series, plot, lowQuartile, highQuartile));
  const std::array<std::string, 4> medians = medianPaths(series, plot);
  static constexpr std::array<std::string_view, 4> lossClasses{
      "median-line loss-none", "median-line loss-low", "median-line loss-high",
      "median-line loss-severe"};
  for (std::size_t level = 0; level < medians.size(); ++level)
    appendPath(svg, lossClasses[level], medians[level]);
  appendPath(svg, "no-answer", silentPath(series, plot));
  if (series.overall.runs == 0) appendNoRuns(svg);
  svg += "</svg>\n";
  return svg;
}

std::string classChart(std::span<const HistorySeries> hosts, const HistoryWindow& window) {
  double largest = 0;
  double smallest = 0;
  for (const HistorySeries& host : hosts)
    for (const Bucket& bucket : host.buckets)
      if (bucket.figures.median) {
        largest = std::max(largest, *bucket.figures.median);
        smallest = std::min(smallest, *bucket.figures.median);
      }
  const Axis axis = roundAxis(smallest, largest, 4);
  std::string svg;
  svg.reserve(16384 + hosts.size() * bucketCount * 40);
  appendFrame(svg, axis, window, "history-chart class-chart",
              "Each host's median over time, in milliseconds");
  const Plot plot{axis, window};
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    std::string d;
    const std::vector<Bucket>& buckets = hosts[i].buckets;
    for (std::size_t b = 0; b < buckets.size(); ++b) {
      const std::optional<double>& median = buckets[b].figures.median;
      if (!median) continue;
      const double y = plot.y(*median);
      if (b > 0 && buckets[b - 1].figures.median) {
        d += 'V';
        appendNumber(d, y);
      } else {
        appendPoint(d, 'M', plot.x(buckets[b].startMs), y);
      }
      d += 'H';
      appendNumber(d, plot.x(buckets[b].startMs + window.bucketMs));
    }
    appendPath(svg, "host-line series-" + std::to_string(i % classChartColours), d);
  }
  if (hosts.empty()) appendNoRuns(svg);
  svg += "</svg>\n";
  return svg;
}

}  // namespace zelvor::site
