// The site's front page: one page of the stored runs, newest first, with
// links to newer and older pages.
#include "site/index_page.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

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

std::string pageLink(std::size_t page, std::string_view rel, std::string_view text) {
  return "<a rel=\"" + std::string(rel) +
         "\" href=\"/?page=" + stats::formatWhole(static_cast<std::int64_t>(page)) + "\">" +
         std::string(text) + "</a>";
}

void appendRunRow(std::string& page, const RunSummary& run) {
  page += "<tr><td data-label=\"Time\"><a href=\"" + handleLink(resultsPath, run.handle) + "\">" +
          kelvo::readableUtcTime(run.receivedAtMs) +
          "</a></td><td data-label=\"Class\" class=\"class-name\">" + escapeHtml(run.className) +
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
  std::string page = pageStart("Zelvor \u00b7 recent runs", description);
  page += "<h1>Recent runs</h1>\n";
  if (index.runCount == 0) {
    page += "<p class=\"empty\">No runs have been posted yet.</p>\n";
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
        "<th scope=\"col\">Time</th><th scope=\"col\">Class</th><th scope=\"col\">Hosts</th>"
        "<th scope=\"col\">Samples</th><th scope=\"col\">Median (ms)</th></tr></thead>\n"
        "<tbody>\n";
    for (const RunSummary& run : index.runs) appendRunRow(page, run);
    page += "</tbody>\n</table>\n</div>\n";
  }

  page += "<nav class=\"pager\">";
  if (index.page > 1) page += pageLink(index.page - 1, "prev", "Newer");
  page += " <span class=\"page-of\">page " +
          stats::formatWhole(static_cast<std::int64_t>(index.page)) + " of " +
          stats::formatWhole(static_cast<std::int64_t>(index.pageCount)) + "</span> ";
  if (index.page < index.pageCount) page += pageLink(index.page + 1, "next", "Older");
  page += "</nav>\n";
  page += pageEnd();
  return page;
}

}  // namespace zelvor::site
