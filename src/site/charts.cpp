// The results page's two inline SVG charts: every sample of every host on
// one millisecond axis, and the class's median over its last runs. Both are
// drawn in a fixed viewBox and scale to their container; colours and sizes
// of text come from the style sheet.
#include "site/charts.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "catalogue/catalogue.hpp"
#include "site/chart_axis.hpp"
#include "site/handle_link.hpp"
#include "site/html_escape.hpp"
#include "site/page_paths.hpp"
#include "stats/figure_text.hpp"
#include "support/utc_time.hpp"

namespace zelvor::site {

namespace {

std::string num(double value) { return stats::formatOneDecimal(value); }

// The sample chart's layout in viewBox units: lanes of host samples on the
// left, a gutter on the right where each lost sample gets its own cross.
constexpr double sampleWidth = 640;
constexpr double plotLeft = 24;
constexpr double plotRight = 556;
constexpr double gutterLeft = 580;
constexpr double laneHeight = 48;
constexpr double axisHeight = 28;
// Successful samples are spread over a few rows of their lane, in the order
// taken, so that equal times stay countable instead of one dot.
constexpr int sampleRows = 5;
constexpr int lossColumns = 8;
constexpr int lossRows = 3;

double sampleX(const Axis& axis, double ms) {
  return plotLeft + axis.fraction(ms) * (plotRight - plotLeft);
}

// An attribute `name="value"` with its leading blank, the value written
// with one decimal.
void appendNumber(std::string& svg, const char* name, double value) {
  svg += ' ';
  svg += name;
  svg += "=\"";
  stats::appendOneDecimal(svg, value);
  svg += '"';
}

void appendCross(std::string& svg, const char* cssClass, double x, double y, double arm) {
  svg += "<path class=\"";
  svg += cssClass;
  svg += "\" d=\"M";
  stats::appendOneDecimal(svg, x - arm);
  svg += ' ';
  stats::appendOneDecimal(svg, y - arm);
  svg += 'L';
  stats::appendOneDecimal(svg, x + arm);
  svg += ' ';
  stats::appendOneDecimal(svg, y + arm);
  svg += 'M';
  stats::appendOneDecimal(svg, x - arm);
  svg += ' ';
  stats::appendOneDecimal(svg, y + arm);
  svg += 'L';
  stats::appendOneDecimal(svg, x + arm);
  svg += ' ';
  stats::appendOneDecimal(svg, y - arm);
  svg += "\">";
}

// Each sample's title says which it was, counting from 1.
void appendSampleTitle(std::string& svg, std::string_view what, std::size_t index) {
  svg += "<title>";
  svg += what;
  svg += ", sample ";
  stats::appendWhole(svg, static_cast<std::int64_t>(index + 1));
  svg += "</title>";
}

// Written piece by piece onto the chart: a page has a lane per host and a
// mark per sample, and a string for each piece was most of a page's cost.
void appendHostLane(std::string& svg, const HostRow& row, const Axis& axis, double top) {
  svg += "<text class=\"lane-name\"";
  appendNumber(svg, "x", plotLeft);
  appendNumber(svg, "y", top + 17);
  svg += '>';
  appendEscapedHtml(svg, row.host);
  svg += "</text>\n";
  // The median first, so that the samples lie over it: a lone answer sits
  // right on its own median.
  if (row.figures.median) {
    const double x = sampleX(axis, *row.figures.median);
    svg += "<line class=\"median\"";
    appendNumber(svg, "x1", x);
    appendNumber(svg, "x2", x);
    appendNumber(svg, "y1", top + 24);
    appendNumber(svg, "y2", top + 46);
    svg += "><title>median ";
    stats::appendOneDecimal(svg, *row.figures.median);
    svg += " ms</title></line>\n";
  } else {
    svg += "<text class=\"lane-note\"";
    appendNumber(svg, "x", plotLeft);
    appendNumber(svg, "y", top + 40);
    svg += ">no reply</text>\n";
  }
  std::size_t losses = 0;
  std::string roundTrip;
  for (std::size_t i = 0; i < row.samples.size(); ++i) {
    const EchoSample& sample = row.samples[i];
    if (sample.failure == nullptr) {
      svg += "<circle class=\"sample\"";
      appendNumber(svg, "cx", sampleX(axis, sample.rtt));
      appendNumber(svg, "cy", top + 28 + static_cast<double>(i % sampleRows) * 3.5);
      svg += " r=\"3\">";
      roundTrip.clear();
      stats::appendWhole(roundTrip, sample.rtt);
      roundTrip += " ms";
      appendSampleTitle(svg, roundTrip, i);
      svg += "</circle>\n";
      continue;
    }
    const double x = gutterLeft + 4 + static_cast<double>(losses % lossColumns) * 7;
    const double y = top + 29 + static_cast<double>(losses / lossColumns % lossRows) * 6.5;
    appendCross(svg, "loss", x, y, 2.5);
    appendSampleTitle(svg, sample.failure, i);
    svg += "</path>\n";
    ++losses;
  }
}

// The trend chart's layout in viewBox units.
constexpr double trendWidth = 320;
constexpr double trendHeight = 170;
constexpr double trendLeft = 48;
constexpr double trendRight = 304;
constexpr double trendTop = 12;
constexpr double trendBottom = 136;

double trendX(std::size_t index, std::size_t count) {
  if (count < 2) return (trendLeft + trendRight) / 2;
  return trendLeft +
         static_cast<double>(index) * (trendRight - trendLeft) / static_cast<double>(count - 1);
}

double trendY(const Axis& axis, double ms) {
  return trendBottom - axis.fraction(ms) * (trendBottom - trendTop);
}

}  // namespace

std::string sampleChart(const ResultsView& results) {
  std::optional<double> smallest;
  std::optional<double> largest;
  for (const HostRow& row : results.hosts) {
    if (!row.figures.min) continue;
    smallest = std::min<double>(smallest.value_or(*row.figures.min), *row.figures.min);
    largest = std::max<double>(largest.value_or(*row.figures.max), *row.figures.max);
  }
  const Axis axis = roundAxis(smallest.value_or(0), largest.value_or(0), 5);
  const std::size_t lanes = std::max<std::size_t>(results.hosts.size(), 1);
  const double lanesBottom = static_cast<double>(lanes) * laneHeight;

  std::string svg = "<svg class=\"sample-chart\" viewBox=\"0 0 " + num(sampleWidth) + ' ' +
                    num(lanesBottom + axisHeight) +
                    "\" width=\"100%\" role=\"img\" aria-label=\"Every sample of every host, "
                    "in milliseconds\">\n";
  for (std::size_t lane = 1; lane < lanes; lane += 2)
    svg += "<rect class=\"lane\" x=\"0\" y=\"" + num(static_cast<double>(lane) * laneHeight) +
           "\" width=\"" + num(sampleWidth) + "\" height=\"" + num(laneHeight) + "\"/>\n";
  for (std::int64_t i = 0; i < axis.tickCount(); ++i) {
    const double value = axis.tick(i);
    const std::string x = num(sampleX(axis, value));
    svg += "<line class=\"grid\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"0\" y2=\"" +
           num(lanesBottom) + "\"/>\n<text class=\"tick\" x=\"" + x + "\" y=\"" +
           num(lanesBottom + 18) + "\">" + stats::formatWhole(std::llround(value)) +
           (i + 1 == axis.tickCount() ? " ms" : "") + "</text>\n";
  }
  svg += "<line class=\"axis\" x1=\"" + num(plotLeft) + "\" x2=\"" + num(plotRight) + "\" y1=\"" +
         num(lanesBottom) + "\" y2=\"" + num(lanesBottom) + "\"/>\n";
  svg += "<line class=\"gutter\" x1=\"" + num(gutterLeft - 8) + "\" x2=\"" + num(gutterLeft - 8) +
         "\" y1=\"0\" y2=\"" + num(lanesBottom) + "\"/>\n<text class=\"tick\" x=\"" +
         num((gutterLeft + sampleWidth) / 2) + "\" y=\"" + num(lanesBottom + 18) +
         "\">lost</text>\n";
  if (results.hosts.empty())
    svg += "<text class=\"lane-note\" x=\"" + num(plotLeft) + "\" y=\"24\">no samples</text>\n";
  for (std::size_t lane = 0; lane < results.hosts.size(); ++lane)
    appendHostLane(svg, results.hosts[lane], axis, static_cast<double>(lane) * laneHeight);
  svg += "</svg>\n";
  return svg;
}

std::string trendChart(const ResultsView& results) {
  const auto& runs = results.history;
  std::optional<double> smallest;
  std::optional<double> largest;
  for (const RunSummary& run : runs) {
    if (!run.medianMs) continue;
    smallest = std::min(smallest.value_or(*run.medianMs), *run.medianMs);
    largest = std::max(largest.value_or(*run.medianMs), *run.medianMs);
  }
  const Axis axis = roundAxis(smallest.value_or(0), largest.value_or(0), 3);

  std::string svg = "<svg class=\"trend-chart\" viewBox=\"0 0 " + num(trendWidth) + ' ' +
                    num(trendHeight) +
                    "\" width=\"100%\" role=\"img\" aria-label=\"Median of the class's last "
                    "runs, in milliseconds\">\n";
  for (std::int64_t i = 0; i < axis.tickCount(); ++i) {
    const double value = axis.tick(i);
    const std::string y = num(trendY(axis, value));
    svg += "<line class=\"grid\" x1=\"" + num(trendLeft) + "\" x2=\"" + num(trendRight) +
           "\" y1=\"" + y + "\" y2=\"" + y + "\"/>\n<text class=\"tick tick-left\" x=\"" +
           num(trendLeft - 6) + "\" y=\"" + num(trendY(axis, value) + 4) + "\">" +
           stats::formatWhole(std::llround(value)) + (i + 1 == axis.tickCount() ? " ms" : "") +
           "</text>\n";
  }

  // The line breaks at a run without a median rather than dropping to zero.
  std::string path;
  bool drawing = false;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (!runs[i].medianMs) {
      drawing = false;
      continue;
    }
    path += drawing ? 'L' : 'M';
    path += num(trendX(i, runs.size())) + ' ' + num(trendY(axis, *runs[i].medianMs));
    drawing = true;
  }
  if (!path.empty()) svg += "<path class=\"trend-line\" d=\"" + path + "\"/>\n";

