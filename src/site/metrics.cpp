#include "site/metrics.hpp"

#include <algorithm>
#include <span>
#include <utility>

namespace zelvor::site {

namespace {

constexpr char okOutcome[] = "ok";

template <std::size_t Bounds>
void observe(std::array<std::uint64_t, Bounds + 1>& bins,
             const std::array<std::uint64_t, Bounds>& bounds, std::uint64_t value) {
  // The bound itself belongs to its bucket: le is "less than or equal".
  const auto bucket = std::lower_bound(bounds.begin(), bounds.end(), value) - bounds.begin();
  ++bins[static_cast<std::size_t>(bucket)];
}

void writeHead(std::string& out, std::string_view name, std::string_view type,
               std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// One sample line; `le`, when given, is the bucket's label after the others.
void writeSample(std::string& out, std::string_view name, std::span<const char* const> names,
                 std::span<const std::string> values, std::string_view value,
                 std::optional<std::string_view> le = std::nullopt) {
  out.append(name);
  if (!names.empty() || le) {
    out += '{';
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out += ',';
      out.append(names[i]).append("=\"").append(escapeLabelValue(values[i])).append("\"");
    }
    if (le) out.append(names.empty() ? "" : ",").append("le=\"").append(*le).append("\"");
    out += '}';
  }
  out.append(" ").append(value).append("\n");
}

template <std::size_t Bounds>
void writeHistogram(std::string& out, std::string_view name, std::span<const char* const> names,
                    std::span<const std::string> values,
                    const std::array<std::uint64_t, Bounds + 1>& bins,
                    const std::array<std::uint64_t, Bounds>& bounds, std::uint64_t sum,
                    unsigned digits) {
  const std::string bucket = std::string(name) + "_bucket";
  std::uint64_t below = 0;
  for (std::size_t i = 0; i < Bounds; ++i) {
    below += bins[i];
    writeSample(out, bucket, names, values, std::to_string(below), decimalText(bounds[i], digits));
  }
  below += bins[Bounds];
  writeSample(out, bucket, names, values, std::to_string(below), "+Inf");
  writeSample(out, std::string(name) + "_sum", names, values, decimalText(sum, digits));
  writeSample(out, std::string(name) + "_count", names, values, std::to_string(below));
}

}  // namespace

std::string escapeLabelValue(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (const char c : value) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

std::string decimalText(std::uint64_t units, unsigned digits) {
  std::uint64_t scale = 1;
  for (unsigned i = 0; i < digits; ++i) scale *= 10;
  std::string text = std::to_string(units / scale);
  if (digits == 0) return text;
  std::string fraction = std::to_string(units % scale);
  fraction.insert(0, digits - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) text.append(".").append(fraction);
  return text;
}

std::string Metrics::labelValue(const std::optional<std::string>& label) {
  if (!label || label->empty()) return {};
  if (labels_.contains(*label)) return *label;
  if (labels_.size() >= maxLabels) return other;
  labels_.insert(*label);
  return *label;
}

void Metrics::countReport(const ServerClass& measured, const std::optional<std::string>& label,
                          const ServerList& list) {
  const bool listedClass = list.hasClass(measured.name);
  const std::string className = listedClass ? measured.name : other;
  const std::lock_guard lock(mutex_);
  const std::string labelText = labelValue(label);
  ++counts_.reports[{className, labelText}];
  for (const ServerEntry& entry : measured.servers) {
    const std::string host =
        listedClass && list.hasServer(measured.name, entry.host) ? entry.host : other;
    auto& roundTrip = counts_.roundTrips[{className, host, labelText}];
    for (const EchoSample& sample : entry.samples) {
      ++counts_.echoes[{className, host, labelText, sample.failure ? sample.failure : okOutcome}];
      if (sample.failure) continue;
      const std::uint64_t ms = static_cast<std::uint64_t>(std::max(0, sample.rtt));
      observe(roundTrip.bins, roundTripBoundsMs, ms);
      roundTrip.sum += ms;
    }
  }
}

void Metrics::countRequest(int status, Duration took) {
  const std::uint64_t us = static_cast<std::uint64_t>(std::max<Duration::rep>(0, took.count()));
  const std::lock_guard lock(mutex_);
  ++counts_.requests[status];
  observe(counts_.requestDurations.bins, requestBoundsUs, us);
  counts_.requestDurations.sum += us;
}

void Metrics::countRefusal(int status) {
  const std::lock_guard lock(mutex_);
  ++counts_.requests[status];
}

std::string Metrics::render() const {
  Counts counts;
  {
    const std::lock_guard lock(mutex_);
    counts = counts_;
  }
  static constexpr const char* reportLabels[] = {"class", "label"};
  static constexpr const char* echoLabels[] = {"class", "host", "label", "outcome"};
  static constexpr const char* roundTripLabels[] = {"class", "host", "label"};
  static constexpr const char* requestLabels[] = {"code"};
  std::string out;

  writeHead(out, "zelvor_reports_received_total", "counter",
            "Reports stored by this instance since it started.");
  for (const auto& [key, count] : counts.reports)
    writeSample(out, "zelvor_reports_received_total", reportLabels, key, std::to_string(count));

  writeHead(out, "zelvor_echoes_total", "counter",
            "Echo samples of the stored reports, by outcome: ok or the failure word.");
  for (const auto& [key, count] : counts.echoes)
    writeSample(out, "zelvor_echoes_total", echoLabels, key, std::to_string(count));

  writeHead(out, "zelvor_round_trip_seconds", "histogram",
            "Round trips of the echoes that came back.");
  for (const auto& [key, histogram] : counts.roundTrips)
    writeHistogram(out, "zelvor_round_trip_seconds", roundTripLabels, key, histogram.bins,
                   roundTripBoundsMs, histogram.sum, 3);

  writeHead(out, "zelvor_http_requests_total", "counter",
            "Requests to this instance by the status of their reply.");
  for (const auto& [status, count] : counts.requests) {
    const std::string code[] = {std::to_string(status)};
    writeSample(out, "zelvor_http_requests_total", requestLabels, code, std::to_string(count));
  }

  writeHead(out, "zelvor_http_request_duration_seconds", "histogram",
            "Time taken to answer a request once it had arrived whole.");
  writeHistogram(out, "zelvor_http_request_duration_seconds", {}, {}, counts.requestDurations.bins,
                 requestBoundsUs, counts.requestDurations.sum, 6);
  return out;
}

}  // namespace zelvor::site
