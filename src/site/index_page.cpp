// The site's front page: one page of the stored runs, newest first, with
// links to newer and older pages.
#include "site/index_page.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "site/handle_link.hpp"
#include "site/html_escape.hpp"
#include "site/page_frame.hpp"
#include "site/page_paths.hpp"
#include "stats/figure_text.hpp"
#include "support/utc_time.hpp"

namespace zelvor::site {

namespace {

constexpr std::string_view description =
    "The latency test runs posted to this Zelvor site, newest first.";

// The index's address for `filter` (and a page, from the second on).
std::string indexLink(const RunFilter& filter, std::size_t page = 1) {
  std::vector<QueryParameter> parameters;
  if (filter.className) parameters.emplace_back("class", *filter.className);
  if (filter.label) parameters.emplace_back("label", *filter.label);
  const std::string number = stats::formatWhole(static_cast<std::int64_t>(page));
  if (page > 1) parameters.emplace_back("page", number);
  return queryLink("/", parameters);
}

std::string pageLink(const RunFilter& filter, std::size_t page, std::string_view rel,
                     std::string_view text) {
  return "<a rel=\"" + std::string(rel) + "\" href=\"" + indexLink(filter, page) + "\">" +
         std::string(text) + "</a>";
}

// The heading names what the filter keeps.
std::string heading(const RunFilter& filter) {
  if (!filter.className && !filter.label) return "Recent runs";
  std::string text = "Runs";
  if (filter.className) text += " of " + escapeHtml(*filter.className);
  if (filter.label) text += " from " + escapeHtml(*filter.label);
  return text;
}

void appendRunRow(std::string& page, const RunSummary& run) {
  page += "<tr><td data-label=\"Time\"><a href=\"" + handleLink(resultsPath, run.handle) + "\">" +
          kelvo::readableUtcTime(run.receivedAtMs) +
          "</a></td><td data-label=\"Class\" class=\"class-name\"><a href=\"" +
          indexLink({run.className, {}}) + "\">" + escapeHtml(run.className) +
          "</a></td><td data-label=\"From\">" +
          (run.label
               ? "<a href=\"" + indexLink({{}, run.label}) + "\">" + escapeHtml(*run.label) + "</a>"
               : std::string("\u2014")) +
          "</td><td data-label=\"Hosts\">" +
          stats::formatWhole(static_cast<std::int64_t>(run.hostCount)) +
          "</td><td data-label=\"Samples\">" +
          stats::formatWhole(static_cast<std::int64_t>(run.sampleCount)) +
          "</td><td data-label=\"Median (ms)\">" +
          (run.medianMs ? stats::formatOneDecimal(*run.medianMs) : std::string("no reply")) +
          "</td></tr>\n";
}

}  // namespace

std::string indexPage(const IndexView& index) {
  const RunFilter& filter = index.filter;
  const bool filtered = filter.className || filter.label;
  std::string page = pageStart("Zelvor \u00b7 recent runs", description);
  page += "<h1>" + heading(filter) + "</h1>\n";
  if (filtered) page += "<p class=\"filter\"><a href=\"/\">All runs</a></p>\n";
  if (index.runCount == 0) {
    page += filtered ? "<p class=\"empty\">No runs match.</p>\n"
                     : "<p class=\"empty\">No runs have been posted yet.</p>\n";
    page += pageEnd();
    return page;
  }

  page += "<p class=\"run-facts\">" +
          stats::formatWhole(static_cast<std::int64_t>(index.runCount)) +
          (index.runCount == 1 ? " run" : " runs") + " stored, newest first.</p>\n";
  if (index.runs.empty()) {
    page += "<p class=\"empty\">No runs on this page.</p>\n";
  } else {
    page +=
        "<div class=\"table-wrap\">\n<table class=\"runs reflow\">\n<thead><tr>"
        "<th scope=\"col\">Time</th><th scope=\"col\">Class</th><th scope=\"col\">From</th>"
        "<th scope=\"col\">Hosts</th>"
        "<th scope=\"col\">Samples</th><th scope=\"col\">Median (ms)</th></tr></thead>\n"
        "<tbody>\n";
    for (const RunSummary& run : index.runs) appendRunRow(page, run);
    page += "</tbody>\n</table>\n</div>\n";
  }

  page += "<nav class=\"pager\">";
  if (index.page > 1) page += pageLink(filter, index.page - 1, "prev", "Newer");
  page += " <span class=\"page-of\">page " +
          stats::formatWhole(static_cast<std::int64_t>(index.page)) + " of " +
          stats::formatWhole(static_cast<std::int64_t>(index.pageCount)) + "</span> ";
  if (index.page < index.pageCount) page += pageLink(filter, index.page + 1, "next", "Older");
  page += "</nav>\n";
  page += pageEnd();
  return page;
}

}  // namespace zelvor::site
