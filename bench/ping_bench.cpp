// An echo engine over a range of test hosts, once: what one measuring run
// costs in wall time, CPU and memory, and what it measured. Run by
// bench/ping-run inside the test network, beside fping, and by
// bench/ping-timing, by name and under load.
//
//   ping_bench --airborne N --rounds R --timeout MS --hosts FIRST-LAST
//              [--medians FILE] [--samples FILE] [--names DOMAIN]
//              [--stamps kernel|none] [--engine raw|service]
//
// FIRST-LAST is 198.18.2.1-200 or 198.18.2.1-198.18.2.200 over IPv4, and
// 2001:db8:2::1-c8 or 2001:db8:2::1-2001:db8:2::c8 over IPv6, where the range
// runs over the last group, its end in hex as IPv6 writes it. With --names the
// k-th host of the range is given by the name nK.DOMAIN, which the test
// network's resolver must know. --stamps none times replies as they are read
// rather than by the kernel's arrival stamps. --engine service measures with
// the echo-service engine on N workers instead of N requests in flight.
// Prints one line of name=value pairs; the medians FILE gets one line
// "host median_ms" per host ("-" for a host that never answered), the
// samples FILE one line "host rtt_ms" per sample ("-" for a failure).
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.hpp"
#include "ping/dll_echo_engine.hpp"
#include "ping/raw_echo_engine.hpp"
#include "ping/run_state.hpp"
#include "support/failure.hpp"

namespace {

using zelvor::bench::parseNumber;

// The test network's blocks; the benchmark sends nowhere else.
constexpr std::uint32_t testNetwork = 0xC6120000;                               // 198.18.0.0
constexpr std::uint32_t testMask = 0xFFFE0000;                                  // /15
constexpr std::array<std::uint8_t, 4> testNetwork6 = {0x20, 0x01, 0x0d, 0xb8};  // 2001:db8::/32
constexpr std::uint32_t maxHosts = 4096;

struct Options {
  std::uint32_t airborne = 0;
  std::uint32_t rounds = 0;
  std::uint32_t timeoutMs = 0;
  std::vector<std::string> hosts;  // the range's addresses, as text
  std::string mediansFile;
  std::string samplesFile;
  std::string nameDomain;  // empty: the hosts go by address
  zelvor::ArrivalStamps stamps = zelvor::ArrivalStamps::kernel;
  bool serviceEngine = false;
};

[[noreturn]] void fail(const std::string& text) {
  std::fprintf(stderr, "ping_bench: %s\n", text.c_str());
  std::exit(2);
}

std::optional<std::uint32_t> parseAddress(const std::string& text) {
  in_addr address{};
  if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
  return ntohl(address.s_addr);
}

std::string formatAddress(std::uint32_t host) {
  in_addr address{htonl(host)};
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

std::optional<in6_addr> parseAddress6(const std::string& text) {
  in6_addr address{};
  if (::inet_pton(AF_INET6, text.c_str(), &address) != 1) return std::nullopt;
  return address;
}

std::uint32_t lastGroup(const in6_addr& address) {
  return static_cast<std::uint32_t>(address.s6_addr[14]) << 8 | address.s6_addr[15];
}

std::vector<std::string> parseHosts4(std::uint32_t first, std::string_view rest) {
  std::optional<std::uint32_t> last;
  if (rest.find('.') == std::string_view::npos) {
    // A bare number replaces the first address's last octet.
    if (const auto octet = parseNumber(rest); octet && *octet <= 255) {
      last = (first & 0xFFFFFF00) | *octet;
    }
  } else {
    last = parseAddress(std::string(rest));
  }
  if (!last || *last < first) fail("--hosts: bad last address");
  if ((first & testMask) != testNetwork || (*last & testMask) != testNetwork) {
    fail("--hosts must lie inside 198.18.0.0/15");
  }
  if (*last - first >= maxHosts) fail("--hosts: too many hosts");
  std::vector<std::string> hosts;
  for (std::uint32_t host = first; host <= *last; ++host) hosts.push_back(formatAddress(host));
  return hosts;
}

// The range runs over the last group alone, as the test network's hosts
// differ only there.
std::vector<std::string> parseHosts6(const in6_addr& first, std::string_view rest) {
  std::optional<std::uint32_t> last;
  if (rest.find(':') == std::string_view::npos) {
    std::uint32_t group = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), group, 16);
    if (error == std::errc{} && end == rest.data() + rest.size() && !rest.empty() &&
        group <= 0xFFFF) {
      last = group;
    }
  } else if (const auto address = parseAddress6(std::string(rest));
             address && std::equal(first.s6_addr, first.s6_addr + 14, address->s6_addr)) {
    last = lastGroup(*address);
  }
  if (!last || *last < lastGroup(first)) fail("--hosts: bad last address");
  if (!std::equal(testNetwork6.begin(), testNetwork6.end(), first.s6_addr)) {
    fail("--hosts must lie inside 2001:db8::/32");
  }
  if (*last - lastGroup(first) >= maxHosts) fail("--hosts: too many hosts");
  std::vector<std::string> hosts;
  for (std::uint32_t group = lastGroup(first); group <= *last; ++group) {
    in6_addr address = first;
    address.s6_addr[14] = static_cast<std::uint8_t>(group >> 8);
    address.s6_addr[15] = static_cast<std::uint8_t>(group);
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, &address, text, sizeof text);
    hosts.emplace_back(text);
  }
  return hosts;
}

