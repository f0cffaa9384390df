// The history pages' figures as JSON, for programs.
#pragma once

#include <string>

#include "site/history.hpp"

namespace zelvor::site {

// One compact JSON object (UTF-8; invalid UTF-8 in a name becomes U+FFFD),
// keys in this order:
//   {"class": "name", "host": "name", "label": "L" or null (the one asked for),
//    "range": "30h", "start_ms": 1796558400000, "end_ms": 1796666400000,
//    "bucket_ms": 360000,
//    "series": [ a label each: unlabelled first, then by label
//      {"label": "L" or null, "overall": FIGURES,
//       "buckets": [ oldest first, only those with runs
//         {"start_ms": 1796666040000, FIGURES...}]}]}
// where FIGURES are
//   "runs": 2, "sent": 20, "received": 19, "loss_percent": 5.0,
//   "p10_ms": 10, "p25_ms": 11, "median_ms": 12.0, "p75_ms": 14, "p90_ms": 15,
//   "p95_ms": null
// over every sample of the runs measured in the bucket (or the whole range):
// "median_ms" as on the results page (the mean of the two middle values for
// an even count), the others by nearest rank, all null without an answer,
// and "p95_ms" null below 20 answers, as on the results page. A bucket
// covers [start_ms, start_ms + bucket_ms).
std::string historyJson(const HistoryView& history);

// The same for a class:
//   {"class": "name", "range": "30h", "start_ms": ..., "end_ms": ...,
//    "bucket_ms": ...,
//    "hosts": [ by median over the range, lowest first
//      {"host": "name", "overall": FIGURES,
//       "buckets": [{"start_ms": ..., FIGURES...}]}],
//    "labels": [ unlabelled first, then by label
//      {"label": "L" or null,
//       "hosts": [{"host": "name", "overall": FIGURES}]}]}
std::string classJson(const ClassView& overview);

}  // namespace zelvor::site
