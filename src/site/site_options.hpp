// zelvor-site's command line.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "site/beast_server.hpp"
#include "site/site.hpp"

namespace zelvor::site {

struct ListenAddress {
  std::string host;
  int port = 0;

  bool operator==(const ListenAddress&) const = default;
};

struct SiteOptions {
  ListenAddress listen{"127.0.0.1", 80};
  std::string serversFile;
  // The networks file labelling unlabelled runs by address; empty for none.
  std::string networksFile;
  std::string dataFile;
  // A postgresql:// URL; empty for the SQLite file `dataFile`.
  std::string storeUrl;
  ServerLimits limits;
  PostRules postRules;
  MetricsRules metricsRules;
  // Runs older than this many days are deleted; none keeps every run.
  std::optional<unsigned> keepDays;
};

// "ADDRESS:PORT", the address an IPv4 address or host name, or an IPv6
// address in brackets ("[::1]:8080"); the port 0 (any free one) to 65535.
std::optional<ListenAddress> parseListenAddress(std::string_view text);

// Where runs are kept when --data is not given: /var/lib/zelvor-site for
// root (as the service runs), the user's data folder otherwise.
std::string defaultDataFile();

// The options' definitions, defaults and help texts, filled into `options`
// when `app` parses.
void addSiteOptions(CLI::App& app, SiteOptions& options);

}  // namespace zelvor::site
