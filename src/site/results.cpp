#include "site/results.hpp"

#include <algorithm>
#include <utility>

#include "catalogue/report.hpp"

namespace zelvor::site {

namespace {

// Hosts that answered by median, lowest first; the others after them.
bool answersSooner(const HostRow& a, const HostRow& b) {
  if (!b.figures.median) return a.figures.median.has_value();
  return a.figures.median && *a.figures.median < *b.figures.median;
}

}  // namespace

ResultsView buildResults(const StoredRun& run, std::vector<RunSummary> history) {
  ServerClass measured = parseReport(run.report);
  ResultsView results{run.summary, {}, std::move(history)};
  results.hosts.reserve(measured.servers.size());
  for (ServerEntry& entry : measured.servers) {
    HostRow row{std::move(entry.host), std::move(entry.samples), {}};
    row.figures = stats::hostFigures(row.samples);
    results.hosts.push_back(std::move(row));
  }
  std::stable_sort(results.hosts.begin(), results.hosts.end(), answersSooner);
  return results;
}

}  // namespace zelvor::site
