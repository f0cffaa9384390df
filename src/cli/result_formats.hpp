// A measured class as zelvor-cli writes it on stdout: an aligned table for
// people, one JSON document or CSV rows for programs. The report format is
// formatClassReport's text itself.
#pragma once

#include <optional>
#include <string>

#include "catalogue/catalogue.hpp"
#include "cli/measuring_settings.hpp"

namespace zelvor::cli {

enum class Format { table, json, csv, report };

struct MeasuredRun {
  const ServerClass& measured;
  const Measuring& settings;
  // Stopped before every echo was taken.
  bool partial = false;
  // Where the site shows the run, once it took the report.
  std::optional<std::string> resultsAddress;
};

// One row per host in the class's order, with the results page's figures:
// sent, received, loss %, min, median, mean, max, standard deviation,
// jitter, p90, p95 and the failures by word; "-" for a figure that does not
// exist. Columns are aligned, hosts left, numbers right.
std::string formatTable(const ServerClass& measured);

// {"class", "partial", "settings": {"loops", "timeout_ms", "airborne",
// "threads", "engine", "ip"}, "results_address" (null when not posted), "hosts":
// [...]}, each host with the site's JSON names and values. One line.
std::string formatJson(const MeasuredRun& run);

// The site's CSV columns, header first, rows ended by LF.
std::string formatCsv(const ServerClass& measured);

// The site's classes with their server counts, in the list's order: a
// table of two aligned columns, a JSON array of {"class", "servers"}, or CSV
// rows under "class,servers". The report format has no such list and gives
// the table.
std::string formatClasses(const ServerCatalogue& catalogue, Format format);

}  // namespace zelvor::cli
