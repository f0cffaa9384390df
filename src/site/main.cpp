// zelvor-site from start to end: options, the server list, the store, then
// serving until SIGTERM or SIGINT, which finish the requests in flight and
// close the store. SIGHUP reads the list file again.
//
// Threads: every signal is blocked before any thread starts and taken by
// one thread with sigwait, so no handler ever runs inside the server's code.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "site/handle.hpp"
#include "site/http_server.hpp"
#include "site/request_log.hpp"
#include "site/retention.hpp"
#include "site/server_list.hpp"
#include "site/site.hpp"
#include "site/site_options.hpp"
#include "site/store.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

// Sent to the signal thread by the program itself when serving ended
// without a signal.
constexpr int endSignal = SIGUSR1;

std::string listSummary(const ServerList& list) {
  return std::to_string(list.serverCount) + " servers in " + std::to_string(list.classCount) +
         " classes";
}

std::string displayAddress(const ListenAddress& listen, int port) {
  const bool bracket = listen.host.find(':') != std::string::npos;
  return "http://" + (bracket ? "[" + listen.host + "]" : listen.host) + ":" +
         std::to_string(port) + "/";
}

void handleSignals(const sigset_t& signals, HttpServer& server, Site& site,
                   const std::string& listFile) {
  for (;;) {
    int signal = 0;
    if (::sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGHUP) {
      try {
        ServerList list = readServerListFile(listFile);
        const std::string summary = listSummary(list);
        site.replaceList(std::move(list));
        logLine("reloaded " + listFile + ": " + summary);
      } catch (const kelvo::Failure& failure) {
        logLine("keeping the list served so far: " + failure);
      }
      continue;
    }
    if (signal == SIGTERM || signal == SIGINT) {
      logLine("stopping: answering the requests in flight");
      server.shutdown();
    }
    return;
  }
}

int run(int argc, char** argv) {
  // Each worker's heap gives its free top back to the kernel past 128 KiB
  // by default, which a page's buffers cross on every request: a madvise
  // and the page faults to take the memory again, each time.
  ::mallopt(M_TRIM_THRESHOLD, 1 << 20);
  sigset_t signals;
  ::sigemptyset(&signals);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, endSignal}) ::sigaddset(&signals, signal);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A client that goes away while its reply is written must not end the
  // site.
  std::signal(SIGPIPE, SIG_IGN);

  CLI::App app{
      "zelvor-site: serves the server list to Zelvor, stores the reports it posts and "
      "shows their results pages"};
  app.footer(
      "Signals: SIGHUP reads the server list again (a bad list is logged and the old one kept); "
      "SIGTERM and SIGINT answer the requests in flight, close the store and exit 0.");
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
    Site site(*store, std::move(list), options.postRules);
    HttpServer server(options.limits);
    site.install(server, options.limits.maxBodyBytes);
    const int port = server.bindTo(options.listen.host, options.listen.port);
    logLine("listening on " + displayAddress(options.listen, port));

    std::atomic<bool> signalsDone = false;
    std::thread signalThread([&] {
      handleSignals(signals, server, site, options.serversFile);
      signalsDone = true;
    });
    const bool served = server.serve();
    if (!signalsDone) ::pthread_kill(signalThread.native_handle(), endSignal);
    signalThread.join();
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