  for (std::size_t i = 0; i < runs.size(); ++i) {
    const RunSummary& run = runs[i];
    const bool thisRun = i + 1 == runs.size();
    const std::string x = num(trendX(i, runs.size()));
    const double y = run.medianMs ? trendY(axis, *run.medianMs) : (trendTop + trendBottom) / 2;
    svg += "<a class=\"trend-point\" href=\"" + handleLink(resultsPath, run.handle) + '"';
    if (thisRun) svg += " aria-current=\"page\"";
    svg += "><title>" + kelvo::readableUtcTime(run.receivedAtMs) +
           (run.medianMs ? ": median " + stats::formatOneDecimal(*run.medianMs) + " ms"
                         : ": no reply") +
           (thisRun ? " (this run)" : "") + "</title>";
    if (run.medianMs) {
      svg += "<circle class=\"" + std::string(thisRun ? "this-run" : "run") + "\" cx=\"" + x +
             "\" cy=\"" + num(y) + "\" r=\"" + (thisRun ? "6" : "4") + "\"/>";
    } else {
      // A run where nothing answered has no height to stand at.
      svg += "<line class=\"" + std::string(thisRun ? "no-median this-run" : "no-median") +
             "\" x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + num(trendTop) + "\" y2=\"" +
             num(trendBottom) + "\"/>";
    }
    svg += "<circle class=\"hit\" cx=\"" + x + "\" cy=\"" + num(y) + "\" r=\"11\"/></a>\n";
  }
  if (runs.empty()) {
    svg += "<text class=\"lane-note\" x=\"" + num(trendLeft) + "\" y=\"" +
           num((trendTop + trendBottom) / 2) + "\">no runs</text>\n";
  } else {
    svg += "<text class=\"trend-note" + std::string(runs.size() > 1 ? " at-end" : "") + "\" x=\"" +
           num(trendX(runs.size() - 1, runs.size())) + "\" y=\"" + num(trendBottom + 22) +
           "\">this run</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace zelvor::site
