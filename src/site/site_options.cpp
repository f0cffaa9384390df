#include "site/site_options.hpp"

#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <vector>

#include "site/address_range.hpp"
#include "site/post_limit.hpp"

namespace zelvor::site {

namespace {

std::optional<int> parsePort(std::string_view text) {
  int port = -1;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, port);
  if (text.empty() || error != std::errc() || stop != end || port < 0 || port > 65535)
    return std::nullopt;
  return port;
}

// CLI11's own range check words its refusal differently from one release to
// the next; the site says it one way.
template <class Number>
CLI::Validator within(Number low, Number high) {
  return CLI::Validator(
      [low, high](std::string& text) -> std::string {
        Number value{};
        const char* const end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, value);
        if (error == std::errc() && stop == end && value >= low && value <= high) return {};
        return "Value " + text + " not in range " + std::to_string(low) + " to " +
               std::to_string(high);
      },
      "in [" + std::to_string(low) + " - " + std::to_string(high) + "]");
}

std::string envOr(const char* name, const std::string& fallback) {
  const char* const value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

std::optional<ListenAddress> parseListenAddress(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  const auto port = parsePort(text.substr(colon + 1));
  if (!port) return std::nullopt;
  if (host.starts_with('[')) {
    if (!host.ends_with(']') || host.size() < 3) return std::nullopt;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    // An IPv6 address must be bracketed: its colons would hide the port.
    return std::nullopt;
  }
  return ListenAddress{std::string(host), *port};
}

std::string defaultDataFile() {
  if (::geteuid() == 0) return "/var/lib/zelvor-site/runs.db";
  const std::string home = envOr("HOME", ".");
  return envOr("XDG_DATA_HOME", home + "/.local/share") + "/zelvor-site/runs.db";
}

void addSiteOptions(CLI::App& app, SiteOptions& options) {
  options.serversFile = ZELVOR_SITE_DEFAULT_LIST;
  options.dataFile = defaultDataFile();
  app.add_option_function<std::string>(
         "--listen",
         [&options](const std::string& text) {
           const auto address = parseListenAddress(text);
           if (!address)
             throw CLI::ValidationError("--listen", "expected ADDRESS:PORT, not " + text);
           options.listen = *address;
         },
         "Address and port to serve on (port 0: any free port)")
      ->type_name("ADDRESS:PORT")
      ->default_str("127.0.0.1:80");
  app.add_option("--servers", options.serversFile,
                 "The server list file: class:host:80 lines, # comments")
      ->type_name("FILE")
      ->capture_default_str();
  app.add_option("--networks", options.networksFile,
                 "Label the runs of clients that send no label by their address: a file of "
                 "'CIDR label' lines, read again on SIGHUP")
      ->type_name("FILE");
  app.add_option("--data", options.dataFile,
                 "The database of stored runs (made, with its folder, when missing)")
      ->type_name("FILE")
      ->capture_default_str();
  app.add_option_function<std::string>(
         "--store",
         [&options](const std::string& url) {
           if (!url.starts_with("postgresql://") && !url.starts_with("postgres://"))
             throw CLI::ValidationError("--store", "expected a postgresql:// URL, not " + url);
           options.storeUrl = url;
         },
         "Keep runs in this PostgreSQL database instead of the --data file; any number of "
         "sites may share it")
      ->type_name("postgresql://USER@HOST/DATABASE");
  app.add_option_function<std::string>(
         "--post-limit",
         [&options](const std::string& text) {
           options.postRules.perMinute = parsePostLimit(text);
           if (!options.postRules.perMinute)
             throw CLI::ValidationError("--post-limit", "expected N/min, not " + text);
         },
         "Reports one client (an IPv4 address, an IPv6 /64) may post per minute; more are "
         "refused with 429 (default: no limit)")
      ->type_name("N/min");
  app.add_option_function<std::string>(
         "--trusted-proxy",
         [&options](const std::string& address) {
           // Its connections are everyone's behind it: both the post limit
           // and the connection limit must know it.
           options.postRules.trustedProxy = address;
           options.limits.trustedProxy = address;
         },
         "The load balancer's address: only from it is X-Forwarded-For believed")
      ->type_name("ADDRESS");
  app.add_option_function<std::vector<std::string>>(
         "--metrics-from",
         [&options](const std::vector<std::string>& texts) {
           options.metricsRules.from.clear();
           for (const std::string& text : texts) {
             const auto range = parseAddressRange(text);
             if (!range)
               throw CLI::ValidationError("--metrics-from", "expected ADDRESS/PREFIX, not " + text);
             options.metricsRules.from.push_back(*range);
           }
         },
         "Client addresses served /metrics (repeat or separate with commas; others get 403)")
      ->type_name("CIDR")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->default_str("127.0.0.0/8,::1");
  app.add_option_function<unsigned>(
         "--keep-days", [&options](unsigned days) { options.keepDays = days; },
         "Delete runs received more than N days ago (default: keep every run)")
      ->type_name("N")
      ->check(within(1u, 100'000u));
  app.add_option_function<std::size_t>(
         "--max-report-bytes",
         [&options](std::size_t bytes) {
           options.postRules.maxReportBytes = bytes;
           options.limits.maxBodyBytes = bytes;
         },
         "Longest report taken; a longer one is refused with 413")
      ->type_name("N")
      ->check(within(std::size_t{1}, std::size_t{1} << 30))
      ->default_str(std::to_string(options.postRules.maxReportBytes));
  app.add_option("--workers", options.limits.workers,
                 "Requests answered at once; past 64 waiting per worker, 503")
      ->type_name("N")
      ->check(within(std::size_t{1}, std::size_t{1024}))
      ->capture_default_str();
  app.add_option("--max-connections", options.limits.maxConnections,
                 "Connections open at once; when full, the one that has waited longest "
                 "without completing a request is closed for a newcomer")
      ->type_name("N")
      ->check(within(std::size_t{1}, std::size_t{1'000'000}))
      ->capture_default_str();
  app.add_option("--max-connections-per-address", options.limits.maxConnectionsPerAddress,
                 "Connections one client address may hold; more are closed at once "
                 "(the --trusted-proxy is held only to --max-connections)")
      ->type_name("N")
      ->check(within(std::size_t{1}, std::size_t{1'000'000}))
      ->capture_default_str();
  app.add_option_function<unsigned>(
         "--request-timeout",
         [&options](unsigned seconds) {
           options.limits.requestTimeout = std::chrono::seconds(seconds);
         },
         "Seconds a client may take to send a request, or to read the reply")
      ->type_name("SECONDS")
      ->check(within(1u, 3600u))
      ->default_str("10");
}

}  // namespace zelvor::site
