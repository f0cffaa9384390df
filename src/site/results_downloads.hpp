// A run's figures and samples as downloads: JSON for programs, CSV for
// spreadsheets.
#pragma once

#include <string>

#include "site/results.hpp"

namespace zelvor::site {

// One compact JSON object (UTF-8; invalid UTF-8 in a name becomes U+FFFD),
// keys in this order:
//   {"handle": "H", "class": "name",
//    "received_at": "2026-12-07T18:05:01Z", "received_at_ms": 1796666701000,
//    "measured_at": "2026-12-07T18:04:58Z", "measured_at_ms": 1796666698000,
//    "label": "berlin-office" or null,
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
//   stddev_ms,jitter_ms,p90_ms,p95_ms,label
// Figures as on the page; a figure that does not exist, or a run without a
// label, is an empty cell. A
// host beginning with = + - @ (or tab or CR) gets a leading single quote.
std::string resultsCsv(const ResultsView& results);

}  // namespace zelvor::site
