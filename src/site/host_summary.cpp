#include "site/host_summary.hpp"

#include <algorithm>
#include <cstddef>
#include <unordered_map>

#include "support/failure.hpp"

namespace zelvor::site {

namespace {

constexpr char unevenText[] = "The stored round trips are not a whole number of values";

}  // namespace

std::vector<HostSummary> hostSummaries(const ServerClass& measured) {
  std::vector<HostSummary> summaries;
  std::unordered_map<std::string_view, std::size_t> indexOf;
  for (const ServerEntry& entry : measured.servers) {
    const auto [found, added] = indexOf.try_emplace(entry.host, summaries.size());
    if (added) summaries.push_back({entry.host, 0, 0, {}});
    HostSummary& summary = summaries[found->second];
    for (const EchoSample& sample : entry.samples) {
      ++summary.echoes;
      if (sample.failure != nullptr) {
        ++summary.lost;
      } else {
        summary.roundTrips.push_back(sample.rtt);
      }
    }
  }
  for (HostSummary& summary : summaries)
    std::sort(summary.roundTrips.begin(), summary.roundTrips.end());
  return summaries;
}

std::string packRoundTrips(std::span<const std::int32_t> roundTrips) {
  std::string bytes;
  bytes.reserve(roundTrips.size() * 4);
  for (const std::int32_t rtt : roundTrips) {
    const auto value = static_cast<std::uint32_t>(rtt);
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xFF);
  }
  return bytes;
}

void appendRoundTrips(std::vector<std::int32_t>& out, std::string_view bytes) {
  if (bytes.size() % 4 != 0) throw kelvo::Failure(unevenText);
  out.reserve(out.size() + bytes.size() / 4);
  for (std::size_t at = 0; at < bytes.size(); at += 4) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
      value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    out.push_back(static_cast<std::int32_t>(value));
  }
}

std::vector<std::int32_t> unpackRoundTrips(std::string_view bytes) {
  std::vector<std::int32_t> roundTrips;
  appendRoundTrips(roundTrips, bytes);
  return roundTrips;
}

std::vector<HostPoint> Store::hostPoints(const PointQuery& query) {
  std::vector<HostPoint> points;
  visitHostPoints(query, [&](const HostPointView& point) {
    points.push_back({{std::string(point.host), point.echoes, point.lost,
                       std::vector<std::int32_t>(point.roundTrips.begin(), point.roundTrips.end())},
                      point.label ? std::optional<std::string>(*point.label) : std::nullopt,
                      point.measuredAtMs});
  });
  return points;
}

}  // namespace zelvor::site
