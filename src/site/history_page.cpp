#include "site/history_page.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "site/handle_link.hpp"
#include "site/history_chart.hpp"
#include "site/html_escape.hpp"
#include "site/page_frame.hpp"
#include "site/page_paths.hpp"
#include "stats/figure_text.hpp"
#include "support/utc_time.hpp"

namespace zelvor::site {

namespace {

constexpr std::string_view historyDescription =
    "One host's round trips over time as Zelvor measured them: median, spread and loss.";
constexpr std::string_view classDescription =
    "Every host of one Zelvor class over time: medians, loss and 95th percentiles.";

constexpr std::string_view noFigure = "\u2013";
constexpr std::string_view unlabelled = "unlabelled";

constexpr std::array allRanges{HistoryRange::hours3, HistoryRange::hours30, HistoryRange::days10,
                               HistoryRange::days360};

std::string_view labelText(const std::optional<std::string>& label) {
  return label ? std::string_view(*label) : unlabelled;
}

// The range's own words and the window it covers.
void appendRangeFacts(std::string& page, const HistoryWindow& window) {
  page += "<p class=\"run-facts\"><time datetime=\"";
  page += kelvo::isoUtcTime(window.startMs);
  page += "\">";
  page += kelvo::readableUtcTime(window.startMs);
  page += "</time> to <time datetime=\"";
  page += kelvo::isoUtcTime(window.endMs);
  page += "\">";
  page += kelvo::readableUtcTime(window.endMs);
  page += "</time>, by measured time</p>\n";
}

template <class LinkOf>
void appendRangeChoice(std::string& page, HistoryRange current, LinkOf linkOf) {
  page += "<nav class=\"ranges\" aria-label=\"Range\">";
  for (const HistoryRange range : allRanges) {
    page += "<a href=\"";
    page += linkOf(range);
    page += '"';
    if (range == current) page += " aria-current=\"page\"";
    page += '>';
    page += rangeName(range);
    page += "</a>";
  }
  page += "</nav>\n";
}

void appendOptional(std::string& page, const std::optional<double>& value) {
  if (value) {
    stats::appendOneDecimal(page, *value);
  } else {
    page += noFigure;
  }
}

void appendOptional(std::string& page, const std::optional<std::int32_t>& value) {
  if (value) {
    stats::appendWhole(page, *value);
  } else {
    page += noFigure;
  }
}

// "12 runs · loss 1.5 % · median 23.0 ms · p95 31 ms"
void appendOverall(std::string& page, const PooledFigures& figures) {
  stats::appendWhole(page, static_cast<std::int64_t>(figures.runs));
  page += figures.runs == 1 ? " run" : " runs";
  if (figures.runs == 0) return;
  page += " \u00b7 loss ";
  appendOptional(page, figures.lossPercent());
  page += " % \u00b7 median ";
  appendOptional(page, figures.median);
  page += " ms \u00b7 p95 ";
  appendOptional(page, figures.p95);
  page += " ms";
}

constexpr std::string_view historyLegend =
    "<p class=\"legend\"><span class=\"key key-band-outer\"></span>10\u201390 % "
    "<span class=\"key key-band-inner\"></span>25\u201375 % "
    "<span class=\"key key-line loss-none\"></span>median, no loss "
    "<span class=\"key key-line loss-low\"></span>up to 5 % "
    "<span class=\"key key-line loss-high\"></span>up to 20 % "
    "<span class=\"key key-line loss-severe\"></span>more "
    "<span class=\"key key-no-answer\"></span>no answer</p>\n";

}  // namespace

std::string historyLink(std::string_view path, std::string_view className, std::string_view host,
                        const std::optional<std::string>& label,
                        std::optional<HistoryRange> range) {
  std::vector<QueryParameter> query{{"class", className}, {"host", host}};
  if (label) query.emplace_back("label", *label);
  if (range) query.emplace_back("range", rangeName(*range));
  return queryLink(path, query);
}

std::string classLink(std::string_view path, std::string_view className,
                      std::optional<HistoryRange> range) {
  if (!range) return queryLink(path, {{"name", className}});
  return queryLink(path, {{"name", className}, {"range", rangeName(*range)}});
}

std::string historyPage(const HistoryView& history) {
  std::string page = pageStart(history.host + " \u00b7 " + history.className + " \u00b7 Zelvor",
                               historyDescription);
  page.reserve(page.size() + 8192 + history.series.size() * 40000);
  page += "<h1>History of <span class=\"class-name\">";
  appendEscapedHtml(page, history.host);
  page += "</span></h1>\n<p class=\"run-facts\">Class <a class=\"class-name\" href=\"";
  page += classLink(classPath, history.className, history.window.range);
  page += "\">";
  appendEscapedHtml(page, history.className);
  page += "</a>";
  if (history.label) {
    page += " \u00b7 label ";
    appendEscapedHtml(page, *history.label);
  }
  page += "</p>\n";
  appendRangeFacts(page, history.window);
  appendRangeChoice(page, history.window.range, [&](HistoryRange range) {
    return historyLink(historyPath, history.className, history.host, history.label, range);
  });

  if (history.series.empty()) {
    page += "<p class=\"empty\">No runs measured this host in this range.</p>\n";
  } else {
    const Axis axis = historyAxis(history.series);
    page += "<div class=\"histories\">\n";
    for (const HistorySeries& series : history.series) {
      page += "<figure class=\"chart history\">\n<figcaption><span class=\"series-label\">";
      appendEscapedHtml(page, labelText(series.label));
      page += "</span>: ";
      appendOverall(page, series.overall);
      page += "</figcaption>\n";
      page += historyChart(series, axis, history.window,
                           history.host + " (" + std::string(labelText(series.label)) + ")");
      page += "</figure>\n";
    }
    page += "</div>\n";
    page += historyLegend;
  }

  page += "<nav class=\"downloads\"><a href=\"";
  page += historyLink(historyJsonPath, history.className, history.host, history.label,
                      history.window.range);
  page += "\">Download JSON</a> <a href=\"";
  page += classLink(classPath, history.className, history.window.range);
  page += "\">Every host of the class</a> <a href=\"/\">All runs</a></nav>\n";
  page += pageEnd();
  return page;
}

std::string classPage(const ClassView& overview) {
  std::string page = pageStart(overview.className + " \u00b7 Zelvor class", classDescription);
  page.reserve(page.size() + 16384 + overview.hosts.size() * 8000 + overview.labelled.size() * 600);
  page += "<h1>Class <span class=\"class-name\">";
  appendEscapedHtml(page, overview.className);
  page += "</span></h1>\n";
  appendRangeFacts(page, overview.window);
  appendRangeChoice(page, overview.window.range, [&](HistoryRange range) {
    return classLink(classPath, overview.className, range);
  });

  page +=
      "<figure class=\"chart overview\">\n<figcaption>Each host's median, in "
      "milliseconds</figcaption>\n";
  page += classChart(overview.hosts, overview.window);
  page += "<ul class=\"host-keys\">\n";
  for (std::size_t i = 0; i < overview.hosts.size(); ++i) {
    const HistorySeries& host = overview.hosts[i];
    page += "<li><span class=\"key key-line series-";
    stats::appendWhole(page, static_cast<std::int64_t>(i % classChartColours));
    page += "\"></span><a href=\"";
    page += historyLink(historyPath, overview.className, host.host, std::nullopt,
                        overview.window.range);
    page += "\">";
    appendEscapedHtml(page, host.host);
    page += "</a></li>\n";
  }
  page += "</ul>\n</figure>\n";

  if (overview.labelled.empty())
    page += "<p class=\"empty\">No runs of this class in this range.</p>\n";
  for (std::size_t first = 0; first < overview.labelled.size();) {
    const std::optional<std::string>& label = overview.labelled[first].label;
    page += "<h2>";
    if (label) {
      page += "Label <span class=\"series-label\">";
      appendEscapedHtml(page, *label);
      page += "</span>";
    } else {
      page += "Unlabelled runs";
    }
    page +=
        "</h2>\n<div class=\"table-wrap\">\n<table class=\"figures reflow\">\n<thead><tr>"
        "<th scope=\"col\">Host</th><th scope=\"col\">Runs</th><th scope=\"col\">Loss %</th>"
        "<th scope=\"col\">Median (ms)</th><th scope=\"col\">p95 (ms)</th></tr></thead>\n<tbody>\n";
    std::size_t end = first;
    for (; end < overview.labelled.size() && overview.labelled[end].label == label; ++end) {
      const HistorySeries& row = overview.labelled[end];
      page += "<tr><th scope=\"row\" class=\"host\"><a href=\"";
      page +=
          historyLink(historyPath, overview.className, row.host, row.label, overview.window.range);
      page += "\">";
      appendEscapedHtml(page, row.host);
      page += "</a></th><td data-label=\"Runs\">";
      stats::appendWhole(page, static_cast<std::int64_t>(row.overall.runs));
      page += "</td><td data-label=\"Loss %\">";
      appendOptional(page, row.overall.lossPercent());
      page += "</td><td data-label=\"Median (ms)\">";
      appendOptional(page, row.overall.median);
      page += "</td><td data-label=\"p95 (ms)\">";
      appendOptional(page, row.overall.p95);
      page += "</td></tr>\n";
    }
    page += "</tbody>\n</table>\n</div>\n";
    first = end;
  }

  page += "<nav class=\"downloads\"><a href=\"";
  page += classLink(classJsonPath, overview.className, overview.window.range);
  page += "\">Download JSON</a> <a href=\"/\">All runs</a></nav>\n";
  page += pageEnd();
  return page;
}

}  // namespace zelvor::site
