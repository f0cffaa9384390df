// A run's figures and samples as downloads: JSON for programs, CSV for
// spreadsheets. The shapes are described next to their declarations.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/failure_texts.hpp"
#include "site/figure_text.hpp"
#include "site/pages.hpp"

namespace zelvor::site {

namespace {

// Keeps the keys in the order written, so the document reads top down.
using Json = nlohmann::ordered_json;

template <typename Number>
Json numberOrNull(const std::optional<Number>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json hostJson(const HostRow& row) {
  const stats::HostFigures& f = row.figures;
  Json failures = Json::object();
  for (std::size_t i = 0; i < failure::all.size(); ++i) failures[failure::all[i]] = f.failures[i];
  Json samples = Json::array();
  for (const EchoSample& sample : row.samples) {
    if (sample.failure == nullptr) {
      samples.push_back(sample.rtt);
    } else {
      samples.push_back(sample.failure);
    }
  }
  return Json{{"host", row.host},
              {"sent", f.sent},
              {"received", f.received},
              {"loss_percent", numberOrNull(f.lossPercent)},
              {"failures", std::move(failures)},
              {"min_ms", numberOrNull(f.min)},
              {"median_ms", numberOrNull(f.median)},
              {"mean_ms", numberOrNull(f.mean)},
              {"max_ms", numberOrNull(f.max)},
              {"stddev_ms", numberOrNull(f.stddev)},
              {"jitter_ms", numberOrNull(f.jitter)},
              {"p90_ms", numberOrNull(f.p90)},
              {"p95_ms", numberOrNull(f.p95)},
              {"samples", std::move(samples)}};
}

// A spreadsheet runs a cell that begins with = + - @ (or a tab or carriage
// return, which some strip first) as a formula, so a host named
// "=HYPERLINK(...)" would act in the reader's spreadsheet. A leading single
// quote keeps such a cell text. Numeric cells never get it: "-3" is a number.
std::string textField(std::string_view text) {
  std::string field(text);
  if (!field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos)
    field.insert(0, 1, '\'');
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string wholeField(const std::optional<std::int32_t>& value) {
  return value ? formatWhole(*value) : std::string();
}

std::string decimalField(const std::optional<double>& value) {
  return value ? formatOneDecimal(*value) : std::string();
}

}  // namespace

std::string resultsJson(const ResultsView& results) {
  const RunSummary& run = results.run;
  Json hosts = Json::array();
  for (const HostRow& row : results.hosts) hosts.push_back(hostJson(row));
  Json history = Json::array();
  for (const RunSummary& earlier : results.history)
    history.push_back(Json{{"handle", earlier.handle},
                           {"received_at", formatIsoTime(earlier.receivedAtMs)},
                           {"median_ms", numberOrNull(earlier.medianMs)}});
  const Json document{{"handle", run.handle},
                      {"class", run.className},
                      {"received_at", formatIsoTime(run.receivedAtMs)},
                      {"received_at_ms", run.receivedAtMs},
                      {"hosts", std::move(hosts)},
                      {"history", std::move(history)}};
  // Names are bytes from a report; invalid UTF-8 becomes U+FFFD, not a throw.
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::string resultsCsv(const ResultsView& results) {
  std::string csv = "host,sent,received,loss_percent";
  for (const char* word : failure::all) {
    csv += ',';
    csv += word;
  }
  csv += ",min_ms,median_ms,mean_ms,max_ms,stddev_ms,jitter_ms,p90_ms,p95_ms\r\n";
  for (const HostRow& row : results.hosts) {
    const stats::HostFigures& f = row.figures;
    csv += textField(row.host);
    csv += ',' + formatWhole(static_cast<std::int64_t>(f.sent));
    csv += ',' + formatWhole(static_cast<std::int64_t>(f.received));
    csv += ',' + decimalField(f.lossPercent);
    for (const std::size_t count : f.failures)
      csv += ',' + formatWhole(static_cast<std::int64_t>(count));
    csv += ',' + wholeField(f.min);
    csv += ',' + decimalField(f.median);
    csv += ',' + decimalField(f.mean);
    csv += ',' + wholeField(f.max);
    csv += ',' + decimalField(f.stddev);
    csv += ',' + decimalField(f.jitter);
    csv += ',' + wholeField(f.p90);
    csv += ',' + wholeField(f.p95);
    csv += "\r\n";
  }
  return csv;
}

}  // namespace zelvor::site
