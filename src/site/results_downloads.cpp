// A run's figures and samples as downloads: JSON for programs, CSV for
// spreadsheets. The shapes are described next to their declarations.
#include "site/results_downloads.hpp"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "stats/host_downloads.hpp"
#include "support/utc_time.hpp"

namespace zelvor::site {

namespace {

using Json = stats::DownloadJson;

Json numberOrNull(const std::optional<double>& value) {
  return value ? Json(*value) : Json(nullptr);
}

}  // namespace

std::string resultsJson(const ResultsView& results) {
  const RunSummary& run = results.run;
  Json hosts = Json::array();
  for (const HostRow& row : results.hosts)
    hosts.push_back(stats::hostJson(row.host, row.figures, row.samples));
  Json history = Json::array();
  for (const RunSummary& earlier : results.history)
    history.push_back(Json{{"handle", earlier.handle},
                           {"received_at", kelvo::isoUtcTime(earlier.receivedAtMs)},
                           {"median_ms", numberOrNull(earlier.medianMs)}});
  const Json document{{"handle", run.handle},
                      {"class", run.className},
                      {"received_at", kelvo::isoUtcTime(run.receivedAtMs)},
                      {"received_at_ms", run.receivedAtMs},
                      {"measured_at", kelvo::isoUtcTime(run.measuredAtMs)},
                      {"measured_at_ms", run.measuredAtMs},
                      {"label", run.label ? Json(*run.label) : Json(nullptr)},
                      {"hosts", std::move(hosts)},
                      {"history", std::move(history)}};
  // Names are bytes from a report; invalid UTF-8 becomes U+FFFD, not a throw.
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::string resultsCsv(const ResultsView& results) {
  // Rows end in CR LF, as spreadsheets and RFC 4180 expect.
  // The label is a shape that needs no quoting.
  const std::string label = results.run.label.value_or("");
  std::string csv = stats::csvHeader() + ",label\r\n";
  for (const HostRow& row : results.hosts)
    csv += stats::csvRow(row.host, row.figures) + ',' + label + "\r\n";
  return csv;
}

}  // namespace zelvor::site
