// The results page of one run.
#pragma once

#include <string>

#include "site/results.hpp"

namespace zelvor::site {

// Figures on the page: whole milliseconds (min, max, p90, p95) as integers;
// median, mean, stddev, jitter and loss % with one decimal; times in UTC.
std::string resultsPage(const ResultsView& results);

}  // namespace zelvor::site
