// The results page's two charts, inline SVG; tests also draw them alone.
#pragma once

#include <string>

#include "site/results.hpp"

namespace zelvor::site {

// Every sample of every host on one millisecond axis.
std::string sampleChart(const ResultsView& results);
// The class's median over its last runs, each point a link to its run.
std::string trendChart(const ResultsView& results);

}  // namespace zelvor::site
