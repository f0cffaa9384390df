// One host's figures and samples as the downloads write them, the same in
// the site's JSON and CSV and in the terminal client's.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "catalogue/catalogue.hpp"
#include "stats/host_figures.hpp"

namespace zelvor::stats {

// Keeps the keys in the order written, so that a document reads top down.
using DownloadJson = nlohmann::ordered_json;

// {"host", "sent", "received", "loss_percent", "failures": {WORD: count...},
// "min_ms", "median_ms", "mean_ms", "max_ms", "stddev_ms", "jitter_ms",
// "p90_ms", "p95_ms", "samples": [rtt or WORD...]}; a figure that does not
// exist is null.
DownloadJson hostJson(std::string_view host, const HostFigures& figures,
                      std::span<const EchoSample> samples);

// The CSV columns and one host's row, each without its line end, which is
// the caller's: CR LF in a download, LF on a terminal. A figure that does
// not exist is an empty cell.
std::string csvHeader();
std::string csvRow(std::string_view host, const HostFigures& figures);

// A text cell. A spreadsheet runs a cell that begins with = + - @ (or a tab
// or carriage return, which some strip first) as a formula, so a host named
// "=HYPERLINK(...)" would act in the reader's spreadsheet: a leading single
// quote keeps such a cell text. Commas, quotes and line ends quote the cell.
std::string csvTextField(std::string_view text);

}  // namespace zelvor::stats
