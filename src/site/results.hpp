// A stored run turned into what its results page, JSON and CSV show: one row
// per host with its samples and figures, in the page's order, and how the
// class fared in earlier runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "site/store.hpp"
#include "stats/host_figures.hpp"

namespace zelvor::site {

struct HostRow {
  std::string host;
  // In the order they were taken.
  std::vector<EchoSample> samples;
  stats::HostFigures figures;
};

struct ResultsView {
  RunSummary run;
  // By median, lowest first; hosts that never answered last; hosts with
  // equal medians in report order.
  std::vector<HostRow> hosts;
  // The class's last runs, oldest first, ending with this run.
  std::vector<RunSummary> history;
};

// Throws parseReport's text for a report that does not read, which a
// stored run never is.
ResultsView buildResults(const StoredRun& run, std::vector<RunSummary> history);

}  // namespace zelvor::site
