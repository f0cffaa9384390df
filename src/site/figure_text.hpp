// How the pages and downloads write times and links, and (from the
// statistics) numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "stats/figure_text.hpp"

namespace zelvor::site {

// The figures' own texts, shared with the terminal client.
using stats::appendOneDecimal;
using stats::appendWhole;
using stats::formatOneDecimal;
using stats::formatWhole;

// "2026-12-07 18:05:01 UTC": what a reader sees.
std::string formatUtcTime(std::int64_t msSinceEpoch);

// "2026-12-07T18:05:01Z" (ISO 8601): what machines and <time> read.
std::string formatIsoTime(std::int64_t msSinceEpoch);

// The address of a run's page or download: `path` + "?handle=" + the handle,
// percent-encoded beyond the URL-safe characters, so the result is safe in
// any attribute as it is.
std::string handleLink(std::string_view path, std::string_view handle);

}  // namespace zelvor::site
