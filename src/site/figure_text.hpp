// How the pages and downloads write numbers and times: fixed, locale-free
// texts, so that every page and download shows a figure the same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvor::site {

// A whole number of milliseconds (min, max, percentiles, tick values): "23".
std::string formatWhole(std::int64_t value);
void appendWhole(std::string& out, std::int64_t value);

// Median, mean, standard deviation, jitter and loss %: one decimal, "24.5";
// never "-0.0".
std::string formatOneDecimal(double value);
// The same, written onto the end of `out`: what the charts use for their
// thousand coordinates a page, without a string each.
void appendOneDecimal(std::string& out, double value);

// "2026-12-07 18:05:01 UTC": what a reader sees.
std::string formatUtcTime(std::int64_t msSinceEpoch);

// "2026-12-07T18:05:01Z" (ISO 8601): what machines and <time> read.
std::string formatIsoTime(std::int64_t msSinceEpoch);

// The address of a run's page or download: `path` + "?handle=" + the handle,
// percent-encoded beyond the URL-safe characters, so the result is safe in
// any attribute as it is.
std::string handleLink(std::string_view path, std::string_view handle);

}  // namespace zelvor::site
