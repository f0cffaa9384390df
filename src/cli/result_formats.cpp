// The table, JSON and CSV of a measured class.
#include "cli/result_formats.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "stats/host_figures.hpp"

namespace zelvor::cli {

namespace {

// Keeps the keys in the order written, as the site's download does.
using Json = nlohmann::ordered_json;

template <typename Number>
Json numberOrNull(const std::optional<Number>& value) {
  return value ? Json(*value) : Json(nullptr);
}

Json hostJson(const ServerEntry& server) {
  const stats::HostFigures f = stats::hostFigures(server.samples);
  Json failures = Json::object();
  for (std::size_t i = 0; i < failure::all.size(); ++i) failures[failure::all[i]] = f.failures[i];
  Json samples = Json::array();
  for (const EchoSample& sample : server.samples) {
    if (sample.failure == nullptr) {
      samples.push_back(sample.rtt);
    } else {
      samples.push_back(sample.failure);
    }
  }
  return Json{{"host", server.host},
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

std::string whole(const std::optional<std::int32_t>& value, const char* none) {
  return value ? std::to_string(*value) : none;
}

std::string decimal(const std::optional<double>& value, const char* none) {
  return value ? oneDecimal(*value) : none;
}

// "TIMEOUT 2, UNREACHABLE 1": the failure words that occurred, in their
// order.
std::string failureCounts(const stats::HostFigures& f) {
  std::string text;
  for (std::size_t i = 0; i < failure::all.size(); ++i) {
    if (f.failures[i] == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::string(failure::all[i]) + ' ' + std::to_string(f.failures[i]);
  }
  return text;
}

// A spreadsheet runs a cell that begins with = + - @ as a formula; a
// leading quote keeps it text. Quotes and commas need the cell quoted.
std::string csvText(const std::string& text) {
  std::string field = text;
  if (!field.empty() && std::string_view("=+-@").find(field.front()) != std::string_view::npos)
    field.insert(0, 1, '\'');
  if (field.find_first_of(",\"") == std::string::npos) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

constexpr const char* noFigure = "-";

}  // namespace

std::string oneDecimal(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", value);
  std::string text = buffer;
  if (text == "-0.0") text = "0.0";
  return text;
}

std::string formatTable(const ServerClass& measured) {
  std::vector<std::vector<std::string>> rows{{"host", "sent", "recv", "loss%", "min", "median",
                                              "mean", "max", "stddev", "jitter", "p90", "p95",
                                              "failures"}};
  for (const ServerEntry& server : measured.servers) {
    const stats::HostFigures f = stats::hostFigures(server.samples);
    rows.push_back({server.host, std::to_string(f.sent), std::to_string(f.received),
                    decimal(f.lossPercent, noFigure), whole(f.min, noFigure),
                    decimal(f.median, noFigure), decimal(f.mean, noFigure), whole(f.max, noFigure),
                    decimal(f.stddev, noFigure), decimal(f.jitter, noFigure),
                    whole(f.p90, noFigure), whole(f.p95, noFigure), failureCounts(f)});
  }
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());

  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c > 0) line += "  ";
      const std::string padding(widths[c] - row[c].size(), ' ');
      // The first and the last column are words, the rest numbers.
      const bool leftAligned = c == 0 || c + 1 == row.size();
      line += leftAligned ? row[c] + padding : padding + row[c];
    }
    line.erase(line.find_last_not_of(' ') + 1);
    table += line + '\n';
  }
  return table;
}

std::string formatJson(const MeasuredRun& run) {
  Json hosts = Json::array();
  for (const ServerEntry& server : run.measured.servers) hosts.push_back(hostJson(server));
  const Json settings{{"loops", run.settings.loops},
                      {"timeout_ms", run.settings.timeoutMs},
                      {"airborne", run.settings.airborne},
                      {"threads", run.settings.threads},
                      {"engine", engineName(run.settings.engine)}};
  const Json document{{"class", run.measured.name},
                      {"partial", run.partial},
                      {"settings", settings},
                      {"results_address", numberOrNull(run.resultsAddress)},
                      {"hosts", std::move(hosts)}};
  // Names are bytes from a list or the command line; invalid UTF-8 becomes
  // U+FFFD, not a throw.
  return document.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
}

std::string formatClasses(const ServerCatalogue& catalogue, Format format) {
  if (format == Format::json) {
    Json classes = Json::array();
    for (const ServerClass& c : catalogue)
      classes.push_back(Json{{"class", c.name}, {"servers", c.servers.size()}});
    return classes.dump(-1, ' ', false, Json::error_handler_t::replace) + '\n';
  }
  std::string text = format == Format::csv ? "class,servers\n" : "";
  std::size_t width = 0;
  for (const ServerClass& c : catalogue) width = std::max(width, c.name.size());
  for (const ServerClass& c : catalogue) {
    const std::string count = std::to_string(c.servers.size());
    if (format == Format::csv) {
      text += csvText(c.name) + ',' + count + '\n';
    } else {
      text += c.name + std::string(width - c.name.size() + 2, ' ') + count + '\n';
    }
  }
  return text;
}

std::string formatCsv(const ServerClass& measured) {
  std::string csv = "host,sent,received,loss_percent";
  for (const char* word : failure::all) csv += std::string(",") + word;
  csv += ",min_ms,median_ms,mean_ms,max_ms,stddev_ms,jitter_ms,p90_ms,p95_ms\n";
  for (const ServerEntry& server : measured.servers) {
    const stats::HostFigures f = stats::hostFigures(server.samples);
    csv += csvText(server.host);
    csv += ',' + std::to_string(f.sent) + ',' + std::to_string(f.received);
    csv += ',' + decimal(f.lossPercent, "");
    for (const std::size_t count : f.failures) csv += ',' + std::to_string(count);
    csv += ',' + whole(f.min, "") + ',' + decimal(f.median, "") + ',' + decimal(f.mean, "");
    csv += ',' + whole(f.max, "") + ',' + decimal(f.stddev, "") + ',' + decimal(f.jitter, "");
    csv += ',' + whole(f.p90, "") + ',' + whole(f.p95, "") + '\n';
  }
  return csv;
}

}  // namespace zelvor::cli
