// The results page of one run: the hosts' figures, the two charts, and the
// links to the downloads and back to the list of runs.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/failure_texts.hpp"
#include "site/figure_text.hpp"
#include "site/page_frame.hpp"
#include "site/pages.hpp"

namespace zelvor::site {

namespace {

// Absent figures (percentiles below their minimum) read as a dash, never 0.
constexpr std::string_view noFigure = "\u2013";

// The figures over the round trips; a host that never answered gets one
// "no reply" cell across all of them instead.
constexpr std::array<std::string_view, 8> timeColumns{"Min (ms)", "Median (ms)",  "Mean (ms)",
                                                      "Max (ms)", "Std dev (ms)", "Jitter (ms)",
                                                      "p90 (ms)", "p95 (ms)"};

std::string wholeCell(const std::optional<std::int32_t>& value) {
  return value ? formatWhole(*value) : std::string(noFigure);
}

std::string decimalCell(const std::optional<double>& value) {
  return value ? formatOneDecimal(*value) : std::string(noFigure);
}

void appendCell(std::string& page, std::string_view label, std::string_view content) {
  page += "<td data-label=\"";
  page += label;
  page += "\">";
  page += content;
  page += "</td>";
}

std::string failureList(const stats::HostFigures& figures) {
  std::string list;
  for (std::size_t i = 0; i < failure::all.size(); ++i) {
    if (figures.failures[i] == 0) continue;
    if (!list.empty()) list += ' ';
    list += "<span class=\"failure\">";
    list += failure::all[i];
    list += "&nbsp;";
    list += formatWhole(static_cast<std::int64_t>(figures.failures[i]));
    list += "</span>";
  }
  return list.empty() ? std::string(noFigure) : list;
}

void appendHostRow(std::string& page, const HostRow& row) {
  const stats::HostFigures& f = row.figures;
  page += row.figures.received == 0 ? "<tr class=\"silent\">" : "<tr>";
  page += "<th scope=\"row\" class=\"host\">" + escapeHtml(row.host) + "</th>";
  appendCell(page, "Sent", formatWhole(static_cast<std::int64_t>(f.sent)));
  appendCell(page, "Received", formatWhole(static_cast<std::int64_t>(f.received)));
  appendCell(page, "Loss %", decimalCell(f.lossPercent));
  appendCell(page, "Failures", failureList(f));
  if (f.received == 0) {
    page += "<td class=\"no-reply\" colspan=\"" + formatWhole(timeColumns.size()) +
            "\">no reply</td></tr>\n";
    return;
  }
  const std::array<std::string, 8> cells{
      wholeCell(f.min),      decimalCell(f.median), decimalCell(f.mean), wholeCell(f.max),
      decimalCell(f.stddev), decimalCell(f.jitter), wholeCell(f.p90),    wholeCell(f.p95)};
  for (std::size_t i = 0; i < cells.size(); ++i) appendCell(page, timeColumns[i], cells[i]);
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
  for (const HostRow& row : results.hosts) appendHostRow(page, row);
  page += "</tbody>\n</table>\n</div>\n";
}

std::string countText(std::size_t count, std::string_view one, std::string_view many) {
  return formatWhole(static_cast<std::int64_t>(count)) + ' ' + std::string(count == 1 ? one : many);
}

}  // namespace

std::string resultsPage(const ResultsView& results) {
  const RunSummary& run = results.run;
  const std::string className = escapeHtml(run.className);
  std::string page = pageStart(run.className + " \u00b7 Zelvor results");

  page += "<h1>Results for <span class=\"class-name\">" + className + "</span></h1>\n";
  page += "<p class=\"run-facts\"><time datetime=\"" + formatIsoTime(run.receivedAtMs) + "\">" +
          formatUtcTime(run.receivedAtMs) + "</time> \u00b7 " +
          countText(run.hostCount, "host", "hosts") + " \u00b7 " +
          countText(run.sampleCount, "sample", "samples") + " \u00b7 " +
          (run.medianMs ? "median " + formatOneDecimal(*run.medianMs) + " ms" : "no reply") +
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
          "\">Download CSV</a> <a href=\"/\">All runs</a></nav>\n";
  page += pageEnd();
  return page;
}

}  // namespace zelvor::site
