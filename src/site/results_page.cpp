// The results page of one run: the hosts' figures, the two charts, and the
// links to the downloads and back to the list of runs.
#include "site/results_page.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "catalogue/failure_texts.hpp"
#include "site/charts.hpp"
#include "site/handle_link.hpp"
#include "site/history_page.hpp"
#include "site/html_escape.hpp"
#include "site/page_frame.hpp"
#include "site/page_paths.hpp"
#include "stats/figure_text.hpp"
#include "support/utc_time.hpp"

namespace zelvor::site {

namespace {

constexpr std::string_view description =
    "One Zelvor run: round-trip figures for each host, every sample, and the median of its "
    "class over recent runs.";

// Absent figures (percentiles below their minimum) read as a dash, never 0.
constexpr std::string_view noFigure = "\u2013";

// The figures over the round trips; a host that never answered gets one
// "no reply" cell across all of them instead.
constexpr std::array<std::string_view, 8> timeColumns{"Min (ms)", "Median (ms)",  "Mean (ms)",
                                                      "Max (ms)", "Std dev (ms)", "Jitter (ms)",
                                                      "p90 (ms)", "p95 (ms)"};

void appendFailureList(std::string& page, const stats::HostFigures& figures) {
  bool any = false;
  for (std::size_t i = 0; i < failure::all.size(); ++i) {
    if (figures.failures[i] == 0) continue;
    if (any) page += ' ';
    page += "<span class=\"failure\">";
    page += failure::all[i];
    page += "&nbsp;";
    stats::appendWhole(page, static_cast<std::int64_t>(figures.failures[i]));
    page += "</span>";
    any = true;
  }
  if (!any) page += noFigure;
}

// A figure cell: the number, or the dash for a figure there is not.
template <class Number>
void appendFigureCell(std::string& page, std::string_view label,
                      const std::optional<Number>& value) {
  page += "<td data-label=\"";
  page += label;
  page += "\">";
  if (!value) {
    page += noFigure;
  } else if constexpr (std::is_floating_point_v<Number>) {
    stats::appendOneDecimal(page, *value);
  } else {
    stats::appendWhole(page, *value);
  }
  page += "</td>";
}

// The host's name links to its history from where this run was measured.
void appendHostRow(std::string& page, const RunSummary& run, const HostRow& row) {
  const stats::HostFigures& f = row.figures;
  page += row.figures.received == 0 ? "<tr class=\"silent\">" : "<tr>";
  page += "<th scope=\"row\" class=\"host\"><a href=\"";
  page += historyLink(historyPath, run.className, row.host, run.label);
  page += "\">";
  appendEscapedHtml(page, row.host);
  page += "</a></th>";
  appendFigureCell(page, "Sent", std::optional<std::int64_t>(f.sent));
  appendFigureCell(page, "Received", std::optional<std::int64_t>(f.received));
  appendFigureCell(page, "Loss %", f.lossPercent);
  page += "<td data-label=\"Failures\">";
  appendFailureList(page, f);
  page += "</td>";
  if (f.received == 0) {
    page += "<td class=\"no-reply\" colspan=\"";
    stats::appendWhole(page, static_cast<std::int64_t>(timeColumns.size()));
    page += "\">no reply</td></tr>\n";
    return;
  }
  appendFigureCell(page, timeColumns[0], f.min);
  appendFigureCell(page, timeColumns[1], f.median);
  appendFigureCell(page, timeColumns[2], f.mean);
  appendFigureCell(page, timeColumns[3], f.max);
  appendFigureCell(page, timeColumns[4], f.stddev);
  appendFigureCell(page, timeColumns[5], f.jitter);
  appendFigureCell(page, timeColumns[6], f.p90);
  appendFigureCell(page, timeColumns[7], f.p95);
  page += "</tr>\n";
}

void appendHostTable(std::string& page, const ResultsView& results) {
  page +=
      "<div class=\"table-wrap\">\n<table class=\"figures reflow\">\n<thead><tr>"
      "<th scope=\"col\">Host</th><th scope=\"col\">Sent</th><th scope=\"col\">Received</th>"
      "<th scope=\"col\">Loss %</th><th scope=\"col\">Failures</th>";
  for (const std::string_view column : timeColumns) {
    page += "<th scope=\"col\">";
    page += column;
    page += "</th>";
  }
  page += "</tr></thead>\n<tbody>\n";
  for (const HostRow& row : results.hosts) appendHostRow(page, results.run, row);
  page += "</tbody>\n</table>\n</div>\n";
}

std::string countText(std::size_t count, std::string_view one, std::string_view many) {
  return stats::formatWhole(static_cast<std::int64_t>(count)) + ' ' +
         std::string(count == 1 ? one : many);
}

}  // namespace

std::string resultsPage(const ResultsView& results) {
  const RunSummary& run = results.run;
  const std::string className = escapeHtml(run.className);
  std::string page = pageStart(run.className + " \u00b7 Zelvor results", description);
  // Room for the whole page at once, rather than a copy of it at every
  // doubling: a host's row and lane, a sample's mark, a past run's point.
  std::size_t samples = 0;
  for (const HostRow& row : results.hosts) samples += row.samples.size();
  page.reserve(page.size() + 8192 + results.hosts.size() * 1024 + samples * 160 +
               results.history.size() * 400);

  page += "<h1>Results for <span class=\"class-name\">" + className + "</span></h1>\n";
  page += "<p class=\"run-facts\"><time datetime=\"" + kelvo::isoUtcTime(run.measuredAtMs) + "\">" +
          kelvo::readableUtcTime(run.measuredAtMs) + "</time>";
  // A report kept while the site could not be reached arrives later; a
  // run's own measuring takes seconds, not minutes.
  constexpr std::int64_t lateMs = 60'000;
  if (run.receivedAtMs - run.measuredAtMs > lateMs)
    page += " (received " + kelvo::readableUtcTime(run.receivedAtMs) + ")";
  if (run.label) page += " \u00b7 from " + escapeHtml(*run.label);
  page += " \u00b7 " + countText(run.hostCount, "host", "hosts") + " \u00b7 " +
          countText(run.sampleCount, "sample", "samples") + " \u00b7 " +
          (run.medianMs ? "median " + stats::formatOneDecimal(*run.medianMs) + " ms" : "no reply") +
          "</p>\n";

  if (results.hosts.empty()) {
    page += "<p class=\"empty\">This run holds no samples.</p>\n";
  } else {
    appendHostTable(page, results);
  }

  page +=
      "<div class=\"charts\">\n<figure class=\"chart samples\">\n<figcaption>Every sample, in "
      "milliseconds</figcaption>\n";
  page += sampleChart(results);
  page +=
      "<p class=\"legend\"><span class=\"key key-sample\"></span>reply "
      "<span class=\"key key-median\"></span>median "
      "<span class=\"key key-loss\"></span>lost</p>\n"
      "</figure>\n<figure class=\"chart trend\">\n<figcaption>Median of this class, last ";
  page += countText(results.history.size(), "run", "runs");
  page += "</figcaption>\n";
  page += trendChart(results);
  page += "</figure>\n</div>\n";

  page += "<nav class=\"downloads\"><a href=\"" + handleLink(resultsJsonPath, run.handle) +
          "\">Download JSON</a> <a href=\"" + handleLink(resultsCsvPath, run.handle) +
          "\">Download CSV</a> <a href=\"" + classLink(classPath, run.className) +
          "\">Class overview</a> <a href=\"/\">All runs</a></nav>\n";
  page += pageEnd();
  return page;
}

}  // namespace zelvor::site
