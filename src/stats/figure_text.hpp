// How figures are written everywhere they are shown: fixed, locale-free
// texts, so that the pages, the downloads and the terminal client show a
// figure the same way.
#pragma once

#include <cstdint>
#include <string>

namespace zelvor::stats {

// A whole number of milliseconds (min, max, percentiles, tick values): "23".
std::string formatWhole(std::int64_t value);
void appendWhole(std::string& out, std::int64_t value);

// Median, mean, standard deviation, jitter and loss %: one decimal, "24.5";
// never "-0.0".
std::string formatOneDecimal(double value);
// The same, written onto the end of `out`: what the charts use for their
// thousand coordinates a page, without a string each.
void appendOneDecimal(std::string& out, double value);

}  // namespace zelvor::stats
