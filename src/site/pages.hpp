// The site's pages and downloads as pure functions from figures to text.
// Every text that came from a report or the server list is escaped where it
// is written; no page holds a script or loads anything from elsewhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "site/results.hpp"
#include "site/store.hpp"

namespace zelvor::site {

// The addresses the pages link to, besides "/zelvor?handle=H" itself.
inline constexpr std::string_view resultsPath = "/zelvor";
inline constexpr std::string_view resultsJsonPath = "/zelvor.json";
inline constexpr std::string_view resultsCsvPath = "/zelvor.csv";
inline constexpr std::string_view styleSheetPath = "/site.css";

// What every page is served with: nothing runs, nothing is loaded from
// elsewhere, and the one style sheet comes from the site itself.
inline constexpr std::string_view contentSecurityPolicy =
    "default-src 'none'; style-src 'self'; img-src 'self'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";

// What "/" shows: one page of the stored runs, newest first.
struct IndexView {
  std::vector<RunSummary> runs;
  // 1-based; pageCount is at least 1, even with no runs at all.
  std::size_t page = 1;
  std::size_t pageCount = 1;
  std::size_t runCount = 0;
};

std::string escapeHtml(std::string_view text);
void appendEscapedHtml(std::string& out, std::string_view text);

// The style sheet every page links to, served at styleSheetPath.
std::string_view styleSheet();

// Figures on the pages and in the CSV: whole milliseconds (min, max, p90,
// p95) as integers; median, mean, stddev, jitter and loss % with one
// decimal; times in UTC.
std::string resultsPage(const ResultsView& results);

// One compact JSON object (UTF-8; invalid UTF-8 in a name becomes U+FFFD),
// keys in this order:
//   {"handle": "H", "class": "name",
//    "received_at": "2026-12-07T18:05:01Z", "received_at_ms": 1796666701000,
//    "hosts": [ in the page's order
//      {"host": "name", "sent": 4, "received": 3, "loss_percent": 25.0,
//       "failures": {"BADADDRESS": 0, "SOCKERROR": 0, "TIMEOUT": 1, "EXPIRED": 0,
//                    "FOREIGN": 0, "UNREACHABLE": 0, "BADHEADER": 0, "FAILURE": 0},
//       "min_ms": 10, "median_ms": 11.0, "mean_ms": 11.0, "max_ms": 12,
//       "stddev_ms": 0.816496580927726, "jitter_ms": 1.5, "p90_ms": null, "p95_ms": null,
//       "samples": [10, 12, "TIMEOUT", 11]}],
//    "history": [ oldest first, the last is this run
//      {"handle": "H", "received_at": "2026-12-07T18:05:01Z", "median_ms": 11.0}]}
// "failures" always holds all eight words, in the order the reports list
// them. A figure that does not exist (no answers; percentiles below 20
// answers; jitter below two) is null. Fractional figures carry the full
// double, unrounded. "samples" are in the order taken: a number (ms) for an
// answer, the failure word for a loss.
std::string resultsJson(const ResultsView& results);

// RFC 4180 with CRLF line ends: a header line, then one row per host in the
// page's order:
//   host,sent,received,loss_percent,BADADDRESS,SOCKERROR,TIMEOUT,EXPIRED,
//   FOREIGN,UNREACHABLE,BADHEADER,FAILURE,min_ms,median_ms,mean_ms,max_ms,
//   stddev_ms,jitter_ms,p90_ms,p95_ms
// Figures as on the page; a figure that does not exist is an empty cell. A
// host beginning with = + - @ (or tab or CR) gets a leading single quote.
std::string resultsCsv(const ResultsView& results);
std::string indexPage(const IndexView& index);
// The page for a handle that names no run, or any unknown address.
std::string notFoundPage();

// The two charts, inline SVG, also used on their own by tests.
std::string sampleChart(const ResultsView& results);
std::string trendChart(const ResultsView& results);

}  // namespace zelvor::site
