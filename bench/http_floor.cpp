// The floor of the site's load benchmark (bench/site-load): a bare cpp-httplib
// server, the site's library with the library's own connection handling,
// that answers POST and GET /zelvor with a fixed handle. What the site does
// beyond it (parsing, storing with fsync, statistics, pages, its own
// connection handling, the request log) is what the benchmark weighs.
//
//   http_floor [--listen 127.0.0.1:PORT]
//
// Port 0, the default, takes any free port. Nagle's algorithm is off on its
// connections (the library's own option), as it is on the site's.
//
// Logs "listening on http://HOST:PORT/" on stderr, as the site does; ends on
// SIGTERM or SIGINT.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "command_line.hpp"
#include "site/http_server.hpp"

namespace {

// As long as a real handle (site/handle.hpp), so that replies weigh the same.
constexpr char fixedHandle[] = "AbCdEfGhIjKlMnOpQrStUQ";
static_assert(sizeof fixedHandle - 1 == 22);

int usage() {
  std::fputs("usage: http_floor [--listen 127.0.0.1:PORT]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  int port = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--listen" && i + 1 < argc) {
      const std::string_view address = argv[++i];
      const std::size_t colon = address.rfind(':');
      if (colon == std::string_view::npos || colon == 0) return usage();
      const auto number = zelvor::bench::parseNumber(address.substr(colon + 1));
      if (!number || *number > 65535) return usage();
      host = std::string(address.substr(0, colon));
      port = static_cast<int>(*number);
    } else {
      return usage();
    }
  }

  // Blocked before any thread starts, so that only the waiting thread below
  // ever takes them.
  sigset_t signals;
  ::sigemptyset(&signals);
  ::sigaddset(&signals, SIGTERM);
  ::sigaddset(&signals, SIGINT);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  // The site's defaults, read from the site itself so the two cannot drift
  // apart: its worker count, its requests per connection, its keep-alive
  // time-out. Everything else is the library's default.
  const zelvor::site::ServerLimits site;
  httplib::Server server;
  const std::size_t workers = site.workers;
  server.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  server.set_keep_alive_max_count(site.maxRequestsPerConnection);
  server.set_keep_alive_timeout(
      std::chrono::duration_cast<std::chrono::seconds>(site.keepAliveTimeout).count());
  // Applied to the listening socket, whose accepted sockets inherit it.
  server.set_tcp_nodelay(true);

  const auto answer = [](const httplib::Request&, httplib::Response& response) {
    response.set_content(fixedHandle, sizeof fixedHandle - 1, "text/plain; charset=utf-8");
  };
  server.Post("/zelvor", answer);
  server.Get("/zelvor", answer);

  const int bound =
      port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound < 0) {
    std::fprintf(stderr, "http_floor: cannot listen on %s:%d\n", host.c_str(), port);
    return 1;
  }
  std::fprintf(stderr, "http_floor: listening on http://%s:%d/\n", host.c_str(), bound);

  std::atomic<bool> serveEnded = false;
  std::thread stopper([&] {
    int signal = 0;
    ::sigwait(&signals, &signal);
    // stop() before the accept loop runs would be lost.
    while (!server.is_running() && !serveEnded)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (server.is_running()) server.stop();
  });
  const bool listened = server.listen_after_bind();
  serveEnded = true;
  // When the loop ended by itself, the waiting thread still waits.
  ::pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  return listened ? 0 : 1;
}
