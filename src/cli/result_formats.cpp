#include "cli/result_formats.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "stats/figure_text.hpp"
#include "stats/host_downloads.hpp"
#include "stats/host_figures.hpp"

namespace zelvor::cli {

namespace {

using Json = stats::DownloadJson;

Json stringOrNull(const std::optional<std::string>& value) {
  return value ? Json(*value) : Json(nullptr);
}

std::string whole(const std::optional<std::int32_t>& value, const char* none) {
  return value ? std::to_string(*value) : none;
}

std::string decimal(const std::optional<double>& value, const char* none) {
  return value ? stats::formatOneDecimal(*value) : none;
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

constexpr const char* noFigure = "-";

}  // namespace

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
  for (const ServerEntry& server : run.measured.servers)
    hosts.push_back(
        stats::hostJson(server.host, stats::hostFigures(server.samples), server.samples));
  const Json settings{{"loops", run.settings.loops},
                      {"timeout_ms", run.settings.timeoutMs},
                      {"airborne", run.settings.airborne},
                      {"threads", run.settings.threads},
                      {"engine", engineName(run.settings.engine)},
                      {"ip", ipChoiceName(run.settings.ip)}};
  const Json document{{"class", run.measured.name},
                      {"partial", run.partial},
                      {"settings", settings},
                      {"results_address", stringOrNull(run.resultsAddress)},
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
      text += stats::csvTextField(c.name) + ',' + count + '\n';
    } else {
      text += c.name + std::string(width - c.name.size() + 2, ' ') + count + '\n';
    }
  }
  return text;
}

std::string formatCsv(const ServerClass& measured) {
  std::string csv = stats::csvHeader() + '\n';
  for (const ServerEntry& server : measured.servers)
    csv += stats::csvRow(server.host, stats::hostFigures(server.samples)) + '\n';
  return csv;
}

}  // namespace zelvor::cli
