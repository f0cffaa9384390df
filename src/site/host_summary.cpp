#include "site/host_summary.hpp"

#include <algorithm>
#include <cstddef>
#include <unordered_map>

#include "support/failure.hpp"

namespace zelvor::site {

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

namespace {

constexpr char unevenText[] = "The stored host summaries end before their last value";

// Seven bits a byte, low first, the top bit set on every byte but the last:
// counts and the steps between sorted round trips take a byte or two.
void appendVarint(std::string& bytes, std::uint32_t value) {
  while (value >= 0x80) {
    bytes += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  bytes += static_cast<char>(value);
}

// Small magnitudes of either sign to small numbers: 0, -1, 1, -2 ... as 0,
// 1, 2, 3 ...
std::uint32_t zigzag(std::int32_t value) {
  return (static_cast<std::uint32_t>(value) << 1) ^ static_cast<std::uint32_t>(value >> 31);
}

std::int32_t unzigzag(std::uint32_t value) {
  return static_cast<std::int32_t>((value >> 1) ^ (~(value & 1) + 1));
}

// Reads the packed bytes front to back; every read is checked against the end.
class PackedReader {
 public:
  explicit PackedReader(std::string_view bytes) : bytes_(bytes) {}

  bool done() const { return at_ == bytes_.size(); }

  std::uint32_t varint() {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      if (at_ == bytes_.size()) throw kelvo::Failure(unevenText);
      const auto byte = static_cast<unsigned char>(bytes_[at_++]);
      value |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
    throw kelvo::Failure(unevenText);
  }

  std::string_view take(std::size_t length) {
    if (bytes_.size() - at_ < length) throw kelvo::Failure(unevenText);
    const std::string_view field = bytes_.substr(at_, length);
    at_ += length;
    return field;
  }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
};

void appendHost(std::string& bytes, std::string_view host, std::size_t echoes, std::size_t lost,
                std::span<const std::int32_t> roundTrips) {
  appendVarint(bytes, static_cast<std::uint32_t>(host.size()));
  bytes += host;
  appendVarint(bytes, static_cast<std::uint32_t>(echoes));
  appendVarint(bytes, static_cast<std::uint32_t>(lost));
  appendVarint(bytes, static_cast<std::uint32_t>(roundTrips.size()));
  std::int32_t previous = 0;
  for (std::size_t i = 0; i < roundTrips.size(); ++i) {
    const std::int32_t rtt = roundTrips[i];
    // Ascending: each step is a whole number up to 2^32 - 1.
    appendVarint(bytes,
                 i == 0 ? zigzag(rtt)
                        : static_cast<std::uint32_t>(static_cast<std::int64_t>(rtt) - previous));
    previous = rtt;
  }
}

}  // namespace

std::string packHostSummaries(std::span<const HostSummary> hosts) {
  std::string bytes;
  std::size_t size = 0;
  for (const HostSummary& host : hosts) size += 8 + host.host.size() + 2 * host.roundTrips.size();
  bytes.reserve(size);
  for (const HostSummary& host : hosts)
    appendHost(bytes, host.host, host.echoes, host.lost, host.roundTrips);
  return bytes;
}

std::string packHostSummaries(const ServerClass& measured) {
  // A host split over several entries is gathered first; reports name each
  // host in one stretch, as the program writes them.
  std::vector<std::string_view> names;
  names.reserve(measured.servers.size());
  for (const ServerEntry& entry : measured.servers) names.push_back(entry.host);
  std::sort(names.begin(), names.end());
  if (std::adjacent_find(names.begin(), names.end()) != names.end())
    return packHostSummaries(hostSummaries(measured));

  std::string bytes;
  std::size_t size = 0;
  for (const ServerEntry& entry : measured.servers)
    size += 8 + entry.host.size() + 2 * entry.samples.size();
  bytes.reserve(size);
  std::vector<std::int32_t> roundTrips;
  for (const ServerEntry& entry : measured.servers) {
    roundTrips.clear();
    for (const EchoSample& sample : entry.samples)
      if (sample.failure == nullptr) roundTrips.push_back(sample.rtt);
    std::sort(roundTrips.begin(), roundTrips.end());
    appendHost(bytes, entry.host, entry.samples.size(), entry.samples.size() - roundTrips.size(),
               roundTrips);
  }
  return bytes;
}

void visitPackedHosts(std::string_view packed, const std::optional<std::string>& host,
                      const PackedHostVisitor& visit) {
  PackedReader reader(packed);
  std::vector<std::int32_t> roundTrips;
  while (!reader.done()) {
    const std::string_view name = reader.take(reader.varint());
    const std::size_t echoes = reader.varint();
    const std::size_t lost = reader.varint();
    const std::size_t count = reader.varint();
    const bool wanted = !host || name == *host;
    roundTrips.clear();
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t step = reader.varint();
      if (!wanted) continue;
      value = i == 0 ? static_cast<std::uint32_t>(unzigzag(step)) : value + step;
      roundTrips.push_back(static_cast<std::int32_t>(value));
    }
    if (wanted) visit(name, echoes, lost, roundTrips);
  }
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