std::vector<std::string> parseHosts(std::string_view text) {
  // Neither family writes a dash inside an address.
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) fail("--hosts takes FIRST-LAST");
  const std::string first(text.substr(0, dash));
  const std::string_view rest = text.substr(dash + 1);
  if (const auto first4 = parseAddress(first)) return parseHosts4(*first4, rest);
  if (const auto first6 = parseAddress6(first)) return parseHosts6(*first6, rest);
  fail("--hosts: bad first address");
}

Options parseOptions(int argc, char** argv) {
  Options options;
  bool haveHosts = false;
  for (int i = 1; i < argc; i += 2) {
    const std::string_view name = argv[i];
    if (i + 1 >= argc) fail(std::string(name) + " needs a value");
    const std::string_view value = argv[i + 1];
    if (name == "--hosts") {
      options.hosts = parseHosts(value);
      haveHosts = true;
    } else if (name == "--medians") {
      options.mediansFile = value;
    } else if (name == "--samples") {
      options.samplesFile = value;
    } else if (name == "--names") {
      options.nameDomain = value;
    } else if (name == "--stamps") {
      if (value != "kernel" && value != "none") fail("--stamps takes kernel or none");
      options.stamps =
          value == "kernel" ? zelvor::ArrivalStamps::kernel : zelvor::ArrivalStamps::none;
    } else if (name == "--engine") {
      if (value != "raw" && value != "service") fail("--engine takes raw or service");
      options.serviceEngine = value == "service";
    } else {
      const auto number = parseNumber(value);
      if (!number) fail(std::string(name) + " takes a number");
      if (name == "--airborne") {
        options.airborne = *number;
      } else if (name == "--rounds") {
        options.rounds = *number;
      } else if (name == "--timeout") {
        options.timeoutMs = *number;
      } else {
        fail("unknown option " + std::string(name));
      }
    }
  }
  if (!haveHosts || options.airborne == 0 || options.rounds == 0 || options.timeoutMs == 0) {
    fail(
        "usage: ping_bench --airborne N --rounds R --timeout MS --hosts FIRST-LAST "
        "[--medians FILE] [--samples FILE] [--names DOMAIN] [--stamps kernel|none] "
        "[--engine raw|service]");
  }
  return options;
}

// The test addresses are routed nowhere outside the namespaces netns-run
// makes; run anywhere else, the requests would leave the machine.
void requireTestNamespace() {
  const char* name = std::getenv("ZELVOR_NETNS_CLIENT");
  if (name == nullptr || *name == '\0') fail("run me through tests/netns/netns-run");
  struct stat ours {};
  struct stat theirs {};
  const std::string path = std::string("/run/netns/") + name;
  if (::stat("/proc/self/ns/net", &ours) != 0 || ::stat(path.c_str(), &theirs) != 0 ||
      ours.st_ino != theirs.st_ino || ours.st_dev != theirs.st_dev) {
    fail("not inside the client namespace " + std::string(name));
  }
}

std::int64_t cpuMicroseconds(const rusage& usage) {
  const auto micro = [](const timeval& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000 + t.tv_usec;
  };
  return micro(usage.ru_utime) + micro(usage.ru_stime);
}

