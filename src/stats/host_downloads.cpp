#include "stats/host_downloads.hpp"

#include <cstdint>
#include <optional>

#include "catalogue/failure_texts.hpp"
#include "stats/figure_text.hpp"

namespace zelvor::stats {

namespace {

template <typename Number>
DownloadJson numberOrNull(const std::optional<Number>& value) {
  return value ? DownloadJson(*value) : DownloadJson(nullptr);
}

std::string wholeField(const std::optional<std::int32_t>& value) {
  return value ? formatWhole(*value) : std::string();
}

std::string decimalField(const std::optional<double>& value) {
  return value ? formatOneDecimal(*value) : std::string();
}

std::string countField(std::size_t count) { return formatWhole(static_cast<std::int64_t>(count)); }

}  // namespace

DownloadJson hostJson(std::string_view host, const HostFigures& f,
                      std::span<const EchoSample> samples) {
  DownloadJson failures = DownloadJson::object();
  for (std::size_t i = 0; i < failure::all.size(); ++i) failures[failure::all[i]] = f.failures[i];
  DownloadJson sampleList = DownloadJson::array();
  for (const EchoSample& sample : samples) {
    if (sample.failure == nullptr) {
      sampleList.push_back(sample.rtt);
    } else {
      sampleList.push_back(sample.failure);
    }
  }
  return DownloadJson{{"host", host},
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
                      {"samples", std::move(sampleList)}};
}

std::string csvHeader() {
  std::string header = "host,sent,received,loss_percent";
  for (const char* word : failure::all) {
    header += ',';
    header += word;
  }
  return header + ",min_ms,median_ms,mean_ms,max_ms,stddev_ms,jitter_ms,p90_ms,p95_ms";
}

std::string csvRow(std::string_view host, const HostFigures& f) {
  std::string row = csvTextField(host);
  row += ',' + countField(f.sent);
  row += ',' + countField(f.received);
  row += ',' + decimalField(f.lossPercent);
  for (const std::size_t count : f.failures) row += ',' + countField(count);
  row += ',' + wholeField(f.min);
  row += ',' + decimalField(f.median);
  row += ',' + decimalField(f.mean);
  row += ',' + wholeField(f.max);
  row += ',' + decimalField(f.stddev);
  row += ',' + decimalField(f.jitter);
  row += ',' + wholeField(f.p90);
  row += ',' + wholeField(f.p95);
  return row;
}

std::string csvTextField(std::string_view text) {
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

}  // namespace zelvor::stats
