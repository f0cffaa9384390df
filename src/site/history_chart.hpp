// The history pages' charts, inline SVG: time across, ending now;
// milliseconds up.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "site/chart_axis.hpp"
#include "site/history.hpp"

namespace zelvor::site {

// Series beside each other share this axis, so that they read alike: it
// reaches every bucket's 90th percentile.
Axis historyAxis(std::span<const HistorySeries> series);

// One series: per bucket a band from the 10th to the 90th percentile, a
// darker one from the 25th to the 75th, and the median as a line in the
// colour of the bucket's loss. A bucket without runs leaves a gap; one
// whose runs had no answer is marked below the line. `name` says whose
// history it is, for readers that do not see it.
std::string historyChart(const HistorySeries& series, const Axis& axis, const HistoryWindow& window,
                         std::string_view name);

// Every host's median on one chart, a line each in the colour of its place
// (classChartColours, repeated).
inline constexpr std::size_t classChartColours = 8;
std::string classChart(std::span<const HistorySeries> hosts, const HistoryWindow& window);

}  // namespace zelvor::site