// The median of the successful samples, or nothing when there is none.
std::optional<double> medianRtt(const zelvor::ServerEntry& server) {
  std::vector<std::int32_t> times;
  for (const zelvor::EchoSample& sample : server.samples) {
    if (sample.failure == nullptr) times.push_back(sample.rtt);
  }
  if (times.empty()) return std::nullopt;
  std::sort(times.begin(), times.end());
  const std::size_t middle = times.size() / 2;
  if (times.size() % 2 == 1) return times[middle];
  return (times[middle - 1] + times[middle]) / 2.0;
}

double medianOf(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  requireTestNamespace();

  std::vector<zelvor::ServerEntry> servers;
  for (std::size_t k = 0; k < options.hosts.size(); ++k) {
    if (options.nameDomain.empty()) {
      servers.push_back({options.hosts[k], {}});
      continue;
    }
    // Appended piece by piece: GCC 12 at -O3 misreads "n" + ... as an
    // overlapping copy.
    std::string name = "n";
    name += std::to_string(k + 1);
    name += '.';
    name += options.nameDomain;
    servers.push_back({name, {}});
  }

  zelvor::MsClock clock;
  zelvor::ProgressCounter progress;
  kelvo::Event stop;
  zelvor::RunState state{{options.rounds, options.timeoutMs}, {}, progress, clock, stop};
  zelvor::RawEchoEngine::Platform raw = zelvor::RawEchoEngine::systemPlatform();
  raw.openChannel = [&options] { return zelvor::openRawIcmpChannel(options.stamps); };
  zelvor::DllEchoEngine::Platform service = zelvor::DllEchoEngine::systemPlatform();
  service.bindService = [&options] { return zelvor::bindEchoService(options.stamps); };

  rusage before{};
  rusage after{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  try {
    if (options.serviceEngine) {
      zelvor::DllEchoEngine(state, service).run(servers, options.airborne);
    } else {
      zelvor::RawEchoEngine(state, raw).run(servers, options.airborne);
    }
  } catch (const kelvo::Failure& failure) {
    fail("the engine did not start: " + failure);
  }
  const auto end = std::chrono::steady_clock::now();
  ::getrusage(RUSAGE_SELF, &after);

  std::size_t echoes = 0;
  std::size_t successes = 0;
  std::vector<double> medians;
  std::ofstream mediansOut;
  if (!options.mediansFile.empty()) {
    mediansOut.open(options.mediansFile);
    if (!mediansOut) fail("cannot write " + options.mediansFile);
  }
  for (const zelvor::ServerEntry& server : servers) {
    echoes += server.samples.size();
    successes += static_cast<std::size_t>(
        std::count_if(server.samples.begin(), server.samples.end(),
                      [](const zelvor::EchoSample& s) { return s.failure == nullptr; }));
    const std::optional<double> median = medianRtt(server);
    if (median) medians.push_back(*median);
    if (mediansOut.is_open()) {
      mediansOut << server.host << ' ';
      if (median) {
        mediansOut << *median << '\n';
      } else {
        mediansOut << "-\n";
      }
    }
  }
  if (mediansOut.is_open() && !mediansOut.flush()) fail("cannot write " + options.mediansFile);
  if (!options.samplesFile.empty()) {
    std::ofstream samplesOut(options.samplesFile);
    for (const zelvor::ServerEntry& server : servers) {
      for (const zelvor::EchoSample& sample : server.samples) {
        samplesOut << server.host << ' ';
        if (sample.failure == nullptr) {
          samplesOut << sample.rtt << '\n';
        } else {
          samplesOut << "-\n";
        }
      }
    }
    if (!samplesOut.flush()) fail("cannot write " + options.samplesFile);
  }

  const double wallMs = std::chrono::duration<double, std::milli>(end - start).count();
  const std::int64_t cpuUs = cpuMicroseconds(after) - cpuMicroseconds(before);
  const double cpuPerEcho = echoes == 0 ? 0 : static_cast<double>(cpuUs) / echoes;
  std::printf(
      "airborne=%u rounds=%u hosts=%zu echoes=%zu successes=%zu wall_ms=%.1f cpu_us=%lld "
      "cpu_us_per_echo=%.2f peak_rss_kib=%ld median_rtt_ms=%.1f\n",
      options.airborne, options.rounds, servers.size(), echoes, successes, wallMs,
      static_cast<long long>(cpuUs), cpuPerEcho, after.ru_maxrss, medianOf(medians));
  return successes == echoes ? 0 : 1;
}
