// zelvor-site from start to end: options, the server list, the store, then
// serving until SIGTERM or SIGINT, which finish the requests in flight and
// close the store. SIGHUP reads the list file again.
#include <malloc.h>
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "site/beast_server.hpp"
#include "site/handle.hpp"
#include "site/request_log.hpp"
#include "site/retention.hpp"
#include "site/server_list.hpp"
#include "site/site.hpp"
#include "site/site_options.hpp"
#include "site/store.hpp"
#include "support/failure.hpp"
#include "support/version.hpp"

namespace zelvor::site {

namespace {

// Descriptors kept for everything but connections: the listening socket,
// the store's files or connections, the log, the list file.
constexpr rlim_t reservedFiles = 64;

std::string listSummary(const ServerList& list) {
  return std::to_string(list.serverCount) + " servers in " + std::to_string(list.classCount) +
         " classes";
}

std::string displayAddress(const ListenAddress& listen, int port) {
  const bool bracket = listen.host.find(':') != std::string::npos;
  return "http://" + (bracket ? "[" + listen.host + "]" : listen.host) + ":" +
         std::to_string(port) + "/";
}

// Every connection is a descriptor: the soft limit goes up to the hard one,
// and the connections allowed are capped by what it then leaves.
void fitConnectionsToFiles(ServerLimits& limits) {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return;
  if (files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    ::getrlimit(RLIMIT_NOFILE, &files);
  }
  if (files.rlim_cur == RLIM_INFINITY) return;
  const rlim_t room = files.rlim_cur > reservedFiles ? files.rlim_cur - reservedFiles : 1;
  if (limits.maxConnections <= room) return;
  limits.maxConnections = static_cast<std::size_t>(room);
  logLine("at most " + std::to_string(room) + " connections: the file limit is " +
          std::to_string(files.rlim_cur));
}

std::string networksSummary(const Networks& networks) {
  return std::to_string(networks.size()) + (networks.size() == 1 ? " range" : " ranges");
}

// SIGHUP: each file is read again on its own, so that a slip in one keeps
// what was in force of it and still takes the other.
void reloadFiles(Site& site, const SiteOptions& options) {
  try {
    ServerList list = readServerListFile(options.serversFile);
    const std::string summary = listSummary(list);
    site.replaceList(std::move(list));
    logLine("reloaded " + options.serversFile + ": " + summary);
  } catch (const kelvo::Failure& failure) {
    logLine("keeping the list served so far: " + failure);
  }
  if (options.networksFile.empty()) return;
  try {
    Networks networks = readNetworksFile(options.networksFile);
    const std::string summary = networksSummary(networks);
    site.replaceNetworks(std::move(networks));
    logLine("reloaded " + options.networksFile + ": " + summary);
  } catch (const kelvo::Failure& failure) {
    logLine("keeping the networks in force so far: " + failure);
  }
}

int run(int argc, char** argv) {
  // Each worker's heap gives its free top back to the kernel past 128 KiB
  // by default, which a page's buffers cross on every request: a madvise
  // and the page faults to take the memory again, each time.
  ::mallopt(M_TRIM_THRESHOLD, 1 << 20);
  // A client that goes away while its reply is written must not end the
  // site.
  std::signal(SIGPIPE, SIG_IGN);

  CLI::App app{
      "zelvor-site: serves the server list to Zelvor, stores the reports it posts and "
      "shows their results pages",
      "zelvor-site"};
  app.footer(
      "Signals: SIGHUP reads the server list and the networks file again (a bad file is logged "
      "and the old one kept); "
      "SIGTERM and SIGINT answer the requests in flight, close the store and exit 0.");
  app.set_version_flag("--version", "zelvor-site " + std::string(kelvo::version));
  SiteOptions options;
  addSiteOptions(app, options);
  CLI11_PARSE(app, argc, argv);

  try {
    ServerList list = readServerListFile(options.serversFile);
    logLine("serving " + options.serversFile + ": " + listSummary(list));
    const bool postgres = !options.storeUrl.empty();
    const std::unique_ptr<Store> store = postgres
                                             ? openPostgresStore(options.storeUrl, randomHandle)
                                             : openSqliteStore(options.dataFile, randomHandle);
    // The URL may carry a password: the log names the backend only.
    logLine(postgres ? "storing runs in PostgreSQL" : "storing runs in " + options.dataFile);
    std::optional<Retention> retention;
    if (options.keepDays) retention.emplace(*store, *options.keepDays);
    Site site(*store, std::move(list), options.postRules, options.metricsRules);
    if (!options.networksFile.empty()) {
      Networks networks = readNetworksFile(options.networksFile);
      logLine("labelling by " + options.networksFile + ": " + networksSummary(networks));
      site.replaceNetworks(std::move(networks));
    }
    fitConnectionsToFiles(options.limits);
    BeastServer server(site, options.limits);
    const int port = server.bindTo(options.listen.host, options.listen.port);
    logLine("listening on " + displayAddress(options.listen, port));
    const bool served =
        server.serve({[&] { reloadFiles(site, options); },
                      [] { logLine("stopping: answering the requests in flight"); }});
    logLine(served ? "stopped" : "stopped: the listening socket failed");
    return served ? 0 : 1;
  } catch (const kelvo::Failure& failure) {
    std::fprintf(stderr, "zelvor-site: %s\n", failure.c_str());
    return 1;
  }
}

}  // namespace

}  // namespace zelvor::site

int main(int argc, char** argv) { return zelvor::site::run(argc, argv); }
